// Jobwache run as the scheduler runs it, one process per run, on a job
// program of the tests: the result line, the output file, the exit code,
// the time limit, one copy at a time, and wrong calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "checker/cron_check.h"
#include "jobwache/jobwache.h"
#include "jobwache/watch_options.h"
#include "platform/job_watch.h"
#include "platform/registry_admin.h"
#include "scheduler/job_start.h"
#include "settings/install_settings.h"
#include "tests/support/process_probe.h"
#include "tests/support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string builtProgram(const char* name) {
  const std::string base = joinPath(HORAMAT_TEST_BIN_DIR, name);
  return pathExists(base + ".exe") ? base + ".exe" : base;
}

void collect(void* context, const char* data, std::size_t size) {
  static_cast<std::string*>(context)->append(data, size);
}

struct Called {
  int code;
  std::string printed;  // standard output and error, mixed
};

std::string withoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

struct JobwacheTest : ::testing::Test {
  std::string root;
  std::string dir;
  std::string jobwache;
  std::string job;  // the job program, as a table names it

  void SetUp() override {
    root = useScratchPlatformRoot();
    dir = makeTempDir("jobwache");
    jobwache = joinPath(dir, "Jobwache.exe");
    job = joinPath(dir, "watch_job.exe");
    fs::copy_file(builtProgram("Jobwache"), jobwache);
    fs::copy_file(builtProgram("watch_job"), job);
    ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Path", dir.c_str(),
                                      static_cast<std::uint32_t>(dir.size() + 1)),
              0);
    ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Version", "1.0.0", 6), 0);
  }
  void TearDown() override {
    platform::regDeleteKey(settings::kSettingsKey);
    removeTree(dir);
    if (!root.empty()) removeTree(root);
  }

  // Jobwache with the arguments, started the way the scheduler starts it:
  // one command line, cut at blanks.
  Called call(const std::string& arguments) const {
    const std::string line = jobwache + " " + arguments;
    static thread_local scheduler::JobCommand pieces;
    EXPECT_TRUE(scheduler::buildJobCommand(line.c_str(), pieces)) << line;
    std::string printed;
    const platform::WatchedRun run =
        platform::runWatchedJob(jobwache.c_str(), line.c_str(), pieces.argv, 0, collect, &printed);
    EXPECT_EQ(run.end, platform::JobEnd::Exited) << line;
    return {static_cast<int>(run.exitCode), withoutCarriageReturns(printed)};
  }

  std::vector<std::string> logLines() const {
    std::vector<std::string> lines = splitLines(readFile(joinPath(dir, "Jobwache.log")));
    return lines;
  }

  // The last line, split into the six fields; the command may hold "; ".
  std::vector<std::string> lastFields() const {
    const std::vector<std::string> lines = logLines();
    if (lines.empty()) return {};
    std::vector<std::string> fields;
    std::string rest = lines.back();
    for (int i = 0; i < 5; ++i) {
      const auto at = rest.find("; ");
      if (at == std::string::npos) break;
      fields.push_back(rest.substr(0, at));
      rest = rest.substr(at + 2);
    }
    fields.push_back(rest);
    return fields;
  }

  static std::string nameOf(const std::string& command) {
    char name[17];
    jobwache::commandName(command.c_str(), name);
    return name;
  }
  std::string outputOf(const std::string& command) const {
    return joinPath(joinPath(dir, "Ausgaben"), nameOf(command) + ".txt");
  }
  // As the log names it: the installation's path and Windows' separators.
  std::string loggedOutputOf(const std::string& command) const {
    return dir + "\\Ausgaben\\" + nameOf(command) + ".txt";
  }

  std::string events() const { return root.empty() ? "" : readFile(root + "/eventlog/Application.log"); }

  bool waitForFile(const std::string& path) const {
    for (int i = 0; i < 1200 && !pathExists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return pathExists(path);
  }
};

}  // namespace

TEST(WatchOptions, ReadsOptionsInAnyCaseBeforeTheProgram) {
  const char* pieces[] = {"/zeitlimit:3600", "/VERZOEGERUNG:0", "/parallel", "prog", "/Parallel", nullptr};
  jobwache::WatchOptions options;
  ASSERT_TRUE(jobwache::parseWatchOptions(pieces, options));
  EXPECT_EQ(options.timeLimit, 3600u);
  EXPECT_EQ(options.delay, 0u);
  EXPECT_TRUE(options.parallel);
  EXPECT_EQ(options.program, 3u) << "an option after the program is the program's";

  const char* path[] = {"/opt/jobs/x.sh", nullptr};
  ASSERT_TRUE(jobwache::parseWatchOptions(path, options)) << "a path with a second separator is a program";
  EXPECT_EQ(options.program, 0u);
}

