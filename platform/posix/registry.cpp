// The registry on the stand-in: HKEY_LOCAL_MACHINE is the folder
// <root>/registry/HKEY_LOCAL_MACHINE, a key is a folder below it (the
// subkey's "\" read as "/"), a value is a regular file in the key's folder
// holding the string without terminator. One trailing newline of the file
// is not part of the value, so `echo /opt/horamat > Path` makes a value.
//
// Unlike Windows, names are case-sensitive here: the programs spell them
// one way only.
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

constexpr std::size_t kPathSize = 4096;

// What a RegKey points to on the stand-in.
struct StandInKey {
  char folder[kPathSize];
};

// <root>/registry/HKEY_LOCAL_MACHINE/<subKey>; false when it does not fit.
bool keyFolder(const char* subKey, char* out, std::size_t size) {
  char mapped[kPathSize];
  if (!posix::toPosixPath(subKey != nullptr ? subKey : "", mapped, sizeof mapped)) return false;
  int n = std::snprintf(out, size, "%s/registry/HKEY_LOCAL_MACHINE/%s", posix::standInRoot(), mapped);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

// Windows' answer for a key that is not there is 2 whichever part of the
// path is missing, a value or a plain file on the way included.
long missingOr(int err) {
  return (err == ENOENT || err == ENOTDIR) ? static_cast<long>(kErrorFileNotFound)
                                           : static_cast<long>(posix::errorFromErrno(err));
}

// Opens the key when the folder grants the access of `mode` (access(2)).
long openKey(const char* subKey, int mode, RegKey* key) {
  *key = nullptr;
  char folder[kPathSize];
  if (!keyFolder(subKey, folder, sizeof folder)) return posix::errorFromErrno(ENAMETOOLONG);
  struct stat info {};
  if (stat(folder, &info) != 0) return missingOr(errno);
  if (!S_ISDIR(info.st_mode)) return kErrorFileNotFound;
  if (access(folder, mode) != 0) return missingOr(errno);
  auto* opened = new (std::nothrow) StandInKey;
  if (opened == nullptr) return posix::errorFromErrno(ENOMEM);
  std::memcpy(opened->folder, folder, sizeof folder);
  *key = opened;
  return kErrorSuccess;
}

// Reads exactly `count` bytes from the start of the file; the count read.
std::size_t readAll(int fd, unsigned char* data, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    ssize_t n = read(fd, data + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

}  // namespace

// KEY_ALL_ACCESS includes writing: an account that may only read the key
// is refused, as on Windows.
long regOpenKeyFullAccess(const char* subKey, RegKey* key) {
  return openKey(subKey, R_OK | W_OK | X_OK, key);
}

// Reading the values needs the folder listed (r) and entered (x).
long regOpenKeyPlain(const char* subKey, RegKey* key) { return openKey(subKey, R_OK | X_OK, key); }

long regQueryValue(RegKey key, const char* name, unsigned char* data, std::uint32_t* size) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (size == nullptr && data != nullptr) return kErrorInvalidParameter;
  if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr) {
    return kErrorFileNotFound;  // no default value and no value names with "/" here
  }
  const auto* opened = static_cast<const StandInKey*>(key);
  char valuePath[kPathSize];
  int n = std::snprintf(valuePath, sizeof valuePath, "%s/%s", opened->folder, name);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof valuePath) return posix::errorFromErrno(ENAMETOOLONG);

  int fd = open(valuePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return missingOr(errno);
  long result = kErrorSuccess;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    result = posix::errorFromErrno(errno);
  } else if (!S_ISREG(info.st_mode)) {
    result = kErrorFileNotFound;  // a folder is a subkey, not a value
  } else {
    auto length = static_cast<std::size_t>(info.st_size);
    unsigned char last = 0;
    if (length > 0 && pread(fd, &last, 1, static_cast<off_t>(length - 1)) == 1 && last == '\n') {
      --length;
    }
    // As on Windows, the data size of a string counts its terminator.
    const std::size_t needed = length + 1;
    if (needed > UINT32_MAX) {
      result = kErrorMoreData;
      if (size != nullptr) *size = UINT32_MAX;
    } else if (data == nullptr) {
      if (size != nullptr) *size = static_cast<std::uint32_t>(needed);
    } else if (needed > *size) {
      // Nothing is written: the caller's buffer ends at its capacity.
      *size = static_cast<std::uint32_t>(needed);
      result = kErrorMoreData;
    } else {
      // The file may have shrunk since fstat; what was read is the value.
      std::size_t got = readAll(fd, data, length);
      data[got] = '\0';
      *size = static_cast<std::uint32_t>(got + 1);
    }
  }
  close(fd);
  return result;
}

void regCloseKey(RegKey key) { delete static_cast<StandInKey*>(key); }

}  // namespace platform
