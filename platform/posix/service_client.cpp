// The client side of the stand-in Service Control Manager: registrations
// under <root>/services (layout in internal.h), starts, queries, controls.
//
// It models what the programs see, not Windows' database:
// - A service's state is what its dispatcher answers on run/control; a
//   service whose dispatcher does not answer (never started, reported
//   STOPPED, or its process gone) is stopped.
// - There is no boot: the start type is stored, nothing starts by itself.
// - DeleteService removes the registration at once. A service that still
//   runs keeps its folder and can be stopped through a handle opened
//   before; until it has stopped, CreateService of its name fails (1072).
// - A handle is a heap copy of the service's name, checked no further.
// - Names are compared as given (Windows ignores case).
#include "platform/service_client.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

using posix::kLineSize;
using posix::kPathSize;

constexpr std::uint32_t kScManagerCreateService = 0x0002;
constexpr std::uint32_t kErrorInvalidName = 123;

char gManager;  // its address is the one manager handle

struct ServiceHandle {
  char name[kLineSize];
};

ServiceHandle* serviceOf(ScHandle handle) {
  if (handle == nullptr || handle == &gManager) setLastError(kErrorInvalidHandle);
  return handle == &gManager ? nullptr : static_cast<ServiceHandle*>(handle);
}

// A handle for the name; nullptr (with its code) when the manager handle
// is none or the name is none the store can hold.
ServiceHandle* newHandle(ScHandle manager, const char* name) {
  char folder[kPathSize];
  auto* service = manager == &gManager && posix::servicePath(name, "", folder, sizeof folder)
                      ? new (std::nothrow) ServiceHandle{} : nullptr;
  if (service == nullptr) setLastError(manager == &gManager ? kErrorInvalidName : kErrorInvalidHandle);
  else copyText(service->name, sizeof service->name, name);
  return service;
}

struct Registration {
  char program[kLineSize];
  char account[kLineSize];
};

// 1060 when the service is not registered.
bool readRegistration(const char* name, Registration* reg) {
  char path[kPathSize];
  char line[kLineSize + 16];
  std::FILE* file = posix::servicePath(name, "config", path, sizeof path) ? std::fopen(path, "re") : nullptr;
  if (file == nullptr) {
    setLastError(errno == ENOENT ? kErrorServiceDoesNotExist : posix::errorFromErrno(errno));
    return false;
  }
  *reg = Registration{};
  while (std::fgets(line, sizeof line, file) != nullptr) {
    line[std::strcspn(line, "\n")] = '\0';
    if (std::strncmp(line, "program=", 8) == 0) copyText(reg->program, sizeof reg->program, line + 8);
    if (std::strncmp(line, "account=", 8) == 0) copyText(reg->account, sizeof reg->account, line + 8);
  }
  std::fclose(file);
  return true;
}

int removeEntry(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

void removeServiceFolder(const char* name) {
  char path[kPathSize];
  if (posix::servicePath(name, "", path, sizeof path)) ::nftw(path, removeEntry, 8, FTW_DEPTH | FTW_PHYS);
}

// Sends one request to the service's dispatcher and waits for its answer:
// 1062 when no dispatcher answers, else the code it answers with.
bool ask(const char* name, std::uint32_t control, posix::ControlReply* reply) {
  sockaddr_un address{};
  if (!posix::controlAddress(name, &address)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval wait{posix::kServiceAnswerMs / 1000, 0};
  std::uint32_t error = kErrorServiceRequestTimeout;
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno == EACCES ? kErrorAccessDenied : kErrorServiceNotActive;
  } else if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 &&
             ::send(fd, &control, sizeof control, MSG_NOSIGNAL) == sizeof control &&
             ::recv(fd, reply, sizeof *reply, MSG_WAITALL) == sizeof *reply) {
    error = reply->error;
  }
  if (fd >= 0) ::close(fd);
  setLastError(error);
  return error == kErrorSuccess;
}

// Whether a dispatcher answers for the service: it runs, or is stopping.
bool running(const char* name) {
  posix::ControlReply reply{};
  return ask(name, posix::kQueryOnly, &reply);
}

}  // namespace

// The root stands for the machine's database: what cannot be made or, for
// a caller who wants to change it, written there is "access denied". A
// caller who only looks makes nothing: without the folder there is no
// service to find.
ScHandle openServiceManager(std::uint32_t access) {
  char services[kPathSize];
  const bool change = (access & kScManagerCreateService) != 0;
  int n = std::snprintf(services, sizeof services, "%s/services", posix::standInRoot());
  if (change) {
    ::mkdir(posix::standInRoot(), 0755);
    ::mkdir(services, 0755);
  }
  struct stat info{};
  const bool ok = n > 0 && static_cast<std::size_t>(n) < sizeof services &&
                  ((!change && ::stat(services, &info) != 0 && errno == ENOENT) ||
                   (::stat(services, &info) == 0 && S_ISDIR(info.st_mode) &&
                    ::access(services, change ? (W_OK | X_OK) : X_OK) == 0));
  if (!ok) setLastError(kErrorAccessDenied);
  return ok ? &gManager : nullptr;
}

