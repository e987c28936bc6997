// Contract tests of the Service Control Manager layer, both sides, run
// against each implementation: natively against the POSIX stand-in (a
// fresh HORAMAT_PLATFORM_ROOT per test), as a Windows program against
// Wine's Service Control Manager. The service is tests/tools/test_service,
// copied into a folder of the test's own, where it also writes its log.
// Service names are unique per test; every test deletes what it created.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/service_client.h"
#include "platform/service_status.h"

namespace {

namespace fs = std::filesystem;
using platform::ScHandle;
using platform::ServiceStatus;

// Natively the layer is the stand-in, which keeps its database under a
// root folder; as a Windows program it is the real one.
constexpr bool kStandIn = fs::path::preferred_separator == '/';
constexpr const char* kServiceProgram = kStandIn ? "test_service" : "test_service.exe";

// Start and stop take a process start each; under Wine about a second.
constexpr auto kStateWait = std::chrono::seconds(20);
// slowstop reports STOPPED about 2 s after the stop.
constexpr auto kSlowStopWait = std::chrono::seconds(15);

std::string randomSuffix() {
  static std::mt19937 generator{std::random_device{}()};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kLetters[generator() % (sizeof kLetters - 1)];
  return suffix;
}

// The folder of the built programs as this program sees it: under Wine
// the Unix path is reached through drive Z:.
fs::path programFolder() {
  std::string folder = HORAMAT_TEST_BIN_DIR;
  return fs::path(kStandIn ? folder : "Z:" + folder);
}

// A text file as text: without the CRs of Windows line ends.
std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  std::erase(content, '\r');
  return content;
}

