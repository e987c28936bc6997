// Reading Path and Version from the registry (the real one under Windows,
// the stand-in's files natively), in both variants.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/registry_admin.h"
#include "settings/install_settings.h"
#include "tests/support/test_support.h"

using namespace testsupport;
using settings::InstallSettings;
using settings::Variant;

namespace {

struct SettingsTest : ::testing::Test {
  std::string root;
  void SetUp() override {
    root = useScratchPlatformRoot();
    platform::regDeleteKey(settings::kSettingsKey);
    InstallSettings = {};
  }
  void TearDown() override {
    platform::regDeleteKey(settings::kSettingsKey);
    if (!root.empty()) removeTree(root);
  }
  void put(const char* name, const std::string& value, bool terminator = true) {
    ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, name, value.c_str(),
                                      static_cast<std::uint32_t>(value.size() + (terminator ? 1 : 0))),
              0);
  }
  int readQuietly(Variant variant) {
    ::testing::internal::CaptureStdout();
    int result = settings::readInstallSettings(variant);
    printed = ::testing::internal::GetCapturedStdout();
    return result;
  }
  std::string printed;
};

}  // namespace

TEST_F(SettingsTest, BothValuesPresent) {
  put("Path", "C:\\Horamat");
  put("Version", "1.0.0");
  for (Variant v : {Variant::Scheduler, Variant::Installer}) {
    InstallSettings = {};
    EXPECT_EQ(readQuietly(v), 1);
    EXPECT_STREQ(InstallSettings.path, "C:\\Horamat");
    EXPECT_STREQ(InstallSettings.version, "1.0.0");
  }
}

TEST_F(SettingsTest, TheInstallerPrintsItsDiagnosticLineTheSchedulerNothing) {
  put("Path", "C:\\Horamat");
  put("Version", "1.0.0");
  EXPECT_EQ(readQuietly(Variant::Installer), 1);
  EXPECT_EQ(printed, "0 C:\\Horamat 256 11\n");
  EXPECT_EQ(readQuietly(Variant::Scheduler), 1);
  EXPECT_EQ(printed, "");
}

TEST_F(SettingsTest, MissingKeyFailsWithoutAWord) {
  for (Variant v : {Variant::Scheduler, Variant::Installer}) {
    EXPECT_EQ(readQuietly(v), 0);
    EXPECT_EQ(printed, "") << "the line is printed only when the key opened";
  }
}

TEST_F(SettingsTest, MissingPathShowsABlankInTheDiagnosticLine) {
  put("Version", "1.0.0");
  EXPECT_EQ(readQuietly(Variant::Installer), 0);
  EXPECT_EQ(printed.substr(0, 8), "2   256 ") << printed;
  EXPECT_EQ(readQuietly(Variant::Scheduler), 0);
}

TEST_F(SettingsTest, MissingVersionFailsThoughThePathWasRead) {
  put("Path", "C:\\Horamat");
  EXPECT_EQ(readQuietly(Variant::Scheduler), 0);
  EXPECT_STREQ(InstallSettings.path, "C:\\Horamat");
  EXPECT_STREQ(InstallSettings.version, "");
}

