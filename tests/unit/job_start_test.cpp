// Turning a command text into a started process: the split at blanks, the
// program resolution on real files, and real starts.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "scheduler/job_start.h"
#include "tests/support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> pieces(const scheduler::JobCommand& job) {
  std::vector<std::string> out;
  for (std::size_t i = 0; job.argv[i] != nullptr; ++i) out.emplace_back(job.argv[i]);
  return out;
}

// The marker program of the build, with whatever name the platform gave it.
std::string markerProgram() {
  std::string base = std::string(HORAMAT_TEST_BIN_DIR) + "/marker_job";
  return pathExists(base + ".exe") ? base + ".exe" : base;
}

void touch(const std::string& path) { writeFile(path, "x"); }

std::string waitForFile(const std::string& path) {
  for (int i = 0; i < 200; ++i) {
    std::string text = readFile(path);
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return readFile(path);
}

struct ScratchDir : ::testing::Test {
  std::string dir;
  void SetUp() override { dir = makeTempDir("job"); }
  void TearDown() override { removeTree(dir); }
  // A program text as an administrator writes it: backslashes.
  std::string winPath(const std::string& name) const { return dir + "\\" + name; }
  std::string resolve(const std::string& program) const {
    char resolved[300];
    if (!scheduler::resolveProgram(program.c_str(), resolved, sizeof resolved)) return "<none>";
    return resolved;
  }
};

}  // namespace

