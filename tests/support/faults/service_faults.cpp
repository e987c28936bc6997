#include "tests/support/faults/service_faults.h"

#include <array>
#include <cstddef>

#include "platform/errors.h"
#include "platform/service_client.h"

namespace testsupport {

namespace {

struct Fault {
  int calls = 0;  // calls seen since the fault was set
  int first = 0;  // 0: none
  int times = 0;
  std::uint32_t code = 0;
  bool made = false;
};

constexpr std::size_t kCalls = static_cast<std::size_t>(ServiceCall::Delete) + 1;
std::array<Fault, kCalls> gFaults{};

// Counts the call; true when it is one of those chosen to fail, with the
// last error set as the system would.
bool fails(ServiceCall call) {
  Fault& f = gFaults[static_cast<std::size_t>(call)];
  const int number = ++f.calls;
  if (f.first == 0 || number < f.first || number >= f.first + f.times) return false;
  platform::setLastError(f.code);
  return true;
}

}  // namespace

void failServiceCall(ServiceCall call, int first, int times, std::uint32_t code, bool made) {
  gFaults[static_cast<std::size_t>(call)] = Fault{0, first, times, code, made};
}

void clearServiceFaults() { gFaults = {}; }

}  // namespace testsupport

// The linker's names: __real_<symbol> is the platform's function,
// __wrap_<symbol> what every caller reaches instead.
using platform::ScHandle;
using platform::ServiceStatus;
using testsupport::ServiceCall;
using testsupport::fails;

ScHandle realOpenServiceManager(std::uint32_t) asm("__real__ZN8platform18openServiceManagerEj");
ScHandle wrapOpenServiceManager(std::uint32_t) asm("__wrap__ZN8platform18openServiceManagerEj");
ScHandle realCreateService(ScHandle, const char*, const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t, const char*, const char*, const char*)
    asm("__real__ZN8platform13createServiceEPvPKcS2_jjjjS2_S2_S2_");
ScHandle wrapCreateService(ScHandle, const char*, const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t, const char*, const char*, const char*)
    asm("__wrap__ZN8platform13createServiceEPvPKcS2_jjjjS2_S2_S2_");
ScHandle realOpenService(ScHandle, const char*, std::uint32_t) asm("__real__ZN8platform11openServiceEPvPKcj");
ScHandle wrapOpenService(ScHandle, const char*, std::uint32_t) asm("__wrap__ZN8platform11openServiceEPvPKcj");
bool realStartService(ScHandle) asm("__real__ZN8platform12startServiceEPv");
bool wrapStartService(ScHandle) asm("__wrap__ZN8platform12startServiceEPv");
bool realQueryServiceStatus(ScHandle, ServiceStatus*) asm("__real__ZN8platform18queryServiceStatusEPvPNS_13ServiceStatusE");
bool wrapQueryServiceStatus(ScHandle, ServiceStatus*) asm("__wrap__ZN8platform18queryServiceStatusEPvPNS_13ServiceStatusE");
bool realControlService(ScHandle, std::uint32_t, ServiceStatus*)
    asm("__real__ZN8platform14controlServiceEPvjPNS_13ServiceStatusE");
bool wrapControlService(ScHandle, std::uint32_t, ServiceStatus*)
    asm("__wrap__ZN8platform14controlServiceEPvjPNS_13ServiceStatusE");
bool realDeleteService(ScHandle) asm("__real__ZN8platform13deleteServiceEPv");
bool wrapDeleteService(ScHandle) asm("__wrap__ZN8platform13deleteServiceEPv");

ScHandle wrapOpenServiceManager(std::uint32_t access) {
  return fails(ServiceCall::OpenManager) ? nullptr : realOpenServiceManager(access);
}

ScHandle wrapCreateService(ScHandle manager, const char* name, const char* displayName, std::uint32_t access,
                           std::uint32_t type, std::uint32_t start, std::uint32_t errorControl,
                           const char* program, const char* account, const char* password) {
  if (fails(ServiceCall::Create)) return nullptr;
  return realCreateService(manager, name, displayName, access, type, start, errorControl, program, account,
                           password);
}

ScHandle wrapOpenService(ScHandle manager, const char* name, std::uint32_t access) {
  return fails(ServiceCall::Open) ? nullptr : realOpenService(manager, name, access);
}

bool wrapStartService(ScHandle service) {
  return fails(ServiceCall::Start) ? false : realStartService(service);
}

bool wrapQueryServiceStatus(ScHandle service, ServiceStatus* status) {
  return fails(ServiceCall::Query) ? false : realQueryServiceStatus(service, status);
}

bool wrapControlService(ScHandle service, std::uint32_t control, ServiceStatus* status) {
  if (!fails(ServiceCall::Control)) return realControlService(service, control, status);
  const testsupport::Fault& f = testsupport::gFaults[static_cast<std::size_t>(ServiceCall::Control)];
  if (f.made) {
    realControlService(service, control, status);
    platform::setLastError(f.code);
  }
  return false;
}

bool wrapDeleteService(ScHandle service) {
  return fails(ServiceCall::Delete) ? false : realDeleteService(service);
}
