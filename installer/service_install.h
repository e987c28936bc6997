// Registering the scheduler with the Service Control Manager, and removing it.
#pragma once
#include <cstdint>

namespace installer {

// 1 on success, 0 on failure (reported on standard output).
int installService(const char* account, const char* password);
int removeService();

// The removal's wait between two looks at the service (Sleep); tests put
// a shorter one in.
using SleepFunction = void (*)(std::uint32_t ms);
void setRemovalSleep(SleepFunction sleep);

}  // namespace installer
