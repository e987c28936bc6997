// The client side of the stand-in Service Control Manager: registrations
// under <root>/services, starts, status queries and controls.
//
// Policies of the stand-in, where Windows has a database and a process of
// its own:
// - A service counts as running while the process of its last start is
//   alive. A zombie counts as gone: whoever inherited it may not have
//   reaped it yet. So does a pid that now names another process (its start
//   time differs from the recorded one).
// - There is no boot: the start type is stored, nothing starts by itself.
// - DeleteService removes the registration at once, so OpenService fails
//   with 1060. A process that still runs goes on running and can still be
//   queried and stopped through handles opened before; its pid and run
//   folder stay until a later CreateService of the same name, which fails
//   with 1072 (marked for delete) while the process lives and clears the
//   remains once it has gone.
// - Names are compared as given (Windows ignores case).
#include "platform/service_client.h"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"
#include "platform/posix/service_store.h"

extern char** environ;

namespace platform {

namespace {

using posix::formatText;
using posix::kStorePathSize;

// Access rights that ask to change the database; only they need a
// writable root.
constexpr std::uint32_t kScManagerCreateService = 0x0002;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericAll = 0x10000000;

constexpr std::uint32_t kServiceControlParamChange = 6;
constexpr std::uint32_t kServiceControlNetBindFirst = 7;
constexpr std::uint32_t kServiceControlNetBindLast = 10;
constexpr std::uint32_t kServiceControlUserFirst = 128;
constexpr std::uint32_t kServiceControlUserLast = 255;
constexpr std::uint32_t kServiceAcceptPauseContinue = 0x2;
constexpr std::uint32_t kServiceAcceptParamChange = 0x8;
constexpr std::uint32_t kServiceAcceptNetBindChange = 0x10;
constexpr std::uint32_t kLastStartType = 4;     // SERVICE_DISABLED
constexpr std::uint32_t kLastErrorControl = 3;  // SERVICE_ERROR_CRITICAL

constexpr std::size_t kMaxArguments = 32;
constexpr std::size_t kMaxGroups = 256;
constexpr std::size_t kPasswdBufferSize = 16384;
constexpr std::size_t kConfigLineSize = posix::kCommandLineMax + 32;

// ---- handles ---------------------------------------------------------

enum class HandleKind { manager, service };

// A handle is one of these on the heap. Live records are kept in a list,
// so a handle is checked without reading through it: a stale or foreign
// pointer gives 6, as on Windows, not a crash.
struct ScRecord {
  ScRecord* next;
  HandleKind kind;
  std::uint32_t serviceType;  // as registered when opened
  char name[posix::kServiceNameMax + 1];
};

std::mutex gHandlesLock;
ScRecord* gHandles = nullptr;

ScRecord* newRecord(HandleKind kind) {
  ScRecord* record = new (std::nothrow) ScRecord{};
  if (record == nullptr) {
    setLastError(posix::kErrorNotEnoughMemory);
    return nullptr;
  }
  record->kind = kind;
  std::lock_guard<std::mutex> guard(gHandlesLock);
  record->next = gHandles;
  gHandles = record;
  return record;
}

ScRecord* findRecord(ScHandle handle, HandleKind kind) {
  std::lock_guard<std::mutex> guard(gHandlesLock);
  for (ScRecord* record = gHandles; record != nullptr; record = record->next) {
    if (record == handle && record->kind == kind) return record;
  }
  setLastError(kErrorInvalidHandle);
  return nullptr;
}

// ---- registration ----------------------------------------------------

struct Registration {
  char commandLine[posix::kCommandLineMax + 1];
  char displayName[posix::kServiceNameMax + 1];
  char account[posix::kAccountMax + 1];
  std::uint32_t serviceType;
  std::uint32_t startType;
  std::uint32_t errorControl;
};

// The file is line-based: a value with a line break cannot be stored.
bool oneLine(const char* text) { return std::strpbrk(text, "\r\n") == nullptr; }

bool writeRegistration(const char* name, const Registration& reg) {
  char path[kStorePathSize];
  char tempPath[kStorePathSize];
  if (!posix::servicePath(name, "config", path, sizeof path) ||
      !posix::servicePath(name, "config.tmp", tempPath, sizeof tempPath)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  std::FILE* file = std::fopen(tempPath, "we");
  if (file == nullptr) {
    posix::setLastErrorFromErrno();
    return false;
  }
  bool ok = std::fprintf(file,
                         "program=%s\ndisplay=%s\ntype=%" PRIu32 "\nstart=%" PRIu32
                         "\nerror=%" PRIu32 "\naccount=%s\n",
                         reg.commandLine, reg.displayName, reg.serviceType, reg.startType,
                         reg.errorControl, reg.account) > 0;
  int err = ok ? 0 : errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && std::rename(tempPath, path) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    std::remove(tempPath);
    setLastError(posix::errorFromErrno(err));
  }
  return ok;
}

bool parseConfigNumber(const char* text, std::uint32_t* value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || n > UINT32_MAX) return false;
  *value = static_cast<std::uint32_t>(n);
  return true;
}

// One "key=value" line into the registration; false when it is foreign.
bool takeConfigLine(char* line, Registration* reg) {
  char* equals = std::strchr(line, '=');
  if (equals == nullptr) return false;
  *equals = '\0';
  const char* key = line;
  const char* value = equals + 1;
  if (std::strcmp(key, "program") == 0) {
    return copyText(reg->commandLine, sizeof reg->commandLine, value);
  }
  if (std::strcmp(key, "display") == 0) {
    return copyText(reg->displayName, sizeof reg->displayName, value);
  }
  if (std::strcmp(key, "account") == 0) return copyText(reg->account, sizeof reg->account, value);
  if (std::strcmp(key, "type") == 0) return parseConfigNumber(value, &reg->serviceType);
  if (std::strcmp(key, "start") == 0) return parseConfigNumber(value, &reg->startType);
  if (std::strcmp(key, "error") == 0) return parseConfigNumber(value, &reg->errorControl);
  return false;
}

// False with 1060 when the service is not registered.
bool readRegistration(const char* name, Registration* reg) {
  char path[kStorePathSize];
  if (!posix::servicePath(name, "config", path, sizeof path)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) {
    int err = errno;
    setLastError(err == ENOENT || err == ENOTDIR ? kErrorServiceDoesNotExist
                                                 : posix::errorFromErrno(err));
    return false;
  }
  *reg = Registration{};
  bool ok = true;
  char line[kConfigLineSize];
  while (ok && std::fgets(line, sizeof line, file) != nullptr) {
    std::size_t n = std::strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
      line[n - 1] = '\0';
    } else if (!std::feof(file)) {
      ok = false;  // longer than any value we write
      break;
    }
    ok = takeConfigLine(line, reg);
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  if (!ok || reg->commandLine[0] == '\0') {
    setLastError(posix::kErrorInvalidData);
    return false;
  }
  return true;
}

bool registered(const char* name) {
  char path[kStorePathSize];
  struct stat info{};
  return posix::servicePath(name, "config", path, sizeof path) && ::stat(path, &info) == 0;
}

// Removes <dirFd>/<leaf> and, for a folder, everything in it. Symbolic
// links are removed, never followed.
bool removeTree(int dirFd, const char* leaf, int depth) {
  if (::unlinkat(dirFd, leaf, 0) == 0 || errno == ENOENT) return true;
  if ((errno != EISDIR && errno != EPERM) || depth == 0) return false;
  int fd = ::openat(dirFd, leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (!removeTree(::dirfd(dir), entry->d_name, depth - 1)) ok = false;
  }
  ::closedir(dir);
  return ok && ::unlinkat(dirFd, leaf, AT_REMOVEDIR) == 0;
}

bool removeServiceFolder(const char* name) {
  char path[kStorePathSize];
  if (!posix::servicePath(name, "", path, sizeof path)) return false;
  return removeTree(AT_FDCWD, path, 3);
}

// ---- the service's process -----------------------------------------

// Reads state and start time (field 22) of /proc/<pid>/stat.
// 1: read; 0: no such process; -1: no /proc to ask.
int readProcessStat(pid_t pid, char* state, std::uint64_t* startTime) {
  char path[64];
  formatText(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ESRCH ? 0 : -1;
  char text[1024];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  // The command name in parentheses may itself hold blanks and ")".
  const char* cursor = std::strrchr(text, ')');
  if (cursor == nullptr || cursor[1] != ' ') return -1;
  cursor += 2;
  *state = *cursor;
  // Field 3 is the state; the start time is 19 fields further on.
  for (int field = 3; field < 22; ++field) {
    cursor = std::strchr(cursor, ' ');
    if (cursor == nullptr) return -1;
    ++cursor;
  }
  *startTime = std::strtoull(cursor, nullptr, 10);
  return 1;
}

bool processAlive(pid_t pid, std::uint64_t recordedStart) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  char state = '?';
  std::uint64_t startTime = 0;
  int found = readProcessStat(pid, &state, &startTime);
  if (found < 0) return true;  // kill(0) is all we can ask
  if (found == 0 || state == 'Z' || state == 'X') return false;
  return recordedStart == 0 || startTime == recordedStart;
}

bool writePidFile(const char* name, pid_t pid) {
  char path[kStorePathSize];
  char tempPath[kStorePathSize];
  if (!posix::servicePath(name, "pid", path, sizeof path) ||
      !posix::servicePath(name, "pid.tmp", tempPath, sizeof tempPath)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  char state = '?';
  std::uint64_t startTime = 0;
  if (readProcessStat(pid, &state, &startTime) != 1) startTime = 0;
  std::FILE* file = std::fopen(tempPath, "we");
  if (file == nullptr) {
    posix::setLastErrorFromErrno();
    return false;
  }
  bool ok = std::fprintf(file, "%ld %" PRIu64 "\n", static_cast<long>(pid), startTime) > 0;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(tempPath, path) == 0;
  if (!ok) {
    posix::setLastErrorFromErrno();
    std::remove(tempPath);
  }
  return ok;
}

bool serviceProcessAlive(const char* name) {
  char path[kStorePathSize];
  if (!posix::servicePath(name, "pid", path, sizeof path)) return false;
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  long pid = 0;
  std::uint64_t startTime = 0;
  bool read = std::fscanf(file, "%ld %" SCNu64, &pid, &startTime) == 2;
  std::fclose(file);
  return read && processAlive(static_cast<pid_t>(pid), startTime);
}

// What QueryServiceStatus reports: the service's own report while its
// process lives; once it has gone, stopped, whatever the file says.
ServiceStatus currentStatus(const char* name, std::uint32_t registeredType) {
  char runFolder[kStorePathSize];
  ServiceStatus fromFile{};
  bool haveFile = posix::servicePath(name, "run", runFolder, sizeof runFolder) &&
                  posix::readStatusFile(runFolder, &fromFile);
  if (serviceProcessAlive(name)) {
    if (haveFile) return fromFile;
    return ServiceStatus{registeredType, kServiceStartPending, 0, 0, 0, 0, 0};
  }
  ServiceStatus status =
      haveFile ? fromFile : ServiceStatus{registeredType, kServiceStopped, 0, 0, 0, 0, 0};
  if (status.currentState != kServiceStopped) {
    // Gone without saying so: Windows reports the process as aborted.
    status.win32ExitCode = posix::kErrorProcessAborted;
    status.serviceSpecificExitCode = 0;
  }
  status.currentState = kServiceStopped;
  status.controlsAccepted = 0;
  status.checkPoint = 0;
  status.waitHint = 0;
  return status;
}

// ---- accounts ---------------------------------------------------------

using posix::isSystemAccount;
using posix::userOfAccount;

// Who the service runs as, and its groups, fixed before the fork: after
// it, in a copy of a process that may have threads, only async-signal-safe
// calls are allowed, and getpwnam and initgroups are not.
struct Identity {
  bool switchUser;
  uid_t uid;
  gid_t gid;
  std::array<gid_t, kMaxGroups> groups;
  int groupCount;
};

bool lookUpUser(const char* user, passwd* entry, char* buffer, std::size_t size) {
  passwd* found = nullptr;
  return ::getpwnam_r(user, entry, buffer, size, &found) == 0 && found != nullptr;
}

// The password is not checked by the stand-in: it has no way to, and
// only root can switch users anyway.
bool resolveIdentity(const char* account, Identity* identity) {
  identity->switchUser = false;
  // Without root the stand-in cannot switch users: the service then runs
  // as its starter.
  if (isSystemAccount(account) || ::geteuid() != 0) return true;
  passwd entry{};
  std::array<char, kPasswdBufferSize> buffer{};
  const char* user = userOfAccount(account);
  if (!lookUpUser(user, &entry, buffer.data(), buffer.size())) {
    setLastError(kErrorServiceLogonFailed);  // the account went after creation
    return false;
  }
  int count = static_cast<int>(identity->groups.size());
  if (::getgrouplist(user, entry.pw_gid, identity->groups.data(), &count) < 0) {
    setLastError(kErrorServiceLogonFailed);  // more groups than we carry
    return false;
  }
  identity->switchUser = true;
  identity->uid = entry.pw_uid;
  identity->gid = entry.pw_gid;
  identity->groupCount = count;
  return true;
}

// ---- the command line -------------------------------------------------

struct Launch {
  char program[kStorePathSize];             // POSIX path of the program file
  char arguments[posix::kCommandLineMax + 1];  // storage for argv[1..]
  std::array<char*, kMaxArguments + 2> argv;
};

bool isRegularFile(const char* path) {
  struct stat info{};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Splits the arguments after the program at blanks; a quoted argument
// keeps its blanks. Backslash escapes are not modelled.
bool splitArguments(const char* rest, Launch* launch) {
  if (!copyText(launch->arguments, sizeof launch->arguments, rest)) return false;
  std::size_t count = 1;
  char* cursor = launch->arguments;
  for (;;) {
    while (*cursor == ' ' || *cursor == '\t') ++cursor;
    if (*cursor == '\0') break;
    if (count > kMaxArguments) return false;
    char* start = cursor;
    if (*cursor == '"') {
      start = ++cursor;
      while (*cursor != '\0' && *cursor != '"') ++cursor;
    } else {
      while (*cursor != '\0' && *cursor != ' ' && *cursor != '\t') ++cursor;
    }
    bool more = *cursor != '\0';
    *cursor = '\0';
    launch->argv[count++] = start;
    if (more) ++cursor;
  }
  launch->argv[count] = nullptr;
  return true;
}

// The registered path is a Windows command line. Quoted, the program is
// the text up to the closing quotation mark (the installer quotes a path
// with blanks). Unquoted, Windows tries each text up to a blank in turn,
// shortest first, and takes the first that names a file; the stand-in
// does the same, and falls back to the first word, which then is missing.
bool parseCommandLine(const char* line, Launch* launch) {
  while (*line == ' ' || *line == '\t') ++line;
  char candidate[posix::kCommandLineMax + 1];
  const char* rest = nullptr;
  if (*line == '"') {
    const char* close = std::strchr(line + 1, '"');
    std::size_t n = close != nullptr ? static_cast<std::size_t>(close - line - 1)
                                     : std::strlen(line + 1);
    if (n >= sizeof candidate) return false;
    std::memcpy(candidate, line + 1, n);
    candidate[n] = '\0';
    rest = close != nullptr ? close + 1 : line + 1 + n;
    if (!posix::toPosixPath(candidate, launch->program, sizeof launch->program)) return false;
  } else {
    const char* firstEnd = nullptr;
    for (const char* end = line;; ++end) {
      if (*end != ' ' && *end != '\t' && *end != '\0') continue;
      if (firstEnd == nullptr) firstEnd = end;
      std::size_t n = static_cast<std::size_t>(end - line);
      if (n >= sizeof candidate) return false;
      std::memcpy(candidate, line, n);
      candidate[n] = '\0';
      if (posix::toPosixPath(candidate, launch->program, sizeof launch->program) &&
          isRegularFile(launch->program)) {
        rest = end;
        break;
      }
      if (*end == '\0') break;
    }
    if (rest == nullptr) {
      std::size_t n = static_cast<std::size_t>(firstEnd - line);
      std::memcpy(candidate, line, n);
      candidate[n] = '\0';
      rest = firstEnd;
      if (!posix::toPosixPath(candidate, launch->program, sizeof launch->program)) return false;
    }
  }
  launch->argv[0] = launch->program;
  return splitArguments(rest, launch);
}

// ---- starting ---------------------------------------------------------

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void sendFailure(int channel, std::uint32_t error) {
  char message[1 + sizeof error];
  message[0] = posix::kHandshakeFailed;
  std::memcpy(message + 1, &error, sizeof error);
  posix::sendAll(channel, message, sizeof message);
}

// The grandchild, between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeService(int channel, const Launch& launch, const Identity& identity,
                                char* const* environment) {
  pid_t self = ::getpid();
  char hello[1 + sizeof(std::int32_t)];
  hello[0] = posix::kHandshakePid;
  std::int32_t pid32 = static_cast<std::int32_t>(self);
  std::memcpy(hello + 1, &pid32, sizeof pid32);
  posix::sendAll(channel, hello, sizeof hello);

  // Out of the way of the descriptors about to be set.
  int high = ::fcntl(channel, F_DUPFD_CLOEXEC, 10);
  std::uint32_t error = kErrorSuccess;
  int devNull = high < 0 ? -1 : ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0 || ::chdir("/") != 0) {
    error = posix::errorFromErrno(errno);
  } else if (::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 || ::dup2(devNull, 2) < 0 ||
             ::dup2(high, posix::kChannelFd) < 0) {
    error = posix::errorFromErrno(errno);
  }
  if (error != kErrorSuccess) {
    sendFailure(high >= 0 ? high : channel, error);
    ::_exit(127);
  }
  // Nothing else of the starter's reaches the service.
  if (::close_range(posix::kChannelFd + 1, ~0U, 0) != 0) {
    for (int fd = posix::kChannelFd + 1; fd < 1024; ++fd) ::close(fd);
  }
  channel = posix::kChannelFd;
  ::umask(022);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);

