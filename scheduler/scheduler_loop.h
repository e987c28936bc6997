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
  std::time_t lastScan;  // calendar time whose minute was scanned last
  cron::ScheduleMasks masks;
  cron::CronLine line;
  char lineText[cron::kLineBufferSize];
};

// True when now lies in a later calendar minute than lastScan.
bool ScanDue(std::time_t now, std::time_t lastScan);

// Start-up: opens the log, waits for second 0 of a minute, writes the
// start entry. False (and nothing done) when the log does not open.
bool startScheduler(const char* installDir, const Clock& clock, SchedulerState& state);

// One pass of the main loop: look at the clock, scan if due, sleep until
// the next second begins.
void schedulerPass(SchedulerState& state, const Clock& clock);

// Reads the table once and starts every line that matches the local time
// of now, in file order. False when the table did not open.
bool scanTable(SchedulerState& state, std::time_t now);

// Start-up, then passes forever. Returns only when the log does not open.
void runScheduler(const char* installDir);
void runScheduler(const char* installDir, const Clock& clock);

// Starting one job and writing its entry is one step: a stop of the
// service takes this lock, and keeps it, so that no job is left without
// its whole entry and none starts after the stop was reported.
void lockJobStep();
void unlockJobStep();

}  // namespace scheduler
