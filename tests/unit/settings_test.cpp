// Reading Path and Version from the registry (the real one under Windows,
// the stand-in's files natively), in both variants.
#include <gtest/gtest.h>

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
