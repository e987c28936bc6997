// The registry on the stand-in: a key is a folder, a value a file holding
// the string without terminator (internal.h). One trailing newline of the
// file is not part of the value, so `echo /opt/horamat > Path` makes one.
// Names are case-sensitive here: the programs spell them one way only.
#include "platform/registry.h"
#include "platform/registry_admin.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

using posix::errorFromErrno;
using posix::kPathSize;

struct StandInKey {
  char folder[kPathSize];
};

// <root>/registry/HKEY_LOCAL_MACHINE/<subKey>[/<name>].
bool registryPath(const char* subKey, const char* name, char* out, std::size_t size) {
  char mapped[kPathSize];
  if (!posix::toPosixPath(subKey, mapped, sizeof mapped)) return false;
  int n = std::snprintf(out, size, "%s/registry/HKEY_LOCAL_MACHINE/%s%s%s", posix::standInRoot(), mapped,
                        name != nullptr ? "/" : "", name != nullptr ? name : "");
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

long openKey(const char* subKey, int mode, RegKey* key) {
  *key = nullptr;
  char folder[kPathSize];
  if (!registryPath(subKey, nullptr, folder, sizeof folder)) return kErrorFileNotFound;
  if (::access(folder, mode) != 0) return errorFromErrno(errno);
  auto* opened = new (std::nothrow) StandInKey;
  if (opened == nullptr) return errorFromErrno(ENOMEM);
  std::memcpy(opened->folder, folder, sizeof folder);
  *key = opened;
  return kErrorSuccess;
}

}  // namespace

// A key opens when its folder grants the access (access(2)): KEY_ALL_ACCESS
// includes writing, as on Windows; reading needs the folder listed and
// entered.
long regOpenKeyFullAccess(const char* subKey, RegKey* key) { return openKey(subKey, R_OK | W_OK | X_OK, key); }
long regOpenKeyPlain(const char* subKey, RegKey* key) { return openKey(subKey, R_OK | X_OK, key); }

long regQueryValue(RegKey key, const char* name, unsigned char* data, std::uint32_t* size) {
  char path[kPathSize];
  int n = std::snprintf(path, sizeof path, "%s/%s", static_cast<const StandInKey*>(key)->folder, name);
  int fd = n > 0 && static_cast<std::size_t>(n) < sizeof path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return errorFromErrno(n > 0 ? errno : ENOENT);
  struct stat info {};
  // A folder is a subkey, not a value.
  long result = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? kErrorSuccess : kErrorFileNotFound;
  auto length = static_cast<std::size_t>(info.st_size);
  unsigned char last = 0;
  if (length > 0 && ::pread(fd, &last, 1, static_cast<off_t>(length - 1)) == 1 && last == '\n') --length;
  // As on Windows, the data size of a string counts its terminator, and
  // a value larger than the buffer writes nothing into it.
  if (result == kErrorSuccess && length + 1 > *size) {
    result = kErrorMoreData;
  } else if (result == kErrorSuccess) {
    ssize_t got = ::pread(fd, data, length, 0);
    length = got > 0 ? static_cast<std::size_t>(got) : 0;  // shrunk meanwhile: what was read
    data[length] = '\0';
  }
  if (result != kErrorFileNotFound) *size = static_cast<std::uint32_t>(length + 1);
  ::close(fd);
  return result;
}

void regCloseKey(RegKey key) { delete static_cast<StandInKey*>(key); }

// A terminator at the end of the data is left out: the reader adds it.
long regWriteValue(const char* subKey, const char* name, const void* data, std::uint32_t size) {
  char file[kPathSize];
  if (!registryPath(subKey, name, file, sizeof file)) return kErrorInvalidParameter;
  // mkdir -p of the key's folder, the root included.
  for (char* p = file + 1; *p != '\0'; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    int made = ::mkdir(file, 0755);
    *p = '/';
    if (made != 0 && errno != EEXIST) return errorFromErrno(errno);
  }
  std::size_t count = size;
  if (count > 0 && static_cast<const char*>(data)[count - 1] == '\0') --count;
  return posix::replaceFile(file, data, count, 0644);
}

long regDeleteValue(const char* subKey, const char* name) {
  char file[kPathSize];
  if (!registryPath(subKey, name, file, sizeof file)) return kErrorFileNotFound;
  return ::unlink(file) == 0 ? static_cast<long>(kErrorSuccess) : errorFromErrno(errno);
}

// The values go, then the key; a key with subkeys stays (its folder is not
// empty) and gives 5, as on Windows.
long regDeleteKey(const char* subKey) {
  char folder[kPathSize];
  if (subKey[0] == '\0' || !registryPath(subKey, nullptr, folder, sizeof folder)) return kErrorInvalidParameter;
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return errorFromErrno(errno);
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_type == DT_REG) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
  if (::rmdir(folder) == 0) return kErrorSuccess;
  return errno == ENOTEMPTY ? static_cast<long>(kErrorAccessDenied) : errorFromErrno(errno);
}

}  // namespace platform
