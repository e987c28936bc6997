// The stand-in's service store: paths, the status file and socket transfers.
#include "platform/posix/service_store.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform::posix {

namespace {

constexpr std::size_t kStatusTextSize = 160;
constexpr int kStatusFields = 7;

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// One decimal uint32 at *cursor; moves the cursor past it.
bool parseNumber(const char** cursor, std::uint32_t* value) {
  const char* text = *cursor;
  while (*text == ' ') ++text;
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long n = std::strtoull(text, &end, 10);
  if (errno != 0 || n > UINT32_MAX) return false;
  *value = static_cast<std::uint32_t>(n);
  *cursor = end;
  return true;
}

}  // namespace

bool formatText(char* out, std::size_t size, const char* format, ...) {
  if (size == 0) return false;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, size, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool validServiceName(const char* name) {
  if (name == nullptr) return false;
  std::size_t n = strnlen(name, kServiceNameMax + 1);
  if (n == 0 || n > kServiceNameMax) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool servicePath(const char* name, const char* leaf, char* out, std::size_t size) {
  return formatText(out, size, "%s/services/%s%s%s", standInRoot(), name,
                    leaf[0] != '\0' ? "/" : "", leaf);
}

bool writeStatusFile(const char* runFolder, const ServiceStatus& status) {
  char finalPath[kStorePathSize];
  char tempPath[kStorePathSize];
  char text[kStatusTextSize];
  // The temp name carries the pid: the starter and the service may both
  // write a status into the same folder.
  if (!formatText(finalPath, sizeof finalPath, "%s/status", runFolder) ||
      !formatText(tempPath, sizeof tempPath, "%s/status.%ld.tmp", runFolder,
                  static_cast<long>(::getpid()))) {
    setLastError(kErrorFilenameTooLong);
    return false;
  }
  formatText(text, sizeof text, "%" PRIu32 " %" PRIu32 " %" PRIu32 " %" PRIu32 " %" PRIu32
             " %" PRIu32 " %" PRIu32 "\n",
             status.serviceType, status.currentState, status.controlsAccepted,
             status.win32ExitCode, status.serviceSpecificExitCode, status.checkPoint,
             status.waitHint);

  int fd = ::open(tempPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  bool ok = writeAll(fd, text, std::strlen(text));
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tempPath, finalPath) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tempPath);
    setLastError(errorFromErrno(err));
  }
  return ok;
}

bool readStatusFile(const char* runFolder, ServiceStatus* status) {
  char path[kStorePathSize];
  if (!formatText(path, sizeof path, "%s/status", runFolder)) {
    setLastError(kErrorFilenameTooLong);
    return false;
  }
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  char text[kStatusTextSize];
  std::size_t have = 0;
  bool ok = true;
  while (have < sizeof text - 1) {
    ssize_t n = ::read(fd, text + have, sizeof text - 1 - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      setLastErrorFromErrno();
    }
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (!ok) return false;
  text[have] = '\0';

  std::uint32_t fields[kStatusFields];
  const char* cursor = text;
  for (std::uint32_t& field : fields) {
    if (!parseNumber(&cursor, &field)) {
      setLastError(kErrorInvalidData);
      return false;
    }
  }
  *status = ServiceStatus{fields[0], fields[1], fields[2], fields[3],
                          fields[4], fields[5], fields[6]};
  return true;
}

std::int64_t monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool sendAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

Receive receiveAll(int fd, void* data, std::size_t size, std::int64_t deadlineMs) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    std::int64_t left = deadlineMs - monotonicMs();
    if (left <= 0) return Receive::timedOut;
    pollfd watch{fd, POLLIN, 0};
    int ready = ::poll(&watch, 1, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Receive::failed;
    }
    if (ready == 0) return Receive::timedOut;
    ssize_t n = ::recv(fd, bytes, size, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Receive::failed;
    }
    if (n == 0) return Receive::closed;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return Receive::done;
}

}  // namespace platform::posix
