// Faults around the scan, in-process on the simulated clock, built for
// both targets (the end-to-end scripts drive the native programs; these
// run under Wine as well): the log replaced by a folder while the loop
// runs, the table deleted or replaced by a folder, and a table full of
// odd lines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "scheduler/scheduler_loop.h"
#include "tests/support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr const char* kFieldsPrefix = "  <*><*><*><*><*><";

struct FaultScan : ::testing::Test {
  std::string dir;
  scheduler::SchedulerState state{};

  void SetUp() override {
    setTimeZone("UTC0");
    dir = makeTempDir("fault");
    gClock = SimulatedClock{};
  }
  void TearDown() override { removeTree(dir); }

  std::string path(const char* name) const { return joinPath(dir, name); }
  std::string logPath() const { return path("Horamat.log"); }
  std::string tablePath() const { return path("CronTab.txt"); }

  void startAt(std::time_t t) {
    gClock.nowMs = static_cast<std::int64_t>(t) * 1000;
    ASSERT_TRUE(scheduler::startScheduler(dir.c_str(), kSimulatedClock, state));
  }
  void runUntil(std::time_t t) {
    while (gClock.nowMs < static_cast<std::int64_t>(t) * 1000) scheduler::schedulerPass(state, kSimulatedClock);
  }
  // The command fields of all job entries in a log, in order.
  static std::vector<std::string> commands(const std::string& log) {
    std::vector<std::string> out;
    const auto lines = splitLines(readFile(log));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (jobEntryStamp(lines[i]).empty()) continue;
      const std::string& fields = lines[i + 1];
      EXPECT_EQ(fields.rfind(kFieldsPrefix, 0), 0u) << fields;
      EXPECT_EQ(fields.back(), '>') << fields;
      out.push_back(fields.substr(std::strlen(kFieldsPrefix), fields.size() - std::strlen(kFieldsPrefix) - 1));
    }
    return out;
  }
};

// The marker program of the build, copied next to the table.
std::string copyMarkerProgram(const std::string& dir) {
  std::string base = std::string(HORAMAT_TEST_BIN_DIR) + "/marker_job";
  if (pathExists(base + ".exe")) base += ".exe";
  const std::string program = joinPath(dir, "m.exe");
  fs::copy_file(base, program);
  return program;
}

std::size_t linesIn(const std::string& file) { return splitLines(readFile(file)).size(); }

// Jobs run on their own time: wait until n of them have written their line.
bool waitForLines(const std::string& file, std::size_t n) {
  for (int i = 0; i < 400 && linesIn(file) < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return linesIn(file) == n;
}

}  // namespace

TEST_F(FaultScan, LogReplacedByAFolderJobsGoOnAndEntriesComeBack) {
  const std::string program = copyMarkerProgram(dir);
  const std::string runs = path("runs.txt");
  writeFile(tablePath(), "* * * * * " + program + " " + runs + "\n");
  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  startAt(t);
  runUntil(t + 2 * 60);  // 10:00 and 10:01

  // The log is opened afresh for every entry: moved aside, a folder in its
  // place, then the folder gone again.
  const std::string before = path("Horamat.vorher");
  fs::rename(logPath(), before);
  fs::create_directory(logPath());
  runUntil(t + 5 * 60);  // 10:02 to 10:04: no log to write
  EXPECT_TRUE(fs::is_empty(logPath()));
  fs::remove(logPath());
  runUntil(t + 7 * 60);  // 10:05 and 10:06: a new log

  EXPECT_TRUE(waitForLines(runs, 7)) << "every minute ran its job, log or not: " << linesIn(runs);
  EXPECT_EQ(commands(before).size(), 2u);
  EXPECT_EQ(commands(logPath()).size(), 2u) << "entries come again once the log can be written";
  const auto lines = splitLines(readFile(logPath()));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Job gestartet am Mon Dec 07 10:05:00 2026");
}

TEST_F(FaultScan, TableDeletedOrAFolderRunsNothingUntilItIsBack) {
  writeFile(tablePath(), "* * * * * nicht_da\n");
  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  startAt(t);
  runUntil(t + 60);
  ASSERT_EQ(commands(logPath()).size(), 1u);

  fs::remove(tablePath());
  runUntil(t + 3 * 60);
  EXPECT_EQ(commands(logPath()).size(), 1u) << "deleted";
  fs::create_directory(tablePath());
  runUntil(t + 5 * 60);
  EXPECT_EQ(commands(logPath()).size(), 1u) << "a folder";
  fs::remove(tablePath());
  writeFile(tablePath(), "* * * * * wieder_da\n");
  runUntil(t + 6 * 60);
  EXPECT_EQ(commands(logPath()), (std::vector<std::string>{"nicht_da", "wieder_da"}));
}

// What each odd line makes of itself. The programs do not exist: every
// matching line is logged, nothing is started.
TEST_F(FaultScan, OddLinesOfATable) {
  const std::string job = "* * * * * ";
  auto padded = [](std::string head, std::size_t n, char fill) {
    head.resize(n, fill);
    return head;
  };
  std::string table;
  table += "\xEF\xBB\xBF" + job + "bom\r\n";                  // byte-order mark
  table += job + "crlf eins zwei\r\n";                         // CR LF
  table += padded(job + "l255 ", 255, 'A') + "\n";             // 255 characters
  table += padded(job + "l256 ", 256, 'A') + "\n";             // one more
  table += padded(job + "l511 ", 255, 'A') + padded(job + "mitte ", 255, 'B') + "C\n";
  table += padded(job + "l512 ", 512, 'A') + "\n";
  table += job + "nul vor" + std::string(1, '\0') + "nach\n";  // a NUL
  table += job + "hoch \x80\xFE\xFF\x01\x7F\n";                // bytes above 127, control bytes
  table += job + "letzte";                                     // no final newline
  writeFile(tablePath(), table);

  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  startAt(t);
  runUntil(t + 1);
  const std::vector<std::string> expected = {
      // The UTF-8 byte-order mark that Notepad may write is skipped where
      // the table is opened: the first line runs.
      "bom",
      "crlf eins zwei",
      // A line is read in pieces of at most 255 characters; every piece is
      // a line of its own, and a piece that is one word runs nothing.
      padded("l255 ", 255 - job.size(), 'A'),
      padded("l256 ", 255 - job.size(), 'A'),
      padded("l511 ", 255 - job.size(), 'A'),
      padded("mitte ", 255 - job.size(), 'B'),
      padded("l512 ", 255 - job.size(), 'A'),
      "nul vor",
      "hoch \x80\xFE\xFF\x01\x7F",
      "letzte",
  };
  EXPECT_EQ(commands(logPath()), expected);
}
