// The service's side of the Service Control Manager.
#pragma once
#include <cstdint>
#include "platform/service_status.h"

namespace platform {

using ServiceMainFunction = void (*)(std::uint32_t argc, char** argv);
using ControlHandlerFunction = void (*)(std::uint32_t control);
using StatusHandle = void*;

// StartServiceCtrlDispatcherA with a one-entry table (name, serviceMain).
// Runs the control handler on the calling thread and returns once the
// service has reported stopped; fails at once (1063) when the program was
// not started by the Service Control Manager.
bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain);

// RegisterServiceCtrlHandlerA; nullptr on failure (lastError).
StatusHandle registerControlHandler(const char* serviceName, ControlHandlerFunction handler);

// SetServiceStatus.
bool setServiceStatus(StatusHandle handle, const ServiceStatus& status);

}  // namespace platform
