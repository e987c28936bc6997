// The client side of the Service Control Manager, over the Win32 calls.
// Errors stay where Windows puts them (GetLastError, read by lastError).
#include "platform/service_client.h"

#include <windows.h>

namespace platform {

namespace {

SC_HANDLE native(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
ScHandle ours(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }

void copyStatus(const SERVICE_STATUS& from, ServiceStatus* to) {
  to->serviceType = from.dwServiceType;
  to->currentState = from.dwCurrentState;
  to->controlsAccepted = from.dwControlsAccepted;
  to->win32ExitCode = from.dwWin32ExitCode;
  to->serviceSpecificExitCode = from.dwServiceSpecificExitCode;
  to->checkPoint = from.dwCheckPoint;
  to->waitHint = from.dwWaitHint;
}

}  // namespace

ScHandle openServiceManager(std::uint32_t access) {
  return ours(OpenSCManagerA(nullptr, nullptr, access));
}

ScHandle createService(ScHandle manager, const char* serviceName, const char* displayName,
                       std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                       std::uint32_t errorControl, const char* binaryPath, const char* account,
                       const char* password) {
  return ours(CreateServiceA(native(manager), serviceName, displayName, access, serviceType,
                             startType, errorControl, binaryPath, nullptr, nullptr, nullptr,
                             account, password));
}

ScHandle openService(ScHandle manager, const char* serviceName, std::uint32_t access) {
  return ours(OpenServiceA(native(manager), serviceName, access));
}

bool startService(ScHandle service) { return StartServiceA(native(service), 0, nullptr) != FALSE; }

bool queryServiceStatus(ScHandle service, ServiceStatus* status) {
  SERVICE_STATUS answer{};
  if (!QueryServiceStatus(native(service), &answer)) return false;
  copyStatus(answer, status);
  return true;
}

bool controlService(ScHandle service, std::uint32_t control, ServiceStatus* status) {
  SERVICE_STATUS answer{};
  if (!ControlService(native(service), control, &answer)) return false;
  copyStatus(answer, status);
  return true;
}

bool deleteService(ScHandle service) { return DeleteService(native(service)) != FALSE; }

bool closeServiceHandle(ScHandle handle) { return CloseServiceHandle(native(handle)) != FALSE; }

}  // namespace platform
