// What only the POSIX stand-in of the Service Control Manager does: user
// accounts, its root folder, Windows command lines read on POSIX, and the
// service process kept apart from its starter. Built for the native
// target only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/errors.h"
#include "platform/service_client.h"
#include "platform/service_side.h"
#include "platform/service_status.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::ScHandle;
using platform::ServiceStatus;

constexpr auto kStateWait = std::chrono::seconds(20);
constexpr std::uint32_t kErrorFilenameTooLong = 206;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool waitForState(ScHandle service, std::uint32_t state, ServiceStatus* last) {
  auto deadline = std::chrono::steady_clock::now() + kStateWait;
  for (;;) {
    if (platform::queryServiceStatus(service, last) && last->currentState == state) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

class StandInServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/scmXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_EQ(::setenv("HORAMAT_PLATFORM_ROOT", root_.c_str(), 1), 0);
    manager_ = platform::openServiceManager(platform::kScManagerAllAccess);
    ASSERT_NE(manager_, nullptr) << platform::lastError();
  }

  void TearDown() override {
    for (ScHandle handle : handles_) stopAndDelete(handle);
    if (manager_ != nullptr) platform::closeServiceHandle(manager_);
    std::error_code error;
    fs::remove_all(root_, error);
  }

  static void stopAndDelete(ScHandle service) {
    ServiceStatus status{};
    if (platform::queryServiceStatus(service, &status) &&
        status.currentState != platform::kServiceStopped) {
      platform::controlService(service, platform::kServiceControlStop, &status);
      waitForState(service, platform::kServiceStopped, &status);
    }
    platform::deleteService(service);
    platform::closeServiceHandle(service);
  }

  // A copy of the test service in <root>/<folder>/, where its log lands.
  fs::path copyProgram(const std::string& folder) {
    fs::path target = fs::path(root_) / folder;
    fs::create_directories(target);
    fs::copy_file(fs::path(HORAMAT_TEST_BIN_DIR) / "test_service", target / "test_service");
    return target / "test_service";
  }

  ScHandle create(const std::string& name, const std::string& line,
                  const char* account = nullptr) {
    ScHandle service = platform::createService(
        manager_, name.c_str(), name.c_str(), platform::kServiceAllAccess,
        platform::kServiceWin32OwnProcess, platform::kServiceAutoStart,
        platform::kServiceErrorNormal, line.c_str(), account, account != nullptr ? "pw" : nullptr);
    if (service != nullptr) handles_.push_back(service);
    return service;
  }

  std::string root_;
  ScHandle manager_ = nullptr;
  std::vector<ScHandle> handles_;
};

// The installer's "account does not exist" warning depends on this code.
TEST_F(StandInServiceTest, UnknownAccountFailsWith1057) {
  fs::path program = copyProgram("bin");
  EXPECT_EQ(create("Acct", program.string(), ".\\horamat_no_such_user"), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorInvalidServiceAccount);
  EXPECT_EQ(create("Acct", program.string(), "DOMAIN\\"), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorInvalidServiceAccount);
}

// The part after the backslash names the user, and the service runs as
// that user: the log it creates belongs to it.
TEST_F(StandInServiceTest, ServiceRunsUnderItsAccount) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run a service as another user";
  passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  uid_t uid = nobody->pw_uid;
  gid_t gid = nobody->pw_gid;
  // The service's account must reach its program and write its log.
  fs::path program = copyProgram("bin");
  ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(program.parent_path().c_str(), 0777), 0);

  ScHandle service = create("AsNobody", program.string() + " AsNobody normal", ".\\nobody");
  ASSERT_NE(service, nullptr) << platform::lastError();
  ASSERT_TRUE(platform::startService(service)) << platform::lastError();
  ServiceStatus status{};
  ASSERT_TRUE(waitForState(service, platform::kServiceRunning, &status))
      << "state " << status.currentState;
  struct stat log{};
  ASSERT_EQ(::stat((program.parent_path() / "test_service.log").c_str(), &log), 0);
  EXPECT_EQ(log.st_uid, uid);
  EXPECT_EQ(log.st_gid, gid);
  ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
      << platform::lastError();
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
}

