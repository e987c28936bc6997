// Echtprobe: what Wine cannot show, checked on a real Windows machine.
// The checks drive the real programs (Horamat, Zyklant, CronCheck, the
// setup, the MSI) and report one line each: passed, failed with what was
// seen, or skipped with the reason. Everything a check makes is recorded
// here and taken away again at the end, also after a failure.
#pragma once
#include <cstddef>
#include <cstdint>

namespace probe {

constexpr std::size_t kTextSize = 1024;
// Command lines of the programs the checks start (msiexec, icacls).
constexpr std::size_t kCommandSize = 4096;

// --- reporting
void reportPassed(const char* name);
void reportFailed(const char* name, const char* seenFormat, ...) __attribute__((format(printf, 2, 3)));
void reportSkipped(const char* name, const char* why);
// passed when ok, else failed with what was seen.
bool expect(bool ok, const char* name, const char* seenFormat, ...) __attribute__((format(printf, 3, 4)));
void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
int failures();
// The closing line: how many passed, failed and were skipped.
void printSummary();

// snprintf into a fixed buffer; false (and the text cut) when it did not fit.
bool format(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// --- the machine
// Wine's version, or nullptr on Windows (ntdll exports wine_get_version
// only under Wine).
const char* wineVersion();
bool elevated();
void sleepSeconds(unsigned seconds);

// What a check needs to know of the run.
struct Run {
  char programs[kTextSize];  // the folder of the built programs
  char scratch[kTextSize];   // the check's own folder, C:\HoramatEchtprobe
  char self[kTextSize];      // this program
  char setup[kTextSize];     // Horamat-Setup-<version>.exe, or empty
  char msi[kTextSize];       // Horamat-<version>.msi, or empty
  char programData[kTextSize];  // %ProgramData%\Horamat
  const char* wine;          // Wine's version, or nullptr
};
extern Run gRun;

// --- files and folders
bool fileExists(const char* path);
bool folderExists(const char* path);
bool writeFile(const char* path, const char* text);
// The file's text (at most size - 1 bytes); false when it cannot be read.
bool readFile(const char* path, char* text, std::size_t size);
bool copyFile(const char* from, const char* to);
// Removes the folder and all in it; true when it is gone.
bool removeTree(const char* path);
bool makeFolder(const char* path);

// --- processes
// Runs the command line and waits up to limitSeconds; the exit code, or
// -1 when it did not start or end. Output goes to outputFile when given.
long runCommand(const char* commandLine, unsigned limitSeconds, const char* outputFile = nullptr);
// Ends every process whose program lies below the folder.
void endProcessesBelow(const char* folder);
bool processRunning(std::uint32_t pid);

// --- services and registry
enum class ServiceState : std::uint32_t { none = 0, stopped = 1, startPending = 2, stopPending = 3, running = 4 };
struct ServiceView {
  ServiceState state;
  std::uint32_t win32ExitCode;
  std::uint32_t specificExitCode;
};
ServiceView viewService(const char* name);
// Waits up to limitSeconds for the state; the last view.
ServiceView awaitService(const char* name, ServiceState state, unsigned limitSeconds);
bool stopService(const char* name);
bool deleteService(const char* name);
// The description the Services console shows, or empty.
bool serviceDescription(const char* name, char* text, std::size_t size);
// The recovery actions: reset period, and up to 8 actions (type, delay);
// whether they also follow a stop with an exit code other than 0.
struct Recovery {
  std::uint32_t resetSeconds;
  std::uint32_t count;
  std::uint32_t type[8];
  std::uint32_t delayMs[8];
  bool onErrorStop;
};
bool serviceRecovery(const char* name, Recovery* recovery);

bool keyExists(const char* key);
bool readString(const char* key, const char* name, char* text, std::size_t size);
bool writeString(const char* key, const char* name, const char* value);
// A REG_EXPAND_SZ value as stored, not expanded; false for any other type.
bool readExpandString(const char* key, const char* name, char* text, std::size_t size);
bool readNumber(const char* key, const char* name, std::uint32_t* value);
bool deleteKey(const char* key);
// An entry in Windows' list of programs whose DisplayName is the name.
bool listedProgram(const char* displayName);

// --- the Application event log
// The newest record of the source written at or after since (seconds
// since 1970, UTC) whose event id (its low 16 bits) is the id; in text
// what the Event Viewer shows for it: the message file's entry with the
// record's insertion strings. False when there is no such record.
bool findEvent(const char* source, std::uint32_t id, long long since, const char* messageFile, char* text,
               std::size_t size);

// --- accounts
// Makes a local standard user with a fresh password; false when it cannot.
bool makeUser(const char* name, char* password, std::size_t size);
bool deleteUser(const char* name);
// The account's SID as text ("S-1-5-21-..."), empty when unknown.
bool userSid(const char* name, char* text, std::size_t size);
bool grantRight(const char* name, const char* right);
bool revokeRight(const char* name, const char* right);
// Impersonates the user (a network logon: every standard user may have
// one, also on Windows Server); false when the logon fails.
bool becomeUser(const char* name, const char* password);
void becomeSelf();
// Opens for writing (a file) or creates a file in it (a folder); the
// error code, 0 when it worked.
std::uint32_t writeAccess(const char* path);
std::uint32_t changeRightsAccess(const char* path);
// Gives the user an entry of its own with full control on the folder.
bool grantFullControl(const char* path, const char* user);

// --- time
// Time service stopped, clock stepped by seconds (negative: back), and
// the whole undone by restoreClock.
bool stepClock(long long seconds);
void restoreClock();
bool setTimeZone(const char* keyName);
void restoreTimeZone();
// The offset of local time from UTC now, in minutes (east positive).
long localOffsetMinutes();
void currentTimeZone(char* keyName, std::size_t size);

// --- what the checks made, undone by cleanUp
void rememberUser(const char* name);
void cleanUp();

// --- the groups of checks
void checkServiceStatus();
void checkTableWhileJobRuns();
void checkSessionZero();
void checkTimeZone();
void checkClockSteps();
void checkServiceAccount();
void checkSetupAndRights();
void checkMsi();
// The installation by hand that the service checks share, taken away.
void finishByHand();
// An installation of Horamat that is not the check's own: what shows it.
bool foreignInstallation(char* seen, std::size_t size);
// Everything the checks may have made, whatever state they left.
void removeEverything();

// The job the checks let the service start: Echtprobe --auftrag ...
int runAsJob(int argc, char** argv);

}  // namespace probe
