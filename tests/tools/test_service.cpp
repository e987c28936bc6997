// A service program for the tests of the Service Control Manager layer and
// of the installer, built for both targets from platform/service_side.h
// alone.
//
//   test_service [<service name> [<stop mode>]]
//
// The name defaults to "Horamat". The stop mode says what a stop control
// does:
//   normal     report STOPPED at once;
//   slowstop   report STOP_PENDING, and STOPPED from a thread ~2 s later;
//   neverstop  report STOP_PENDING, and never more.
// Without the argument the mode is the first word of test_service.mode in
// the folder of the program, else normal. The installer registers its
// program by name alone (a copy of this one as Zyklant.exe), so the file is
// how its tests choose; both Service Control Managers start the program
// with the registered full path as argv[0], which therefore names the
// folder.
//
// Every step lands as a line in test_service.log in the same folder, so a
// test can see that the handler ran and that the program ended:
//   main <name>             serviceMain ran
//   register failed <code>  registerControlHandler failed
//   control <code>          the handler got a control
//   dispatcher failed <code> startServiceDispatcher failed (1063 from a shell)
//   exit                    the dispatcher returned, the program ends (0)
// On the stand-in the log is created by the service's account, so its
// owner tells whom the service ran as.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/service_side.h"

namespace {

constexpr std::size_t kPathSize = 1024;
constexpr std::size_t kNameSize = 257;
constexpr std::size_t kLineSize = 300;
constexpr auto kSlowStopDelay = std::chrono::seconds(2);
constexpr std::uint32_t kSlowStopWaitHintMs = 5000;

enum class StopMode { normal, slowStop, neverStop };

char gName[kNameSize] = "Horamat";
char gLogPath[kPathSize];
StopMode gMode = StopMode::normal;

// The handler (dispatcher's thread) and the slow stop's thread both change
// and report the status.
std::mutex gStatusLock;
platform::StatusHandle gStatusHandle = nullptr;
platform::ServiceStatus gStatus{};

void appendLog(const char* line) {
  // Binary: the same "\n" line ends on every system.
  std::FILE* log = std::fopen(gLogPath, "ab");
  if (log == nullptr) return;
  std::fputs(line, log);
  std::fclose(log);
}

// One line "<what> <text>"; dropped when it does not fit.
void logText(const char* what, const char* text) {
  char line[kLineSize];
  int n = std::snprintf(line, sizeof line, "%s %s\n", what, text);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof line) appendLog(line);
}

void logNumber(const char* what, std::uint32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(number));
  logText(what, text);
}

// The folder part of a program path, "/" or "\" kept; "" for a bare name.
bool folderOf(const char* program, char* out, std::size_t size) {
  const char* slash = std::strrchr(program, '/');
  const char* backslash = std::strrchr(program, '\\');
  const char* last = (slash != nullptr && (backslash == nullptr || slash > backslash)) ? slash
                                                                                        : backslash;
  std::size_t n = last != nullptr ? static_cast<std::size_t>(last - program + 1) : 0;
  if (n >= size) return false;
  std::memcpy(out, program, n);
  out[n] = '\0';
  return true;
}

StopMode modeFromWord(const char* word) {
  if (std::strncmp(word, "slowstop", 8) == 0) return StopMode::slowStop;
  if (std::strncmp(word, "neverstop", 9) == 0) return StopMode::neverStop;
  return StopMode::normal;
}

StopMode modeFromFile(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return StopMode::normal;
  char word[32] = {};
  StopMode mode = std::fgets(word, sizeof word, file) != nullptr ? modeFromWord(word)
                                                                 : StopMode::normal;
  std::fclose(file);
  return mode;
}

// Call with gStatusLock held.
void report() { platform::setServiceStatus(gStatusHandle, gStatus); }

void finishSlowStop() {
  std::this_thread::sleep_for(kSlowStopDelay);
  std::lock_guard<std::mutex> guard(gStatusLock);
  gStatus.currentState = platform::kServiceStopped;
  gStatus.checkPoint = 0;
  gStatus.waitHint = 0;
  report();
}

void controlHandler(std::uint32_t control) {
  logNumber("control", control);
  std::lock_guard<std::mutex> guard(gStatusLock);
  if (control == platform::kServiceControlStop) {
    if (gMode == StopMode::normal) {
      gStatus.currentState = platform::kServiceStopped;
      gStatus.win32ExitCode = 0;
    } else {
      gStatus.currentState = platform::kServiceStopPending;
      gStatus.checkPoint = 1;
      gStatus.waitHint = kSlowStopWaitHintMs;
      if (gMode == StopMode::slowStop) std::thread(finishSlowStop).detach();
    }
  }
  // Anything else, interrogation among them, is answered unchanged.
  report();
}

void serviceMain(std::uint32_t argc, char** argv) {
  logText("main", argc > 0 && argv[0] != nullptr ? argv[0] : "?");
  platform::StatusHandle handle = platform::registerControlHandler(gName, controlHandler);
  if (handle == nullptr) {
    logNumber("register failed", platform::lastError());
    return;
  }
  std::lock_guard<std::mutex> guard(gStatusLock);
  gStatusHandle = handle;
  gStatus = platform::ServiceStatus{platform::kServiceWin32OwnProcess, platform::kServiceRunning,
                                    platform::kServiceAcceptStop, 0, 0, 0, 0};
  report();
}

}  // namespace

int main(int argc, char** argv) {
  char folder[kPathSize] = {};
  const char* program = argc > 0 ? argv[0] : "";
  if (!folderOf(program, folder, sizeof folder)) return 2;
  int n = std::snprintf(gLogPath, sizeof gLogPath, "%stest_service.log", folder);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof gLogPath) return 2;
  if (argc > 1) {
    n = std::snprintf(gName, sizeof gName, "%s", argv[1]);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof gName) return 2;
  }
  if (argc > 2) {
    gMode = modeFromWord(argv[2]);
  } else {
    char modePath[kPathSize];
    n = std::snprintf(modePath, sizeof modePath, "%stest_service.mode", folder);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof modePath) return 2;
    gMode = modeFromFile(modePath);
  }

  if (!platform::startServiceDispatcher(gName, serviceMain)) {
    logNumber("dispatcher failed", platform::lastError());
  }
  appendLog("exit\n");
  return 0;
}
