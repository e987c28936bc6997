// The installer: its console blocks byte for byte, the command-line
// dispatch, and installation and removal against the real Service Control
// Manager (the stand-in natively, Wine's under Wine) with a test service
// whose stop behaviour each case chooses.
#include <gtest/gtest.h>

#include <unistd.h>


#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "installer/installer_cli.h"
#include "installer/service_install.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/registry_admin.h"
#include "platform/service_client.h"
#include "platform/service_status.h"
#include "settings/install_settings.h"
#include "tests/support/faults/service_faults.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

namespace fs = std::filesystem;

constexpr bool kOnWindows = fs::path::preferred_separator == '\\';

// ---------------------------------------------------------------------------
// Standard output, captured into a file around one call.

std::string gCaptureFile;

struct Captured {
  int result;
  std::string output;
};

// Read back in text mode: on Windows the CR of every line end goes again.
std::string capturedSoFar() {
  std::string output;
  if (std::FILE* in = std::fopen(gCaptureFile.c_str(), "r")) {
    char piece[512];
    std::size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, in)) > 0) output.append(piece, n);
    std::fclose(in);
  }
  return output;
}

template <typename F>
Captured capture(F&& body) {
  std::fflush(stdout);
  const int saved = dup(fileno(stdout));
  std::FILE* sink = std::fopen(gCaptureFile.c_str(), "w");
  if (saved < 0 || sink == nullptr) {
    if (saved >= 0) close(saved);
    if (sink != nullptr) std::fclose(sink);
    ADD_FAILURE() << "cannot redirect standard output";
    return {-1, ""};
  }
  dup2(fileno(sink), fileno(stdout));
  std::fclose(sink);
  const int result = body();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  return {result, capturedSoFar()};
}

// ---------------------------------------------------------------------------
// The removal's wait, counted. By default it does not wait at all, so that
// a failing case never sits out 100 seconds.

int gSleeps = 0;
std::uint32_t gLastSleepMs = 0;
// Set by a case whose service stops during the wait: each counted sleep
// then lasts until the service reports stopped, at most the time asked.
bool gSleepUntilStopped = false;

std::uint32_t serviceState();

void countingSleep(std::uint32_t ms) {
  ++gSleeps;
  gLastSleepMs = ms;
  if (!gSleepUntilStopped) return;
  for (std::uint32_t waited = 0; waited < ms && serviceState() != platform::kServiceStopped; waited += 50) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// ---------------------------------------------------------------------------
// The whole process runs on settings of its own: natively a fresh stand-in
// root, and on Windows a registry key that every case writes again.

std::string gPlatformRoot;
std::string gRootAssignment;

struct InstallerEnvironment : ::testing::Environment {
  void SetUp() override {
    if (!kOnWindows) {
      gPlatformRoot = makeTempDir("h4_root");
      gRootAssignment = "HORAMAT_PLATFORM_ROOT=" + gPlatformRoot;
      putenv(gRootAssignment.data());
    }
    gCaptureFile = joinPath(makeTempDir("h4_out"), "stdout.txt");
    installer::setRemovalSleep(countingSleep);
  }
  void TearDown() override {
    installer::setRemovalSleep(nullptr);
    removeTree(fs::path(gCaptureFile).parent_path().string());
    if (!gPlatformRoot.empty()) removeTree(gPlatformRoot);
  }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new InstallerEnvironment);

void setRecord(const std::string& path, const std::string& version) {
  std::snprintf(settings::InstallSettings.path, sizeof settings::InstallSettings.path, "%s", path.c_str());
  std::snprintf(settings::InstallSettings.version, sizeof settings::InstallSettings.version, "%s",
                version.c_str());
}

void writeSettings(const std::string& path, const std::string& version) {
  ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Path", path.c_str(),
                                    static_cast<std::uint32_t>(path.size() + 1)),
            0);
  ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Version", version.c_str(),
                                    static_cast<std::uint32_t>(version.size() + 1)),
            0);
}

void deleteSettings() { platform::regDeleteKey(settings::kSettingsKey); }

// ---------------------------------------------------------------------------
// The texts left to whoever ships the program come from the build; they are
// read off one banner and one report and then expected everywhere.

struct ShippedTexts {
  std::string notice;
  std::string mailLine;
  std::string webLine;
};

