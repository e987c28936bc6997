#include "jobwache/jobwache.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "jobwache/watch_options.h"
#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/job_watch.h"
#include "platform/process.h"
#include "scheduler/cron_log.h"
#include "scheduler/job_start.h"
#include "settings/install_settings.h"

namespace jobwache {

namespace {

constexpr const char* kUsage =
    "Aufruf: Jobwache [/Zeitlimit:<Sekunden>] [/Verzoegerung:<Sekunden>] [/Parallel] <Programm> [<Argument> ...]";
constexpr const char* kLogLockName = "\\Jobwache.lock";
// Runs that end at the same moment take turns at the log; one that waits
// longer than this appends without the lock (each append is whole anyway)
// and leaves the log as long as it is.
constexpr std::uint32_t kLogLockWaitMs = 30000;
constexpr const char* kFieldSeparator = "; ";
// Exit codes from here on are NTSTATUS values, which Windows shows in hex.
constexpr std::uint32_t kFirstStatusCode = 0x80000000u;

struct Paths {
  char log[settings::kInstalledPathSize];
  char oldLog[settings::kInstalledPathSize];
  char folder[kOutputPathSize];
  char logLock[kOutputPathSize];
  char output[kOutputPathSize];
  char commandLock[kOutputPathSize];
};

bool joined(char* out, std::size_t size, const char* a, const char* b, const char* c = "") {
  return platform::copyText(out, size, a) && platform::appendText(out, size, b) && platform::appendText(out, size, c);
}

bool buildPaths(const char* installDir, const char* command, Paths& p) {
  char name[17];
  commandName(command, name);
  char leaf[32];
  const int n = std::snprintf(leaf, sizeof leaf, "\\%s", name);
  return n > 0 && static_cast<std::size_t>(n) < sizeof leaf && joined(p.log, sizeof p.log, installDir, kLogName) &&
         joined(p.oldLog, sizeof p.oldLog, installDir, kOldLogName) &&
         joined(p.folder, sizeof p.folder, installDir, kOutputFolder) &&
         joined(p.logLock, sizeof p.logLock, p.folder, kLogLockName) &&
         joined(p.output, sizeof p.output, p.folder, leaf, ".txt") &&
         joined(p.commandLock, sizeof p.commandLock, p.folder, leaf, ".lock");
}

// What the job writes, up to kOutputLimit; the rest is counted.
struct Output {
  std::FILE* file = nullptr;
  std::uint64_t kept = 0;
  std::uint64_t dropped = 0;
};

void keepOutput(void* context, const char* data, std::size_t size) {
  Output& out = *static_cast<Output*>(context);
  const std::uint64_t room = out.file != nullptr ? kOutputLimit - out.kept : 0;
  const std::size_t n = size < room ? size : static_cast<std::size_t>(room);
  if (n > 0 && std::fwrite(data, 1, n, out.file) == n) out.kept += n;
  out.dropped += size - n;
}

void closeOutput(Output& out) {
  if (out.file == nullptr) return;
  if (out.dropped > 0) {
    std::fprintf(out.file, "%s[Jobwache: Ausgabe nach %" PRIu64 " Bytes abgeschnitten, %" PRIu64 " Bytes verworfen]%s",
                 platform::lineEnd(), out.kept, out.dropped, platform::lineEnd());
  }
  std::fclose(out.file);
  out.file = nullptr;
}

enum class Outcome { Exited, TimeLimit, Skipped, NotStarted };

struct Run {
  Outcome outcome = Outcome::NotStarted;
  std::uint32_t code = 0;  // Exited: the job's; NotStarted: the error
  std::time_t start = 0;
  std::uint64_t seconds = 0;
  std::uint32_t delay = 0;
  bool hasOutput = false;
};

void describeOutcome(const Run& run, char* out, std::size_t size) {
  int n = 0;
  switch (run.outcome) {
    case Outcome::Exited:
      n = run.code >= kFirstStatusCode
              ? std::snprintf(out, size, "beendet %lu (0x%08lX)", static_cast<unsigned long>(run.code),
                              static_cast<unsigned long>(run.code))
              : std::snprintf(out, size, "beendet %lu", static_cast<unsigned long>(run.code));
      break;
    case Outcome::TimeLimit: n = std::snprintf(out, size, "Zeitlimit"); break;
    case Outcome::Skipped: n = std::snprintf(out, size, "uebersprungen"); break;
    case Outcome::NotStarted:
      n = std::snprintf(out, size, "nicht gestartet (Fehlercode %lu)", static_cast<unsigned long>(run.code));
      break;
  }
  if (n < 0 || static_cast<std::size_t>(n) >= size) out[0] = '\0';
}

// The line without its end; false when it does not fit.
bool formatResult(const Run& run, const Paths& paths, const char* command, char (&line)[kResultLineSize]) {
  char stamp[scheduler::kStampSize];
  const std::tm* local = std::localtime(&run.start);
  if (local == nullptr) return false;
  scheduler::formatStamp(*local, stamp);
  stamp[std::strcspn(stamp, "\n")] = '\0';
  char outcome[64];
  describeOutcome(run, outcome, sizeof outcome);
  const int n = std::snprintf(line, sizeof line, "%s; %" PRIu64 " s; %s; Verzoegerung %lu s; Ausgabe %s; %s", stamp,
                              run.seconds, outcome, static_cast<unsigned long>(run.delay),
                              run.hasOutput ? paths.output : "-", command);
  return n > 0 && static_cast<std::size_t>(n) < sizeof line;
}

// Under the log's lock: a log past its limit becomes the one older
// generation, then the line goes on whole.
void appendResult(const Paths& paths, const char* line) {
  char whole[kResultLineSize + 4];
  if (!joined(whole, sizeof whole, line, platform::lineEnd())) return;
  platform::FileLock lock{};
  const bool locked = platform::takeFileLock(paths.logLock, true, kLogLockWaitMs, lock);
  std::uint64_t size = 0;
  if (locked && platform::fileSize(paths.log, size) && size >= kLogLimit) {
    platform::replaceByRename(paths.log, paths.oldLog);
  }
  platform::appendWhole(paths.log, whole, std::strlen(whole));
  platform::releaseFileLock(lock);
}

std::uint32_t randomDelay(std::uint32_t most) {
  if (most == 0) return 0;
  std::random_device source;
  return std::uniform_int_distribution<std::uint32_t>(0, most)(source);
}

std::uint64_t msOf(const platform::ClockReading& c) {
  return static_cast<std::uint64_t>(c.seconds) * 1000 + c.ms;
}

int wrongCall(const char* why) {
  std::fprintf(stderr, "Jobwache: %s\n%s\n", why, kUsage);
  return kExitWrongCall;
}

// Starts and watches the job; fills run and output.
void watch(const WatchOptions& options, const char* const* jobArgv, const char* commandLine, const Paths& paths,
           Run& run) {
  char resolved[scheduler::kJobTextSize + 16];
  if (!scheduler::resolveProgram(jobArgv[0], resolved, sizeof resolved)) {
    run.code = platform::kErrorFileNotFound;
    return;
  }
  Output output{};
  output.file = platform::openFile(paths.output, "wb");
  const platform::WatchedRun watched =
      platform::runWatchedJob(resolved, commandLine, jobArgv, options.timeLimit, keepOutput, &output);
  closeOutput(output);
  run.hasOutput = true;
  if (watched.end == platform::JobEnd::NotStarted) {
    platform::removeFile(paths.output);
    run.hasOutput = false;
    run.code = watched.error;
  } else if (watched.end == platform::JobEnd::TimedOut) {
    run.outcome = Outcome::TimeLimit;
  } else {
    run.outcome = Outcome::Exited;
    run.code = watched.exitCode;
  }
}

int exitCodeOf(const Run& run) {
  switch (run.outcome) {
    case Outcome::Exited: return static_cast<int>(run.code);
    case Outcome::TimeLimit: return kExitTimeLimit;
    case Outcome::Skipped: return kExitSkipped;
    case Outcome::NotStarted: return kExitNotStarted;
  }
  return kExitNotStarted;
}

// Splits at the first "; " from text on; the piece is terminated in place.
char* nextField(char*& text) {
  char* field = text;
  if (field == nullptr) return nullptr;
  char* end = std::strstr(text, kFieldSeparator);
  if (end == nullptr) {
    text = nullptr;
  } else {
    *end = '\0';
    text = end + std::strlen(kFieldSeparator);
  }
  return field;
}

bool readNumberWith(const char* text, const char* before, const char* after, std::uint64_t& value) {
  const std::size_t b = std::strlen(before);
  if (std::strncmp(text, before, b) != 0) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text + b, &end, 10);
  if (end == text + b || std::strcmp(end, after) != 0) return false;
  value = v;
  return true;
}

bool lastResultIn(const char* path, const char* command, ResultLine& result) {
  std::FILE* file = platform::openFile(path, "r");
  if (file == nullptr) return false;
  char line[kResultLineSize + 4];
  ResultLine candidate{};
  bool found = false;
  while (platform::readLine(line, sizeof line, file) != nullptr) {
    if (parseResultLine(line, candidate) && std::strcmp(candidate.command, command) == 0) {
      result = candidate;
      found = true;
    }
  }
  std::fclose(file);
  return found;
}

}  // namespace

