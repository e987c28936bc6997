// Jobwache: runs one job in front of which an administrator put it in the
// table, waits for its end, and keeps one result line per run in
// Jobwache.log of the installation, the job's output in Ausgaben\.
// The scheduler itself never waits for a job; this program does it for
// the jobs that ask for it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace jobwache {

constexpr int kExitWrongCall = 123;
constexpr int kExitTimeLimit = 124;
constexpr int kExitSkipped = 125;
constexpr int kExitNotStarted = 127;

constexpr const char* kLogName = "\\Jobwache.log";
constexpr const char* kOldLogName = "\\Jobwache.log.1";
constexpr const char* kOutputFolder = "\\Ausgaben";
constexpr const char* kEventSource = "Horamat Jobwache";
// The log passes this, and becomes Jobwache.log.1; one output file holds
// at most this much of a run.
constexpr std::uint64_t kLogLimit = 1024 * 1024;
constexpr std::uint64_t kOutputLimit = 1024 * 1024;

// A result line: the installation's folder, a 16-digit name, ".txt", the
// command: all of it fits.
constexpr std::size_t kResultLineSize = 1024;
constexpr std::size_t kOutputPathSize = 512;

// One line of Jobwache.log:
//   <stamp>; <dauer> s; <outcome>; Verzoegerung <d> s; Ausgabe <path or ->; <command>
// outcome: "beendet <code>" (codes from 0x80000000 on also in hex),
// "Zeitlimit", "uebersprungen", "nicht gestartet (Fehlercode <n>)".
struct ResultLine {
  char stamp[32];
  std::uint64_t seconds;
  char outcome[64];
  std::uint64_t delay;
  char output[kOutputPathSize];
  char command[256];
};
// False when the text is no result line (a line cut by a full disk).
bool parseResultLine(const char* text, ResultLine& result);

// The newest result line of command in the log of the installation at
// installDir (Jobwache.log, then Jobwache.log.1). False when it has none.
bool lastResult(const char* installDir, const char* command, ResultLine& result);

// The name of a command's output file and lock: 16 hex digits of its hash.
void commandName(const char* command, char (&name)[17]);

// The whole program; returns its exit code.
int jobwacheMain(int argc, char** argv);

}  // namespace jobwache