// The text of an error code, for the failure messages.
std::string errorText(std::uint32_t code) { return "lastError " + std::to_string(code); }

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Short on purpose: the stand-in's control socket lives below it.
    fs::path base = kStandIn ? fs::path("/tmp") : fs::temp_directory_path();
    for (int attempt = 0; attempt < 20 && work_.empty(); ++attempt) {
      fs::path candidate = base / ("scm" + randomSuffix());
      std::error_code error;
      if (fs::create_directory(candidate, error)) work_ = candidate;
    }
    ASSERT_FALSE(work_.empty()) << "no work folder under " << base;
    if (kStandIn) {
      static char rootEntry[512];
      int n = std::snprintf(rootEntry, sizeof rootEntry, "HORAMAT_PLATFORM_ROOT=%s",
                            work_.string().c_str());
      ASSERT_TRUE(n > 0 && static_cast<std::size_t>(n) < sizeof rootEntry);
      ::putenv(rootEntry);
    }
    std::error_code error;
    fs::copy_file(programFolder() / kServiceProgram, program(), error);
    ASSERT_FALSE(error) << "copying " << (programFolder() / kServiceProgram) << ": "
                        << error.message();
    manager_ = platform::openServiceManager(platform::kScManagerAllAccess);
    ASSERT_NE(manager_, nullptr) << errorText(platform::lastError());
  }

  void TearDown() override {
    for (ScHandle handle : handles_) platform::closeServiceHandle(handle);
    for (const std::string& name : names_) removeIfPresent(name);
    if (manager_ != nullptr) platform::closeServiceHandle(manager_);
    waitForProgramsToEnd();
    std::error_code error;
    fs::remove_all(work_, error);
  }

  fs::path program() const { return work_ / kServiceProgram; }
  fs::path logPath() const { return work_ / "test_service.log"; }

  // A name of this test's own; TearDown stops and deletes the service.
  std::string newName(const char* tag) {
    names_.push_back(std::string("HmT") + tag + randomSuffix());
    return names_.back();
  }

  // The registered command line: program (quoted), service name, stop
  // mode ("" leaves the mode to the file next to the program).
  std::string commandLine(const std::string& name, const char* mode) const {
    return quotedLine(program(), name, mode);
  }

  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "\"" + text.
  static std::string quotedLine(const fs::path& file, const std::string& name, const char* mode) {
    std::string line(1, '"');
    line.append(file.string()).append("\" ").append(name);
    if (mode[0] != '\0') line.append(" ").append(mode);
    return line;
  }

  // Kept for TearDown to close.
  ScHandle keep(ScHandle handle) {
    if (handle != nullptr) handles_.push_back(handle);
    return handle;
  }

  ScHandle create(const std::string& name, const std::string& line) {
    return keep(platform::createService(
        manager_, name.c_str(), name.c_str(), platform::kServiceAllAccess,
        platform::kServiceWin32OwnProcess, platform::kServiceDemandStart,
        platform::kServiceErrorNormal, line.c_str(), nullptr, nullptr));
  }

  // Created and started, running by its own report; nullptr on failure.
  ScHandle startRunning(const std::string& name, const char* mode) {
    ScHandle service = create(name, commandLine(name, mode));
    if (service == nullptr) {
      ADD_FAILURE() << "create: " << errorText(platform::lastError());
      return nullptr;
    }
    if (!platform::startService(service)) {
      ADD_FAILURE() << "start: " << errorText(platform::lastError());
      return nullptr;
    }
    ServiceStatus status{};
    if (!waitForState(service, platform::kServiceRunning, kStateWait, &status)) {
      ADD_FAILURE() << "not running, state " << status.currentState;
      return nullptr;
    }
    return service;
  }

  static bool waitForState(ScHandle service, std::uint32_t state,
                           std::chrono::seconds limit, ServiceStatus* last) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (platform::queryServiceStatus(service, last) && last->currentState == state) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  bool waitForLog(const std::string& line, std::chrono::seconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (readFile(logPath()).find(line + "\n") != std::string::npos) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // Stops (waiting a while) and deletes a service this test left behind.
  void removeIfPresent(const std::string& name) {
    ScHandle service =
        platform::openService(manager_, name.c_str(), platform::kServiceAllAccess);
    if (service == nullptr) return;
    ServiceStatus status{};
    if (platform::queryServiceStatus(service, &status) &&
        status.currentState != platform::kServiceStopped) {
      platform::controlService(service, platform::kServiceControlStop, &status);
      waitForState(service, platform::kServiceStopped, kSlowStopWait, &status);
    }
    platform::deleteService(service);
    platform::closeServiceHandle(service);
  }

  // A service reports stopped before its program has ended; the folder
  // goes only once every program that started has written its last line.
  void waitForProgramsToEnd() const {
    auto deadline = std::chrono::steady_clock::now() + kStateWait;
    for (;;) {
      std::string log = readFile(logPath());
      if (countLines(log, "main ") <= countLines(log, "exit")) return;
      if (std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  static int countLines(const std::string& log, const std::string& start) {
    int count = 0;
    for (std::size_t at = 0; at < log.size();) {
      if (log.compare(at, start.size(), start) == 0) ++count;
      std::size_t end = log.find('\n', at);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return count;
  }

  fs::path work_;
  ScHandle manager_ = nullptr;
  std::vector<ScHandle> handles_;
  std::vector<std::string> names_;
};

// The installer's "already installed" warning depends on this code.
TEST_F(ServiceManagerTest, SecondCreateOfOneNameFailsWith1073) {
  std::string name = newName("Twice");
  ASSERT_NE(create(name, commandLine(name, "normal")), nullptr)
      << errorText(platform::lastError());
  EXPECT_EQ(create(name, commandLine(name, "normal")), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceExists);
}

// The installer's "does not exist" warning depends on this code.
TEST_F(ServiceManagerTest, OpenOfUnknownNameFailsWith1060) {
  std::string name = newName("Unknown");
  EXPECT_EQ(platform::openService(manager_, name.c_str(), platform::kServiceAllAccess), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceDoesNotExist);
}

// A registration that never ran is stopped, and a stop is refused: the
// removal sends no stop then.
TEST_F(ServiceManagerTest, NeverStartedServiceIsStoppedAndRefusesAStopWith1062) {
  std::string name = newName("Idle");
  ScHandle service = create(name, commandLine(name, "normal"));
  ASSERT_NE(service, nullptr) << errorText(platform::lastError());
  ServiceStatus status{};
  ASSERT_TRUE(platform::queryServiceStatus(service, &status)) << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_FALSE(platform::controlService(service, platform::kServiceControlStop, &status));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceNotActive);
}

// serviceMain runs with the service name, reports running, and a second
// start is refused while it runs.
TEST_F(ServiceManagerTest, StartedServiceRunsAndRefusesASecondStartWith1056) {
  std::string name = newName("Run");
  ScHandle service = startRunning(name, "normal");
  ASSERT_NE(service, nullptr);
  ServiceStatus status{};
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.controlsAccepted, platform::kServiceAcceptStop);
  EXPECT_TRUE(waitForLog("main " + name, kStateWait)) << readFile(logPath());
  EXPECT_FALSE(platform::startService(service));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceAlreadyRunning);
}

// Interrogation reaches the handler and is answered with the status as it
// stands.
TEST_F(ServiceManagerTest, InterrogateAnswersTheCurrentStatusUnchanged) {
  std::string name = newName("Ask");
  ScHandle service = startRunning(name, "normal");
  ASSERT_NE(service, nullptr);
  ServiceStatus status{};
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlInterrogate, &status))
      << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  EXPECT_EQ(status.controlsAccepted, platform::kServiceAcceptStop);
  EXPECT_TRUE(waitForLog("control 4", kStateWait)) << readFile(logPath());
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
}

