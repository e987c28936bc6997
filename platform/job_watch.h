// What Jobwache needs of the system to run one job and watch it to its
// end: its own command line, a job started with its output on a pipe and
// a time limit that takes everything the job started with it, locks held
// by an open file, whole-line appends, and the event log.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// The program's own command line without its own name: Windows hands a
// process one line (GetCommandLineA), of which the name is the first
// piece, in quotes when it has them; the rest is as it came. The stand-in
// joins argv[1..] with single blanks. False when it does not fit.
bool ownArguments(int argc, char** argv, char* out, std::size_t size);

// Called with every piece of output the job writes, in order; stdout and
// stderr arrive mixed, as they were written.
using OutputSink = void (*)(void* context, const char* data, std::size_t size);

enum class JobEnd { Exited, TimedOut, NotStarted };

struct WatchedRun {
  JobEnd end;
  std::uint32_t exitCode;  // Exited: the job's own code (Windows' 32 bits)
  std::uint32_t error;     // NotStarted: why, as GetLastError gives it
};

// Starts the resolved file with commandLine (argv: the same in pieces, as
// for startProcess), in the current folder, with the environment, and with
// no handles of this process but the three it is given: standard input
// from the null device, standard output and error on one pipe, whose
// content goes to sink. Waits for the job's end. limitSeconds > 0: at the
// limit the job and every process it started are ended, and so is what of
// them still runs when the job itself ends (Windows: a Job Object that
// kills on close; the stand-in: the job's process group, with SIGKILL).
// Output written after the job's own end is not waited for. Thread-safe.
WatchedRun runWatchedJob(const char* file, const char* commandLine, const char* const* argv,
                         std::uint32_t limitSeconds, OutputSink sink, void* context);

// A lock held as long as its file is open: Windows opens the file without
// sharing, which every other process, of any session and account, is
// refused while it is open; the stand-in takes flock on it. The file is
// created if needed and stays. Not inherited by jobs.
struct FileLock {
  std::intptr_t handle = -1;
};
// wait false: fails at once (lastError 32, ERROR_SHARING_VIOLATION) when
// another holds it. wait true: tries for up to waitMs.
bool takeFileLock(const char* path, bool wait, std::uint32_t waitMs, FileLock& lock);
void releaseFileLock(FileLock& lock);

constexpr std::uint32_t kErrorSharingViolation = 32;

// Appends data to the file (created if needed) with one write on a handle
// opened for appending only: Windows (FILE_APPEND_DATA) and the stand-in
// (O_APPEND) put each write whole at the end, whoever else appends.
bool appendWhole(const char* path, const char* data, std::size_t size);

// The size of a file; false when it cannot be read (not there).
bool fileSize(const char* path, std::uint64_t& size);
// Renames from over to, replacing to. False with lastError.
bool replaceByRename(const char* from, const char* to);
bool removeFile(const char* path);
// Creates the folder; true when it is there afterwards.
bool makeFolder(const char* path);

// The end of a line in the files the programs write in text mode: "\r\n"
// on Windows, "\n" on the stand-in, as the C library writes it there.
const char* lineEnd();

// Writes text to the Application log under source (Windows: registered by
// the setup below the key EventLog\Application of the services, event id
// 1, whose message is the text). The
// stand-in appends "<source>|<Fehler or Warnung>|<text>" lines to
// <root>/eventlog/Application.log. False when the log refused it.
bool reportEvent(const char* source, bool error, const char* text);

}  // namespace platform
