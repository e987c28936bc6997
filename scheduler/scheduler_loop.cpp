#include "scheduler/scheduler_loop.h"

#include <cstdio>
#include <mutex>

#include "platform/files.h"
#include "platform/process.h"
#include "scheduler/cron_log.h"
#include "scheduler/job_start.h"

namespace scheduler {

namespace {

std::mutex gJobStepLock;

constexpr std::uint32_t kMsPerSecond = 1000;

// Whole minutes of calendar time; floor, so that the minute before the
// epoch is not folded into the one after it.
std::time_t minuteOf(std::time_t t) { return t >= 0 ? t / 60 : -((-t + 59) / 60); }

bool buildPath(char (&out)[kPathSize], const char* dir, const char* name) {
  int n = std::snprintf(out, kPathSize, "%s%s", dir, name);
  return n >= 0 && static_cast<std::size_t>(n) < kPathSize;
}

// Starting a job and writing its entry is one step under the job-step
// lock, so a stop of the service never leaves a started job without its
// whole entry. A job whose start fails still gets its entry.
void runJob(SchedulerState& state, std::time_t now) {
  JobCommand job;
  std::lock_guard<std::mutex> step(gJobStepLock);
  if (buildJobCommand(state.line.command, job)) startJob(job.program, job.argv);
  writeJobEntry(state.logPath, now, state.line);
}

}  // namespace

const Clock kSystemClock = {platform::readClock, platform::sleepMs};

void lockJobStep() { gJobStepLock.lock(); }
void unlockJobStep() { gJobStepLock.unlock(); }

// A scan is due once the clock has reached a calendar minute later than
// the one scanned last. Counting minutes, not the 60 s since the last
// scan, keeps every scan in the first second or so of its minute: a sleep
// that overshoots by a few milliseconds can no longer walk the scan moment
// through the minute until a whole minute is jumped over. A clock set
// forward scans at once; one set back scans nothing until it passes the
// minute scanned last, so a small correction never runs a minute twice.
bool ScanDue(std::time_t now, std::time_t lastScan) { return minuteOf(now) > minuteOf(lastScan); }

bool startScheduler(const char* installDir, const Clock& clock, SchedulerState& state) {
  if (!buildPath(state.installDir, installDir, "") || !buildPath(state.logPath, installDir, "\\Horamat.log"))
    return false;
  std::FILE* log = platform::openFile(state.logPath, "a+");
  if (log == nullptr) return false;

  // The log stays open while we wait for second 0 of a minute.
  for (;;) {
    std::time_t t = clock.now().seconds;
    const std::tm* local = std::localtime(&t);
    if (local != nullptr && local->tm_sec == 0) break;
    clock.sleepMs(10);
  }
  const std::time_t started = clock.now().seconds;
  writeStartEntry(log, started);
  // The start minute counts as not yet scanned: the first pass scans it.
  state.lastScan = (minuteOf(started) * 60) - 1;
  return true;
}

bool scanTable(SchedulerState& state, std::time_t now) {
  // The table path is built afresh for every scan.
  if (!buildPath(state.tablePath, state.installDir, "\\CronTab.txt")) return false;
  std::FILE* table = cron::openTable(state.tablePath);
  if (table == nullptr) return false;

  // Every line of a scan is matched against the same minute. The local
  // time is copied: the log entry calls localtime again.
  const std::tm* local = std::localtime(&now);
  if (local != nullptr) {
    const std::tm scanTime = *local;
    cron::clearMasks(state.masks);
    while (platform::readLine(state.lineText, sizeof state.lineText, table) != nullptr) {
      if (cron::splitCronLine(state.lineText, state.line)) {
        cron::parseLine(state.line, state.masks);
        if (cron::lineMatches(state.masks, scanTime)) runJob(state, now);
      }
      cron::clearMasks(state.masks);
    }
  }
  std::fclose(table);
  return local != nullptr;
}

void schedulerPass(SchedulerState& state, const Clock& clock) {
  platform::ClockReading now = clock.now();
  if (ScanDue(now.seconds, state.lastScan)) {
    // The minute of now is the one scanned; a fresh reading taken here
    // could already lie in the next minute, which would then never be
    // scanned.
    state.lastScan = now.seconds;
    scanTable(state, now.seconds);
    now = clock.now();  // the scan took its time
  }
  // The next look comes at the start of the next second. A fixed second
  // of sleep would let every overshoot (a whole timer tick on Windows)
  // move the look later within its second, until the first look of a
  // minute came almost a second after the minute began.
  clock.sleepMs(kMsPerSecond - now.ms);
}

void runScheduler(const char* installDir, const Clock& clock) {
  static SchedulerState state;
  if (!startScheduler(installDir, clock, state)) return;
  for (;;) schedulerPass(state, clock);
}

void runScheduler(const char* installDir) { runScheduler(installDir, kSystemClock); }

}  // namespace scheduler
