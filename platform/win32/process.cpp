// Processes on Windows.
#include "platform/process.h"

#include <array>

#include <windows.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"

namespace platform {

namespace {
// CreateProcessA takes at most 32767 characters of command line, and may
// write into the buffer it is given, so it gets a copy.
constexpr std::size_t kCommandLineSize = 32768;
// A FILETIME counts 100 ns steps since 1601; the C library's calendar time
// counts seconds since 1970.
constexpr std::uint64_t kStepsPerSecond = 10000000;
constexpr std::uint64_t kStepsPerMs = 10000;
constexpr std::uint64_t kStepsFrom1601To1970 = 116444736000000000;
}  // namespace

void sleepMs(std::uint32_t ms) { Sleep(ms); }

// The clock time() reads: the system time, which moves once a timer tick.
// Sleep ends on a tick as well, after the time has moved.
ClockReading readClock() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t steps =
      ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kStepsFrom1601To1970;
  return {static_cast<std::time_t>(steps / kStepsPerSecond),
          static_cast<std::uint32_t>(steps % kStepsPerSecond / kStepsPerMs)};
}

bool fileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool startProcess(const char* file, const char* commandLine, const char* const* argv) {
  (void)argv;  // Windows takes the joined line; the program splits it itself
  std::array<char, kCommandLineSize> line{};
  if (!copyText(line.data(), line.size(), commandLine)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // No handle goes along: a service has no standard handles to pass on,
  // and a job that inherited the table would hold it for as long as it
  // runs, so that no editor could rename a new table over it. Environment
  // and current directory are the scheduler's own; a ".bat" or ".cmd"
  // file is run by the system through its interpreter.
  if (!CreateProcessA(file, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return false;  // GetLastError tells why
  }
  // Nobody waits for a job or reads its exit code.
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

void exitProcess(std::uint32_t code) { ExitProcess(code); }

// Services start in the system folder (C:\Windows\system32), whatever
// folder their program lies in.
bool serviceCurrentFolder(char* folder, std::size_t size) {
  if (size == 0 || size > 0xFFFFFFFFu) return false;
  const UINT n = GetSystemDirectoryA(folder, static_cast<UINT>(size));
  // 0 is a failure; n >= size is the size the folder would have needed.
  if (n == 0 || n >= size) {
    folder[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace platform