const ShippedTexts& shippedTexts() {
  static ShippedTexts texts = [] {
    ShippedTexts t;
    setRecord("", "");
    std::string banner = capture([] { installer::printBanner(""); return 0; }).output;
    const std::string head = "Horamat  - ";
    if (banner.rfind(head, 0) == 0 && banner.size() > head.size() + 1 && banner.back() == '\n') {
      t.notice = banner.substr(head.size(), banner.size() - head.size() - 1);
    }
    std::vector<std::string> lines =
        splitLines(capture([] { installer::printErrorReport("", 0); return 0; }).output);
    if (lines.size() >= 2) {
      t.mailLine = lines[lines.size() - 2] + "\n";
      t.webLine = lines[lines.size() - 1] + "\n";
    }
    return t;
  }();
  return texts;
}

std::string banner(const std::string& version, const std::string& freewareLine) {
  return "Horamat " + version + " - " + shippedTexts().notice + "\n" + freewareLine;
}

std::string usage(const std::string& version) {
  return banner(version, "Horamat ist Freeware.\n\n") +
         "Aufruf: Horamat <Kommando> [<Benutzername> <Passwort>]\n"
         "\n"
         "Kommandos:\n"
         "  i  Horamat als Dienst installieren und starten\n"
         "  d  Dienst Horamat stoppen und deinstallieren\n"
         "\n"
         "Ohne Benutzername und Passwort wird der Dienst unter dem Systemkonto eingerichtet.\n";
}

std::string errorReport(const std::string& text, int number) {
  return "\nFehlertext: " + text + "\nFehlercode: " + std::to_string(number) +
         "\n\nBitte melden Sie den aufgetretenen Fehler.\n" + shippedTexts().mailLine +
         shippedTexts().webLine;
}

std::string warningReport(const std::string& text, int number) {
  return "\nWarnung: " + text + "\nNummer: " + std::to_string(number) + "\n";
}

// The settings' own line, printed before anything of the installer.
std::string diagnosticLine(const std::string& path) {
  return "0 " + path + " 256 " + std::to_string(path.size() + 1) + "\n";
}

Captured runInstaller(std::vector<std::string> args) {
  std::vector<char*> argv;
  static char programName[] = "Horamat";
  argv.push_back(programName);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return capture([&] { return installer::installerMain(static_cast<int>(argv.size() - 1), argv.data()); });
}

// ---------------------------------------------------------------------------
// The Service Control Manager, as the tests look at it.

std::uint32_t serviceState() {
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
  if (manager == nullptr) return 0;
  std::uint32_t state = 0;
  platform::ScHandle service = platform::openService(manager, installer::kServiceName, platform::kServiceAllAccess);
  if (service != nullptr) {
    platform::ServiceStatus status{};
    if (platform::queryServiceStatus(service, &status)) state = status.currentState;
    platform::closeServiceHandle(service);
  }
  platform::closeServiceHandle(manager);
  return state;
}

bool serviceRegistered() { return serviceState() != 0; }

