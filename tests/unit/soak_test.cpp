// Thirty days of the real loop on the simulated clock, each window in one
// go: every minute of local time is scanned exactly once, in the first
// 0.1 s of the minute, twice in the hour that repeats when summer time
// ends, never in the hour that is skipped when it begins. The sleeps
// overshoot the way Windows' timer does, with a random jitter on top.
// The job does not exist, so the scans start no processes; every matching
// line still gets its entry, and the entries are what is counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "scheduler/cron_log.h"
#include "scheduler/scheduler_loop.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

constexpr int kDays = 30;

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

// "Sun Oct 25 02:30:00 2026" without its seconds: a scan in the first
// second of a minute is stamped with the second it ran in.
constexpr std::size_t kSecondsAt = 17;
std::string minuteOfStamp(std::string stamp) { return stamp.replace(kSecondsAt, 2, "--"); }

std::string minuteStampOf(std::time_t t) {
  char stamp[scheduler::kStampSize];
  scheduler::formatStamp(*std::localtime(&t), stamp);
  return minuteOfStamp(std::string(stamp, std::strlen(stamp) - 1));
}

struct Window {
  const char* why;
  const char* timeZone;
  int year, month, day;     // local midnight where the window begins
  const char* changeStamp;  // a minute of the changed hour ("" for none)
  int changeCount;          // how often that minute is scanned
  long minutes;             // minutes of calendar time in the window
};

}  // namespace

TEST(Soak, ThirtyDaysScanEveryLocalMinuteOnce) {
  const Window windows[] = {
      {"UTC, across the leap day of 2028", "UTC0", 2028, 2, 15, "", 0, kDays * 1440L},
      {"Berlin, summer time ends on 25 October 2026", "Europe/Berlin", 2026, 10, 10,
       "Sun Oct 25 02:30:-- 2026", 2, kDays * 1440L + 60},
      {"Berlin, summer time begins on 29 March 2026", "Europe/Berlin", 2026, 3, 15,
       "Sun Mar 29 02:30:-- 2026", 0, kDays * 1440L - 60},
  };
  for (const Window& w : windows) {
    SCOPED_TRACE(w.why);
    if (std::strcmp(w.timeZone, "UTC0") != 0 && !berlinRulesKnown()) {
      std::printf("skipped (no Europe/Berlin rules in this C library): %s\n", w.why);
      continue;
    }
    ASSERT_TRUE(setTimeZone(w.timeZone));
    const std::string dir = makeTempDir("soak");
    writeFile(joinPath(dir, "CronTab.txt"), "* * * * * nicht_da\n");
    gClock = SimulatedClock{};
    gClock.overshootMicros = 15600;
    gClock.jitterMaxMs = 20;

    const std::time_t begin = localTime(w.year, w.month, w.day, 0, 0, 0);
    const std::time_t end = begin + w.minutes * 60;
    ASSERT_EQ(localTime(w.year, w.month, w.day + kDays, 0, 0, 0), end) << "the window is 30 local days";
    gClock.nowMs = static_cast<std::int64_t>(begin - 7) * 1000;
    scheduler::SchedulerState state{};
    ASSERT_TRUE(scheduler::startScheduler(dir.c_str(), kSimulatedClock, state));

    // Every scan is noted here as the loop makes it, and each must come in
    // the first 0.1 s of a minute later than the one before.
    long scans = 0;
    long lateScans = 0;
    long backwards = 0;
    std::time_t lastScan = state.lastScan;
    while (gClock.nowMs < static_cast<std::int64_t>(end) * 1000) {
      const std::int64_t before = gClock.nowMs;
      scheduler::schedulerPass(state, kSimulatedClock);
      if (state.lastScan != lastScan) {
        ++scans;
        if (before % 60000 > 100) ++lateScans;
        if (state.lastScan / 60 != lastScan / 60 + 1) ++backwards;
        lastScan = state.lastScan;
      }
    }
    EXPECT_EQ(scans, w.minutes);
    EXPECT_EQ(lateScans, 0);
    EXPECT_EQ(backwards, 0) << "a minute of calendar time was skipped or scanned twice";

    // The log, minute by minute of local time, against the clock's own
    // reading of every minute of the window.
    std::map<std::string, int> logged;
    long entries = 0;
    for (const std::string& line : splitLines(readFile(joinPath(dir, "Horamat.log")))) {
      const std::string stamp = jobEntryStamp(line);
      if (!stamp.empty()) {
        ++logged[minuteOfStamp(stamp)];
        ++entries;
      }
    }
    std::map<std::string, int> expected;
    for (std::time_t t = begin; t < end; t += 60) ++expected[minuteStampOf(t)];
    EXPECT_EQ(entries, w.minutes);
    EXPECT_EQ(logged.size(), expected.size());
    EXPECT_TRUE(logged == expected) << "the log's minutes differ from the clock's";
    const auto twice = std::count_if(logged.begin(), logged.end(), [](const auto& m) { return m.second == 2; });
    if (w.changeStamp[0] != '\0') {
      const auto found = logged.find(w.changeStamp);
      EXPECT_EQ(found == logged.end() ? 0 : found->second, w.changeCount);
      EXPECT_EQ(twice, w.changeCount == 2 ? 60 : 0) << "only the repeated hour runs twice";
    } else {
      EXPECT_EQ(twice, 0);
    }
    EXPECT_TRUE(std::all_of(logged.begin(), logged.end(), [](const auto& m) { return m.second <= 2; }));
    removeTree(dir);
  }
  setTimeZone("UTC0");
}
