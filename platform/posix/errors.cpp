// The stand-in's error space is Windows': errno is translated here, once.
// Also the stand-in's root and the one way it replaces a file.
#include "platform/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {
thread_local std::uint32_t tLastError = kErrorSuccess;
}

std::uint32_t lastError() { return tLastError; }
void setLastError(std::uint32_t code) { tLastError = code; }

namespace posix {

const char* standInRoot() {
  const char* root = std::getenv("HORAMAT_PLATFORM_ROOT");
  return (root != nullptr && root[0] != '\0') ? root : "/var/lib/horamat";
}

bool toPosixPath(const char* path, char* out, std::size_t size) {
  if (!copyText(out, size, path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (char* c = out; *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }
  return true;
}

// Only the codes someone reacts to or a test names; the rest is 31
// (ERROR_GEN_FAILURE).
std::uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;  // Windows' answer for a folder opened as a file
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case E2BIG: return kErrorInvalidParameter;  // what CreateProcessA says of a line too long
    case ENOEXEC: return kErrorBadExeFormat;
    default: return 31;
  }
}

std::uint32_t replaceFile(const char* path, const void* data, std::size_t size, unsigned mode) {
  // The temp name carries the pid: a starter and its service may both
  // write into one folder.
  char temp[kPathSize];
  int n = std::snprintf(temp, sizeof temp, "%s.%ld.tmp", path, static_cast<long>(::getpid()));
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof temp) return errorFromErrno(ENAMETOOLONG);
  int fd = ::open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return errorFromErrno(errno);
  // A few hundred bytes to a regular file: one write, or a full disk.
  int err = ::write(fd, data, size) == static_cast<ssize_t>(size) ? 0 : ENOSPC;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp, path) != 0) err = errno;
  if (err != 0) ::unlink(temp);
  return errorFromErrno(err);
}

bool servicePath(const char* name, const char* leaf, char* out, std::size_t size) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.' || std::strpbrk(name, "/\\") != nullptr) return false;
  int n = std::snprintf(out, size, "%s/services/%s%s%s", standInRoot(), name, leaf[0] != '\0' ? "/" : "", leaf);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

std::uint32_t writeLastStatus(const char* name, const ServiceStatus& status) {
  char path[kPathSize];
  if (!servicePath(name, "run/status", path, sizeof path)) return errorFromErrno(ENAMETOOLONG);
  return replaceFile(path, &status, sizeof status, 0644);
}

ServiceStatus lastStatus(const char* name) {
  ServiceStatus status{kServiceWin32OwnProcess, kServiceStopped, 0, 0, 0, 0, 0};
  char path[kPathSize];
  const int fd = servicePath(name, "run/status", path, sizeof path) ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return status;  // never ran
  ServiceStatus last{};
  const bool whole = ::read(fd, &last, sizeof last) == static_cast<ssize_t>(sizeof last);
  ::close(fd);
  if (whole && last.currentState == kServiceStopped) return last;
  status.win32ExitCode = kErrorProcessAborted;  // ended without reporting its stop
  return status;
}

bool controlAddress(const char* name, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  char path[kPathSize];
  const bool fits = servicePath(name, "run/control", path, sizeof path) &&
                    copyText(address->sun_path, sizeof address->sun_path, path);
  if (!fits) setLastError(errorFromErrno(ENAMETOOLONG));
  return fits;
}

}  // namespace posix
}  // namespace platform