bool waitForState(std::uint32_t wanted, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    if (serviceState() == wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool waitForDeletion(int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    if (!serviceRegistered()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The registration as the Service Control Manager keeps it: Windows in
// the registry, the stand-in in a file of key=value lines.
struct Registration {
  bool found = false;
  std::string program;
  std::uint32_t type = 0;
  std::uint32_t start = 0;
  std::uint32_t errorControl = 0;
};

std::uint32_t dwordValue(platform::RegKey key, const char* name) {
  std::uint32_t value = 0;
  std::uint32_t size = sizeof value;
  if (platform::regQueryValue(key, name, reinterpret_cast<unsigned char*>(&value), &size) != 0) return 0;
  return value;
}

Registration registration() {
  Registration r;
  if (kOnWindows) {
    platform::RegKey key = nullptr;
    if (platform::regOpenKeyPlain("System\\CurrentControlSet\\Services\\Horamat", &key) != 0) return r;
    char program[1024] = {};
    std::uint32_t size = sizeof program - 1;
    r.found = platform::regQueryValue(key, "ImagePath", reinterpret_cast<unsigned char*>(program), &size) == 0;
    r.program = program;
    r.type = dwordValue(key, "Type");
    r.start = dwordValue(key, "Start");
    r.errorControl = dwordValue(key, "ErrorControl");
    platform::regCloseKey(key);
    return r;
  }
  const std::string config = standInRegistration("Horamat");
  r.found = !config.empty();
  for (const std::string& line : splitLines(config)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "program") r.program = value;
    if (key == "type") r.type = static_cast<std::uint32_t>(std::stoul(value));
    if (key == "start") r.start = static_cast<std::uint32_t>(std::stoul(value));
    if (key == "error") r.errorControl = static_cast<std::uint32_t>(std::stoul(value));
  }
  return r;
}


// After a deletion the name stays taken while the old process lives
// (1072): the next case may only begin once a registration goes through.
bool waitUntilNameFree(int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 100) {
    platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
    if (manager == nullptr) return false;
    platform::ScHandle probe = platform::createService(
        manager, installer::kServiceName, installer::kServiceName, platform::kServiceAllAccess,
        platform::kServiceWin32OwnProcess, platform::kServiceDemandStart, platform::kServiceErrorNormal,
        "C:\\h4_probe.exe", nullptr, nullptr);
    if (probe != nullptr) {
      platform::deleteService(probe);
      platform::closeServiceHandle(probe);
    }
    platform::closeServiceHandle(manager);
    if (probe != nullptr && waitForDeletion(5000)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// Stops and deletes whatever a case left behind, without the installer.
void dropService() {
  if (serviceRegistered()) {
    platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
    platform::ScHandle service =
        manager != nullptr ? platform::openService(manager, installer::kServiceName, platform::kServiceAllAccess)
                           : nullptr;
    if (service != nullptr) {
      platform::ServiceStatus status{};
      // A service still starting refuses the stop control (1061).
      if (platform::queryServiceStatus(service, &status) &&
          status.currentState == platform::kServiceStartPending) {
        waitForState(platform::kServiceRunning, 10000);
      }
      if (platform::queryServiceStatus(service, &status) && status.currentState != platform::kServiceStopped) {
        platform::controlService(service, platform::kServiceControlStop, &status);
        // Wine's manager goes on reporting the last state of a process
        // that was ended: the deletion does not wait for it.
        if (!waitForState(platform::kServiceStopped, 10000)) endServiceProcess(installer::kServiceName);
      }
      platform::deleteService(service);
      platform::closeServiceHandle(service);
    }
    if (manager != nullptr) platform::closeServiceHandle(manager);
  }
  waitUntilNameFree(20000);
}

// The test service program of this build.
std::string testServiceProgram() {
  for (const char* name : {"test_service.exe", "test_service"}) {
    for (const char* drive : {"", "Z:"}) {
      std::string candidate = std::string(drive) + HORAMAT_TEST_BIN_DIR + "/" + name;
      if (pathExists(candidate)) return candidate;
    }
  }
  return {};
}

// The test service as the folder's Zyklant.exe, stopping as mode says.
void placeTestService(const std::string& folder, const char* mode) {
  const std::string source = testServiceProgram();
  ASSERT_FALSE(source.empty()) << "test_service not built";
  // A service stopped a moment ago may still be ending, and its program
  // stays busy until it has: try again for a while.
  std::error_code ec;
  for (int i = 0; i < 100; ++i) {
    fs::copy_file(source, joinPath(folder, "Zyklant.exe"), fs::copy_options::overwrite_existing, ec);
    if (!ec) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(ec) << ec.message();
  fs::permissions(joinPath(folder, "Zyklant.exe"), fs::perms::owner_all, fs::perm_options::add, ec);
  writeFile(joinPath(folder, "test_service.mode"), mode);
}

// ---------------------------------------------------------------------------
// Console blocks

TEST(InstallerConsole, BannerShowsVersionNoticeAndTheFreewareLineGiven) {
  ASSERT_FALSE(shippedTexts().notice.empty()) << "the banner carries no maker's notice";
  setRecord("", "3.1 beta");
  Captured c = capture([] { installer::printBanner("Horamat ist Freeware.\n"); return 0; });
  EXPECT_EQ(c.output, "Horamat 3.1 beta - " + shippedTexts().notice + "\nHoramat ist Freeware.\n");
}

TEST(InstallerConsole, UsageIsTheBannerWithTwoNewlinesAndTheCommandList) {
  setRecord("", "1.0");
  Captured c = capture([] { installer::printUsage(); return 0; });
  EXPECT_EQ(c.output, usage("1.0"));
}

// The contact lines come from the build; a define left empty or pasted
// without its scheme would leave the user nowhere to send the report.
TEST(InstallerConsole, ErrorReportEndsWithMailAndWebAddress) {
  const ShippedTexts& t = shippedTexts();
  EXPECT_EQ(t.mailLine.rfind("mailto:", 0), 0u) << t.mailLine;
  EXPECT_NE(t.mailLine.find('@'), std::string::npos) << t.mailLine;
  EXPECT_NE(t.webLine.find("://"), std::string::npos) << t.webLine;
  Captured c = capture([] { installer::printErrorReport("Der Dienst konnte nicht installiert werden (5).", 4); return 0; });
  EXPECT_EQ(c.output, "\nFehlertext: Der Dienst konnte nicht installiert werden (5).\n"
                      "Fehlercode: 4\n"
                      "\nBitte melden Sie den aufgetretenen Fehler.\n" +
                          t.mailLine + t.webLine);
}

TEST(InstallerConsole, WarningReportIsTextAndNumber) {
  Captured c = capture([] { installer::printWarningReport("Der Dienst existiert nicht.", 9); return 0; });
  EXPECT_EQ(c.output, "\nWarnung: Der Dienst existiert nicht.\nNummer: 9\n");
}

// A report text carries paths from the registry: a folder named "%s%n"
// must come out as written, not be taken as a format.
TEST(InstallerConsole, ReportTextsAreNeverFormats) {
  Captured e = capture([] { installer::printErrorReport("C:\\%s%n%d\\Zyklant.exe", 0); return 0; });
  EXPECT_EQ(e.output, errorReport("C:\\%s%n%d\\Zyklant.exe", 0));
  Captured w = capture([] { installer::printWarningReport("100% %s", 2); return 0; });
  EXPECT_EQ(w.output, warningReport("100% %s", 2));
}

// The console is cleared by another process: whatever still sat in our
// buffer would appear after the clearing, or be wiped with the old screen.
// Read behind the program's back, before any flush of the test's own.
TEST(InstallerConsole, EveryPrintIsFlushedAtOnce) {
  setRecord("", "1.0");
  std::string seen;
  capture([&] {
    installer::printUsage();
    installer::printErrorReport("Horamat ist fehlerhaft installiert.", 1);
    installer::printWarningReport("Der Dienst existiert bereits.", 2);
    seen = capturedSoFar();
    return 0;
  });
  EXPECT_EQ(seen, usage("1.0") + errorReport("Horamat ist fehlerhaft installiert.", 1) +
                      warningReport("Der Dienst existiert bereits.", 2));
}

// ---------------------------------------------------------------------------
// The entry function

struct InstallerMain : ::testing::Test {
  std::string folder;
  void SetUp() override {
    folder = makeTempDir("h4_main");
    setRecord("", "");
    writeSettings(folder, "2.0");
    dropService();
  }
  void TearDown() override {
    dropService();
    // Wine's registry outlives the run: leave no settings naming a folder
    // that is gone.
    deleteSettings();
    removeTree(folder);
  }
};

TEST_F(InstallerMain, MissingSettingsEndWithReportOneAndExitCodeOne) {
  deleteSettings();
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"i"}, {"d", "a", "b"}}) {
    setRecord("", "");
    Captured c = runInstaller(args);
    EXPECT_EQ(c.result, 1);
    // No key, no diagnostic line; the banner's version is empty.
    EXPECT_EQ(c.output, banner("", "Horamat ist Freeware.\n\n") +
                            errorReport("Horamat ist fehlerhaft installiert.", 1));
  }
  EXPECT_FALSE(serviceRegistered());
}

// A Path without Version has been read, but the settings still fail.
TEST_F(InstallerMain, VersionMissingIsABrokenInstallationToo) {
  deleteSettings();
  ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Path", folder.c_str(),
                                    static_cast<std::uint32_t>(folder.size() + 1)),
            0);
  Captured c = runInstaller({"i"});
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, diagnosticLine(folder) + banner("", "Horamat ist Freeware.\n\n") +
                          errorReport("Horamat ist fehlerhaft installiert.", 1));
}

