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
  std::size_t n = std::strlen(path);
  if (n >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  for (std::size_t i = 0; i <= n; ++i) out[i] = (path[i] == '\\') ? '/' : path[i];
  return true;
}

std::uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

void setLastErrorFromErrno() { setLastError(errorFromErrno(errno)); }

std::uint32_t replaceFile(const char* path, const void* data, std::size_t size, unsigned mode) {
  // The temp name carries the pid: a starter and its service may both
  // write into one folder.
  char temp[kPathSize];
  int n = std::snprintf(temp, sizeof temp, "%s.%ld.tmp", path, static_cast<long>(::getpid()));
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof temp) return errorFromErrno(ENAMETOOLONG);
  int fd = ::open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return errorFromErrno(errno);
  const char* bytes = static_cast<const char*>(data);
  int err = 0;
  while (size > 0 && err == 0) {
    ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno != EINTR) err = errno;
    if (written > 0) {
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp, path) != 0) err = errno;
  if (err != 0) ::unlink(temp);
  return errorFromErrno(err);
}

bool servicePath(const char* name, const char* leaf, char* out, std::size_t size) {
  if (name == nullptr || name[0] == '\0' || std::strpbrk(name, "/\\") != nullptr ||
      std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    return false;
  }
  int n = std::snprintf(out, size, "%s/services/%s%s%s", standInRoot(), name,
                        leaf[0] != '\0' ? "/" : "", leaf);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool controlAddress(const char* name, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  char path[kPathSize];
  if (posix::servicePath(name, "run/control", path, sizeof path) &&
      copyText(address->sun_path, sizeof address->sun_path, path)) {
    return true;
  }
  setLastError(errorFromErrno(ENAMETOOLONG));
  return false;
}

}  // namespace posix
}  // namespace platform