// The display name and the password are stored nowhere: nothing reads
// them back, and only root can switch users anyway.
ScHandle createService(ScHandle manager, const char* serviceName, const char*, std::uint32_t,
                       std::uint32_t serviceType, std::uint32_t startType, std::uint32_t errorControl,
                       const char* binaryPath, const char* account, const char*) {
  ServiceHandle* service = newHandle(manager, serviceName);
  char folder[kPathSize];
  char config[kPathSize];
  char text[3 * kLineSize];
  uid_t uid = 0;
  gid_t gid = 0;
  struct stat info{};
  const int n = std::snprintf(text, sizeof text,
                              "program=%s\ntype=%" PRIu32 "\nstart=%" PRIu32 "\nerror=%" PRIu32 "\naccount=%s\n",
                              binaryPath != nullptr ? binaryPath : "", serviceType, startType, errorControl,
                              account != nullptr ? account : "");
  if (service == nullptr) return nullptr;
  std::uint32_t error = kErrorSuccess;
  if (binaryPath == nullptr || binaryPath[0] == '\0' || n < 0 || static_cast<std::size_t>(n) >= sizeof text ||
      !posix::servicePath(serviceName, "", folder, sizeof folder) ||
      !posix::servicePath(serviceName, "config", config, sizeof config)) {
    error = kErrorInvalidParameter;
  } else if (!posix::isSystemAccount(account) && !posix::lookUpUser(posix::userOfAccount(account), &uid, &gid)) {
    error = kErrorInvalidServiceAccount;
  } else if (::stat(config, &info) == 0) {
    error = kErrorServiceExists;
  } else if (running(serviceName)) {
    error = kErrorServiceMarkedForDelete;  // deleted, but still running
  } else {
    removeServiceFolder(serviceName);  // what a deleted service left
    error = ::mkdir(folder, 0755) == 0 ? posix::replaceFile(config, text, static_cast<std::size_t>(n), 0644)
                                       : posix::errorFromErrno(errno);
    if (error != kErrorSuccess) removeServiceFolder(serviceName);
  }
  if (error == kErrorSuccess) return service;
  delete service;
  setLastError(error);
  return nullptr;
}

ScHandle openService(ScHandle manager, const char* serviceName, std::uint32_t) {
  Registration reg{};
  ServiceHandle* service = newHandle(manager, serviceName);
  if (service != nullptr && readRegistration(serviceName, &reg)) return service;
  delete service;
  return nullptr;
}

bool startService(ScHandle handle) {
  ServiceHandle* service = serviceOf(handle);
  Registration reg{};
  if (service == nullptr) return false;
  if (!readRegistration(service->name, &reg)) {
    setLastError(kErrorServiceMarkedForDelete);  // the handle outlived the registration
    return false;
  }
  if (running(service->name)) {
    setLastError(kErrorServiceAlreadyRunning);
    return false;
  }
  return posix::startServiceProcess(service->name, reg.program, reg.account);
}

bool queryServiceStatus(ScHandle handle, ServiceStatus* status) {
  ServiceHandle* service = serviceOf(handle);
  posix::ControlReply reply{kErrorSuccess, {kServiceWin32OwnProcess, kServiceStopped, 0, 0, 0, 0, 0}};
  if (service == nullptr) return false;
  if (!ask(service->name, posix::kQueryOnly, &reply) && lastError() != kErrorServiceNotActive) return false;
  *status = reply.status;
  return true;
}

// Windows' rules on which state takes which control are the dispatcher's.
bool controlService(ScHandle handle, std::uint32_t control, ServiceStatus* status) {
  ServiceHandle* service = serviceOf(handle);
  posix::ControlReply reply{};
  if (service == nullptr || !ask(service->name, control, &reply)) return false;
  *status = reply.status;
  return true;
}

bool deleteService(ScHandle handle) {
  ServiceHandle* service = serviceOf(handle);
  char config[kPathSize];
  if (service == nullptr || !posix::servicePath(service->name, "config", config, sizeof config)) return false;
  if (::unlink(config) != 0) {
    setLastError(errno == ENOENT ? kErrorServiceMarkedForDelete : posix::errorFromErrno(errno));
    return false;
  }
  if (!running(service->name)) removeServiceFolder(service->name);
  return true;
}

bool queryServiceAccount(ScHandle handle, char* account, std::size_t size) {
  ServiceHandle* service = serviceOf(handle);
  Registration reg{};
  if (service == nullptr || !readRegistration(service->name, &reg)) return false;
  if (!copyText(account, size, posix::isSystemAccount(reg.account) ? "LocalSystem" : reg.account)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

bool closeServiceHandle(ScHandle handle) {
  ServiceHandle* service = handle == &gManager ? nullptr : serviceOf(handle);
  delete service;
  return handle == &gManager || service != nullptr;
}

}  // namespace platform