TEST_F(InstallerMain, WrongArgumentCountsShowTheUsage) {
  const struct {
    std::vector<std::string> args;
    const char* why;
  } kCases[] = {
      {{}, "no command"},
      {{"i", "konto"}, "account without password: two arguments"},
      {{"i", "konto", "geheim", "mehr"}, "four arguments"},
      {{"d", "a", "b", "c", "e"}, "five arguments"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.why);
    Captured c = runInstaller(row.args);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, diagnosticLine(folder) + usage("2.0"));
  }
  EXPECT_FALSE(serviceRegistered());
}

// With one or three arguments the banner comes first (one newline); an
// unknown command then clears and prints the usage with its own banner.
TEST_F(InstallerMain, UnknownCommandsShowBannerThenUsage) {
  const struct {
    std::vector<std::string> args;
    const char* why;
  } kCases[] = {
      {{"I"}, "capital I: the comparison is exact"},
      {{"D"}, "capital D"},
      {{"install"}, "spelled out"},
      {{"i "}, "trailing blank"},
      {{""}, "empty command"},
      {{"x", "konto", "geheim"}, "unknown command with account and password"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.why);
    Captured c = runInstaller(row.args);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, diagnosticLine(folder) + banner("2.0", "Horamat ist Freeware.\n") + usage("2.0"));
  }
  EXPECT_FALSE(serviceRegistered());
}