void commandName(const char* command, char (&name)[17]) {
  // FNV-1a, 64 bits: two commands that share a name would share a lock.
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(command); *c != '\0'; ++c) {
    hash = (hash ^ *c) * 1099511628211ull;
  }
  std::snprintf(name, sizeof name, "%016" PRIX64, hash);
}

bool parseResultLine(const char* text, ResultLine& result) {
  char copy[kResultLineSize + 4];
  if (!platform::copyText(copy, sizeof copy, text)) return false;
  copy[std::strcspn(copy, "\r\n")] = '\0';
  char* rest = copy;
  const char* stamp = nextField(rest);
  const char* seconds = nextField(rest);
  const char* outcome = nextField(rest);
  const char* delay = nextField(rest);
  const char* output = nextField(rest);
  const char* command = rest;  // the rest, "; " and all
  return command != nullptr && platform::copyText(result.stamp, sizeof result.stamp, stamp) &&
         readNumberWith(seconds, "", " s", result.seconds) &&
         platform::copyText(result.outcome, sizeof result.outcome, outcome) &&
         readNumberWith(delay, "Verzoegerung ", " s", result.delay) && std::strncmp(output, "Ausgabe ", 8) == 0 &&
         platform::copyText(result.output, sizeof result.output, output + 8) &&
         platform::copyText(result.command, sizeof result.command, command);
}

