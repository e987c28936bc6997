// Who else may change a file on the stand-in, which knows no access
// lists: mode bits and owners, as cron daemons judge their tables. And
// CronCheck's warnings and exit code 3 for a table and a job that
// ordinary users may change. Built for the native target only; changing
// owners needs root, as the test command runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "checker/cron_check.h"
#include "platform/file_access.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

std::vector<std::string> writersOf(const std::string& path, const char* serviceAccount = "") {
  platform::Writers writers;
  EXPECT_EQ(platform::otherWriters(path.c_str(), serviceAccount, writers), platform::AccessCheck::Checked);
  std::vector<std::string> names;
  for (int i = 0; i < writers.count; ++i) names.emplace_back(writers.names[static_cast<std::size_t>(i)].data());
  return names;
}

struct StandInAccess : ::testing::Test {
  std::string dir;
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "owners can only be changed as root";
    dir = makeTempDir("access");
  }
  void TearDown() override {
    if (!dir.empty()) removeTree(dir);
  }
  std::string file(const char* name, mode_t mode, uid_t uid = 0, gid_t gid = 0) {
    const std::string path = joinPath(dir, name);
    writeFile(path, "#!/bin/sh\n");
    EXPECT_EQ(::chown(path.c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
};

}  // namespace

TEST_F(StandInAccess, ModeBitsAndOwners) {
  const struct {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    std::vector<std::string> writers;
  } cases[] = {
      {0644, 0, 0, {}},
      {0755, 0, 0, {}},
      {0664, 0, 0, {}},  // root's group stands for Administrators
      {0664, 0, kNogroup, {"Gruppe nogroup (gid 65534)"}},
      {0646, 0, 0, {"alle Benutzer (andere)"}},
      {0444, kNobody, 0, {"Besitzer nobody (uid 65534)"}},  // may chmod it
      {0666, kNobody, kNogroup, {"Besitzer nobody (uid 65534)", "Gruppe nogroup (gid 65534)", "alle Benutzer (andere)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << std::dec << " " << c.uid << ":" << c.gid);
    EXPECT_EQ(writersOf(file("x", c.mode, c.uid, c.gid)), c.writers);
  }
  // The service's own account may own what it runs.
  EXPECT_EQ(writersOf(file("y", 0644, kNobody), ".\\nobody"), std::vector<std::string>{});
  platform::Writers writers;
  EXPECT_EQ(platform::otherWriters(joinPath(dir, "fehlt").c_str(), "", writers), platform::AccessCheck::Missing);
}

// A table that others may change, and a job program in a folder anyone
// may write to: warnings with the fix, exit code 3; the folder once for
// two jobs in it. A line that never runs keeps exit code 1.
TEST_F(StandInAccess, CronCheckWarnsWithExitCode3) {
  const std::string jobs = joinPath(dir, "jobs");
  ASSERT_EQ(::mkdir(jobs.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(jobs.c_str(), 0777), 0);
  const std::string a = joinPath(jobs, "a.sh"), b = joinPath(jobs, "b.sh");
  writeFile(a, "#!/bin/sh\n");
  writeFile(b, "#!/bin/sh\n");
  const std::string table = joinPath(dir, "CronTab.txt");

  auto run = [&](const std::string& content) {
    writeFile(table, content);
    checker::Audit audit;
    checker::CheckOptions options{};
    options.from = 0;
    options.starts = 0;
    options.serviceFolder = "/";
    options.audit = &audit;
    const std::string outPath = joinPath(dir, "report.txt");
    std::FILE* out = std::fopen(outPath.c_str(), "w");
    const int code = checker::checkTable(table.c_str(), options, out);
    std::fclose(out);
    return std::make_pair(code, readFile(outPath));
  };

  // protected: silent
  ASSERT_EQ(::chmod(jobs.c_str(), 0755), 0);
  auto [code, report] = run("0 12 * * * " + a + "\n");
  EXPECT_EQ(code, checker::kExitAllRun) << report;
  EXPECT_EQ(report.find("Warnung:"), std::string::npos) << report;

  ASSERT_EQ(::chmod(jobs.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(table.c_str(), 0666), 0);
  std::tie(code, report) = run("0 12 * * * " + a + "\n0 13 * * * " + b + "\n");
  EXPECT_EQ(code, checker::kExitWritable) << report;
  EXPECT_NE(report.find("\nWarnung: Tabelle \"" + table + "\" kann geaendert werden von: alle Benutzer (andere); "),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("  Vorschlag: chown root:root '" + table + "' && chmod go-w '" + table + "'\n"),
            std::string::npos)
      << report;
  size_t folderWarnings = 0;
  for (size_t at = report.find("Ordner \"" + jobs + "\" des Programms"); at != std::string::npos;
       at = report.find("Ordner \"" + jobs + "\" des Programms", at + 1)) {
    ++folderWarnings;
  }
  EXPECT_EQ(folderWarnings, 1u) << report;
  EXPECT_NE(report.find("2 benutzt, davon 0 laufen nie; 2 Warnungen"), std::string::npos) << report;

  // A job that is not there yet, in a folder anyone may write to: someone
  // could put it there.
  std::tie(code, report) = run("0 12 * * * " + joinPath(jobs, "c") + "\n");
  EXPECT_EQ(code, checker::kExitWritable) << report;
  EXPECT_NE(report.find("Ordner \"" + jobs + "\" des Programms kann geaendert werden"), std::string::npos) << report;

  std::tie(code, report) = run("0 12 31 2 * " + a + "\n");
  EXPECT_EQ(code, checker::kExitSomeNever) << report;
}