// A credential cut to 255 characters would register a password nobody
// typed: the line is refused, and nothing is installed.
TEST_F(InstallerMain, OverlongAccountOrPasswordShowsUsageAndInstallsNothing) {
  const std::string longText(256, 'k');
  const std::string fits(255, 'k');
  for (std::vector<std::string> args : {std::vector<std::string>{"i", longText, "geheim"},
                                        {"i", "konto", longText},
                                        {"i", longText, longText}}) {
    Captured c = runInstaller(args);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, diagnosticLine(folder) + banner("2.0", "Horamat ist Freeware.\n") + usage("2.0"));
  }
  EXPECT_FALSE(serviceRegistered());
  // 255 characters fit: the installation is tried (and fails here only
  // because the folder holds no program).
  Captured c = runInstaller({"i", fits, fits});
  EXPECT_NE(c.output.find("Es wird versucht, Horamat zu installieren..."), std::string::npos);
}

TEST_F(InstallerMain, RemovalOfAServiceNeverInstalledIsWarningNine) {
  Captured c = runInstaller({"d"});
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, diagnosticLine(folder) + banner("2.0", "Horamat ist Freeware.\n") +
                          "\nEs wird versucht, Horamat zu deinstallieren...\n" +
                          warningReport("Der Dienst existiert nicht.", 9));
}

TEST_F(InstallerMain, InstallationWithoutProgramNamesTheFullPath) {
  Captured c = runInstaller({"i", "konto", "geheim"});
  EXPECT_EQ(c.result, 0);
  const std::string program = folder + "\\Zyklant.exe";
  EXPECT_EQ(c.output, diagnosticLine(folder) + banner("2.0", "Horamat ist Freeware.\n") +
                          "\nEs wird versucht, Horamat zu installieren...\n" +
                          errorReport("Der Dienst konnte nicht gestartet werden (" + program + ").", 0));
  EXPECT_FALSE(serviceRegistered());
}

// What an administrator sees on a successful installation and removal;
// account and password given with "d" change nothing.
TEST_F(InstallerMain, InstallAndRemoveReportSuccess) {
  placeTestService(folder, "normal");
  const std::string head = diagnosticLine(folder) + banner("2.0", "Horamat ist Freeware.\n");
  Captured i = runInstaller({"i"});
  EXPECT_EQ(i.result, 0);
  EXPECT_EQ(i.output, head + "\nEs wird versucht, Horamat zu installieren...\nHoramat wurde installiert.\n");
  ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));

  Captured again = runInstaller({"i"});
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.output, head + "\nEs wird versucht, Horamat zu installieren...\n" +
                              warningReport("Der Dienst existiert bereits.", 2));

  Captured d = runInstaller({"d", "konto", "geheim"});
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.output, head + "\nEs wird versucht, Horamat zu deinstallieren...\nHoramat wurde deinstalliert.\n");
  EXPECT_TRUE(waitForDeletion(15000));
}

