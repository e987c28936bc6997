#include "scheduler/scheduler_loop.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/time_zone.h"
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
// whole entry. A job whose start fails gets an entry of its own, with
// the system's reason; a command without a program names no file.
void runJob(SchedulerState& state, std::time_t now) {
  JobCommand job;
  std::lock_guard<std::mutex> step(gJobStepLock);
  std::uint32_t startError = platform::kErrorFileNotFound;
  if (buildJobCommand(state.line.command, job)) {
    startError = startJob(job.program, job.argv) ? platform::kErrorSuccess : platform::lastError();
  }
  writeJobEntry(state.logPath, now, state.line, startError);
}

// A line that runs at a fixed time: neither its minute nor its hour field
// is "*". Such a line is made up for after a step forward, and held back
// after a step back, so that it runs once for each minute it names.
bool runsAtFixedTime(const cron::CronLine& line) {
  return std::strcmp(line.minute, "*") != 0 && std::strcmp(line.hour, "*") != 0;
}

// The scan of the minute of now, and what a step of the clock since the
// last scan asks for. The rules are those cron daemons have kept for
// decades, counted in minutes of calendar time, so a change of daylight-
// saving time is no step: its repeated hour runs twice, its skipped hour
// not at all, as local time says.
// - Forward by up to kCatchUpEveryLine minutes (a late wake, a small
//   correction): every skipped minute is scanned in order, each against
//   its own local time, then the current one.
// - Forward by up to kStepLimit: the fixed-time lines start once for each
//   skipped minute they match; the others only for the current minute, so
//   an every-minute job does not start sixty times at once.
// - Back by up to kStepLimit: the lines with "*" as minute or hour go on
//   every minute; the fixed-time lines wait until the clock has passed the
//   latest minute scanned, so none runs twice.
// - Beyond kStepLimit either way: a new time; its minute is scanned and
//   the loop goes on from there.
// Jobs started late are stamped with the moment they start.
void scanMinutes(SchedulerState& state, std::time_t now) {
  const std::time_t current = minuteOf(now);
  const std::time_t last = minuteOf(state.lastScan);
  std::time_t latest = minuteOf(state.latestScan);
  const std::time_t skipped = current - last - 1;
  if (skipped > kStepLimit || last - current > kStepLimit) {
    latest = current - 1;
  } else {
    const bool others = skipped <= kCatchUpEveryLine;
    for (std::time_t minute = last + 1; minute < current; ++minute)
      scanTable(state, minute * 60, now, {minute > latest, others});
  }
  state.lastScan = now;
  scanTable(state, now, now, {current > latest, true});
  if (current > latest) state.latestScan = now;
}

}  // namespace

const Clock kSystemClock = {platform::readClock, platform::sleepMs};

void lockJobStep() { gJobStepLock.lock(); }
void unlockJobStep() { gJobStepLock.unlock(); }

// A scan is due once the clock has reached another calendar minute than
// the one scanned last. Counting minutes, not the 60 s since the last
// scan, keeps every scan in the first second or so of its minute: a sleep
// that overshoots by a few milliseconds can no longer walk the scan moment
// through the minute until a whole minute is jumped over. What a step of
// the clock makes up for, or holds back, is scanMinutes' business.
bool ScanDue(std::time_t now, std::time_t lastScan) { return minuteOf(now) != minuteOf(lastScan); }

bool startScheduler(const char* installDir, const Clock& clock, SchedulerState& state) {
  if (!buildPath(state.installDir, installDir, "") || !buildPath(state.logPath, installDir, "\\Horamat.log")) {
    platform::setLastError(platform::kErrorFilenameExcedRange);
    return false;
  }
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
  state.latestScan = state.lastScan;
  return true;
}

bool scanTable(SchedulerState& state, std::time_t minute, std::time_t started, ScanLines lines) {
  // The table path is built afresh for every scan.
  if (!buildPath(state.tablePath, state.installDir, "\\CronTab.txt")) return false;
  std::FILE* table = cron::openTable(state.tablePath);
  if (table == nullptr) return false;

  // Every line of a scan is matched against the same minute, in the zone
  // in force now. The local time is copied: the log entry calls localtime
  // again.
  platform::refreshTimeZone();
  const std::tm* local = std::localtime(&minute);
  if (local != nullptr) {
    const std::tm scanTime = *local;
    cron::clearMasks(state.masks);
    while (platform::readLine(state.lineText, sizeof state.lineText, table) != nullptr) {
      if (cron::splitCronLine(state.lineText, state.line) &&
          (runsAtFixedTime(state.line) ? lines.fixedTime : lines.others)) {
        cron::parseLine(state.line, state.masks);
        if (cron::lineMatches(state.masks, scanTime)) runJob(state, started);
      }
      cron::clearMasks(state.masks);
    }
  }
  std::fclose(table);
  return local != nullptr;
}

bool scanTable(SchedulerState& state, std::time_t now) { return scanTable(state, now, now, kEveryLine); }

void schedulerPass(SchedulerState& state, const Clock& clock) {
  platform::ClockReading now = clock.now();
  if (ScanDue(now.seconds, state.lastScan)) {
    // The minute of now is the one scanned; a fresh reading taken here
    // could already lie in the next minute, which would then never be
    // scanned.
    scanMinutes(state, now.seconds);
    now = clock.now();  // the scan took its time
  }
  // The next look comes at the start of the next second. A fixed second
  // of sleep would let every overshoot (a whole timer tick on Windows)
  // move the look later within its second, until the first look of a
  // minute came almost a second after the minute began.
  clock.sleepMs(kMsPerSecond - now.ms);
}

std::uint32_t runScheduler(const char* installDir, const Clock& clock) {
  static SchedulerState state;
  if (!startScheduler(installDir, clock, state)) return platform::lastError();
  for (;;) schedulerPass(state, clock);
}

std::uint32_t runScheduler(const char* installDir) { return runScheduler(installDir, kSystemClock); }

}  // namespace scheduler