TEST(WatchOptions, EveryWrongCallIsNamedAndMendedWhereThatIsSure) {
  const struct {
    const char* text;
    jobwache::OptionError error;
    const char* rewrite;  // "" when there is none
  } cases[] = {
      {"/Zeitlimit:abc x", jobwache::OptionError::NotANumber, "x"},
      {"/Zeitlimit: x", jobwache::OptionError::NotANumber, "x"},
      {"/Zeitlimit:-5 x", jobwache::OptionError::NotANumber, "x"},
      {"/Zeitlimit:0 x", jobwache::OptionError::OutOfRange, "/Zeitlimit:1 x"},                    // below 1
      {"/Zeitlimit:2592001 x", jobwache::OptionError::OutOfRange, "/Zeitlimit:2592000 x"},        // above 30 days
      {"/Zeitlimit:99999999999 x", jobwache::OptionError::NotANumber, "x"},                       // eleven digits
      {"/Verzoegerung:86401 x", jobwache::OptionError::OutOfRange, "/Verzoegerung:86400 x"},
      {"/Zeitlimit=60 x", jobwache::OptionError::WrongForm, "/Zeitlimit:60 x"},
      {"/Zeitlimit x", jobwache::OptionError::WrongForm, ""},
      {"/Parallel:1 x", jobwache::OptionError::WrongForm, "/Parallel x"},
      {"/Zeitlimit:5 /zeitlimit:6 x", jobwache::OptionError::Repeated, "/Zeitlimit:5 x"},
      {"/Nix x", jobwache::OptionError::Unknown, "x"},
      {"/Parallel", jobwache::OptionError::NoProgram, ""},
      {"", jobwache::OptionError::NoProgram, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    scheduler::JobCommand pieces;
    scheduler::buildJobCommand(c.text, pieces);
    jobwache::WatchOptions options;
    EXPECT_FALSE(jobwache::parseWatchOptions(pieces.argv, options));
    EXPECT_EQ(options.error, c.error);
    char rewrite[256];
    const bool mended = jobwache::rewriteOptions(options, pieces.argv, rewrite, sizeof rewrite);
    if (c.rewrite[0] == '\0') {
      EXPECT_TRUE(!mended || std::string(rewrite) == "x") << rewrite;
    } else {
      ASSERT_TRUE(mended);
      EXPECT_EQ(std::string(rewrite), c.rewrite);
    }
  }
}

TEST_F(JobwacheTest, AWrongCallSaysWhyRecordsNothingAndEnds123) {
  for (const char* arguments : {"/Zeitlimit:abc x", "/Zeitlimit:0 x", "/Verzoegerung:86401 x", "/zeitlimit:5 /Zeitlimit:5 x",
                                "/Gross x", "/Parallel"}) {
    SCOPED_TRACE(arguments);
    const Called called = call(arguments);
    EXPECT_EQ(called.code, jobwache::kExitWrongCall);
    EXPECT_EQ(called.printed.rfind("Jobwache: ", 0), 0u) << called.printed;
    EXPECT_NE(called.printed.find("\nAufruf: Jobwache [/Zeitlimit:<Sekunden>]"), std::string::npos) << called.printed;
  }
  EXPECT_FALSE(pathExists(joinPath(dir, "Jobwache.log")));
}

TEST_F(JobwacheTest, AJobThatEndsWith3IsRecordedWithItsOutputAndPassesItsCodeOn) {
  const std::string command = job + " exit 3";
  EXPECT_EQ(call(command).code, 3);
  const std::vector<std::string> fields = lastFields();
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[1], "0 s");
  EXPECT_EQ(fields[2], "beendet 3");
  EXPECT_EQ(fields[3], "Verzoegerung 0 s");
  EXPECT_EQ(fields[4], "Ausgabe " + loggedOutputOf(command));
  EXPECT_EQ(fields[5], command);
  jobwache::ResultLine result{};
  ASSERT_TRUE(jobwache::lastResult(dir.c_str(), command.c_str(), result));
  EXPECT_STREQ(result.outcome, "beendet 3");
  if (!root.empty()) {
    EXPECT_NE(events().find("Horamat Jobwache|Fehler|Jobwache: "), std::string::npos);
  }

  // A run that ends with 0 goes to the log alone.
  const std::string before = events();
  EXPECT_EQ(call(job + " exit 0").code, 0);
  EXPECT_EQ(lastFields().at(2), "beendet 0");
  EXPECT_EQ(events(), before);
}

