// The client side of the Service Control Manager, over the Win32 calls.
// Errors stay where Windows puts them (GetLastError, read by lastError).
#include "platform/service_client.h"

#include <windows.h>

#include "platform/bounded_text.h"

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

bool queryServiceAccount(ScHandle service, char* account, std::size_t size) {
  // QUERY_SERVICE_CONFIGA and its strings; Windows allows at most 8 KB.
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192];
  DWORD needed = 0;
  if (!QueryServiceConfigA(native(service), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer),
                           sizeof buffer, &needed)) {
    return false;
  }
  const char* name = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer)->lpServiceStartName;
  if (!copyText(account, size, name != nullptr ? name : "")) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return true;
}

bool closeServiceHandle(ScHandle handle) { return CloseServiceHandle(native(handle)) != FALSE; }

}  // namespace platform