// ---------------------------------------------------------------------------
// Installation and removal against the Service Control Manager

struct InstallerService : ::testing::Test {
  std::string folder;

  void SetUp() override {
    gSleeps = 0;
    gLastSleepMs = 0;
    gSleepUntilStopped = false;
    folder = makeTempDir("h4_svc");
    setRecord(folder, "2.0");
    dropService();
    ASSERT_FALSE(serviceRegistered()) << "a service Horamat is left from elsewhere";
  }
  void TearDown() override {
    gSleepUntilStopped = false;
    dropService();
    removeTree(folder);
  }

  void placeProgram(const char* mode) { placeTestService(folder, mode); }

  // The program in place, registered, never started.
  void registerStopped() {
    placeProgram("normal");
    platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
    ASSERT_NE(manager, nullptr);
    const std::string program = folder + "\\Zyklant.exe";
    platform::ScHandle service = platform::createService(
        manager, installer::kServiceName, installer::kServiceName, platform::kServiceAllAccess, 0x110,
        platform::kServiceAutoStart, platform::kServiceErrorNormal, program.c_str(), nullptr, nullptr);
    ASSERT_NE(service, nullptr) << platform::lastError();
    platform::closeServiceHandle(service);
    platform::closeServiceHandle(manager);
  }

  Captured install(const char* account = "", const char* password = "") {
    return capture([&] { return installer::installService(account, password); });
  }
  Captured remove() {
    return capture([] { return installer::removeService(); });
  }
};

TEST_F(InstallerService, InstallRegistersAndStartsTheService) {
  placeProgram("normal");
  Captured c = install();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_TRUE(waitForState(platform::kServiceRunning, 15000));
  Registration r = registration();
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.program, folder + "\\Zyklant.exe");
  EXPECT_EQ(r.type, 0x110u);  // system account, interactive
  EXPECT_EQ(r.start, 2u);     // automatic
  EXPECT_EQ(r.errorControl, 1u);
}

// Unquoted, "C:\Program Files\Horamat\Zyklant.exe" would first be tried as
// C:\Program.exe with the rest as arguments.
TEST_F(InstallerService, FolderWithBlankIsRegisteredInQuotationMarks) {
  removeTree(folder);
  folder = makeTempDir("h4 mit blank");
  setRecord(folder, "2.0");
  placeProgram("normal");
  Captured c = install();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(registration().program, "\"" + folder + "\\Zyklant.exe\"");
  EXPECT_TRUE(waitForState(platform::kServiceRunning, 15000));
}

TEST_F(InstallerService, AccountAndPasswordRegisterTheOwnProcessType) {
  // Natively the stand-in knows only real users; Wine takes any name.
  const char* user = std::getenv(kOnWindows ? "USERNAME" : "USER");
  const std::string account = (user != nullptr && user[0] != '\0') ? user : "root";
  placeProgram("normal");
  Captured c = install(account.c_str(), "geheim");
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  Registration r = registration();
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.type, 0x10u);
}

// The path buffer holds 255 characters: the longest folder the settings
// pass (243) fills it exactly, and a longer one put into the record
// directly must be refused without an overrun, and still named in full.
TEST_F(InstallerService, LongFoldersAreNamedInFullWhenTheProgramIsMissing) {
  for (std::size_t length : {std::size_t{243}, std::size_t{250}, std::size_t{255}}) {
    std::string longFolder = folder + "/";
    longFolder += std::string(length - longFolder.size(), 'x');
    ASSERT_EQ(longFolder.size(), length);
    setRecord(longFolder, "2.0");
    Captured c = install();
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, errorReport("Der Dienst konnte nicht gestartet werden (" + longFolder + "\\Zyklant.exe).", 0));
  }
  EXPECT_FALSE(serviceRegistered());
}

TEST_F(InstallerService, InstallWithoutProgramReportsZeroAndRegistersNothing) {
  Captured c = install();
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, errorReport("Der Dienst konnte nicht gestartet werden (" + folder + "\\Zyklant.exe).", 0));
  EXPECT_FALSE(serviceRegistered());
}

