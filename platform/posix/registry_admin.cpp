// Writing the stand-in's registry, for tests and setup only. Layout as in
// registry.cpp: a key is a folder, a value a file holding the string.
#include "platform/registry_admin.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

constexpr std::size_t kPathSize = 4096;

bool keyFolder(const char* subKey, char* out, std::size_t size) {
  char mapped[kPathSize];
  if (!posix::toPosixPath(subKey, mapped, sizeof mapped)) return false;
  int n = std::snprintf(out, size, "%s/registry/HKEY_LOCAL_MACHINE/%s", posix::standInRoot(), mapped);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool valuePath(const char* folder, const char* name, char* out, std::size_t size) {
  int n = std::snprintf(out, size, "%s/%s", folder, name);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool validValueName(const char* name) {
  return name != nullptr && name[0] != '\0' && std::strchr(name, '/') == nullptr &&
         std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

long missingOr(int err) {
  return (err == ENOENT || err == ENOTDIR) ? static_cast<long>(kErrorFileNotFound)
                                           : static_cast<long>(posix::errorFromErrno(err));
}

// mkdir -p: every folder on the way, the root included.
long makeFolders(char* path) {
  for (char* p = path + 1;; ++p) {
    if (*p != '/' && *p != '\0') continue;
    const char kept = *p;
    *p = '\0';
    int made = mkdir(path, 0755);
    int err = errno;
    *p = kept;
    if (made != 0 && err != EEXIST) return posix::errorFromErrno(err);
    if (kept == '\0') return kErrorSuccess;
  }
}

long writeAll(int fd, const unsigned char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, data + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return posix::errorFromErrno(errno);
    done += static_cast<std::size_t>(n);
  }
  return kErrorSuccess;
}

}  // namespace

long regWriteValue(const char* subKey, const char* name, const void* data, std::uint32_t size) {
  if (!validValueName(name) || (data == nullptr && size > 0)) return kErrorInvalidParameter;
  char folder[kPathSize];
  char file[kPathSize];
  if (!keyFolder(subKey, folder, sizeof folder) || !valuePath(folder, name, file, sizeof file)) {
    return posix::errorFromErrno(ENAMETOOLONG);
  }
  long result = makeFolders(folder);
  if (result != kErrorSuccess) return result;

  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t count = size;
  if (count > 0 && bytes[count - 1] == '\0') --count;  // the reader adds the terminator

  int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return posix::errorFromErrno(errno);
  result = writeAll(fd, bytes, count);
  if (close(fd) != 0 && result == kErrorSuccess) result = posix::errorFromErrno(errno);
  return result;
}

long regDeleteValue(const char* subKey, const char* name) {
  if (!validValueName(name)) return kErrorFileNotFound;
  char folder[kPathSize];
  char file[kPathSize];
  if (!keyFolder(subKey, folder, sizeof folder) || !valuePath(folder, name, file, sizeof file)) {
    return posix::errorFromErrno(ENAMETOOLONG);
  }
  struct stat info {};
  if (lstat(file, &info) != 0) return missingOr(errno);
  if (!S_ISREG(info.st_mode)) return kErrorFileNotFound;
  return unlink(file) == 0 ? static_cast<long>(kErrorSuccess) : missingOr(errno);
}

long regDeleteKey(const char* subKey) {
  char folder[kPathSize];
  if (subKey == nullptr || subKey[0] == '\0' || !keyFolder(subKey, folder, sizeof folder)) {
    return kErrorInvalidParameter;
  }
  DIR* dir = opendir(folder);
  if (dir == nullptr) return missingOr(errno);
  // First look, then delete: a key with subkeys stays whole.
  long result = kErrorSuccess;
  for (int pass = 0; pass < 2 && result == kErrorSuccess; ++pass) {
    rewinddir(dir);
    while (dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      char file[kPathSize];
      if (!valuePath(folder, entry->d_name, file, sizeof file)) {
        result = posix::errorFromErrno(ENAMETOOLONG);
        break;
      }
      struct stat info {};
      if (lstat(file, &info) != 0) {
        result = posix::errorFromErrno(errno);
        break;
      }
      if (S_ISDIR(info.st_mode)) {
        result = kErrorAccessDenied;  // Windows' answer for a key with subkeys
        break;
      }
      if (pass == 1 && unlink(file) != 0) {
        result = posix::errorFromErrno(errno);
        break;
      }
    }
  }
  closedir(dir);
  if (result == kErrorSuccess && rmdir(folder) != 0) result = posix::errorFromErrno(errno);
  return result;
}

}  // namespace platform
