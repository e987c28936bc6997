// The control handler's table: what each control does to the reported
// status. Outside a service nothing reaches a Service Control Manager, so
// the record itself is what is checked. The stop row takes the job-step
// lock for good and is exercised end to end instead.
#include <gtest/gtest.h>

#include "platform/registry_admin.h"
#include "platform/service_status.h"
#include "scheduler/service_shell.h"
#include "settings/install_settings.h"
#include "tests/support/test_support.h"

namespace {

platform::ServiceStatus running() {
  return {platform::kServiceWin32OwnProcess, platform::kServiceRunning, platform::kServiceAcceptStop,
          0, 0, 0, 0};
}

bool sameStatus(const platform::ServiceStatus& a, const platform::ServiceStatus& b) {
  return a.serviceType == b.serviceType && a.currentState == b.currentState &&
         a.controlsAccepted == b.controlsAccepted && a.win32ExitCode == b.win32ExitCode &&
         a.serviceSpecificExitCode == b.serviceSpecificExitCode && a.checkPoint == b.checkPoint &&
         a.waitHint == b.waitHint;
}

}  // namespace

TEST(ControlHandler, PauseAndContinueOnlyChangeTheReportedState) {
  scheduler::serviceStatus = running();
  scheduler::controlHandler(platform::kServiceControlPause);
  platform::ServiceStatus expected = running();
  expected.currentState = platform::kServicePaused;
  EXPECT_TRUE(sameStatus(scheduler::serviceStatus, expected));
  scheduler::controlHandler(platform::kServiceControlContinue);
  EXPECT_TRUE(sameStatus(scheduler::serviceStatus, running()));
}

TEST(ControlHandler, InterrogationAndUnknownControlsChangeNothing) {
  for (std::uint32_t control : {platform::kServiceControlInterrogate, 5u, 15u, 0x80u}) {
    SCOPED_TRACE(control);
    scheduler::serviceStatus = running();
    scheduler::serviceStatus.currentState = platform::kServicePaused;
    platform::ServiceStatus before = scheduler::serviceStatus;
    scheduler::controlHandler(control);
    EXPECT_TRUE(sameStatus(scheduler::serviceStatus, before));
  }
}

TEST(ZyklantMain, WithoutSettingsExitsWithOne) {
  // Natively an empty root folder, under Windows the key removed.
  const std::string root = testsupport::useScratchPlatformRoot();
  platform::regDeleteKey(settings::kSettingsKey);
  testing::internal::CaptureStdout();
  EXPECT_EQ(scheduler::zyklantMain(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  if (!root.empty()) testsupport::removeTree(root);
}