TEST(BuildJobCommand, CutsAtBlanksOnly) {
  const struct {
    const char* text;
    std::vector<std::string> expected;
  } cases[] = {
      {"notepad x", {"notepad", "x"}},
      {"a   b  c ", {"a", "b", "c"}},             // runs of blanks are one separator
      {"  a", {"a"}},                             // leading blanks yield nothing
      {"a\tb c", {"a\tb", "c"}},                  // a tab is an ordinary character
      {"\"C:\\Program Files\\x.exe\" /q", {"\"C:\\Program", "Files\\x.exe\"", "/q"}},  // quotes mean nothing
      {"c:\\tools\\backup.exe /q", {"c:\\tools\\backup.exe", "/q"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    scheduler::JobCommand job;
    ASSERT_TRUE(scheduler::buildJobCommand(c.text, job));
    EXPECT_EQ(pieces(job), c.expected);
    EXPECT_EQ(job.argv[0], job.program) << "element 0 is the program buffer";
  }
  scheduler::JobCommand job;
  EXPECT_FALSE(scheduler::buildJobCommand("   ", job));
  EXPECT_EQ(job.argv[0], nullptr);
}

TEST(BuildJobCommand, LongestLineFillsLessThanTheVector) {
  std::string text;
  while (text.size() < 254) text += "x ";
  text += "y";  // 255 characters, 128 pieces
  scheduler::JobCommand job;
  ASSERT_TRUE(scheduler::buildJobCommand(text.c_str(), job));
  EXPECT_EQ(pieces(job).size(), 128u);
  // A text that does not fit the copy is refused, not cut.
  EXPECT_FALSE(scheduler::buildJobCommand(std::string(256, 'z').c_str(), job));
}

TEST(JoinCommandLine, SingleBlanksUnquoted) {
  const char* argv[] = {"notepad", "x", "C:\\a b", nullptr};
  char line[64];
  ASSERT_TRUE(scheduler::joinCommandLine(argv, line, sizeof line));
  EXPECT_STREQ(line, "notepad x C:\\a b");
  char small[8];
  EXPECT_FALSE(scheduler::joinCommandLine(argv, small, sizeof small));
}

TEST_F(ScratchDir, SuffixesAreTriedInOrder) {
  touch(joinPath(dir, "prog.exe"));
  touch(joinPath(dir, "prog.bat"));
  touch(joinPath(dir, "prog.cmd"));
  EXPECT_EQ(resolve(winPath("prog")), winPath("prog.exe"));
  touch(joinPath(dir, "prog.com"));
  EXPECT_EQ(resolve(winPath("prog")), winPath("prog.com")) << ".com comes before .exe";
  fs::remove(joinPath(dir, "prog.com"));
  fs::remove(joinPath(dir, "prog.exe"));
  EXPECT_EQ(resolve(winPath("prog")), winPath("prog.bat"));
  fs::remove(joinPath(dir, "prog.bat"));
  EXPECT_EQ(resolve(winPath("prog")), winPath("prog.cmd"));
  fs::remove(joinPath(dir, "prog.cmd"));
  EXPECT_EQ(resolve(winPath("prog")), "<none>");
  // The bare file without a suffix is never tried.
  touch(joinPath(dir, "prog"));
  EXPECT_EQ(resolve(winPath("prog")), "<none>");
}

TEST_F(ScratchDir, ANameWithADotIsUsedUnchanged) {
  touch(joinPath(dir, "tool.v2.exe"));
  EXPECT_EQ(resolve(winPath("tool.v2")), "<none>") << "no suffix trial for a name with a dot";
  touch(joinPath(dir, "tool.v2"));
  EXPECT_EQ(resolve(winPath("tool.v2")), winPath("tool.v2"));
  // Only the last component counts: a dot in a folder name does not.
  fs::create_directory(joinPath(dir, "tools.d"));
  touch(joinPath(joinPath(dir, "tools.d"), "run.exe"));
  EXPECT_EQ(resolve(winPath("tools.d\\run")), winPath("tools.d\\run.exe"));
  // Forward slashes separate components too.
  EXPECT_EQ(resolve(dir + "/tools.d/run"), dir + "/tools.d/run.exe");
}

TEST_F(ScratchDir, ADirectoryCountsAsExisting) {
  fs::create_directory(joinPath(dir, "ordner.bat"));
  EXPECT_EQ(resolve(winPath("ordner")), winPath("ordner.bat"));
}

TEST_F(ScratchDir, ABareNameIsLookedForInTheCurrentDirectoryOnly) {
  touch(joinPath(dir, "hier.cmd"));
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  EXPECT_EQ(resolve("hier"), ".\\hier.cmd");
  EXPECT_EQ(resolve("hier.cmd"), ".\\hier.cmd");
  fs::current_path(before);
  EXPECT_EQ(resolve("hier"), "<none>") << "no search beyond the current directory";
}

TEST_F(ScratchDir, AStartedJobRunsWithItsJoinedCommandLine) {
  const std::string program = joinPath(dir, "job.exe");
  fs::copy_file(markerProgram(), program);
  fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
  const std::string marker = joinPath(dir, "marker.txt");
  const std::string written = winPath("job");  // no suffix: found as job.exe
  const char* argv[] = {written.c_str(), marker.c_str(), "eins", "zwei", nullptr};
  ASSERT_TRUE(scheduler::startJob(argv[0], argv));
  const std::string text = waitForFile(marker);
  EXPECT_NE(text.find(" eins zwei"), std::string::npos) << text;
  EXPECT_NE(text.find("job"), std::string::npos) << text;
}

TEST_F(ScratchDir, ABatchFileIsStartedLikeAProgram) {
  // The same line works for the Windows command interpreter and /bin/sh.
  const std::string marker = joinPath(dir, "bat_marker.txt");
  // No execute permission: Windows never asks for one.
  writeFile(joinPath(dir, "lauf.bat"), "echo gelaufen> " + marker + "\n");
  const std::string written = winPath("lauf");
  const char* argv[] = {written.c_str(), nullptr};
  ASSERT_TRUE(scheduler::startJob(argv[0], argv));
  EXPECT_NE(waitForFile(marker).find("gelaufen"), std::string::npos);
}

// A start that fails says why, in the codes CreateProcessA gives, for the
// log entry of a job that did not start.
TEST_F(ScratchDir, AFailedStartSaysWhy) {
  fs::create_directory(joinPath(dir, "ordner.exe"));
  const std::string program = joinPath(dir, "job.exe");
  fs::copy_file(markerProgram(), program);
  fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
  const std::string longPiece(300, 'x');  // two of them overflow the joined line
  // Windows (and the stand-in) refuse to start a folder with 5; Wine,
  // whose CreateProcessA opens it as no image at all, with 6.
  const struct {
    std::string program;
    const char* argument;
    std::uint32_t error;
    std::uint32_t alsoUnderWine;
    const char* why;
  } cases[] = {
      {winPath("fehlt"), nullptr, 2, 2, "no file by any suffix"},
      {winPath("fehlt.exe"), nullptr, 2, 2, "no file of a name with a dot"},
      {winPath("ordner.exe"), nullptr, 5, 6, "a folder"},
      {winPath("ordner"), nullptr, 5, 6, "a folder found by the suffix trial"},
      {winPath("job"), longPiece.c_str(), 87, 87, "a command line too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const char* argv[] = {c.program.c_str(), c.argument, c.argument, nullptr};
    platform::setLastError(0);
    EXPECT_FALSE(scheduler::startJob(argv[0], argv));
    const std::uint32_t error = platform::lastError();
    EXPECT_TRUE(error == c.error || error == c.alsoUnderWine) << error;
  }
}
