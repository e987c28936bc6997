#include "installer/service_install.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "installer/installer_cli.h"
#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/service_client.h"
#include "platform/service_status.h"
#include "settings/install_settings.h"

namespace installer {

namespace {

constexpr const char* kProgramName = "\\Zyklant.exe";
using settings::kInstalledPathSize;
// The program path in quotation marks, when it has to be quoted.
constexpr std::size_t kQuotedPathSize = kInstalledPathSize + 2;
// The longest report is number 0 with the whole program path:
// 42 characters before it, 2 after it, the path itself at most 255.
constexpr std::size_t kReportSize = 300;

constexpr std::uint32_t kTypeWithAccount = platform::kServiceWin32OwnProcess;
constexpr std::uint32_t kTypeSystemAccount =
    platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess;

// The stop is awaited for at most ten passes of ten seconds.
constexpr int kRemovalPasses = 10;
constexpr std::uint32_t kRemovalWaitMs = 10000;

// Report number of a removal that ran out of passes.
constexpr int kReportRemovalTimedOut = 10;

SleepFunction gRemovalSleep = platform::sleepMs;

// "Der Dienst konnte nicht <verb> werden (<code>)." as error report
// <number>. The code is GetLastError's, taken right after the failing call.
void reportFailure(const char* verb, std::uint32_t code, int number) {
  char text[kReportSize];
  int n = std::snprintf(text, sizeof text, "Der Dienst konnte nicht %s werden (%d).", verb,
                        static_cast<int>(code));
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) text[0] = '\0';
  printErrorReport(text, number);
}

// Report 0 names the program file the way it was looked for. It is built
// from the installation folder again, so that even a folder too long for
// the path buffer is named in full.
void reportMissingProgram() {
  char text[kReportSize + sizeof settings::InstallSettings.path];
  int n = std::snprintf(text, sizeof text, "Der Dienst konnte nicht gestartet werden (%s%s).",
                        settings::InstallSettings.path, kProgramName);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) text[0] = '\0';
  printErrorReport(text, 0);
}

bool buildProgramPath(char* path, std::size_t size) {
  return platform::copyText(path, size, settings::InstallSettings.path) &&
         platform::appendText(path, size, kProgramName);
}

