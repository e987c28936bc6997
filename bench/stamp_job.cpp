// stamp_job <file> <label>: the job that bench/run schedules. Appends one
// line "<seconds since 1970>.<nanoseconds> <label>" to <file> as the first
// thing it does, so the stamp says when the job's process was running.
//
// The line goes out in one write to a file opened for appending only, so
// a thousand jobs stamping one file at once never tear or overwrite each
// other's lines; an open that fails is tried again for a while (under a
// burst Wine may refuse one for a moment). The clock is the ordinary wall
// clock: under faketime the stamp is in faked time, like the scheduler's
// own clock.
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

constexpr int kUsageError = 2;
constexpr int kWriteError = 3;
constexpr std::size_t kLineSize = 512;
constexpr int kOpenAttempts = 100;
constexpr unsigned kRetryPauseMs = 20;

#ifdef _WIN32
// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr unsigned long long kEpochOffsetTicks = 116444736000000000ULL;

void readClock(long long& seconds, long& nanoseconds) {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks =
      ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
      kEpochOffsetTicks;
  seconds = static_cast<long long>(ticks / 10000000ULL);
  nanoseconds = static_cast<long>((ticks % 10000000ULL) * 100ULL);
}

bool appendLine(const char* path, const char* text, std::size_t size) {
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kOpenAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
    if (attempt > 0) Sleep(kRetryPauseMs);
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr);
  const BOOL closed = CloseHandle(file);
  return ok && closed && written == size;
}
#else
void readClock(long long& seconds, long& nanoseconds) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  seconds = static_cast<long long>(now.tv_sec);
  nanoseconds = now.tv_nsec;
}

bool appendLine(const char* path, const char* text, std::size_t size) {
  int fd = -1;
  for (int attempt = 0; attempt < kOpenAttempts && fd < 0; ++attempt) {
    if (attempt > 0) usleep(kRetryPauseMs * 1000);
    fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }
  if (fd < 0) return false;
  const ssize_t written = write(fd, text, size);
  const bool closed = close(fd) == 0;
  return closed && written == static_cast<ssize_t>(size);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  long long seconds = 0;
  long nanoseconds = 0;
  readClock(seconds, nanoseconds);
  if (argc < 3) return kUsageError;

  char line[kLineSize];
  const int n = std::snprintf(line, sizeof line, "%lld.%09ld %s\n", seconds, nanoseconds, argv[2]);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof line) return kUsageError;
  return appendLine(argv[1], line, static_cast<std::size_t>(n)) ? 0 : kWriteError;
}
