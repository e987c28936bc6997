// The stand-in's error space is Windows': errno is translated here, once.
#include "platform/errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    case EBADF: return kErrorInvalidHandle;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC: return 112;        // ERROR_DISK_FULL
    case EEXIST: return 183;        // ERROR_ALREADY_EXISTS
    case ENOMEM: return 8;          // ERROR_NOT_ENOUGH_MEMORY
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

void setLastErrorFromErrno() { setLastError(errorFromErrno(errno)); }

}  // namespace posix
}  // namespace platform