TEST_F(SettingsTest, PathLengths) {
  const struct {
    std::size_t length;
    int result;
    const char* why;
  } cases[] = {
      {0, 1, "an empty path reads (the files then lie in the root)"},
      {243, 1, "longest path that leaves room for \\CronTab.txt"},
      {244, 0, "no room for the appended names"},
      {255, 0, "reads, but no room"},
      {256, 0, "257 bytes with the terminator: the query fails"},
      {300, 0, "far too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    InstallSettings = {};
    std::string path = "C:" + std::string(c.length > 2 ? c.length - 2 : 0, 'p');
    path.resize(c.length);
    put("Path", path);
    put("Version", "1.0.0");
    EXPECT_EQ(readQuietly(Variant::Scheduler), c.result);
    EXPECT_EQ(readQuietly(Variant::Installer), c.result);
    if (c.result == 1) {
      EXPECT_EQ(std::string(InstallSettings.path), path);
    } else {
      EXPECT_EQ(std::string(InstallSettings.path), "") << "no cut path is kept";
    }
  }
}

TEST_F(SettingsTest, AValueFillingAllBytesWithoutTerminatorIsBroken) {
  put("Path", std::string(256, 'q'), false);
  put("Version", "1.0.0");
  EXPECT_EQ(readQuietly(Variant::Scheduler), 0);
  EXPECT_EQ(readQuietly(Variant::Installer), 0);
  put("Path", "C:\\Horamat");
  put("Version", std::string(256, 'v'), false);
  EXPECT_EQ(readQuietly(Variant::Scheduler), 0);
  EXPECT_STREQ(InstallSettings.version, "");
}

TEST_F(SettingsTest, AVersionShorterThanThePathIsNotMixedWithIt) {
  put("Path", "C:\\ein\\langer\\Pfad");
  put("Version", "2");
  EXPECT_EQ(readQuietly(Variant::Scheduler), 1);
  EXPECT_STREQ(InstallSettings.version, "2");
}

namespace {

// Values as RegQueryValueExA returns a string really stored without its
// terminator, at its strictest: the bytes of the text and nothing after
// them, the data size their count, 234 (more data) when they do not fit.
// (Windows and Wine add a terminator when there is room, but a caller
// must not count on it.)
std::string gWindowsPath;
std::string gWindowsVersion;

long windowsQuery(void*, const char* name, unsigned char* data, std::uint32_t* size) {
  const std::string& value = std::strcmp(name, "Path") == 0 ? gWindowsPath : gWindowsVersion;
  const auto length = static_cast<std::uint32_t>(value.size());
  const std::uint32_t capacity = *size;
  *size = length;
  if (length > capacity) return 234;
  std::memcpy(data, value.data(), length);
  return 0;
}

}  // namespace

// Writing with the text's length stores a terminator all the same, on
// Windows and under Wine; a value really stored without one (written
// through the native API, or with a byte after it that is not zero) is
// reported at its exact size. Such a value ends at the zeros of the work
// buffer; only one filling all 256 bytes has no end.
TEST_F(SettingsTest, ValuesWithoutTerminatorAsWindowsReportsThem) {
  put("Path", "C:\\Horamat");  // the key has to open
  put("Version", "1.0.0");
  const struct {
    std::size_t length;
    int result;
    const char* why;
  } cases[] = {
      {5, 1, "short: ends at the zeros behind it"},
      {243, 1, "the longest usable path"},
      {255, 0, "reads, but leaves no room for the appended names"},
      {256, 0, "fills the whole buffer: no end to be found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    gWindowsPath = "C:" + std::string(c.length - 2, 'p');
    gWindowsVersion = std::string("2.1");
    for (Variant v : {Variant::Scheduler, Variant::Installer}) {
      InstallSettings = {};
      ::testing::internal::CaptureStdout();
      EXPECT_EQ(settings::readInstallSettingsWith(windowsQuery, v, settings::DiagnosticLine::AsVariant), c.result);
      const std::string line = ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(std::string(InstallSettings.path), c.result == 1 ? gWindowsPath : "");
      EXPECT_EQ(std::string(InstallSettings.version), c.result == 1 ? "2.1" : "");
      if (v == Variant::Installer) {
        EXPECT_EQ(line, "0 " + gWindowsPath + " 256 " + std::to_string(c.length) + "\n");
      }
    }
  }
}

// The version shares the path's buffer, not cleared again: one stored
// without terminator ends at its reported size, not in the path behind it.
TEST_F(SettingsTest, AVersionWithoutTerminatorIsNotMixedWithThePath) {
  put("Path", "C:\\Horamat");
  put("Version", "1.0.0");
  gWindowsPath = std::string("C:\\ein\\langer\\Pfad");
  gWindowsVersion = std::string("2");
  EXPECT_EQ(settings::readInstallSettingsWith(windowsQuery, Variant::Scheduler, settings::DiagnosticLine::AsVariant), 1);
  EXPECT_STREQ(InstallSettings.path, "C:\\ein\\langer\\Pfad");
  EXPECT_STREQ(InstallSettings.version, "2");
}