bool programFileOpens(const char* path) {
  std::FILE* file = platform::openFile(path, "r");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// The Service Control Manager splits an unquoted program path at its first
// blank that leaves a file to run: with Path "C:\Program Files\Horamat" it
// would try C:\Program.exe first, and whoever may write C:\ would then run
// as the service account. A path with a blank is therefore registered in
// quotation marks; one without stays as built.
bool buildRegisteredPath(const char* programPath, char* out, std::size_t size) {
  if (std::strchr(programPath, ' ') == nullptr) return platform::copyText(out, size, programPath);
  int n = std::snprintf(out, size, "\"%s\"", programPath);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool isEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

// Sends the stop control; true when the stop goes on. The control can fail
// although it does: the service stopped and its process ended before the
// answer came back (Wine then gives 109), it had stopped already (1062) or
// it was stopping (1061). What it does now tells: only a service that
// still runs or starts has refused the stop, and that is reported.
bool stopUnderway(platform::ScHandle service, platform::ServiceStatus& status) {
  if (platform::controlService(service, platform::kServiceControlStop, &status)) return true;
  const std::uint32_t code = platform::lastError();
  if (platform::queryServiceStatus(service, &status) && (status.currentState == platform::kServiceStopped ||
                                                         status.currentState == platform::kServiceStopPending)) {
    return true;
  }
  reportFailure("gestoppt", code, 6);
  return false;
}

}  // namespace

void setRemovalSleep(SleepFunction sleep) {
  gRemovalSleep = (sleep != nullptr) ? sleep : platform::sleepMs;
}

int installService(const char* account, const char* password) {
  char programPath[kInstalledPathSize] = {};
  if (!buildProgramPath(programPath, sizeof programPath) || !programFileOpens(programPath)) {
    reportMissingProgram();
    return 0;
  }
  char registeredPath[kQuotedPathSize] = {};
  if (!buildRegisteredPath(programPath, registeredPath, sizeof registeredPath)) {
    reportMissingProgram();  // cannot happen: the quoted path has room for both marks
    return 0;
  }

  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
  if (manager == nullptr) {
    reportFailure("installiert", platform::lastError(), 5);
    return 0;
  }

  // A name without a password (or the reverse) is no credential: such a
  // service runs under the system account, like one installed without both.
  const bool withAccount = !isEmpty(account) && !isEmpty(password);
  platform::ScHandle service = platform::createService(
      manager, kServiceName, kServiceName, platform::kServiceAllAccess,
      withAccount ? kTypeWithAccount : kTypeSystemAccount, platform::kServiceAutoStart,
      platform::kServiceErrorNormal, registeredPath, withAccount ? account : nullptr,
      withAccount ? password : nullptr);

  int result = 0;
  if (service != nullptr) {
    // A service that does not start stays registered: the administrator
    // sees the reason in the report, and a second "i" says it exists.
    if (platform::startService(service)) {
      result = 1;
    } else {
      reportFailure("gestartet", platform::lastError(), 1);
    }
    platform::closeServiceHandle(service);
  } else {
    std::uint32_t code = platform::lastError();
    if (code == platform::kErrorServiceExists) {
      printWarningReport("Der Dienst existiert bereits.", 2);
    } else if (code == platform::kErrorInvalidServiceAccount) {
      printWarningReport("Der Benutzeraccount existiert nicht.", 3);
    } else {
      reportFailure("installiert", code, 4);
    }
  }
  platform::closeServiceHandle(manager);
  return result;
}

int removeService() {
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
  if (manager == nullptr) {
    reportFailure("deinstalliert", platform::lastError(), 11);
    return 0;
  }
  platform::ScHandle service = platform::openService(manager, kServiceName, platform::kServiceAllAccess);
  if (service == nullptr) {
    std::uint32_t code = platform::lastError();
    if (code == platform::kErrorServiceDoesNotExist) {
      printWarningReport("Der Dienst existiert nicht.", 9);
    } else {
      reportFailure("deinstalliert", code, 9);
    }
    platform::closeServiceHandle(manager);
    return 0;
  }

  // The stop control's answer lands in the same record as the first query,
  // so a service that stops at once is deleted without any wait.
  int result = 0;
  platform::ServiceStatus status{};
  if (!platform::queryServiceStatus(service, &status)) {
    reportFailure("deinstalliert", platform::lastError(), 8);
  } else if (status.currentState == platform::kServiceStopped || stopUnderway(service, status)) {
    // The state is looked at before each of the ten waits, not after the
    // last: once the tenth wait is over, the time allowed is up.
    bool deletionFailed = false;
    std::uint32_t deletionError = 0;
    bool queryFailed = false;
    for (int pass = 0; pass < kRemovalPasses; ++pass) {
      if (status.currentState == platform::kServiceStopped) {
        if (platform::deleteService(service)) {
          result = 1;
          break;
        }
        deletionFailed = true;
        deletionError = platform::lastError();
      }
      gRemovalSleep(kRemovalWaitMs);
      if (!platform::queryServiceStatus(service, &status)) {
        reportFailure("deinstalliert", platform::lastError(), 7);
        queryFailed = true;
        break;
      }
    }
    // Out of passes: say which of the two steps never came through, or the
    // administrator would take the silence for a removal.
    if (result == 0 && !queryFailed) {
      if (deletionFailed) {
        reportFailure("deinstalliert", deletionError, kReportRemovalTimedOut);
      } else {
        reportFailure("gestoppt", platform::kErrorServiceRequestTimeout, kReportRemovalTimedOut);
      }
    }
  }
  platform::closeServiceHandle(service);
  platform::closeServiceHandle(manager);
  return result;
}

}  // namespace installer
