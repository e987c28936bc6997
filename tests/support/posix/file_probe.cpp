#include "tests/support/file_probe.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "platform/errors.h"

namespace testsupport {

namespace {
std::uint32_t errorFromErrno(int err) {
  return err == ENOENT ? platform::kErrorFileNotFound : platform::kErrorAccessDenied;
}
}  // namespace

std::uint32_t replaceFile(const char* from, const char* to) {
  return std::rename(from, to) == 0 ? 0 : errorFromErrno(errno);
}

std::uint32_t openUnshared(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errorFromErrno(errno);
  close(fd);
  return 0;
}

std::uint32_t holdUnshared(const char* path, std::uint32_t seconds, void (*ready)()) {
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errorFromErrno(errno);
  ready();
  sleep(seconds);
  close(fd);
  return 0;
}

}  // namespace testsupport
