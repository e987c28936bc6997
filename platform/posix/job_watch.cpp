// Watching a job on the stand-in. The job is the leader of a process group
// of its own, which stands in for Windows' Job Object: SIGKILL to the group
// ends it and everything it started (a process that leaves the group with
// setsid escapes, as a process that breaks away from a job does). The
// job's end and its output are waited for together, with poll on a pidfd
// and the pipe, in the calling thread.
#include "platform/job_watch.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

using posix::kPathSize;

constexpr std::size_t kPipeChunk = 4096;
constexpr int kLockRetryMs = 20;

// What Windows reports for a process that a fault ended; any other signal
// stands for an end by TerminateProcess, which taskkill /F gives code 1.
struct SignalCode {
  int signal;
  std::uint32_t code;
};
constexpr SignalCode kSignalCodes[] = {
    {SIGSEGV, 0xC0000005u},  // access violation
    {SIGBUS, 0xC0000005u},
    {SIGILL, 0xC000001Du},   // illegal instruction
    {SIGFPE, 0xC0000094u},   // integer division by zero
    {SIGABRT, 3u},           // abort() of the C runtime
};
constexpr std::uint32_t kTerminatedCode = 1;

std::uint32_t exitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  for (const SignalCode& s : kSignalCodes) {
    if (WIFSIGNALED(status) && WTERMSIG(status) == s.signal) return s.code;
  }
  return kTerminatedCode;
}

// The job's three descriptors and a group of its own; every other
// descriptor of this process stays behind, as only the listed handles go
// along on Windows.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

bool prepareSpawn(SpawnSetup& setup, int nullIn, int pipeOut) {
  if (posix_spawn_file_actions_init(&setup.actions) != 0) return false;
  if (posix_spawnattr_init(&setup.attributes) != 0) {
    posix_spawn_file_actions_destroy(&setup.actions);
    return false;
  }
  sigset_t none;
  sigemptyset(&none);
  const bool ok = posix_spawn_file_actions_adddup2(&setup.actions, nullIn, 0) == 0 &&
                  posix_spawn_file_actions_adddup2(&setup.actions, pipeOut, 1) == 0 &&
                  posix_spawn_file_actions_adddup2(&setup.actions, pipeOut, 2) == 0 &&
                  posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3) == 0 &&
                  posix_spawnattr_setpgroup(&setup.attributes, 0) == 0 &&
                  posix_spawnattr_setsigmask(&setup.attributes, &none) == 0 &&
                  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK) == 0;
  if (!ok) {
    posix_spawnattr_destroy(&setup.attributes);
    posix_spawn_file_actions_destroy(&setup.actions);
  }
  return ok;
}

std::int64_t nowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Reads what the pipe holds now; false once every writer has closed it.
bool drainPipe(int fd, OutputSink sink, void* context, bool block) {
  std::array<char, kPipeChunk> chunk{};
  for (;;) {
    if (!block) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return true;
    }
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sink(context, chunk.data(), static_cast<std::size_t>(n));
    if (block) return true;
  }
}

WatchedRun notStarted(int err) { return {JobEnd::NotStarted, 0, posix::errorFromErrno(err)}; }

void closeAll(std::initializer_list<int> fds) {
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
}

}  // namespace

bool ownArguments(int argc, char** argv, char* out, std::size_t size) {
  if (!copyText(out, size, "")) return false;
  for (int i = 1; i < argc; ++i) {
    if (i > 1 && !appendText(out, size, " ")) return false;
    if (!appendText(out, size, argv[i])) return false;
  }
  return true;
}

