// Processes and waiting.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace platform {

// Sleep(ms).
void sleepMs(std::uint32_t ms);

// The calendar time that time() gives, to the millisecond: the seconds
// since the epoch and the milliseconds (0-999) into the current one, read
// at once. A sleep to the start of the next second and the look after it
// read the same clock, so the look finds the new second.
struct ClockReading {
  std::time_t seconds;
  std::uint32_t ms;
};
ClockReading readClock();

// True when the attributes of the file can be read; a directory counts too.
// The name is Windows-style: the stand-in reads "\" as "/".
bool fileExists(const char* path);

// Starts the resolved file as a new process and does not wait for it.
// commandLine is what Windows hands the process (CreateProcessA); argv is
// the same line in pieces, null-terminated, for systems that take a vector.
// The process inherits no handle of ours, but the environment and the
// current directory; no creation flags. Handles of the new process are
// released at once. Returns false (with lastError) when nothing started.
// The stand-in: the job is a child that the kernel reaps when it ends; a
// process that starts jobs gets no exit status of any child (waitpid waits
// for the end and reports ECHILD).
bool startProcess(const char* file, const char* commandLine, const char* const* argv);

// ExitProcess(code): ends the process at once, all its threads with it.
// The stand-in's exit status keeps the low 8 bits.
[[noreturn]] void exitProcess(std::uint32_t code);

// The current folder the Service Control Manager gives a service, which
// the scheduler never changes: where a job's program named without a path
// is looked for. Windows: the system folder (GetSystemDirectoryA). The
// stand-in: "/", where it starts every service. False when it does not
// fit.
bool serviceCurrentFolder(char* folder, std::size_t size);

}  // namespace platform