// A root that cannot be made is the stand-in's "access denied" from
// OpenSCManager, for root as well.
TEST_F(StandInServiceTest, RootThatCannotBeMadeFailsWith5) {
  std::ofstream(fs::path(root_) / "plain") << "a file, not a folder\n";
  std::string below = root_ + "/plain/root";
  ASSERT_EQ(::setenv("HORAMAT_PLATFORM_ROOT", below.c_str(), 1), 0);
  EXPECT_EQ(platform::openServiceManager(platform::kScManagerAllAccess), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
}

// So is a root the caller may not write, when it asks to change the
// database.
TEST_F(StandInServiceTest, UnwritableRootFailsWith5) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  std::string locked = root_ + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
  ASSERT_EQ(::setenv("HORAMAT_PLATFORM_ROOT", locked.c_str(), 1), 0);
  ScHandle reader = platform::openServiceManager(platform::kScManagerAllAccess);
  ASSERT_NE(reader, nullptr) << platform::lastError();  // makes <locked>/services
  platform::closeServiceHandle(reader);
  ASSERT_EQ(::chmod((locked + "/services").c_str(), 0555), 0);
  EXPECT_EQ(platform::openServiceManager(platform::kScManagerAllAccess), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
  ASSERT_EQ(::mkdir((root_ + "/closed").c_str(), 0555), 0);
  ASSERT_EQ(::setenv("HORAMAT_PLATFORM_ROOT", (root_ + "/closed/root").c_str(), 1), 0);
  EXPECT_EQ(platform::openServiceManager(platform::kScManagerAllAccess), nullptr);
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
}

// A program that ends without ever running a dispatcher: the start fails
// with 1053 at once, not after the 30 s a silent program gets.
TEST_F(StandInServiceTest, ProgramEndingBeforeConnectingFailsWith1053) {
  ScHandle service = create("NoDispatcher", "/bin/true");
  ASSERT_NE(service, nullptr) << platform::lastError();
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::startService(service));
  EXPECT_EQ(platform::lastError(), platform::kErrorServiceRequestTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  ServiceStatus status{};
  ASSERT_TRUE(platform::queryServiceStatus(service, &status));
  EXPECT_EQ(status.currentState, platform::kServiceStopped);
}

// A control socket path longer than sun_path: the dispatcher fails, the
// start fails with its code, and the program still ends normally.
TEST_F(StandInServiceTest, DispatcherFailureFailsTheStart) {
  fs::path program = copyProgram("bin");
  std::string name(100, 'n');
  ScHandle service = create(name, program.string() + " " + name + " normal");
  ASSERT_NE(service, nullptr) << platform::lastError();
  EXPECT_FALSE(platform::startService(service));
  EXPECT_EQ(platform::lastError(), kErrorFilenameTooLong);
  auto deadline = std::chrono::steady_clock::now() + kStateWait;
  std::string log;
  while (log.find("exit\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    log = readFile(program.parent_path() / "test_service.log");
  }
  EXPECT_NE(log.find("dispatcher failed 206\n"), std::string::npos) << log;
  EXPECT_NE(log.find("exit\n"), std::string::npos) << log;
}

// The registered path is a Windows command line: quoted when it holds
// blanks, unquoted up to the first blank, backslashes as separators.
TEST_F(StandInServiceTest, WindowsCommandLinesStartTheirProgram) {
  fs::path program = copyProgram("my folder");
  std::string backslashed = program.string();
  for (char& c : backslashed) {
    if (c == '/') c = '\\';
  }
  const struct {
    const char* name;
    std::string line;
  } kLines[] = {
      {"Quoted", "\"" + program.string() + "\" Quoted normal"},
      {"Unquoted", copyProgram("bin").string() + " Unquoted normal"},
      {"Backslashed", "\"" + backslashed + "\" Backslashed normal"},
  };
  for (const auto& row : kLines) {
    SCOPED_TRACE(row.line);
    ScHandle service = create(row.name, row.line);
    ASSERT_NE(service, nullptr) << platform::lastError();
    ASSERT_TRUE(platform::startService(service)) << platform::lastError();
    ServiceStatus status{};
    EXPECT_TRUE(waitForState(service, platform::kServiceRunning, &status))
        << "state " << status.currentState;
    ASSERT_TRUE(platform::controlService(service, platform::kServiceControlStop, &status))
        << platform::lastError();
  }
  std::string log = readFile(program.parent_path() / "test_service.log");
  EXPECT_NE(log.find("main Quoted\n"), std::string::npos) << log;
  EXPECT_NE(readFile(fs::path(root_) / "bin" / "test_service.log").find("main Unquoted\n"), std::string::npos);
  EXPECT_NE(log.find("main Backslashed\n"), std::string::npos) << log;
}

// The service is not the starter's child (no zombie for the installer to
// reap), and once its process dies without a word the service is stopped
// and starts again.
TEST_F(StandInServiceTest, ServiceProcessIsDetachedAndItsDeathMeansStopped) {
  fs::path program = copyProgram("bin");
  ScHandle service = create("Killed", program.string() + " Killed normal");
  ASSERT_NE(service, nullptr) << platform::lastError();
  ASSERT_TRUE(platform::startService(service)) << platform::lastError();
  ServiceStatus status{};
  ASSERT_TRUE(waitForState(service, platform::kServiceRunning, &status));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the service is a child of its starter";

  const long pid = testsupport::serviceProcessId("Killed");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_TRUE(waitForState(service, platform::kServiceStopped, &status));
  EXPECT_EQ(status.win32ExitCode, platform::kErrorProcessAborted) << "ended without reporting its stop";
  ASSERT_TRUE(platform::startService(service)) << platform::lastError();
  EXPECT_TRUE(waitForState(service, platform::kServiceRunning, &status));
}

void neverRun(std::uint32_t, char**) { ADD_FAILURE() << "serviceMain ran outside a service"; }

// The service side in a process no start made: the dispatcher fails at
// once, also with a forged channel, which it takes out of the environment
// all the same, lest jobs inherit it.
TEST(StandInServiceSideTest, OutsideAServiceTheDispatcherFails) {
  EXPECT_FALSE(platform::startServiceDispatcher("Horamat", neverRun));
  EXPECT_EQ(platform::lastError(), platform::kErrorFailedServiceControllerConnect);

  ASSERT_EQ(::setenv("HORAMAT_SERVICE_CHANNEL", "not a number", 1), 0);
  EXPECT_FALSE(platform::startServiceDispatcher("Horamat", neverRun));
  EXPECT_EQ(platform::lastError(), platform::kErrorFailedServiceControllerConnect);
  EXPECT_EQ(std::getenv("HORAMAT_SERVICE_CHANNEL"), nullptr);
}

}  // namespace