TEST_F(JobwacheTest, BothStreamsGoIntoTheOutputFileOfTheLastRun) {
  const std::string command = job + " both";
  writeFile(outputOf(command).c_str(), "vom letzten Mal\n");
  EXPECT_EQ(call(command).code, 0);
  const std::string output = withoutCarriageReturns(readFile(outputOf(command)));
  EXPECT_NE(output.find("aus\n"), std::string::npos) << output;
  EXPECT_NE(output.find("err\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("vom letzten Mal"), std::string::npos) << output;
}

TEST_F(JobwacheTest, OutputBeyondItsLimitIsCutWithANote) {
  const std::string command = job + " big 1100000";
  EXPECT_EQ(call(command).code, 0);
  const std::string output = readFile(outputOf(command));
  const std::string note = "[Jobwache: Ausgabe nach 1048576 Bytes abgeschnitten, ";
  ASSERT_NE(output.find(note), std::string::npos);
  EXPECT_EQ(output.find(note), jobwache::kOutputLimit + std::string(platform::lineEnd()).size());
}

TEST_F(JobwacheTest, TheTimeLimitEndsTheJobAndWhatItStarted) {
  const std::string pidFile = joinPath(dir, "enkel.pid");
  EXPECT_EQ(call("/Zeitlimit:5 " + job + " grandchild " + pidFile).code, jobwache::kExitTimeLimit);
  EXPECT_EQ(lastFields().at(2), "Zeitlimit");
  ASSERT_TRUE(pathExists(pidFile)) << "the grandchild never ran";
  const long grandchild = std::stol(readFile(pidFile));
  bool running = processRunning(grandchild);
  for (int i = 0; i < 100 && running; ++i) {  // the kill is sent; its end may take a moment
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    running = processRunning(grandchild);
  }
  EXPECT_FALSE(running);
  if (running) endProcess(grandchild);
}

TEST_F(JobwacheTest, ASecondRunIsSkippedWhileTheFirstRunsUnlessParallel) {
  const std::string ready = joinPath(dir, "bereit");
  const std::string go = joinPath(dir, "los");
  const std::string command = job + " wait " + ready + " " + go;
  int first = -1;
  std::thread firstRun([&] { first = call(command).code; });
  if (!waitForFile(ready)) {
    writeFile(go, "los");
    firstRun.join();
    FAIL() << "the first run never started its job";
  }

  EXPECT_EQ(call(command).code, jobwache::kExitSkipped);
  EXPECT_EQ(lastFields().at(2), "uebersprungen");
  EXPECT_EQ(lastFields().at(4), "Ausgabe -");
  if (!root.empty()) {
    EXPECT_NE(events().find("Horamat Jobwache|Warnung|"), std::string::npos);
  }

  fs::remove(ready);
  int parallel = -1;
  std::thread parallelRun([&] { parallel = call("/Parallel " + command).code; });
  EXPECT_TRUE(waitForFile(ready)) << "/Parallel started no second copy";
  writeFile(go, "los");
  firstRun.join();
  parallelRun.join();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(parallel, 0);
  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("; beendet 0; "), std::string::npos);
  EXPECT_NE(lines[2].find("; beendet 0; "), std::string::npos);
}

TEST_F(JobwacheTest, AMissingProgramIsRecordedAsNotStarted) {
  EXPECT_EQ(call(joinPath(dir, "fehlt") + " a").code, jobwache::kExitNotStarted);
  const std::vector<std::string> fields = lastFields();
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[2], "nicht gestartet (Fehlercode 2)");
  EXPECT_EQ(fields[4], "Ausgabe -");
  EXPECT_EQ(fields[5], joinPath(dir, "fehlt") + " a");
}

