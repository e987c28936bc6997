// Processes on the stand-in.
//
// A job is started through a double fork: the intermediate child forks the
// job and ends at once, the caller waits for the intermediate alone. The
// job is then re-parented to init (or the nearest subreaper) and never
// lingers as a zombie of the scheduler, which neither waits for its jobs
// nor may reap with waitpid(-1): that would steal the statuses of children
// that others in the same process wait for.
//
// The scheduler is multithreaded, so between fork and exec only
// async-signal-safe calls are made: execv, write, _exit, close, fork. The
// argument vector of the shell fallback is built before the fork, because
// the child may not allocate.
#include "platform/process.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#include <strings.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

constexpr std::size_t kPathSize = 4096;
// The scheduler's vector has 256 slots (255 pieces at most, then the null);
// the shell fallback puts "sh" and the path where argv[0] was.
constexpr std::size_t kShellArgumentSlots = 258;
constexpr int kExecFailedStatus = 127;

// Tells the caller why the job did not start; the pipe is close-on-exec,
// so a successful exec leaves the caller reading end-of-file instead.
void reportErrno(int reportFd, int err) {
  if (write(reportFd, &err, sizeof err) < 0) {
    // Nothing left to tell the caller with; it reads end-of-file and
    // takes the start as done.
  }
}

// In the job's process, after the second fork.
[[noreturn]] void execJob(const char* path, const char* const* argv,
                          const char* const* shellArgv, bool batch, int reportFd) {
  int err = ENOEXEC;
  if (!batch) {
    execv(path, const_cast<char* const*>(argv));
    err = errno;
  }
  if (err == ENOEXEC) {
    // A batch file, or a script without "#!": Windows hands batch files to
    // its command interpreter, the stand-in hands them to the shell.
    execv("/bin/sh", const_cast<char* const*>(shellArgv));
    err = errno;
  }
  reportErrno(reportFd, err);
  _exit(kExecFailedStatus);
}

// A ".bat" or ".cmd" is a batch file whatever its mode bits say: Windows
// runs one without asking for an execute permission, so the stand-in hands
// it to the shell at once.
bool isBatchFile(const char* path) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr) return false;
  return strcasecmp(dot, ".bat") == 0 || strcasecmp(dot, ".cmd") == 0;
}

}  // namespace

void sleepMs(std::uint32_t ms) {
  timespec want{};
  want.tv_sec = static_cast<time_t>(ms / 1000);
  want.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  timespec rest{};
  // A signal must not shorten the minute rhythm: sleep on for what is left.
  while (nanosleep(&want, &rest) != 0 && errno == EINTR) want = rest;
}

bool fileExists(const char* path) {
  char posixPath[kPathSize];
  if (!posix::toPosixPath(path, posixPath, sizeof posixPath)) return false;
  struct stat info {};
  return stat(posixPath, &info) == 0;
}

bool startProcess(const char* file, const char* commandLine, const char* const* argv) {
  (void)commandLine;  // the stand-in takes the vector; the line is Windows' form of it
  if (argv == nullptr || argv[0] == nullptr) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  char path[kPathSize];
  if (!posix::toPosixPath(file, path, sizeof path)) {
    setLastError(posix::errorFromErrno(ENAMETOOLONG));
    return false;
  }
  // sh <path> <argv[1]> ...: the script sees its own path as $0.
  std::array<const char*, kShellArgumentSlots> shellArgv{};
  shellArgv[0] = "sh";
  shellArgv[1] = path;
  std::size_t next = 2;
  for (std::size_t i = 1; argv[i] != nullptr; ++i) {
    if (next + 1 >= shellArgv.size()) {
      setLastError(kErrorInvalidParameter);
      return false;
    }
    shellArgv[next++] = argv[i];
  }
  shellArgv[next] = nullptr;
  const bool batch = isBatchFile(path);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    posix::setLastErrorFromErrno();
    return false;
  }
  pid_t intermediate = fork();
  if (intermediate < 0) {
    posix::setLastErrorFromErrno();
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (intermediate == 0) {
    close(report[0]);
    pid_t job = fork();
    if (job == 0) execJob(path, argv, shellArgv.data(), batch, report[1]);
    if (job < 0) reportErrno(report[1], errno);
    _exit(job < 0 ? kExecFailedStatus : 0);
  }
  close(report[1]);

  int status = 0;
  while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  // End-of-file comes once the job has exec'd (close-on-exec) and the
  // intermediate has ended; an errno comes when either could not go on.
  int err = 0;
  ssize_t got = 0;
  do {
    got = read(report[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof err)) {
    setLastError(posix::errorFromErrno(err));
    return false;
  }
  return true;
}

// The stand-in's service manager starts every service in "/" (see
// becomeService), as Windows starts them in its system folder.
bool serviceCurrentFolder(char* folder, std::size_t size) { return copyText(folder, size, "/"); }

}  // namespace platform