// The stop reaches the handler, the answer already says stopped, the
// program ends, and the service can be started again afterwards.
TEST_F(ServiceManagerTest, StopIsAnsweredStoppedAndEndsTheProgram) {
  std::string name = newName("Stop");
  ScHandle service = startRunning(name, "normal");
  ASSERT_NE(service, nullptr);
  ServiceStatus status{};
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
      << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_TRUE(waitForLog("control 1", kStateWait)) << readFile(logPath());
  EXPECT_TRUE(waitForLog("exit", kStateWait)) << readFile(logPath());
  ASSERT_TRUE(waitForState(service, platform::kServiceStopped, kStateWait, &status));

  EXPECT_FALSE(platform::controlService(service, platform::kServiceControlStop, &status));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceNotActive);

  // Nothing of the first run is in the way of the second.
  ASSERT_TRUE(platform::startService(service)) << errorText(platform::lastError());
  EXPECT_TRUE(waitForState(service, platform::kServiceRunning, kStateWait, &status))
      << "state " << status.currentState;
}

// A service that takes its time: the answer says stop pending, a control
// meanwhile is refused, and a later query says stopped. This is the
// removal's wait loop.
TEST_F(ServiceManagerTest, SlowStopAnswersStopPendingAndStopsLater) {
  std::string name = newName("Slow");
  ScHandle service = startRunning(name, "slowstop");
  ASSERT_NE(service, nullptr);
  ServiceStatus status{};
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
      << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceStopPending);
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.currentState, platform::kServiceStopPending);
  EXPECT_FALSE(platform::controlService(service, platform::kServiceControlInterrogate, &status));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceCannotAcceptCtrl);
  EXPECT_TRUE(waitForState(service, platform::kServiceStopped, kSlowStopWait, &status))
      << "state " << status.currentState;
  EXPECT_TRUE(waitForLog("exit", kStateWait)) << readFile(logPath());
}

// The installer copies the program in as Zyklant.exe and chooses its
// behaviour with the file next to it, not with arguments.
TEST_F(ServiceManagerTest, StopModeComesFromTheFileNextToTheProgram) {
  std::ofstream(work_ / "test_service.mode") << "slowstop\n";
  std::string name = newName("File");
  ScHandle service = startRunning(name, "");
  ASSERT_NE(service, nullptr);
  ServiceStatus status{};
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
      << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceStopPending);
  EXPECT_TRUE(waitForState(service, platform::kServiceStopped, kSlowStopWait, &status));
}

