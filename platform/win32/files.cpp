// Files on Windows: the C library's streams as they are.
//
// Checked against the runtime (msvcrt.dll, which MinGW-w64 links): fopen
// is _fsopen(path, mode, _SH_DENYNO), so the file is opened with
// FILE_SHARE_READ | FILE_SHARE_WRITE (not FILE_SHARE_DELETE: nobody can
// delete or rename the table while it is open); the handle is inheritable
// unless the mode holds "N"; without "b" or "t" the mode is _fmode, text.
// Text mode turns CRLF into LF on reading (a lone CR stays) and LF into
// CRLF on writing, and on reading takes Ctrl-Z as the end of the file.
#include "platform/files.h"

namespace platform {

std::FILE* openFile(const char* path, const char* mode) { return std::fopen(path, mode); }

char* readLine(char* buffer, int size, std::FILE* file) { return std::fgets(buffer, size, file); }

}  // namespace platform
