// The tests' and scripts' tool for services and the installation's
// registry key, on both targets:
//   service_ctl create <name> <program path> [<account> <password>]
//   service_ctl start|stop|pause|continue|interrogate|query|delete <name>
//   service_ctl exitcode <name>         the Win32 exit code a query reports
//   service_ctl hold <name> <seconds>   keeps a handle open, as the
//                                       Services console does
//   service_ctl pid <name>              the running service's process id
//   service_ctl set <value> <text>      a value of the settings key
//   service_ctl registration <name>     the stand-in's registration file
//   service_ctl key                     the stand-in's folder of the
//                                       settings key (its values are files)
// Prints the state after start/stop/query as "state=<n>", and the error
// code on failure as "error=<n>"; exit code 0 on success, 1 on failure.
// Scripts reach the stand-in's files only through this tool.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/registry_admin.h"
#include "platform/service_client.h"
#include "settings/install_settings.h"
#include "tests/support/test_support.h"

namespace {

int fail(const char* what) {
  std::printf("%s error=%lu\n", what, static_cast<unsigned long>(platform::lastError()));
  return 1;
}

int control(platform::ScHandle service, std::uint32_t code) {
  platform::ServiceStatus status{};
  if (!platform::controlService(service, code, &status)) return fail("control");
  std::printf("state=%lu\n", static_cast<unsigned long>(status.currentState));
  return 0;
}

// Prints the text; 1 when there is nothing to print.
int print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return text.empty() ? 1 : 0;
}

// Commands that need no Service Control Manager; -1 for the others.
int withoutManager(int argc, char** argv) {
  const char* command = argv[1];
  if (std::strcmp(command, "key") == 0) {
    const std::string folder = testsupport::standInKeyFolder(settings::kSettingsKey);
    return print(folder.empty() ? folder : folder + "\n");
  }
  if (argc < 3) return -1;
  if (std::strcmp(command, "pid") == 0) {
    const long pid = testsupport::serviceProcessId(argv[2]);
    return pid > 0 ? print(std::to_string(pid) + "\n") : 1;
  }
  if (std::strcmp(command, "registration") == 0) return print(testsupport::standInRegistration(argv[2]));
  if (std::strcmp(command, "set") == 0 && argc >= 4) {
    const long result = platform::regWriteValue(settings::kSettingsKey, argv[2], argv[3],
                                                static_cast<std::uint32_t>(std::strlen(argv[3]) + 1));
    if (result != 0) std::printf("set error=%ld\n", result);
    return result == 0 ? 0 : 1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int done = argc >= 2 ? withoutManager(argc, argv) : -1;
  if (done >= 0) return done;
  if (argc < 3) {
    std::fprintf(stderr, "usage: service_ctl <command> <name> ...\n");
    return 2;
  }
  const char* command = argv[1];
  const char* name = argv[2];
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
  if (manager == nullptr) return fail("manager");

  int rc = 0;
  if (std::strcmp(command, "create") == 0 && argc >= 4) {
    const char* account = argc >= 6 ? argv[4] : nullptr;
    const char* password = argc >= 6 ? argv[5] : nullptr;
    platform::ScHandle service = platform::createService(
        manager, name, name, platform::kServiceAllAccess, platform::kServiceWin32OwnProcess,
        platform::kServiceAutoStart, platform::kServiceErrorNormal, argv[3], account, password);
    if (service == nullptr) rc = fail("create");
    else platform::closeServiceHandle(service);
  } else {
    platform::ScHandle service = platform::openService(manager, name, platform::kServiceAllAccess);
    if (service == nullptr) {
      rc = fail("open");
    } else {
      platform::ServiceStatus status{};
      if (std::strcmp(command, "start") == 0) {
        rc = platform::startService(service) ? 0 : fail("start");
      } else if (std::strcmp(command, "stop") == 0) {
        rc = control(service, platform::kServiceControlStop);
      } else if (std::strcmp(command, "pause") == 0) {
        rc = control(service, platform::kServiceControlPause);
      } else if (std::strcmp(command, "continue") == 0) {
        rc = control(service, platform::kServiceControlContinue);
      } else if (std::strcmp(command, "interrogate") == 0) {
        rc = control(service, platform::kServiceControlInterrogate);
      } else if (std::strcmp(command, "query") == 0) {
        if (platform::queryServiceStatus(service, &status)) {
          std::printf("state=%lu\n", static_cast<unsigned long>(status.currentState));
        } else {
          rc = fail("query");
        }
      } else if (std::strcmp(command, "exitcode") == 0) {
        if (platform::queryServiceStatus(service, &status)) {
          std::printf("exit=%lu\n", static_cast<unsigned long>(status.win32ExitCode));
        } else {
          rc = fail("query");
        }
      } else if (std::strcmp(command, "hold") == 0 && argc >= 4) {
        std::printf("held\n");
        std::fflush(stdout);
        platform::sleepMs(static_cast<std::uint32_t>(std::atoi(argv[3])) * 1000);
      } else if (std::strcmp(command, "delete") == 0) {
        rc = platform::deleteService(service) ? 0 : fail("delete");
      } else {
        std::fprintf(stderr, "unknown command %s\n", command);
        rc = 2;
      }
      platform::closeServiceHandle(service);
    }
  }
  platform::closeServiceHandle(manager);
  return rc;
}
