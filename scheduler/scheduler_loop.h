// The scheduler's work: a one-minute rhythm, the table read at each beat,
// matching jobs started and logged.
#pragma once
#include <cstdint>
#include <ctime>
#include "platform/process.h"
#include "scheduler/cron_table.h"
#include "settings/install_settings.h"

namespace scheduler {

// The clock and the sleep of the loop, replaceable so that tests run the
// real loop over simulated days. now gives the calendar time with the
// milliseconds into its second.
struct Clock {
  platform::ClockReading (*now)();
  void (*sleepMs)(std::uint32_t ms);
};
extern const Clock kSystemClock;

// A file of the installation: the folder and one name appended to it.
constexpr std::size_t kPathSize = settings::kInstalledPathSize;

struct SchedulerState {
  char logPath[kPathSize];
  char tablePath[kPathSize];
  char installDir[kPathSize];
  std::time_t lastScan;    // calendar time whose minute was scanned last
  std::time_t latestScan;  // the latest minute scanned since the clock last became a new time
  cron::ScheduleMasks masks;
  cron::CronLine line;
  char lineText[cron::kLineBufferSize];
};

// True when now lies in another calendar minute than lastScan, later or,
// after the clock was set back, earlier.
bool ScanDue(std::time_t now, std::time_t lastScan);

// How far the clock may step, in minutes, before the loop stops making up
// for it. Forward by up to kCatchUpEveryLine minutes, every skipped
// minute is scanned; up to kStepLimit, only the lines that run at a fixed
// time (neither minute nor hour "*") are made up for; beyond kStepLimit
// either way the clock shows a new time and only its minute is scanned.
constexpr std::time_t kCatchUpEveryLine = 5;
constexpr std::time_t kStepLimit = 3 * 60;

// Start-up: opens the log, waits for second 0 of a minute, writes the
// start entry. False (and nothing done) when the log does not open, with
// lastError() the system's reason.
bool startScheduler(const char* installDir, const Clock& clock, SchedulerState& state);

// One pass of the main loop: look at the clock, scan if due, sleep until
// the next second begins.
void schedulerPass(SchedulerState& state, const Clock& clock);

// Which lines a scan starts: those that run at a fixed time (neither the
// minute nor the hour field is "*"), the others, or both.
struct ScanLines {
  bool fixedTime;
  bool others;
};
constexpr ScanLines kEveryLine = {true, true};

// Reads the table once and starts every chosen line that matches the local
// time of minute, in file order; their entries are stamped with started,
// the moment they start. False when the table did not open.
bool scanTable(SchedulerState& state, std::time_t minute, std::time_t started, ScanLines lines);
// Every line, matched and stamped with now.
bool scanTable(SchedulerState& state, std::time_t now);

// Start-up, then passes forever. Returns only when the log does not open:
// the system's code of the failed open.
std::uint32_t runScheduler(const char* installDir);
std::uint32_t runScheduler(const char* installDir, const Clock& clock);

// Starting one job and writing its entry is one step: a stop of the
// service takes this lock, and keeps it, so that no job is left without
// its whole entry and none starts after the stop was reported.
void lockJobStep();
void unlockJobStep();

}  // namespace scheduler
