// What several test programs share: scratch folders, whole-file reads and
// writes, and a simulated clock for the scheduler loop.
#pragma once
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "scheduler/scheduler_loop.h"

namespace testsupport {

// A fresh empty folder under the system's temp folder, named after tag.
std::string makeTempDir(const char* tag);
void removeTree(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool pathExists(const std::string& path);
// Joins folder and name with the platform's separator.
std::string joinPath(const std::string& dir, const std::string& name);
std::vector<std::string> splitLines(const std::string& text);
// The stamp (without its newline) of the first line of a job entry,
// "Job gestartet am <stamp>" or, for a job that did not start,
// "Jobstart fehlgeschlagen (Fehlercode <n>) am <stamp>"; "" for any other
// line.
std::string jobEntryStamp(const std::string& line);

// The loop's clock in tests: time in milliseconds, advanced only by the
// loop's own sleeps, which may overshoot by a fixed amount and a random
// jitter, as Windows' timer granularity does.
struct SimulatedClock {
  std::int64_t nowMs = 0;
  std::uint32_t overshootMicros = 0;  // added to every sleep
  std::uint32_t jitterMaxMs = 0;      // 0..jitterMaxMs added at random
  std::mt19937 random{12345};
  std::uint64_t sleeps = 0;
  std::uint64_t sleptMs = 0;
  std::int64_t overshootRemainder = 0;  // micros not yet added
};
extern SimulatedClock gClock;
extern const scheduler::Clock kSimulatedClock;

// Local calendar time of the given local date and time (mktime, DST guessed).
std::time_t localTime(int year, int month, int day, int hour, int minute, int second);

// Sets the process's time zone (TZ, tzset). False where the C library has
// no such zone.
bool setTimeZone(const char* tz);

}  // namespace testsupport

namespace testsupport {

// The process id of a running service as the system's own Service
// Control Manager knows it; 0 when there is none.
long serviceProcessId(const char* serviceName);

// Ends the process of a service that will not stop.
void endServiceProcess(const char* serviceName);

// What the POSIX stand-in keeps on disk, for tests that look beneath the
// layer; the one place of tests and scripts that knows its layout
// (tests/tools/service_ctl hands it to the scripts). Under Windows both
// are empty.
// The registration of a service as "key=value" lines ("program=",
// "type=", "start=", "error=", "account="); "" when it has none.
std::string standInRegistration(const char* serviceName);
// The folder of a key of HKEY_LOCAL_MACHINE, whose files are its values.
std::string standInKeyFolder(const char* subKey);

// Sets (or, with nullptr, removes) an environment variable of this process.
void setEnvironment(const char* name, const char* value);

// Runs program with this process's own arguments, argv[0] left out, as
// they were given (on Windows: the command line as it came), waits for it
// and returns its exit code; -1 when it did not start.
int forwardCall(const char* program, char** argv);

// Natively: points the stand-in at a fresh root folder and returns it (the
// caller removes it). Under Windows the real registry and Service Control
// Manager are used and the result is empty.
std::string useScratchPlatformRoot();

}  // namespace testsupport