TEST_F(InstallerService, InstallTwiceIsWarningTwo) {
  placeProgram("normal");
  ASSERT_EQ(install().result, 1);
  Captured c = install();
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, warningReport("Der Dienst existiert bereits.", 2));
}

// An account with an empty password is no credential: the service runs
// under the system account, with the interactive type.
TEST_F(InstallerService, AccountWithoutPasswordInstallsUnderTheSystemAccount) {
  placeProgram("normal");
  Captured c = install("konto", "");
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(registration().type, 0x110u);
}

TEST_F(InstallerService, UnknownAccountIsWarningThree) {
  if (kOnWindows) GTEST_SKIP() << "Wine's Service Control Manager takes any account name";
  placeProgram("normal");
  Captured c = install("kein_solches_konto_h4", "geheim");
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, warningReport("Der Benutzeraccount existiert nicht.", 3));
  EXPECT_FALSE(serviceRegistered());
}

// Both operations open the manager first, each with its own number.
TEST_F(InstallerService, ManagerThatDoesNotOpenIsErrorFiveOrEleven) {
  if (kOnWindows) GTEST_SKIP() << "Wine's manager opens for every caller";
  placeProgram("normal");
  // A stand-in root below a plain file cannot be made: access denied.
  static std::string unusableRoot;
  unusableRoot = "HORAMAT_PLATFORM_ROOT=" + gCaptureFile + "/root";
  putenv(unusableRoot.data());
  Captured i = install();
  Captured d = remove();
  putenv(gRootAssignment.data());
  EXPECT_EQ(i.result, 0);
  EXPECT_EQ(i.output, errorReport("Der Dienst konnte nicht installiert werden (5).", 5));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.output, errorReport("Der Dienst konnte nicht deinstalliert werden (5).", 11));
  EXPECT_FALSE(serviceRegistered());
}

TEST_F(InstallerService, RemoveNeverInstalledIsWarningNine) {
  Captured c = remove();
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, warningReport("Der Dienst existiert nicht.", 9));
  EXPECT_EQ(gSleeps, 0);
}

TEST_F(InstallerService, RemoveStoppedServiceDeletesAtOnce) {
  registerStopped();
  ASSERT_EQ(serviceState(), platform::kServiceStopped);

  Captured c = remove();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(gSleeps, 0);
  EXPECT_TRUE(waitForDeletion(5000));
}

TEST_F(InstallerService, RemoveRunningServiceThatStopsAtOnceDoesNotWait) {
  placeProgram("normal");
  ASSERT_EQ(install().result, 1);
  ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));
  Captured c = remove();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(gSleeps, 0);
  EXPECT_TRUE(waitForDeletion(15000));
}

// Still stopping when the stop control returns, stopped two seconds later:
// one wait of the full ten seconds (here shortened), then the deletion.
TEST_F(InstallerService, RemoveSlowStoppingServiceWaitsOnce) {
  placeProgram("slowstop");
  ASSERT_EQ(install().result, 1);
  ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));
  gSleepUntilStopped = true;
  Captured c = remove();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_EQ(gSleeps, 1);
  EXPECT_EQ(gLastSleepMs, 10000u);
  EXPECT_TRUE(waitForDeletion(15000));
  std::size_t stops = 0;
  for (const std::string& line : splitLines(readFile(joinPath(folder, "test_service.log")))) {
    if (line == "control 1") ++stops;
  }
  EXPECT_EQ(stops, 1u) << "one stop control, then only looks at the state";
}

// The service takes the stop and ends before its answer comes back (Wine's
// manager then fails the control with 109): the stop went through, so the
// removal goes on instead of reporting a stop that did not fail.
TEST_F(InstallerService, RemoveGoesOnWhenTheStopsAnswerIsLost) {
  placeProgram("normal");
  ASSERT_EQ(install().result, 1);
  ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));
  gSleepUntilStopped = true;
  testsupport::failServiceCall(testsupport::ServiceCall::Control, 1, 1, 109, true);
  Captured c = remove();
  testsupport::clearServiceFaults();
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.output, "");
  EXPECT_TRUE(waitForDeletion(15000));
}