  if (identity.switchUser &&
      (::setgroups(static_cast<std::size_t>(identity.groupCount), identity.groups.data()) != 0 ||
       ::setgid(identity.gid) != 0 || ::setuid(identity.uid) != 0)) {
    sendFailure(channel, kErrorServiceLogonFailed);
    ::_exit(127);
  }
  ::execve(launch.program, launch.argv.data(), environment);
  sendFailure(channel, posix::errorFromErrno(errno));
  ::_exit(127);
}

// Runs the program detached (new session, not our child) and waits for
// its dispatcher. lastError on failure.
bool launchService(const char* name, const char* runFolder, const Launch& launch,
                   const Identity& identity) {
  // The starter's environment, less what an earlier start left in it,
  // plus the way back to us.
  char runEntry[kStorePathSize + 32];
  char channelEntry[48];
  if (!formatText(runEntry, sizeof runEntry, "%s=%s", posix::kRunFolderVariable, runFolder) ||
      !formatText(channelEntry, sizeof channelEntry, "%s=%d", posix::kChannelVariable,
                  posix::kChannelFd)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  std::vector<char*> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (startsWith(*entry, posix::kRunFolderVariable) ||
        startsWith(*entry, posix::kChannelVariable)) {
      continue;
    }
    environment.push_back(*entry);
  }
  environment.push_back(runEntry);
  environment.push_back(channelEntry);
  environment.push_back(nullptr);

  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
    posix::setLastErrorFromErrno();
    return false;
  }
  pid_t child = ::fork();
  if (child < 0) {
    posix::setLastErrorFromErrno();
    ::close(channel[0]);
    ::close(channel[1]);
    return false;
  }
  if (child == 0) {
    // A double fork: the service belongs to init, never to the installer,
    // which then has no zombie to reap.
    ::close(channel[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild < 0) {
      sendFailure(channel[1], posix::errorFromErrno(errno));
      ::_exit(1);
    }
    if (grandchild > 0) ::_exit(0);
    becomeService(channel[1], launch, identity, environment.data());
  }
  ::close(channel[1]);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }

  std::int64_t deadline = posix::monotonicMs() + posix::kServiceAnswerMs;
  std::uint32_t error = kErrorServiceRequestTimeout;
  pid_t servicePid = 0;
  for (;;) {
    char kind = 0;
    posix::Receive got = posix::receiveAll(channel[0], &kind, 1, deadline);
    if (got != posix::Receive::done) {
      // closed: the process went before its dispatcher connected.
      if (got == posix::Receive::timedOut && servicePid > 0) {
        // Like Windows, a service that does not connect in time is ended.
        ::kill(servicePid, SIGKILL);
      }
      break;
    }
    if (kind == posix::kHandshakeConnected) {
      error = kErrorSuccess;
      break;
    }
    if (kind == posix::kHandshakePid) {
      std::int32_t pid32 = 0;
      if (posix::receiveAll(channel[0], &pid32, sizeof pid32, deadline) != posix::Receive::done) {
        break;
      }
      servicePid = static_cast<pid_t>(pid32);
      if (!writePidFile(name, servicePid)) {
        // Without its pid the service could never be seen as running.
        error = lastError();
        ::kill(servicePid, SIGKILL);
        break;
      }
      continue;
    }
    if (kind == posix::kHandshakeFailed) {
      std::uint32_t code = 0;
      if (posix::receiveAll(channel[0], &code, sizeof code, deadline) == posix::Receive::done) {
        error = code;
      }
    }
    break;
  }
  ::close(channel[0]);
  if (error != kErrorSuccess) {
    ServiceStatus failed{kServiceWin32OwnProcess, kServiceStopped, 0, error, 0, 0, 0};
    posix::writeStatusFile(runFolder, failed);
    setLastError(error);
    return false;
  }
  return true;
}

