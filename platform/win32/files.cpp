// Files on Windows: the C library's streams, over a handle opened here.
//
// msvcrt's fopen (the runtime MinGW-w64 links) is _fsopen(path, mode,
// _SH_DENYNO): shared for reading and writing, not for deletion, and the
// handle inheritable. openFile opens the handle itself instead, shared for
// all three, so that the table can be deleted or renamed away during a
// scan, and not inheritable: no job holds the table or the log once its
// scan has closed them. Renaming a new file over the table (an editor's
// safe save, MoveFileExA with MOVEFILE_REPLACE_EXISTING) fails with access
// denied while anyone holds it, whatever the share flags, so it works
// between scans only because nobody else does. The handle goes to the
// runtime: _open_osfhandle with the flags the mode asks for (text, append,
// read-only), then _fdopen with the mode itself. What the stream does is
// then fopen's: text mode turns CRLF into LF on reading (a lone CR stays)
// and LF into CRLF on writing, takes Ctrl-Z as the end of the file on
// reading, and "a" writes at the end whatever the position. One thing
// fopen does and this does not: "a+" in text mode cuts a Ctrl-Z off the
// end of the file; the log never holds one.
#include "platform/files.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

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

// What a C library mode string ("r", "a+", "wb", ...) asks of the file.
struct OpenRequest {
  DWORD access;
  DWORD disposition;
  int runtimeFlags;  // for _open_osfhandle
};

bool requestFor(const char* mode, OpenRequest* request) {
  const bool update = std::strchr(mode, '+') != nullptr;
  const bool binary = std::strchr(mode, 'b') != nullptr;
  int flags = binary ? 0 : _O_TEXT;
  switch (mode[0]) {
    case 'r':
      request->access = update ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
      request->disposition = OPEN_EXISTING;
      if (!update) flags |= _O_RDONLY;
      break;
    case 'w':
      request->access = update ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_WRITE;
      request->disposition = CREATE_ALWAYS;
      break;
    case 'a':
      request->access = update ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_WRITE;
      request->disposition = OPEN_ALWAYS;
      flags |= _O_APPEND;
      break;
    default:
      return false;
  }
  request->runtimeFlags = flags;
  return true;
}

// The errno fopen leaves for the Windows error of a failed open.
int errnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EACCES;
  }
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) {
  OpenRequest request{};
  if (path == nullptr || mode == nullptr || !requestFor(mode, &request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    errno = EINVAL;
    return nullptr;
  }
  // No security attributes: the handle is not inheritable.
  HANDLE handle = CreateFileA(path, request.access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, request.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = errnoFor(error);
    SetLastError(error);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), request.runtimeFlags);
  if (fd == -1) {
    const int runtimeError = errno;
    CloseHandle(handle);
    errno = runtimeError;
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  // From here the descriptor owns the handle.
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    const int runtimeError = errno;
    _close(fd);
    errno = runtimeError;
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  }
  return file;
}

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
