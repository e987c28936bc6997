// Starting a service's process on the stand-in.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform::posix {

namespace {

constexpr std::size_t kMaxArguments = 32;

// Everything the new process needs, fixed before the fork: after it, in a
// copy of a process that may have threads, only async-signal-safe calls
// are allowed, and getpwnam and malloc are not.
struct Launch {
  char program[kPathSize];    // POSIX path of the program file
  char arguments[kLineSize];  // storage for argv
  std::array<char*, kMaxArguments + 1> argv;
  std::vector<char*> environment;
  bool switchUser;
  uid_t uid;
  gid_t gid;
};

// The registered Windows command line, split at blanks; a quoted word
// keeps its blanks. The first word is the program (no piecewise search of
// an unquoted path with blanks: the installer quotes such a path).
bool parseCommandLine(const char* line, Launch* launch) {
  if (!copyText(launch->arguments, sizeof launch->arguments, line)) return false;
  std::size_t count = 0;
  for (char* cursor = launch->arguments + std::strspn(launch->arguments, " \t"); *cursor != '\0';
       cursor += std::strspn(cursor, " \t")) {
    if (count == kMaxArguments) return false;
    const char* stops = *cursor == '"' ? "\"" : " \t";
    if (*cursor == '"') ++cursor;
    launch->argv[count++] = cursor;
    cursor += std::strcspn(cursor, stops);
    if (*cursor != '\0') *cursor++ = '\0';
  }
  launch->argv[count] = nullptr;
  if (count == 0 || !toPosixPath(launch->argv[0], launch->program, sizeof launch->program)) return false;
  launch->argv[0] = launch->program;
  return true;
}

void tell(int channel, std::uint32_t code) {
  ssize_t n = ::write(channel, &code, sizeof code);
  (void)n;  // a starter that is gone has nobody to tell
}

// Between fork and exec: a new session, "/", /dev/null as the streams, the
// channel as descriptor 3 and nothing else of the starter's (signal mask
// and dispositions included), the service's account.
[[noreturn]] void becomeService(int channel, const Launch& launch) {
  int high = ::fcntl(channel, F_DUPFD_CLOEXEC, 10);  // out of the way of 0 to 3
  int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (high < 0 || devNull < 0 || ::chdir("/") != 0 || ::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 ||
      ::dup2(devNull, 2) < 0 || ::dup2(high, kChannelFd) < 0) {
    tell(channel, errorFromErrno(errno));
    ::_exit(127);
  }
  ::close_range(kChannelFd + 1, ~0U, 0);
  ::umask(022);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
  std::uint32_t error = kErrorServiceLogonFailed;
  if (!launch.switchUser || (::setgroups(1, &launch.gid) == 0 &&
                             ::setgid(launch.gid) == 0 && ::setuid(launch.uid) == 0)) {
    ::execve(launch.program, launch.argv.data(), launch.environment.data());
    error = errorFromErrno(errno);
  }
  tell(kChannelFd, error);
  ::_exit(127);
}

// Runs the program detached (a double fork: the service belongs to init,
// the starter has no zombie to reap) and waits for its dispatcher.
bool launchService(Launch& launch) {
  char channelEntry[64];
  std::snprintf(channelEntry, sizeof channelEntry, "%s=%d", kChannelVariable, kChannelFd);
  launch.environment.push_back(channelEntry);  // first: it wins over one inherited
  for (char** entry = environ; *entry != nullptr; ++entry) launch.environment.push_back(*entry);
  launch.environment.push_back(nullptr);
  int channel[2];
  if (::pipe2(channel, O_CLOEXEC) != 0) {
    setLastError(errorFromErrno(errno));
    return false;
  }
  // The session's id is the middle process's: the group to end on a timeout.
  pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) becomeService(channel[1], launch);
    ::_exit(0);
  }
  std::uint32_t error = errorFromErrno(errno);
  ::close(channel[1]);
  pollfd answer{channel[0], POLLIN, 0};
  if (child > 0) {
    ::waitpid(child, nullptr, 0);
    if (::poll(&answer, 1, kServiceAnswerMs) == 0) ::kill(-child, SIGKILL);  // as Windows does
    if (answer.revents == 0 || ::read(channel[0], &error, sizeof error) != sizeof error) {
      error = kErrorServiceRequestTimeout;  // no answer in time, or it ended before connecting
    }
  }
  ::close(channel[0]);
  setLastError(error);
  return error == kErrorSuccess;
}

}  // namespace

bool lookUpUser(const char* account, uid_t* uid, gid_t* gid) {
  passwd entry{};
  passwd* found = nullptr;
  std::array<char, 16384> buffer{};
  const char* user = isSystemAccount(account) ? "" : userOfAccount(account);
  const bool known = user[0] != '\0' && ::getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found) == 0 &&
                     found != nullptr;
  *uid = known ? entry.pw_uid : 0;
  *gid = known ? entry.pw_gid : 0;
  return known;
}

// Only root can switch users: any other starter runs the service as
// itself. The password is never checked, and the account's supplementary
// groups are not given: nothing the programs do needs them. The run folder is the service
// account's: it writes its pid and its socket there.
bool startServiceProcess(const char* name, const char* commandLine, const char* account) {
  Launch launch{};
  char run[kPathSize];
  std::uint32_t error = kErrorInvalidParameter;
  if (parseCommandLine(commandLine, &launch) && servicePath(name, "run", run, sizeof run)) {
    launch.switchUser = !isSystemAccount(account) && ::geteuid() == 0;
    const bool known = !launch.switchUser || lookUpUser(account, &launch.uid, &launch.gid);
    error = known ? kErrorSuccess : kErrorServiceLogonFailed;
  }
  if (error == kErrorSuccess && ::mkdir(run, 0700) != 0 && errno != EEXIST) error = errorFromErrno(errno);
  if (error == kErrorSuccess && launch.switchUser && ::chown(run, launch.uid, launch.gid) != 0) {
    error = errorFromErrno(errno);
  }
  setLastError(error);
  return error == kErrorSuccess && launchService(launch);
}

}  // namespace platform::posix
