// The real loop body on a simulated clock: which minutes get scanned, what
// the log says, and how the loop reacts to the clock and the table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "scheduler/cron_log.h"
#include "scheduler/scheduler_loop.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

constexpr const char* kEveryMinute = "* * * * * nicht_vorhanden\n";

struct LoopFixture : ::testing::Test {
  std::string dir;
  scheduler::SchedulerState state{};

  void SetUp() override {
    setTimeZone("UTC0");
    dir = makeTempDir("loop");
    gClock = SimulatedClock{};
  }
  void TearDown() override { removeTree(dir); }

  std::string logPath() const { return joinPath(dir, "Horamat.log"); }
  std::string tablePath() const { return joinPath(dir, "CronTab.txt"); }
  std::vector<std::string> logLines() const { return splitLines(readFile(logPath())); }

  void startAt(std::time_t t, std::int64_t extraMs = 0) {
    gClock.nowMs = static_cast<std::int64_t>(t) * 1000 + extraMs;
    ASSERT_TRUE(scheduler::startScheduler(dir.c_str(), kSimulatedClock, state));
  }
  // Runs passes until the simulated clock reaches t.
  void runUntil(std::time_t t) {
    while (gClock.nowMs < static_cast<std::int64_t>(t) * 1000) scheduler::schedulerPass(state, kSimulatedClock);
  }
  // The stamps of the entries of the lines whose command is command, started
  // or not, in order.
  std::vector<std::string> entriesOf(const std::string& command) const {
    std::vector<std::string> stamps;
    const auto lines = logLines();
    const std::string tail = "><" + command + ">";
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      if (l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0)
        stamps.push_back(lines[i - 1].substr(lines[i - 1].size() - 24));
    }
    return stamps;
  }
  // The stamps (without the trailing newline) of all job entries, in order.
  std::vector<std::string> jobStamps() const {
    std::vector<std::string> stamps;
    for (const auto& line : logLines()) {
      const std::string stamp = jobEntryStamp(line);
      if (!stamp.empty()) stamps.push_back(stamp);
    }
    return stamps;
  }
};

std::string stampOf(std::time_t t) {
  char stamp[scheduler::kStampSize];
  scheduler::formatStamp(*std::localtime(&t), stamp);
  return std::string(stamp, std::strlen(stamp) - 1);
}

}  // namespace