bool lastResult(const char* installDir, const char* command, ResultLine& result) {
  Paths paths{};
  return buildPaths(installDir, command, paths) &&
         (lastResultIn(paths.log, command, result) || lastResultIn(paths.oldLog, command, result));
}

int jobwacheMain(int argc, char** argv) {
  // Cut as the scheduler cuts a table line: the text after our own name,
  // at blanks, quotes meaning nothing.
  char arguments[scheduler::kJobTextSize];
  static scheduler::JobCommand pieces;
  if (!platform::ownArguments(argc, argv, arguments, sizeof arguments)) {
    return wrongCall("Befehl zu lang (hoechstens 255 Zeichen)");
  }
  WatchOptions options{};
  if (!scheduler::buildJobCommand(arguments, pieces) || !parseWatchOptions(pieces.argv, options)) {
    char why[512];
    if (pieces.argv[0] == nullptr) options.error = OptionError::NoProgram;
    describeOptionError(options, pieces.argv, why, sizeof why);
    return wrongCall(why);
  }
  const char* const* jobArgv = pieces.argv + options.program;
  char command[scheduler::kJobTextSize];
  if (!scheduler::joinCommandLine(jobArgv, command, sizeof command)) return wrongCall("Befehl zu lang");

  if (settings::readInstallSettings(settings::Variant::Scheduler) != 1) {
    std::fprintf(stderr, "Jobwache: Installation nicht gefunden (Path unter HKEY_LOCAL_MACHINE\\%s); \"%s\" nicht gestartet\n",
                 settings::kSettingsKey, command);
    return kExitNotStarted;
  }
  Paths paths{};
  if (!buildPaths(settings::InstallSettings.path, command, paths)) return kExitNotStarted;
  platform::makeFolder(paths.folder);

  Run run{};
  run.delay = randomDelay(options.delay);
  if (run.delay > 0) platform::sleepMs(run.delay * 1000);
  run.start = std::time(nullptr);
  const platform::ClockReading began = platform::readClock();

  // One run of a command at a time: the lock is its output file's. With
  // /Parallel a run that finds it taken runs all the same, and its output
  // goes nowhere, so that the two never write into one file.
  platform::FileLock lock{};
  const bool alone = platform::takeFileLock(paths.commandLock, false, 0, lock);
  const std::uint32_t lockError = alone ? 0 : platform::lastError();
  if (!alone && !options.parallel) {
    run.outcome = lockError == platform::kErrorSharingViolation ? Outcome::Skipped : Outcome::NotStarted;
    run.code = lockError;
  } else {
    Paths usable = paths;
    if (!alone) platform::copyText(usable.output, sizeof usable.output, "");
    watch(options, jobArgv, command, usable, run);
    if (!alone) run.hasOutput = false;
  }
  const platform::ClockReading ended = platform::readClock();
  run.seconds = msOf(ended) > msOf(began) ? (msOf(ended) - msOf(began)) / 1000 : 0;

  char line[kResultLineSize];
  if (formatResult(run, paths, command, line)) {
    appendResult(paths, line);
    if (run.outcome != Outcome::Exited || run.code != 0) {
      char event[kResultLineSize + 16];
      if (joined(event, sizeof event, "Jobwache: ", line)) {
        platform::reportEvent(kEventSource, run.outcome != Outcome::Skipped, event);
      }
    }
  }
  platform::releaseFileLock(lock);
  return exitCodeOf(run);
}

}  // namespace jobwache