// The runs start in waves, so that a slow start of a hundred processes
// under Wine is not taken for a lost run; they all end at one signal.
TEST_F(JobwacheTest, FiftyRunsEndingTogetherGiveFiftyWholeLines) {
  constexpr int kRuns = 50;
  constexpr int kWave = 10;
  const std::string go = joinPath(dir, "los");
  std::vector<std::thread> runs;
  std::vector<int> codes(kRuns, -1);
  const auto ready = [&](int i) { return joinPath(dir, "bereit" + std::to_string(i)); };
  bool allReady = true;
  for (int wave = 0; wave < kRuns && allReady; wave += kWave) {
    for (int i = wave; i < wave + kWave; ++i) {
      runs.emplace_back([&, i] { codes[i] = call(job + " wait " + ready(i) + " " + go).code; });
    }
    for (int i = wave; i < wave + kWave && allReady; ++i) {
      allReady = waitForFile(ready(i));
      EXPECT_TRUE(allReady) << "run " << i << " never started its job; the log holds:\n"
                            << readFile(joinPath(dir, "Jobwache.log"));
    }
  }
  // Every run is let go and awaited, also after a failure.
  writeFile(go, "los");
  for (std::thread& run : runs) run.join();
  ASSERT_TRUE(allReady);

  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRuns));
  std::vector<bool> seen(kRuns, false);
  for (const std::string& line : lines) {
    jobwache::ResultLine result{};
    ASSERT_TRUE(jobwache::parseResultLine(line.c_str(), result)) << line;
    EXPECT_STREQ(result.outcome, "beendet 0");
    const std::string command = result.command;
    const auto at = command.find("bereit");
    ASSERT_NE(at, std::string::npos) << line;
    seen.at(static_cast<std::size_t>(std::stoi(command.substr(at + 6)))) = true;
  }
  for (int i = 0; i < kRuns; ++i) EXPECT_TRUE(seen[i]) << i;
  for (int code : codes) EXPECT_EQ(code, 0);
}

TEST_F(JobwacheTest, ALogPastItsLimitBecomesTheOlderGeneration) {
  const std::string old(jobwache::kLogLimit, 'a');
  writeFile(joinPath(dir, "Jobwache.log"), old);
  writeFile(joinPath(dir, "Jobwache.log.1"), "vorletzte");
  const std::string command = job + " exit 0";
  EXPECT_EQ(call(command).code, 0);
  EXPECT_EQ(readFile(joinPath(dir, "Jobwache.log.1")), old);
  EXPECT_EQ(logLines().size(), 1u);
  jobwache::ResultLine result{};
  EXPECT_TRUE(jobwache::lastResult(dir.c_str(), command.c_str(), result));
}

TEST_F(JobwacheTest, TheDelayIsRecorded) {
  EXPECT_EQ(call("/Verzoegerung:1 " + job + " exit 0").code, 0);
  const std::string delay = lastFields().at(3);
  EXPECT_TRUE(delay == "Verzoegerung 0 s" || delay == "Verzoegerung 1 s") << delay;
}

TEST_F(JobwacheTest, CronCheckShowsTheLastResultAndMendsAWrongOption) {
  const std::string command = job + " exit 3";
  EXPECT_EQ(call(command).code, 3);
  const std::string table = joinPath(dir, "CronTab.txt");
  writeFile(table, "0 2 * * * " + jobwache + " /ZEITLIMIT:60 " + command + "\n" +  //
                       "0 3 * * * " + jobwache + " /Zeitlimit=60 " + command + "\n" +
                       "0 4 * * * " + jobwache + " " + joinPath(dir, "fehlt.bat") + "\n");
  checker::CheckOptions options{};
  options.from = std::time(nullptr);
  options.starts = 0;
  options.serviceFolder = dir.c_str();
  options.installDir = dir.c_str();
  const std::string reportPath = joinPath(dir, "bericht.txt");
  std::FILE* out = std::fopen(reportPath.c_str(), "w");
  ASSERT_NE(out, nullptr);
  checker::checkTable(table.c_str(), options, out);
  std::fclose(out);
  const std::string report = withoutCarriageReturns(readFile(reportPath));
  SCOPED_TRACE(report);
  const auto second = report.find("Zeile 2:");
  const auto third = report.find("Zeile 3:");
  ASSERT_NE(third, std::string::npos);
  // The options are no part of the command whose result is shown.
  EXPECT_NE(report.substr(0, second).find(", 0 s, beendet 3\n"), std::string::npos);
  const std::string line2 = report.substr(second, third - second);
  EXPECT_NE(line2.find("Warnung: Jobwache: Option \"/Zeitlimit=60\""), std::string::npos);
  EXPECT_NE(line2.find("Vorschlag: " + jobwache + " /Zeitlimit:60 " + command + "\n"), std::string::npos);
  const std::string line3 = report.substr(third);
  EXPECT_NE(line3.find("Programm \"" + joinPath(dir, "fehlt.bat") + "\" auf diesem Rechner nicht gefunden"),
            std::string::npos) << "the job behind Jobwache is checked as any program";
  EXPECT_NE(line3.find("Letztes Ergebnis: keines in Jobwache.log"), std::string::npos);
}
