// Whether a process still runs, for tests of what ends with a job.
#pragma once

namespace testsupport {

long ownProcessId();
// True while the process runs; a process that has ended and waits to be
// reaped or whose handles are still open counts as ended.
bool processRunning(long pid);
// Ends a process a test left behind (after a failed check).
void endProcess(long pid);

}  // namespace testsupport