// A deletion through one handle is seen through the other (marked for
// delete), and once the handles are closed the name is unknown.
TEST_F(ServiceManagerTest, DeletedServiceNoLongerOpens) {
  std::string name = newName("Gone");
  ScHandle service = platform::createService(
      manager_, name.c_str(), name.c_str(), platform::kServiceAllAccess,
      platform::kServiceWin32OwnProcess, platform::kServiceDemandStart,
      platform::kServiceErrorNormal, commandLine(name, "normal").c_str(), nullptr, nullptr);
  ASSERT_NE(service, nullptr) << errorText(platform::lastError());
  ScHandle second = platform::openService(manager_, name.c_str(), platform::kServiceAllAccess);
  ASSERT_NE(second, nullptr) << errorText(platform::lastError());
  EXPECT_TRUE(platform::deleteService(service)) << errorText(platform::lastError());
  EXPECT_FALSE(platform::deleteService(second));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceMarkedForDelete);
  EXPECT_TRUE(platform::closeServiceHandle(second));
  EXPECT_TRUE(platform::closeServiceHandle(service));
  EXPECT_EQ(platform::openService(manager_, name.c_str(), platform::kServiceAllAccess), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceDoesNotExist);
}

// Deleting a running service leaves it running until it is stopped; its
// name is taken meanwhile, and free again once it has stopped.
TEST_F(ServiceManagerTest, DeletedRunningServiceRunsUntilStopped) {
  std::string name = newName("Busy");
  ScHandle service = startRunning(name, "normal");
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(platform::deleteService(service)) << errorText(platform::lastError());
  EXPECT_EQ(create(name, commandLine(name, "normal")), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceMarkedForDelete);

  ServiceStatus status{};
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.currentState, platform::kServiceRunning);
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
      << errorText(platform::lastError());
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
  EXPECT_TRUE(waitForLog("exit", kStateWait));
  // Windows lets the record go with its last handle.
  for (ScHandle& handle : handles_) {
    if (handle == service) {
      platform::closeServiceHandle(handle);
      handle = nullptr;
    }
  }
  std::erase(handles_, nullptr);
  auto deadline = std::chrono::steady_clock::now() + kStateWait;
  ScHandle again = nullptr;
  while (again == nullptr && std::chrono::steady_clock::now() < deadline) {
    again = create(name, commandLine(name, "normal"));
    if (again == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(again, nullptr) << errorText(platform::lastError());
}

// The installer checks for the program first; the layer must still fail
// the start, not report success, when it is missing.
TEST_F(ServiceManagerTest, MissingProgramFailsToStart) {
  std::string name = newName("Lost");
  std::string line = quotedLine(work_ / "no_such_program.exe", name, "");
  ScHandle service = create(name, line);
  ASSERT_NE(service, nullptr) << errorText(platform::lastError());
  EXPECT_FALSE(platform::startService(service));
  std::uint32_t code = platform::lastError();
  std::printf("start of a missing program: %s\n", errorText(code).c_str());
  if (kStandIn) {
    EXPECT_EQ(code, platform::kErrorFileNotFound);
  }
  ServiceStatus status{};
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
}

// Zyklant run from a console: the dispatcher fails at once with 1063 and
// the program ends with 0, having done nothing.
TEST_F(ServiceManagerTest, ProgramRunFromAShellFailsToConnectAndExitsZero) {
  std::string command = program().string() + " HmTShell normal";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::string log = readFile(logPath());
  EXPECT_NE(log.find("dispatcher failed 1063\n"), std::string::npos) << log;
  EXPECT_NE(log.find("exit\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("main "), std::string::npos) << log;
}

}  // namespace
