// Processes on the stand-in. A job is started with posix_spawn: no copy of
// the scheduler, and a failed exec comes back as the call's own result.
// SA_NOCLDWAIT makes the kernel reap every job the moment it ends; the
// disposition stays SIG_DFL and exec clears the flag, so a job can still
// wait for its own children.
#include "platform/process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

using posix::kPathSize;

// The scheduler's vector has 256 slots (255 pieces at most, then the null);
// the shell fallback puts "sh" and the path where argv[0] was.
constexpr std::size_t kShellArgumentSlots = 258;

bool isBatchFile(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot != nullptr && std::strchr(dot, '/') == nullptr &&
         (strcasecmp(dot, ".bat") == 0 || strcasecmp(dot, ".cmd") == 0);
}

bool reapChildrenOnExit() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  action.sa_flags = SA_NOCLDWAIT;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGCHLD, &action, nullptr) == 0;
}

}  // namespace

int posix::spawnProgram(pid_t* job, const char* path, const char* const* argv,
                        const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
  const int err = isBatchFile(path) ? ENOEXEC
                                    : posix_spawn(job, path, actions, attributes, const_cast<char* const*>(argv), environ);
  if (err != ENOEXEC) return err;
  std::array<const char*, kShellArgumentSlots> shellArgv{"sh", path};
  std::size_t next = 2;
  for (std::size_t i = 1; argv[i] != nullptr; ++i) {
    if (next + 1 >= shellArgv.size()) return E2BIG;
    shellArgv[next++] = argv[i];
  }
  return posix_spawn(job, "/bin/sh", actions, attributes, const_cast<char* const*>(shellArgv.data()), environ);
}

void sleepMs(std::uint32_t ms) {
  timespec want{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rest{};
  // A signal must not shorten the minute rhythm: sleep on for what is left.
  while (nanosleep(&want, &rest) != 0 && errno == EINTR) want = rest;
}

// The precise real-time clock. time() reads a coarse copy of it that the
// kernel updates once a tick and that lags by a few milliseconds: a look
// woken at the start of a second would read the second before.
ClockReading readClock() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return {t.tv_sec, static_cast<std::uint32_t>(t.tv_nsec / 1000000)};
}

bool fileExists(const char* path) {
  char posixPath[kPathSize];
  struct stat info {};
  return posix::toPosixPath(path, posixPath, sizeof posixPath) && stat(posixPath, &info) == 0;
}

bool startProcess(const char* file, const char*, const char* const* argv) {
  static const bool reaping = reapChildrenOnExit();  // once, before the first job
  char path[kPathSize];
  int err = !reaping ? EINVAL : !posix::toPosixPath(file, path, sizeof path) ? ENAMETOOLONG : 0;
  pid_t job = 0;
  if (err == 0) err = posix::spawnProgram(&job, path, argv, nullptr, nullptr);
  if (err != 0) setLastError(posix::errorFromErrno(err));
  return err == 0;
}

void exitProcess(std::uint32_t code) { std::_Exit(static_cast<int>(code & 0xFF)); }

// Where the stand-in starts every service (becomeService).
bool serviceCurrentFolder(char* folder, std::size_t size) { return copyText(folder, size, "/"); }

}  // namespace platform
