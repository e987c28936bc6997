// The status record of a service, in the layout of SERVICE_STATUS, and the
// numbers both sides of the Service Control Manager speak.
#pragma once
#include <cstdint>

namespace platform {

struct ServiceStatus {
  std::uint32_t serviceType;
  std::uint32_t currentState;
  std::uint32_t controlsAccepted;
  std::uint32_t win32ExitCode;
  std::uint32_t serviceSpecificExitCode;
  std::uint32_t checkPoint;
  std::uint32_t waitHint;
};

constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
constexpr std::uint32_t kServiceInteractiveProcess = 0x100;

constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kServiceContinuePending = 5;
constexpr std::uint32_t kServicePausePending = 6;
constexpr std::uint32_t kServicePaused = 7;

constexpr std::uint32_t kServiceAcceptStop = 1;

constexpr std::uint32_t kServiceControlStop = 1;
constexpr std::uint32_t kServiceControlPause = 2;
constexpr std::uint32_t kServiceControlContinue = 3;
constexpr std::uint32_t kServiceControlInterrogate = 4;

constexpr std::uint32_t kServiceAutoStart = 2;
constexpr std::uint32_t kServiceDemandStart = 3;
constexpr std::uint32_t kServiceErrorNormal = 1;

constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
constexpr std::uint32_t kServiceQueryConfig = 0x0001;
constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
constexpr std::uint32_t kScManagerConnect = 0x0001;

}  // namespace platform