WatchedRun runWatchedJob(const char* file, const char*, const char* const* argv, std::uint32_t limitSeconds,
                         OutputSink sink, void* context) {
  char path[kPathSize];
  if (!posix::toPosixPath(file, path, sizeof path)) return notStarted(ENAMETOOLONG);
  int pipeFds[2] = {-1, -1};
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return notStarted(errno);
  const int nullIn = open("/dev/null", O_RDONLY | O_CLOEXEC);
  SpawnSetup setup{};
  if (nullIn < 0 || !prepareSpawn(setup, nullIn, pipeFds[1])) {
    const int err = errno != 0 ? errno : EINVAL;
    closeAll({pipeFds[0], pipeFds[1], nullIn});
    return notStarted(err);
  }
  pid_t job = 0;
  const int err = posix::spawnProgram(&job, path, argv, &setup.actions, &setup.attributes);
  posix_spawnattr_destroy(&setup.attributes);
  posix_spawn_file_actions_destroy(&setup.actions);
  closeAll({pipeFds[1], nullIn});
  if (err != 0) {
    close(pipeFds[0]);
    return notStarted(err);
  }

  const int jobFd = static_cast<int>(syscall(SYS_pidfd_open, job, 0));
  const std::int64_t deadline = limitSeconds > 0 ? nowMs() + std::int64_t{limitSeconds} * 1000 : -1;
  bool timedOut = false;
  bool pipeOpen = true;
  int status = 0;
  for (;;) {
    // Without a pidfd the job's end is looked for ten times a second.
    pollfd waits[2] = {{jobFd, POLLIN, 0}, {pipeOpen ? pipeFds[0] : -1, POLLIN, 0}};
    int timeout = jobFd < 0 ? 100 : -1;
    if (deadline >= 0) {
      const std::int64_t left = deadline - nowMs();
      timeout = left <= 0 ? 0 : (timeout < 0 || left < timeout ? static_cast<int>(left) : timeout);
    }
    const int ready = poll(waits, 2, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (pipeOpen && (waits[1].revents & (POLLIN | POLLHUP)) != 0) pipeOpen = drainPipe(pipeFds[0], sink, context, true);
    if (waitpid(job, &status, WNOHANG) == job) break;
    if (deadline >= 0 && nowMs() >= deadline) {
      timedOut = true;
      kill(-job, SIGKILL);
      waitpid(job, &status, 0);
      break;
    }
  }
  // The job's last words are in the pipe by now; later ones of what it
  // left behind are not waited for.
  if (pipeOpen) drainPipe(pipeFds[0], sink, context, false);
  if (limitSeconds > 0) kill(-job, SIGKILL);
  closeAll({pipeFds[0], jobFd});
  if (timedOut) return {JobEnd::TimedOut, 0, 0};
  return {JobEnd::Exited, exitCodeOf(status), 0};
}

bool takeFileLock(const char* path, bool wait, std::uint32_t waitMs, FileLock& lock) {
  char posixPath[kPathSize];
  lock.handle = -1;
  if (!posix::toPosixPath(path, posixPath, sizeof posixPath)) {
    setLastError(posix::errorFromErrno(ENAMETOOLONG));
    return false;
  }
  const int fd = open(posixPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    setLastError(posix::errorFromErrno(errno));
    return false;
  }
  // Windows' share modes refuse at once; waiting is a retry, there as here.
  const std::int64_t end = nowMs() + (wait ? waitMs : 0);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      setLastError(posix::errorFromErrno(errno));
      close(fd);
      return false;
    }
    if (nowMs() >= end) {
      setLastError(kErrorSharingViolation);
      close(fd);
      return false;
    }
    usleep(kLockRetryMs * 1000);
  }
  lock.handle = fd;
  return true;
}

void releaseFileLock(FileLock& lock) {
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));
  lock.handle = -1;
}

bool appendWhole(const char* path, const char* data, std::size_t size) {
  char posixPath[kPathSize];
  if (!posix::toPosixPath(path, posixPath, sizeof posixPath)) return false;
  const int fd = open(posixPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    setLastError(posix::errorFromErrno(errno));
    return false;
  }
  const bool whole = write(fd, data, size) == static_cast<ssize_t>(size);
  if (!whole) setLastError(posix::errorFromErrno(errno));
  return close(fd) == 0 && whole;
}

bool fileSize(const char* path, std::uint64_t& size) {
  char posixPath[kPathSize];
  struct stat info {};
  if (!posix::toPosixPath(path, posixPath, sizeof posixPath) || stat(posixPath, &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool replaceByRename(const char* from, const char* to) {
  char a[kPathSize];
  char b[kPathSize];
  if (!posix::toPosixPath(from, a, sizeof a) || !posix::toPosixPath(to, b, sizeof b)) return false;
  if (rename(a, b) == 0) return true;
  setLastError(posix::errorFromErrno(errno));
  return false;
}

bool removeFile(const char* path) {
  char posixPath[kPathSize];
  return posix::toPosixPath(path, posixPath, sizeof posixPath) && unlink(posixPath) == 0;
}

bool makeFolder(const char* path) {
  char posixPath[kPathSize];
  if (!posix::toPosixPath(path, posixPath, sizeof posixPath)) return false;
  struct stat info {};
  return mkdir(posixPath, 0755) == 0 || (stat(posixPath, &info) == 0 && S_ISDIR(info.st_mode));
}

const char* lineEnd() { return "\n"; }

bool reportEvent(const char* source, bool error, const char* text) {
  char folder[kPathSize];
  char path[kPathSize];
  char line[kPathSize];
  int n = std::snprintf(folder, sizeof folder, "%s/eventlog", posix::standInRoot());
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof folder || !makeFolder(folder)) return false;
  n = std::snprintf(path, sizeof path, "%s/Application.log", folder);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return false;
  n = std::snprintf(line, sizeof line, "%s|%s|%s\n", source, error ? "Fehler" : "Warnung", text);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof line) return false;
  return appendWhole(path, line, static_cast<std::size_t>(n));
}

}  // namespace platform
