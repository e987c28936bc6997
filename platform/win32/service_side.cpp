// The service's side of the Service Control Manager, over the Win32 calls.
// Windows calls back through WINAPI functions with its own types; the
// trampolines here hand those calls on to our functions.
#include "platform/service_side.h"

#include <cstddef>

#include <windows.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"

namespace platform {

namespace {

// Windows' limit for a service name, and one process hosts one service.
constexpr std::size_t kServiceNameSize = 257;

char gServiceName[kServiceNameSize];
ServiceMainFunction gServiceMain = nullptr;
ControlHandlerFunction gHandler = nullptr;

void WINAPI serviceMainTrampoline(DWORD argc, LPSTR* argv) { gServiceMain(argc, argv); }

void WINAPI handlerTrampoline(DWORD control) { gHandler(control); }

}  // namespace

bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
  if (serviceName == nullptr || serviceMain == nullptr ||
      !copyText(gServiceName, sizeof gServiceName, serviceName)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  gServiceMain = serviceMain;
  // The dispatcher keeps reading the table while the service runs.
  static SERVICE_TABLE_ENTRYA table[2];
  table[0].lpServiceName = gServiceName;
  table[0].lpServiceProc = serviceMainTrampoline;
  table[1].lpServiceName = nullptr;
  table[1].lpServiceProc = nullptr;
  return StartServiceCtrlDispatcherA(table) != FALSE;
}

StatusHandle registerControlHandler(const char* serviceName, ControlHandlerFunction handler) {
  if (handler == nullptr) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  // Stored before registering: the first control may come at once.
  gHandler = handler;
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(serviceName, handlerTrampoline);
  return reinterpret_cast<StatusHandle>(handle);
}

bool setServiceStatus(StatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS native{};
  native.dwServiceType = status.serviceType;
  native.dwCurrentState = status.currentState;
  native.dwControlsAccepted = status.controlsAccepted;
  native.dwWin32ExitCode = status.win32ExitCode;
  native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
  native.dwCheckPoint = status.checkPoint;
  native.dwWaitHint = status.waitHint;
  return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &native) != FALSE;
}

}  // namespace platform