TEST(ScanDue, CountsCalendarMinutes) {
  const struct {
    std::time_t now, last;
    bool due;
    const char* why;
  } cases[] = {
      {600, 600, false, "same second: this minute was scanned"},
      {659, 600, false, "still the minute scanned last"},
      {660, 659, true, "one second later, but a new minute"},
      {660, 600, true, "next minute"},
      {719, 600, true, "a minute skipped by a long pause: scan at once"},
      {599, 600, true, "clock set back a second, into the minute before"},
      {601, 659, false, "clock set back within the minute scanned"},
      {300, 600, true, "clock set back five minutes"},
      {6000, 600, true, "clock set forward"},
      {-1, -60, false, "before the epoch, same minute"},
      {0, -1, true, "the minute after the epoch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(scheduler::ScanDue(c.now, c.last), c.due);
  }
}

// Catches a clock of the loop that is not time()'s calendar time (a wrong
// epoch in the conversion of Windows' file time) or gives a millisecond
// count that the sleep to the next second would overflow.
TEST(SystemClock, ReadsTheCalendarTimeToTheMillisecond) {
  const std::time_t before = std::time(nullptr);
  const platform::ClockReading now = scheduler::kSystemClock.now();
  const std::time_t after = std::time(nullptr);
  // time() may lag a coarse tick behind the precise clock.
  EXPECT_GE(now.seconds, before);
  EXPECT_LE(now.seconds, after + 1);
  EXPECT_LT(now.ms, 1000u);
}

TEST(CronLogStamp, HasLeadingZeroAndEnglishNames) {
  std::tm t{};
  t.tm_year = 100; t.tm_mon = 2; t.tm_mday = 6; t.tm_hour = 8; t.tm_min = 30; t.tm_wday = 1;
  char stamp[scheduler::kStampSize];
  scheduler::formatStamp(t, stamp);
  EXPECT_STREQ(stamp, "Mon Mar 06 08:30:00 2000\n");
  EXPECT_EQ(std::strlen(stamp), 25u);

  t = std::tm{};
  t.tm_year = 126; t.tm_mon = 11; t.tm_mday = 31; t.tm_hour = 23; t.tm_min = 59; t.tm_sec = 59; t.tm_wday = 4;
  scheduler::formatStamp(t, stamp);
  EXPECT_STREQ(stamp, "Thu Dec 31 23:59:59 2026\n");

  // Field values no clock produces must not index past the name tables.
  t.tm_wday = 9; t.tm_mon = -1;
  scheduler::formatStamp(t, stamp);
  EXPECT_EQ(std::string(stamp).substr(0, 8), "??? ??? ");
}

TEST_F(LoopFixture, JobEntryHasTheExactBytes) {
  setTimeZone("UTC0");
  cron::CronLine line{};
  std::strcpy(line.minute, "30");
  std::strcpy(line.hour, "8");
  std::strcpy(line.dayOfMonth, "*");
  std::strcpy(line.month, "*");
  std::strcpy(line.dayOfWeek, "1-5");
  std::strcpy(line.command, "c:\\tools\\backup.exe /q");
  const std::time_t t = localTime(2000, 3, 6, 8, 30, 0);
  const std::string fields = "  <30><8><*><*><1-5><c:\\tools\\backup.exe /q>\n";
  const struct {
    std::uint32_t startError;
    const char* head;
  } cases[] = {
      {0, "Job gestartet am Mon Mar 06 08:30:00 2000\n"},
      {2, "Jobstart fehlgeschlagen (Fehlercode 2) am Mon Mar 06 08:30:00 2000\n"},
      {4294967295u, "Jobstart fehlgeschlagen (Fehlercode 4294967295) am Mon Mar 06 08:30:00 2000\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.startError);
    std::remove(logPath().c_str());
    ASSERT_TRUE(scheduler::writeJobEntry(logPath().c_str(), t, line, c.startError));
    ASSERT_TRUE(scheduler::writeJobEntry(logPath().c_str(), t, line, c.startError));
    std::string text = readFile(logPath());
    // Text mode: on Windows every newline is stored as CR LF.
    std::string normalised;
    for (char ch : text) if (ch != '\r') normalised += ch;
    EXPECT_EQ(normalised, c.head + fields + c.head + fields);
  }
}

TEST_F(LoopFixture, StartEntryWaitsForSecondZeroAndFirstPassScansThatMinute) {
  writeFile(tablePath(), kEveryMinute);
  const std::time_t t = localTime(2026, 12, 7, 10, 41, 37);
  startAt(t, 500);
  const std::time_t minute = localTime(2026, 12, 7, 10, 42, 0);
  // Aligned in 10 ms steps: 22.5 s of them, and nothing else.
  EXPECT_EQ(gClock.sleeps, 2250u);
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_EQ(logLines()[0], "Horamat gestartet am: " + stampOf(minute));

  scheduler::schedulerPass(state, kSimulatedClock);
  ASSERT_EQ(jobStamps().size(), 1u) << "the start minute's jobs run";
  EXPECT_EQ(jobStamps()[0], stampOf(minute));
}

TEST_F(LoopFixture, StartedDuringSecondZeroRunsThatMinuteAtOnce) {
  writeFile(tablePath(), kEveryMinute);
  const std::time_t t = localTime(2026, 12, 7, 10, 41, 0);
  startAt(t, 300);
  EXPECT_EQ(gClock.sleeps, 0u);
  runUntil(t + 1);
  ASSERT_EQ(jobStamps().size(), 1u);
  EXPECT_EQ(jobStamps()[0], stampOf(t));
}

TEST_F(LoopFixture, LogThatDoesNotOpenEndsTheLoopAtOnce) {
  const std::string missing = joinPath(dir, "fehlt");
  gClock.nowMs = 1000LL * localTime(2026, 12, 7, 10, 41, 37);
  EXPECT_FALSE(scheduler::startScheduler(missing.c_str(), kSimulatedClock, state));
  EXPECT_EQ(gClock.sleeps, 0u) << "no alignment without a log";
  EXPECT_FALSE(pathExists(joinPath(missing, "Horamat.log")));
}

// Windows' Sleep overshoots by up to a timer tick; with "60 s after the
// last scan" the scan moment walked through the minute and now and then
// jumped a whole minute, and with a fixed second of sleep the look walked
// through its second. Every minute of a week must be scanned exactly once,
// no later in its minute than one sleep overshoots, and every second must
// get exactly one look.
TEST_F(LoopFixture, AWeekOfOvershootingSleepsScansEveryMinuteOnce) {
  const struct {
    std::uint32_t overshootMicros;
    std::uint32_t jitterMaxMs;
    const char* why;
  } cases[] = {
      {15600, 0, "every 1000 ms sleep takes 1015.6 ms"},
      {0, 50, "random 0-50 ms late"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TearDown();
    SetUp();
    writeFile(tablePath(), kEveryMinute);
    const std::time_t begin = localTime(2026, 3, 2, 0, 0, 0);
    startAt(begin - 5);
    gClock.overshootMicros = c.overshootMicros;
    gClock.jitterMaxMs = c.jitterMaxMs;

    // Scans are recorded through the log: one entry per scanned minute.
    const std::time_t end = begin + 7 * 24 * 3600;
    std::int64_t worstLateMs = 0;
    std::time_t lastScan = state.lastScan;
    std::int64_t lastLookSecond = gClock.nowMs / 1000 - 1;
    long irregularLooks = 0;
    while (gClock.nowMs < static_cast<std::int64_t>(end) * 1000) {
      const std::int64_t before = gClock.nowMs;
      if (before / 1000 != lastLookSecond + 1) ++irregularLooks;
      lastLookSecond = before / 1000;
      scheduler::schedulerPass(state, kSimulatedClock);
      if (state.lastScan != lastScan) {
        lastScan = state.lastScan;
        worstLateMs = std::max<std::int64_t>(worstLateMs, before % 60000);
      }
    }
    const auto stamps = jobStamps();
    EXPECT_EQ(stamps.size(), 7u * 24 * 60);
    std::set<std::string> distinct(stamps.begin(), stamps.end());
    EXPECT_EQ(distinct.size(), stamps.size()) << "a minute was scanned twice";
    EXPECT_LE(worstLateMs, c.overshootMicros / 1000 + 1 + c.jitterMaxMs) << "a scan came late in its minute";
    EXPECT_EQ(irregularLooks, 0) << "a second with two looks or none";
  }
}

// A step of the clock loses no job and repeats none. "0-59 0-23 * * *"
// runs every minute but counts as a line with a fixed time (neither field
// is "*"), so each case shows both kinds of line.
TEST_F(LoopFixture, ClockStepsAreMadeUpForOrHeldBack) {
  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  const struct {
    std::time_t stepTo;  // where the clock is set, 30 s into the scanned minute
    std::time_t runTo;   // passes until then
    std::size_t fixed, others;
    const char* why;
  } cases[] = {
      {t + 60 + 30, t + 60 + 31, 1, 1, "a steady clock: the next minute"},
      {t + 2 * 60 + 30, t + 2 * 60 + 31, 2, 2, "forward 2 min: the skipped minute, then the current"},
      {t + 6 * 60 + 30, t + 6 * 60 + 31, 6, 6, "forward with 5 min skipped: every line made up for"},
      {t + 7 * 60 + 30, t + 7 * 60 + 31, 7, 1, "6 min skipped: only the fixed-time lines made up for"},
      {t + 181 * 60 + 30, t + 181 * 60 + 31, 181, 1, "3 h skipped: the fixed-time lines still made up for"},
      {t + 182 * 60 + 30, t + 182 * 60 + 31, 1, 1, "more than 3 h forward: a new time"},
      {t + 30 - 20, t + 59, 0, 0, "back 20 s within the scanned minute: nothing again"},
      {t - 5 * 60 + 30, t + 61, 1, 7, "back 5 min: every-minute lines go on, fixed ones wait for 10:01"},
      {t - 180 * 60 + 30, t - 180 * 60 + 31, 0, 1, "back 3 h: the fixed-time lines wait"},
      {t - 181 * 60 + 30, t - 181 * 60 + 31, 1, 1, "more than 3 h back: a new time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TearDown();
    SetUp();
    writeFile(tablePath(), "0-59 0-23 * * * fest\n* * * * * jeder\n");
    startAt(t);
    runUntil(t + 30);
    ASSERT_EQ(entriesOf("fest").size(), 1u);
    gClock.nowMs = 1000LL * c.stepTo;
    runUntil(c.runTo);
    EXPECT_EQ(entriesOf("fest").size(), 1 + c.fixed);
    EXPECT_EQ(entriesOf("jeder").size(), 1 + c.others);
  }
}

TEST_F(LoopFixture, JobsMadeUpForAreStampedWhenTheyStart) {
  writeFile(tablePath(), "1 10 * * * fest\n");
  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  startAt(t);
  runUntil(t + 30);
  gClock.nowMs = 1000LL * (t + 3 * 60 + 12);
  scheduler::schedulerPass(state, kSimulatedClock);
  const auto entries = entriesOf("fest");
  ASSERT_EQ(entries.size(), 1u) << "10:01 was skipped by the step and is made up for";
  EXPECT_EQ(entries[0], stampOf(t + 3 * 60 + 12));
}

// Windows' C library reads the zone once per process; a scan must follow
// a zone changed while the service runs (here through TZ, which the C
// library takes over the system's zone).
TEST_F(LoopFixture, ScanFollowsAZoneChangedWhileRunning) {
  writeFile(tablePath(), "0 3 * * * fest\n");
  const std::time_t midnightUtc = localTime(2026, 12, 7, 0, 0, 0);
  ASSERT_NE(std::localtime(&midnightUtc), nullptr);  // the zone is read now
  setEnvironment("TZ", "XYZ-3");                     // UTC+3, without tzset
  scheduler::startScheduler(dir.c_str(), kSimulatedClock, state);
  ASSERT_TRUE(scheduler::scanTable(state, midnightUtc));
  EXPECT_EQ(entriesOf("fest").size(), 1u) << "03:00 in the new zone";
  setTimeZone("UTC0");
}

TEST_F(LoopFixture, TableMissingThenCreatedThenEdited) {
  const std::time_t t = localTime(2026, 12, 7, 10, 0, 0);
  startAt(t);
  runUntil(t + 120);
  EXPECT_EQ(logLines().size(), 1u) << "no table: nothing runs, nothing is logged";

  writeFile(tablePath(), "* * * * * eins\n");
  runUntil(t + 180);
  writeFile(tablePath(), "* * * * * zwei\n# * * * * * drei\n");
  runUntil(t + 240);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "  <*><*><*><*><*><eins>");
  EXPECT_EQ(lines[4], "  <*><*><*><*><*><zwei>");
}

// The programs do not exist: each line gets the entry of a job that did
// not start.
TEST_F(LoopFixture, TwoMatchingLinesRunInFileOrderWithTheirOwnEntries) {
  const std::time_t t = localTime(2026, 12, 7, 10, 5, 0);
  writeFile(tablePath(),
            "5 10 * * * erster  lauf\n"
            "6 10 * * * nie\n"
            "0-10 * * * * zweiter\n");
  startAt(t);
  runUntil(t + 1);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "Jobstart fehlgeschlagen (Fehlercode 2) am " + stampOf(t));
  EXPECT_EQ(lines[2], "  <5><10><*><*><*><erster  lauf>");
  EXPECT_EQ(lines[3], "Jobstart fehlgeschlagen (Fehlercode 2) am " + stampOf(t));
  EXPECT_EQ(lines[4], "  <0-10><*><*><*><*><zweiter>");
}

// True when the C library knows the European rules: 00:30 and 01:30 UTC on
// 25 October 2026 are both 02:30 in Berlin, and 01:30 UTC on 29 March is 03:30.
bool berlinRulesKnown() {
  if (!setTimeZone("Europe/Berlin")) return false;
  const std::time_t fallFirst = 1792888200, fallSecond = 1792891800, spring = 1774747800;
  const std::tm a = *std::localtime(&fallFirst);
  const std::tm b = *std::localtime(&fallSecond);
  const std::tm c = *std::localtime(&spring);
  return a.tm_hour == 2 && a.tm_min == 30 && b.tm_hour == 2 && b.tm_min == 30 && c.tm_hour == 3;
}

TEST_F(LoopFixture, DaylightSavingTimeRepeatsAndSkipsAnHour) {
  if (!berlinRulesKnown()) GTEST_SKIP() << "no Europe/Berlin time zone rules in this C library";
  writeFile(tablePath(), "30 2 * * * nachts\n");
  // Summer time ends on 25 October 2026 at 03:00 CEST: 02:30 comes twice.
  std::time_t t = localTime(2026, 10, 24, 23, 0, 0);
  startAt(t);
  runUntil(t + 6 * 3600);
  EXPECT_EQ(jobStamps().size(), 2u) << "the repeated hour runs twice";

  // It begins on 29 March 2026 at 02:00 CET: 02:30 does not exist.
  TearDown();
  SetUp();
  setTimeZone("Europe/Berlin");
  writeFile(tablePath(), "30 2 * * * nachts\n");
  t = localTime(2026, 3, 28, 23, 0, 0);
  startAt(t);
  runUntil(t + 6 * 3600);
  EXPECT_EQ(jobStamps().size(), 0u) << "the skipped hour does not run";
  setTimeZone("UTC0");
}
