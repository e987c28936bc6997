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

#include <cstring>

#include "platform/bounded_text.h"

namespace platform {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool hasDrive(const char* path) {
  const char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

bool sameDrive(const char* a, const char* b) {
  return hasDrive(a) && hasDrive(b) && ((a[0] | 0x20) == (b[0] | 0x20));
}

// folder, one "\", rest: a folder that already ends in a separator (the
// root "C:\") gets no second one.
bool joinBelow(const char* folder, const char* rest, char* out, std::size_t size) {
  if (!copyText(out, size, folder)) return false;
  const std::size_t n = std::strlen(out);
  if (n > 0 && !isSeparator(out[n - 1]) && !appendText(out, size, "\\")) return false;
  return appendText(out, size, rest);
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) { return std::fopen(path, mode); }

char* readLine(char* buffer, int size, std::FILE* file) { return std::fgets(buffer, size, file); }

// Windows' forms of a path, the fully qualified ones first. Only the
// drive-relative form needs the other process's state: each drive has a
// current folder of its own, and we know only the one of folder's drive.
bool pathFromFolder(const char* folder, const char* path, char* out, std::size_t size) {
  if (hasDrive(path)) {
    if (isSeparator(path[2])) return copyText(out, size, path);  // C:\x
    if (sameDrive(folder, path)) return joinBelow(folder, path + 2, out, size);  // C:x
    return copyText(out, size, path);
  }
  if (isSeparator(path[0])) {
    if (isSeparator(path[1])) return copyText(out, size, path);  // \\server\share\x
    if (!hasDrive(folder)) return copyText(out, size, path);
    // \x: the root of the drive the other process stands on.
    const char drive[3] = {folder[0], ':', '\0'};
    return copyText(out, size, drive) && appendText(out, size, path);
  }
  return joinBelow(folder, path, out, size);
}

}  // namespace platform
