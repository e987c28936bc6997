// The client side of the stand-in Service Control Manager (README: "The
// POSIX stand-in"). A service deleted while it runs keeps its folder (its
// socket) until it has stopped. A handle is a heap copy of the service's
// name, checked no further; the manager's handle is one address. Names are
// compared as given (Windows ignores case).
#include "platform/service_client.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
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
using posix::servicePath;

constexpr std::uint32_t kScManagerCreateService = 0x0002;
char gManager;

struct ServiceHandle {
  char name[kLineSize];
};

const char* nameOf(ScHandle handle) { return static_cast<ServiceHandle*>(handle)->name; }

// A handle for a name the store can hold.
ServiceHandle* newHandle(const char* name) {
  char folder[kPathSize];
  auto* service = servicePath(name, "", folder, sizeof folder) ? new (std::nothrow) ServiceHandle{} : nullptr;
  if (service != nullptr && copyText(service->name, sizeof service->name, name)) return service;
  delete service;
  setLastError(kErrorInvalidParameter);
  return nullptr;
}

struct Registration {
  char program[kLineSize];
  char account[kLineSize];
};

// 1060 when the service is not registered.
bool readRegistration(const char* name, Registration* reg) {
  char path[kPathSize];
  char line[kLineSize + 16];
  std::FILE* file = servicePath(name, "config", path, sizeof path) ? std::fopen(path, "re") : nullptr;
  if (file == nullptr) {
    setLastError(kErrorServiceDoesNotExist);
    return false;
  }
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
  if (servicePath(name, "", path, sizeof path)) ::nftw(path, removeEntry, 8, FTW_DEPTH | FTW_PHYS);
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
// caller who only looks makes nothing.
ScHandle openServiceManager(std::uint32_t access) {
  char services[kPathSize];
  const bool change = (access & kScManagerCreateService) != 0;
  int n = std::snprintf(services, sizeof services, "%s/services", posix::standInRoot());
  if (change) {
    ::mkdir(posix::standInRoot(), 0755);
    ::mkdir(services, 0755);
  }
  const bool usable = ::access(services, change ? (W_OK | X_OK) : X_OK) == 0 || (!change && errno == ENOENT);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof services && usable) return &gManager;
  setLastError(kErrorAccessDenied);
  return nullptr;
}

// The display name and the password are stored nowhere: nothing reads
// them back, and only root can switch users anyway.
ScHandle createService(ScHandle, const char* serviceName, const char*, std::uint32_t, std::uint32_t serviceType,
                       std::uint32_t startType, std::uint32_t errorControl, const char* binaryPath,
                       const char* account, const char*) {
  ServiceHandle* service = newHandle(serviceName);
  char folder[kPathSize];
  char config[kPathSize];
  char text[3 * kLineSize];
  uid_t uid = 0;
  gid_t gid = 0;
  const int n = std::snprintf(text, sizeof text,
                              "program=%s\ntype=%" PRIu32 "\nstart=%" PRIu32 "\nerror=%" PRIu32 "\naccount=%s\n",
                              binaryPath, serviceType, startType, errorControl, account != nullptr ? account : "");
  if (service == nullptr) return nullptr;
  std::uint32_t error = kErrorSuccess;
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof text || !servicePath(serviceName, "", folder, sizeof folder) ||
      !servicePath(serviceName, "config", config, sizeof config)) {
    error = kErrorInvalidParameter;
  } else if (!posix::isSystemAccount(account) && !posix::lookUpUser(account, &uid, &gid)) {
    error = kErrorInvalidServiceAccount;
  } else if (::access(config, F_OK) == 0) {
    error = kErrorServiceExists;
  } else if (running(serviceName)) {
    error = kErrorServiceMarkedForDelete;  // deleted, but still running
  } else {
    removeServiceFolder(serviceName);  // what a deleted service left
    error = ::mkdir(folder, 0755) == 0 ? posix::replaceFile(config, text, static_cast<std::size_t>(n), 0644)
                                       : posix::errorFromErrno(errno);
  }
  if (error == kErrorSuccess) return service;
  delete service;
  setLastError(error);
  return nullptr;
}

ScHandle openService(ScHandle, const char* serviceName, std::uint32_t) {
  Registration reg{};
  ServiceHandle* service = newHandle(serviceName);
  if (service != nullptr && readRegistration(serviceName, &reg)) return service;
  delete service;
  return nullptr;
}

bool startService(ScHandle service) {
  Registration reg{};
  const bool registered = readRegistration(nameOf(service), &reg);
  if (!registered || running(nameOf(service))) {
    // A handle that outlived the registration: 1072.
    setLastError(registered ? kErrorServiceAlreadyRunning : kErrorServiceMarkedForDelete);
    return false;
  }
  return posix::startServiceProcess(nameOf(service), reg.program, reg.account);
}

bool queryServiceStatus(ScHandle service, ServiceStatus* status) {
  posix::ControlReply reply{};
  if (ask(nameOf(service), posix::kQueryOnly, &reply)) {
    *status = reply.status;
    return true;
  }
  if (lastError() != kErrorServiceNotActive) return false;
  *status = posix::lastStatus(nameOf(service));
  setLastError(kErrorSuccess);
  return true;
}

// Windows' rules on which state takes which control are the dispatcher's.
bool controlService(ScHandle service, std::uint32_t control, ServiceStatus* status) {
  posix::ControlReply reply{};
  if (!ask(nameOf(service), control, &reply)) return false;
  *status = reply.status;
  return true;
}

bool deleteService(ScHandle service) {
  char config[kPathSize];
  if (servicePath(nameOf(service), "config", config, sizeof config) && ::unlink(config) != 0) {
    setLastError(errno == ENOENT ? kErrorServiceMarkedForDelete : posix::errorFromErrno(errno));
    return false;
  }
  if (!running(nameOf(service))) removeServiceFolder(nameOf(service));
  return true;
}

bool queryServiceAccount(ScHandle service, char* account, std::size_t size) {
  Registration reg{};
  if (!readRegistration(nameOf(service), &reg)) return false;
  setLastError(kErrorInvalidParameter);  // should it not fit
  return copyText(account, size, posix::isSystemAccount(reg.account) ? "LocalSystem" : reg.account);
}

bool closeServiceHandle(ScHandle handle) {
  if (handle != &gManager) delete static_cast<ServiceHandle*>(handle);
  return true;
}

}  // namespace platform
