// What the pieces of the POSIX stand-in share. Nothing above the platform
// layer includes this.
//
// Everything the stand-in keeps lies below one root folder
// ($HORAMAT_PLATFORM_ROOT, or /var/lib/horamat):
//   registry/HKEY_LOCAL_MACHINE/<key>/<value>   a key is a folder, a value
//                                               a file holding the string
//   services/<name>/config       the registration, "key=value" lines
//   services/<name>/run/control  the running service's dispatcher socket
//   services/<name>/run/pid      its process id, for tests and scripts
//   services/<name>/run/status   the status it reported last
#pragma once
#include <spawn.h>
#include <strings.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/service_status.h"

namespace platform::posix {

constexpr std::size_t kPathSize = 4096;
// A registered command line, an account name.
constexpr std::size_t kLineSize = 1024;

const char* standInRoot();

// A Windows-style path as the stand-in reads it: every "\" becomes "/".
// False, with errno ENAMETOOLONG, when it does not fit.
bool toPosixPath(const char* path, char* out, std::size_t size);

std::uint32_t errorFromErrno(int err);

// Starts a job's program as posix_spawn does (actions and attributes may
// be null). Windows runs a ".bat" or ".cmd" whatever its mode bits say
// and hands it to its command interpreter; the stand-in hands such a
// file, and a script without "#!", to the shell as sh <path> <argv[1]>
// ..., so that the script sees its own path as $0. 0 or the errno.
int spawnProgram(pid_t* job, const char* path, const char* const* argv, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes);

// Writes data beside path, then renames it over path: a reader sees the
// old or the new file whole. Windows code (0 on success).
std::uint32_t replaceFile(const char* path, const void* data, std::size_t size, unsigned mode);

// <root>/services/<name>/<leaf>, leaf "" for the folder itself. False when
// the name could step out of the store or the path does not fit.
bool servicePath(const char* name, const char* leaf, char* out, std::size_t size);

// run/status: the status a service reported last that the manager keeps
// once it no longer answers (see service_side.cpp). Windows code.
std::uint32_t writeLastStatus(const char* name, const ServiceStatus& status);
// What a query says of a service that does not answer: stopped, with the
// exit code of the stop it reported, 1067 when its process ended without
// reporting one, 0 when it never ran.
ServiceStatus lastStatus(const char* name);

// The address of run/control. sun_path holds about a hundred bytes: a deep
// root cannot host a service (206).
bool controlAddress(const char* name, sockaddr_un* address);

// The ids of the local user a service account names; false (ids 0) for
// the system account and for a user this machine does not know.
bool lookUpUser(const char* account, uid_t* uid, gid_t* gid);

// Starts the registered command line as the service's process and waits
// until its dispatcher listens. False with lastError when it does not.
bool startServiceProcess(const char* name, const char* commandLine, const char* account);

// A start hands the service an inherited descriptor, named in this
// variable, on which it answers a 4-byte code: 0 once its dispatcher listens.
constexpr const char* kChannelVariable = "HORAMAT_SERVICE_CHANNEL";
constexpr int kChannelFd = 3;
// Both a start and a control wait this long for the service, as Windows.
constexpr int kServiceAnswerMs = 30000;

// A request on run/control is a 4-byte control (kQueryOnly: the status
// alone), the answer the outcome and the status the service then reports.
constexpr std::uint32_t kQueryOnly = 0;
struct ControlReply {
  std::uint32_t error;
  ServiceStatus status;
};

// ".\name" and "DOMAIN\name" of a service account mean the local user "name".
inline const char* userOfAccount(const char* account) {
  const char* backslash = std::strrchr(account, '\\');
  return backslash != nullptr ? backslash + 1 : account;
}

// LocalSystem is the account the stand-in's caller already has.
inline bool isSystemAccount(const char* account) {
  return account == nullptr || account[0] == '\0' || ::strcasecmp(userOfAccount(account), "LocalSystem") == 0;
}

}  // namespace platform::posix
