// A small service control tool for the end-to-end tests:
//   service_ctl create <name> <program path> [<account> <password>]
//   service_ctl start|stop|pause|continue|interrogate|query|delete <name>
//   service_ctl hold <name> <seconds>   keeps a handle open, as the
//                                       Services console does
// Prints the state after start/stop/query as "state=<n>", and the error
// code on failure as "error=<n>"; exit code 0 on success, 1 on failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/service_client.h"

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

}  // namespace

int main(int argc, char** argv) {
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
