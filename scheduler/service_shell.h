// Zyklant as a service: the entry function, the service main function and
// the control handler.
#pragma once
#include <cstdint>
#include "platform/service_side.h"
#include "settings/install_settings.h"

namespace scheduler {

using settings::kServiceName;

extern platform::ServiceStatus serviceStatus;
extern platform::StatusHandle statusHandle;

// The program's entry: 1 without settings, 0 otherwise.
int zyklantMain();
void serviceMain(std::uint32_t argc, char** argv);
void controlHandler(std::uint32_t control);

}  // namespace scheduler