// The run folder belongs to the account the service runs as: it writes
// its status and socket there.
bool prepareRunFolder(const char* runFolder, const Identity& identity) {
  if (::mkdir(runFolder, 0700) != 0 && errno != EEXIST) {
    posix::setLastErrorFromErrno();
    return false;
  }
  if (identity.switchUser && ::chown(runFolder, identity.uid, identity.gid) != 0) {
    posix::setLastErrorFromErrno();
    return false;
  }
  return true;
}

bool startLocked(const ScRecord& service, const Registration& reg) {
  char runFolder[kStorePathSize];
  if (!posix::servicePath(service.name, "run", runFolder, sizeof runFolder)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  if (currentStatus(service.name, reg.serviceType).currentState != kServiceStopped) {
    setLastError(kErrorServiceAlreadyRunning);
    return false;
  }
  Launch launch{};
  if (!parseCommandLine(reg.commandLine, &launch)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  struct stat info{};
  if (::stat(launch.program, &info) != 0) {
    posix::setLastErrorFromErrno();  // missing: 2, as Windows
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    setLastError(kErrorAccessDenied);
    return false;
  }
  Identity identity{};
  if (!resolveIdentity(reg.account, &identity) || !prepareRunFolder(runFolder, identity)) {
    return false;
  }
  // Reported until the service reports for itself.
  ServiceStatus pending{reg.serviceType, kServiceStartPending, 0, 0, 0, 0, 0};
  if (!posix::writeStatusFile(runFolder, pending)) return false;
  return launchService(service.name, runFolder, launch, identity);
}

// ---- controls --------------------------------------------------------

// Which bit of controlsAccepted a control needs; 0 for none. False for a
// code ControlService does not send.
bool acceptBitOf(std::uint32_t control, std::uint32_t* bit) {
  if (control == kServiceControlStop) {
    *bit = kServiceAcceptStop;
  } else if (control == kServiceControlPause || control == kServiceControlContinue) {
    *bit = kServiceAcceptPauseContinue;
  } else if (control == kServiceControlInterrogate) {
    *bit = 0;
  } else if (control == kServiceControlParamChange) {
    *bit = kServiceAcceptParamChange;
  } else if (control >= kServiceControlNetBindFirst && control <= kServiceControlNetBindLast) {
    *bit = kServiceAcceptNetBindChange;
  } else if (control >= kServiceControlUserFirst && control <= kServiceControlUserLast) {
    *bit = 0;
  } else {
    return false;  // shutdown among them: only the system sends it
  }
  return true;
}

// Sends one control to the dispatcher and waits for its reply.
bool sendControl(const char* name, std::uint32_t control, ServiceStatus* status) {
  char socketPath[kStorePathSize];
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!posix::servicePath(name, "run/control", socketPath, sizeof socketPath) ||
      !copyText(address.sun_path, sizeof address.sun_path, socketPath)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    posix::setLastErrorFromErrno();
    return false;
  }
  std::uint32_t error = kErrorSuccess;
  posix::ControlReply reply{};
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // Alive but not listening: not yet connected, or on its way out.
    error = errno == EACCES ? kErrorAccessDenied : kErrorServiceCannotAcceptCtrl;
  } else {
    posix::ControlRequest request{posix::kControlMagic, control};
    std::int64_t deadline = posix::monotonicMs() + posix::kServiceAnswerMs;
    if (!posix::sendAll(fd, &request, sizeof request) ||
        posix::receiveAll(fd, &reply, sizeof reply, deadline) != posix::Receive::done) {
      error = kErrorServiceRequestTimeout;
    } else {
      error = reply.error;
    }
  }
  ::close(fd);
  if (error != kErrorSuccess) {
    setLastError(error);
    return false;
  }
  *status = reply.status;
  return true;
}

}  // namespace