// A service that never stops: ten waits, then a report instead of silence.
TEST_F(InstallerService, RemoveServiceThatNeverStopsGivesUpAfterTenWaits) {
  placeProgram("neverstop");
  ASSERT_EQ(install().result, 1);
  ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));
  Captured c = remove();
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.output, errorReport("Der Dienst konnte nicht gestoppt werden (1053).", 10));
  EXPECT_EQ(gSleeps, 10);
  EXPECT_EQ(serviceState(), platform::kServiceStopPending);
  // No second stop control: it would only wait for the service again.
  endServiceProcess(installer::kServiceName);
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerAllAccess);
  ASSERT_NE(manager, nullptr);
  platform::ScHandle service = platform::openService(manager, installer::kServiceName, platform::kServiceAllAccess);
  if (service != nullptr) {
    platform::deleteService(service);
    platform::closeServiceHandle(service);
  }
  platform::closeServiceHandle(manager);
}

// The failure reports no real manager can be made to give on demand: the
// manager fails one chosen call with a chosen code (tests/support/faults),
// and each report is compared byte for byte, its code taken from the call.
TEST_F(InstallerService, FailedCallsOfTheManagerGiveTheirReports) {
  using testsupport::ServiceCall;
  enum class Before { ProgramOnly, Registered, Running };
  struct Fault {
    ServiceCall call;
    int first;
    int times;
    std::uint32_t code;
  };
  const struct {
    const char* why;
    Before before;
    bool install;
    Fault fault;
    Fault second;  // times 0: none
    std::string report;
    int sleeps;
  } cases[] = {
      {"the manager does not open (install)", Before::ProgramOnly, true, {ServiceCall::OpenManager, 1, 1, 5}, {},
       errorReport("Der Dienst konnte nicht installiert werden (5).", 5), 0},
      {"creation fails otherwise", Before::ProgramOnly, true, {ServiceCall::Create, 1, 1, 1078}, {},
       errorReport("Der Dienst konnte nicht installiert werden (1078).", 4), 0},
      {"the new service does not start", Before::ProgramOnly, true, {ServiceCall::Start, 1, 1, 1053}, {},
       errorReport("Der Dienst konnte nicht gestartet werden (1053).", 1), 0},
      {"the manager does not open (remove)", Before::Registered, false, {ServiceCall::OpenManager, 1, 1, 5}, {},
       errorReport("Der Dienst konnte nicht deinstalliert werden (5).", 11), 0},
      {"opening the service fails otherwise", Before::Registered, false, {ServiceCall::Open, 1, 1, 5}, {},
       errorReport("Der Dienst konnte nicht deinstalliert werden (5).", 9), 0},
      {"the first status query fails", Before::Registered, false, {ServiceCall::Query, 1, 1, 6}, {},
       errorReport("Der Dienst konnte nicht deinstalliert werden (6).", 8), 0},
      {"the stop control fails", Before::Running, false, {ServiceCall::Control, 1, 1, 1061}, {},
       errorReport("Der Dienst konnte nicht gestoppt werden (1061).", 6), 0},
      {"a query in the wait fails", Before::Registered, false, {ServiceCall::Delete, 1, 1, 1072},
       {ServiceCall::Query, 2, 1, 6}, errorReport("Der Dienst konnte nicht deinstalliert werden (6).", 7), 1},
      {"the deletion fails in every pass", Before::Registered, false, {ServiceCall::Delete, 1, 10, 5}, {},
       errorReport("Der Dienst konnte nicht deinstalliert werden (5).", 10), 10},
  };
  setRecord(folder, "2.0");  // the expected reports were read off with an empty record
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testsupport::clearServiceFaults();
    dropService();
    ASSERT_FALSE(serviceRegistered());
    if (c.before == Before::ProgramOnly) placeProgram("normal");
    if (c.before == Before::Registered) registerStopped();
    if (c.before == Before::Running) {
      placeProgram("normal");
      ASSERT_EQ(install().result, 1);
      ASSERT_TRUE(waitForState(platform::kServiceRunning, 15000));
    }
    gSleeps = 0;
    testsupport::failServiceCall(c.fault.call, c.fault.first, c.fault.times, c.fault.code);
    if (c.second.times > 0) {
      testsupport::failServiceCall(c.second.call, c.second.first, c.second.times, c.second.code);
    }
    Captured r = c.install ? install() : remove();
    testsupport::clearServiceFaults();
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, c.report);
    EXPECT_EQ(gSleeps, c.sleeps);
  }
}

}  // namespace
