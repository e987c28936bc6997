#include "scheduler/service_shell.h"

#include <mutex>

#include "platform/errors.h"
#include "platform/process.h"
#include "scheduler/scheduler_loop.h"
#include "settings/install_settings.h"

namespace scheduler {

platform::ServiceStatus serviceStatus{};
platform::StatusHandle statusHandle = nullptr;

namespace {

// The service thread writes the status once before its first report; after
// that only the handler changes and reports it. The lock keeps a change and
// its report together.
std::mutex gStatusLock;
bool gStopTaken = false;

void reportStatus() { platform::setServiceStatus(statusHandle, serviceStatus); }

}  // namespace

int zyklantMain() {
  if (settings::readInstallSettings(settings::Variant::Scheduler) != 1) return 1;
  // Returns once the service has reported stopped, or at once when the
  // program was not started as a service.
  platform::startServiceDispatcher(kServiceName, serviceMain);
  return 0;
}

void serviceMain(std::uint32_t, char**) {
  {
    std::lock_guard<std::mutex> guard(gStatusLock);
    // Reported as its own process also when registered as interactive;
    // there is no start-pending phase.
    serviceStatus = {platform::kServiceWin32OwnProcess, platform::kServiceRunning,
                     platform::kServiceAcceptStop, 0, 0, 0, 0};
    statusHandle = platform::registerControlHandler(kServiceName, controlHandler);
    // Without a handler nothing could ever stop the service, and no status
    // can be reported: the process ends, which the Service Control Manager
    // sees as the service ending unexpectedly (recovery actions fire)
    // rather than a service that runs for ever and starts nothing.
    if (statusHandle == nullptr) platform::exitProcess(platform::lastError());
    reportStatus();
  }
  const std::uint32_t error = runScheduler(settings::InstallSettings.path);

  // The scheduler came back: its log does not open, so it cannot work.
  // Reported as stopped with the reason, for the Services console, sc
  // query and recovery actions, unless a stop has been reported already.
  std::lock_guard<std::mutex> guard(gStatusLock);
  if (gStopTaken) return;
  serviceStatus.currentState = platform::kServiceStopped;
  serviceStatus.controlsAccepted = 0;
  serviceStatus.win32ExitCode = error;
  reportStatus();
}

void controlHandler(std::uint32_t control) {
  std::lock_guard<std::mutex> guard(gStatusLock);
  switch (control) {
    case platform::kServiceControlStop:
      // Wait for the job being started to get its whole entry, and keep the
      // lock until the process ends, so that no job starts after the stop
      // has been reported.
      if (!gStopTaken) {
        lockJobStep();
        gStopTaken = true;
      }
      serviceStatus.currentState = platform::kServiceStopped;
      serviceStatus.win32ExitCode = 0;
      break;
    case platform::kServiceControlPause:
      // Pause and continue only change what is reported; jobs go on.
      serviceStatus.currentState = platform::kServicePaused;
      break;
    case platform::kServiceControlContinue:
      serviceStatus.currentState = platform::kServiceRunning;
      break;
    default:
      break;
  }
  reportStatus();
}

}  // namespace scheduler