ScHandle openServiceManager(std::uint32_t access) {
  const char* root = posix::standInRoot();
  char services[kStorePathSize];
  if (!formatText(services, sizeof services, "%s/services", root)) {
    setLastError(posix::kErrorFilenameTooLong);
    return nullptr;
  }
  bool change = (access & (kScManagerCreateService | kGenericWrite | kGenericAll)) != 0;
  struct stat info{};
  // The root stands for the machine's database: what cannot be made or,
  // for a caller who wants to change it, written there is "access denied".
  // A caller who only looks makes nothing: without the folder there is
  // no service to find.
  bool ok = !change && ::stat(services, &info) != 0 && errno == ENOENT;
  ok = ok || ((!change || ((::mkdir(root, 0755) == 0 || errno == EEXIST) &&
                           (::mkdir(services, 0755) == 0 || errno == EEXIST))) &&
              ::stat(services, &info) == 0 && S_ISDIR(info.st_mode) &&
              ::faccessat(AT_FDCWD, services, change ? (W_OK | X_OK) : X_OK, AT_EACCESS) == 0);
  if (!ok) {
    setLastError(kErrorAccessDenied);
    return nullptr;
  }
  return newRecord(HandleKind::manager);
}

ScHandle createService(ScHandle manager, const char* serviceName, const char* displayName,
                       std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                       std::uint32_t errorControl, const char* binaryPath, const char* account,
                       const char* password) {
  (void)access;     // the stand-in has no access checks of its own
  (void)password;   // never checked, see resolveIdentity
  if (findRecord(manager, HandleKind::manager) == nullptr) return nullptr;
  if (!posix::validServiceName(serviceName)) {
    setLastError(posix::kErrorInvalidName);
    return nullptr;
  }
  Registration reg{};
  reg.serviceType = serviceType;
  reg.startType = startType;
  reg.errorControl = errorControl;
  bool interactive = (serviceType & kServiceInteractiveProcess) != 0;
  bool valid =
      (serviceType & ~kServiceInteractiveProcess) == kServiceWin32OwnProcess &&
      startType <= kLastStartType && errorControl <= kLastErrorControl &&
      binaryPath != nullptr && binaryPath[0] != '\0' && oneLine(binaryPath) &&
      copyText(reg.commandLine, sizeof reg.commandLine, binaryPath) &&
      copyText(reg.displayName, sizeof reg.displayName,
               displayName != nullptr ? displayName : serviceName) &&
      oneLine(reg.displayName) &&
      (account == nullptr || (oneLine(account) && copyText(reg.account, sizeof reg.account, account))) &&
      // Windows runs only LocalSystem services interactively.
      !(interactive && !isSystemAccount(account));
  if (!valid) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  if (!isSystemAccount(account)) {
    passwd entry{};
    std::array<char, kPasswdBufferSize> buffer{};
    const char* user = userOfAccount(account);
    if (user[0] == '\0' || !lookUpUser(user, &entry, buffer.data(), buffer.size())) {
      setLastError(kErrorInvalidServiceAccount);
      return nullptr;
    }
  }

  char folder[kStorePathSize];
  if (!posix::servicePath(serviceName, "", folder, sizeof folder)) {
    setLastError(posix::kErrorFilenameTooLong);
    return nullptr;
  }
  if (::mkdir(folder, 0755) != 0) {
    if (errno != EEXIST) {
      posix::setLastErrorFromErrno();
      return nullptr;
    }
    if (registered(serviceName)) {
      setLastError(kErrorServiceExists);
      return nullptr;
    }
    // The remains of a deleted service.
    if (serviceProcessAlive(serviceName)) {
      setLastError(kErrorServiceMarkedForDelete);
      return nullptr;
    }
    if (!removeServiceFolder(serviceName) || ::mkdir(folder, 0755) != 0) {
      posix::setLastErrorFromErrno();
      return nullptr;
    }
  }
  if (!writeRegistration(serviceName, reg)) {
    std::uint32_t error = lastError();
    removeServiceFolder(serviceName);
    setLastError(error);
    return nullptr;
  }
  ScRecord* service = newRecord(HandleKind::service);
  if (service == nullptr) return nullptr;
  copyText(service->name, sizeof service->name, serviceName);
  service->serviceType = serviceType;
  return service;
}

