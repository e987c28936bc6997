// Processes and waiting.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Sleep(ms).
void sleepMs(std::uint32_t ms);

// True when the attributes of the file can be read; a directory counts too.
// The name is Windows-style: the stand-in reads "\" as "/".
bool fileExists(const char* path);

// Starts the resolved file as a new process and does not wait for it.
// commandLine is what Windows hands the process (CreateProcessA); argv is
// the same line in pieces, null-terminated, for systems that take a vector.
// The process inherits inheritable handles, the environment and the
// current directory; no creation flags. Handles of the new process are
// released at once. Returns false (with lastError) when nothing started.
bool startProcess(const char* file, const char* commandLine, const char* const* argv);

// The current folder the Service Control Manager gives a service, which
// the scheduler never changes: where a job's program named without a path
// is looked for. Windows: the system folder (GetSystemDirectoryA). The
// stand-in: "/", where it starts every service. False when it does not
// fit.
bool serviceCurrentFolder(char* folder, std::size_t size);

}  // namespace platform
