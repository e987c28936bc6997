// The client side of the Service Control Manager, local machine, active
// database. Every function mirrors its Win32 namesake; failures leave the
// Windows error code in lastError().
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/service_status.h"

namespace platform {

using ScHandle = void*;

ScHandle openServiceManager(std::uint32_t access);
// account and password may be nullptr: the system account.
ScHandle createService(ScHandle manager, const char* serviceName, const char* displayName,
                       std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                       std::uint32_t errorControl, const char* binaryPath,
                       const char* account, const char* password);
ScHandle openService(ScHandle manager, const char* serviceName, std::uint32_t access);
// StartServiceA without arguments.
bool startService(ScHandle service);
bool queryServiceStatus(ScHandle service, ServiceStatus* status);
// ControlService: on success the status the service reported in answer.
bool controlService(ScHandle service, std::uint32_t control, ServiceStatus* status);
bool deleteService(ScHandle service);
// QueryServiceConfigA's lpServiceStartName: the account the service runs
// under, "LocalSystem" for the system account. False when the query fails
// or the name does not fit.
bool queryServiceAccount(ScHandle service, char* account, std::size_t size);
bool closeServiceHandle(ScHandle handle);

}  // namespace platform