ScHandle openService(ScHandle manager, const char* serviceName, std::uint32_t access) {
  (void)access;
  if (findRecord(manager, HandleKind::manager) == nullptr) return nullptr;
  if (!posix::validServiceName(serviceName)) {
    setLastError(posix::kErrorInvalidName);
    return nullptr;
  }
  Registration reg{};
  if (!readRegistration(serviceName, &reg)) return nullptr;
  ScRecord* service = newRecord(HandleKind::service);
  if (service == nullptr) return nullptr;
  copyText(service->name, sizeof service->name, serviceName);
  service->serviceType = reg.serviceType;
  return service;
}

bool startService(ScHandle service) {
  ScRecord* record = findRecord(service, HandleKind::service);
  if (record == nullptr) return false;
  Registration reg{};
  if (!readRegistration(record->name, &reg)) {
    // The handle outlived the registration.
    if (lastError() == kErrorServiceDoesNotExist) setLastError(kErrorServiceMarkedForDelete);
    return false;
  }
  // Two starters of one service take turns; the second then finds it
  // running.
  char lockPath[kStorePathSize];
  if (!posix::servicePath(record->name, "start.lock", lockPath, sizeof lockPath)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  int lockFd = ::open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    posix::setLastErrorFromErrno();
    return false;
  }
  bool started = false;
  if (::flock(lockFd, LOCK_EX) != 0) {
    posix::setLastErrorFromErrno();
  } else {
    started = startLocked(*record, reg);
  }
  std::uint32_t error = lastError();
  ::close(lockFd);
  setLastError(error);
  return started;
}

bool queryServiceStatus(ScHandle service, ServiceStatus* status) {
  ScRecord* record = findRecord(service, HandleKind::service);
  if (record == nullptr) return false;
  if (status == nullptr) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  *status = currentStatus(record->name, record->serviceType);
  return true;
}

bool controlService(ScHandle service, std::uint32_t control, ServiceStatus* status) {
  ScRecord* record = findRecord(service, HandleKind::service);
  if (record == nullptr) return false;
  std::uint32_t acceptBit = 0;
  if (status == nullptr || !acceptBitOf(control, &acceptBit)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  // Windows' rules, in its order: a stopped service takes no control; one
  // that is stopping takes none either; one that is starting only a stop.
  ServiceStatus now = currentStatus(record->name, record->serviceType);
  std::uint32_t error = kErrorSuccess;
  if (now.currentState == kServiceStopped) {
    error = kErrorServiceNotActive;
  } else if (now.currentState == kServiceStopPending ||
             (now.currentState == kServiceStartPending && control != kServiceControlStop)) {
    error = kErrorServiceCannotAcceptCtrl;
  } else if (now.currentState != kServiceStartPending && acceptBit != 0 &&
             (now.controlsAccepted & acceptBit) == 0) {
    error = posix::kErrorInvalidServiceControl;
  }
  if (error != kErrorSuccess) {
    setLastError(error);
    return false;
  }
  return sendControl(record->name, control, status);
}

bool deleteService(ScHandle service) {
  ScRecord* record = findRecord(service, HandleKind::service);
  if (record == nullptr) return false;
  char config[kStorePathSize];
  if (!posix::servicePath(record->name, "config", config, sizeof config)) {
    setLastError(posix::kErrorFilenameTooLong);
    return false;
  }
  if (::unlink(config) != 0) {
    int err = errno;
    setLastError(err == ENOENT || err == ENOTDIR ? kErrorServiceMarkedForDelete
                                                 : posix::errorFromErrno(err));
    return false;
  }
  // A running service keeps its pid and run folder (see the top); a
  // stopped one leaves nothing behind.
  if (!serviceProcessAlive(record->name)) removeServiceFolder(record->name);
  return true;
}

bool queryServiceAccount(ScHandle service, char* account, std::size_t size) {
  ScRecord* record = findRecord(service, HandleKind::service);
  if (record == nullptr) return false;
  Registration reg{};
  if (!readRegistration(record->name, &reg)) return false;
  if (!copyText(account, size, isSystemAccount(reg.account) ? "LocalSystem" : reg.account)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

bool closeServiceHandle(ScHandle handle) {
  ScRecord* found = nullptr;
  {
    std::lock_guard<std::mutex> guard(gHandlesLock);
    for (ScRecord** link = &gHandles; *link != nullptr; link = &(*link)->next) {
      if (*link == handle) {
        found = *link;
        *link = found->next;
        break;
      }
    }
  }
  if (found == nullptr) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  delete found;
  return true;
}

}  // namespace platform
