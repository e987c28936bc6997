// The service's side of the stand-in Service Control Manager. A program
// not started as a service fails at once with 1063, as on Windows from a
// console. The dispatcher listens on run/control, notes run/pid, tells the
// starter it is connected, runs serviceMain on a thread of its own and
// serves requests on the calling thread, a control by running the handler
// there. A reported STOPPED, from whichever thread, shuts the socket down:
// the dispatcher returns, and nobody gets an answer any more. What the
// manager remembers of a service that no longer answers is run/status:
// written start-pending when the dispatcher connects and again with the
// reported STOPPED, so that a query sees a stop's exit code, or a process
// that ended without reporting one.
#include "platform/service_side.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

struct Dispatcher {
  std::mutex lock;
  ControlHandlerFunction handler = nullptr;
  ServiceStatus status{};
  int listenFd = -1;
};

Dispatcher gDispatcher;

// serviceMain's arguments, as Windows passes them: the service name alone.
char gServiceName[posix::kPathSize];
char* gServiceArgv[2] = {gServiceName, nullptr};
ServiceMainFunction gServiceMain = nullptr;

void* runServiceMain(void*) {
  gServiceMain(1, gServiceArgv);
  return nullptr;
}

// The start's channel, taken out of the environment lest the service's
// jobs inherit it; -1 when the program was not started as a service.
int takeChannel() {
  const char* text = std::getenv(posix::kChannelVariable);
  const bool given = text != nullptr && std::atoi(text) == posix::kChannelFd;
  ::unsetenv(posix::kChannelVariable);
  return given && ::fcntl(posix::kChannelFd, F_SETFD, FD_CLOEXEC) == 0 ? posix::kChannelFd : -1;
}

// run/control, which only the service's own account (and root) may reach,
// and run/pid. The Windows code of a failure.
std::uint32_t openDispatcher(const char* name, int* listenFd) {
  sockaddr_un address{};
  char pidPath[posix::kPathSize];
  char pid[32];
  int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(::getpid()));
  if (!posix::controlAddress(name, &address) || !posix::servicePath(name, "run/pid", pidPath, sizeof pidPath)) {
    return posix::errorFromErrno(ENAMETOOLONG);
  }
  ::unlink(address.sun_path);  // left by an earlier run
  *listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (*listenFd < 0 || ::bind(*listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(address.sun_path, 0600) != 0 || ::listen(*listenFd, 8) != 0) {
    return posix::errorFromErrno(errno);
  }
  return posix::replaceFile(pidPath, pid, static_cast<std::size_t>(n), 0644);
}

// Windows' rules as far as the programs meet them: a service that is
// stopping takes no control (1061), one that is starting only a stop. A
// running one takes an interrogation, a stop when it announced one, and
// nothing else (1052): no program here announces pause or continue.
std::uint32_t refusal(const ServiceStatus& status, std::uint32_t control) {
  constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
  const bool stop = control == kServiceControlStop;
  const std::uint32_t state = status.currentState;
  if (state == kServiceStopPending || (state == kServiceStartPending && !stop)) return kErrorServiceCannotAcceptCtrl;
  const bool taken = state == kServiceStartPending || control == kServiceControlInterrogate ||
                     (stop && (status.controlsAccepted & kServiceAcceptStop) != 0);
  return taken ? kErrorSuccess : kErrorInvalidServiceControl;
}

void serveRequest(int connection) {
  std::uint32_t control = 0;
  if (::recv(connection, &control, sizeof control, MSG_WAITALL) != sizeof control) return;
  posix::ControlReply reply{};
  std::unique_lock<std::mutex> guard(gDispatcher.lock);
  if (control != posix::kQueryOnly) reply.error = refusal(gDispatcher.status, control);
  const bool handled = control != posix::kQueryOnly && reply.error == kErrorSuccess;
  ControlHandlerFunction handler = handled ? gDispatcher.handler : nullptr;
  // The handler reports through setServiceStatus, which takes the lock.
  guard.unlock();
  if (handler != nullptr) handler(control);
  guard.lock();
  reply.status = gDispatcher.status;
  guard.unlock();
  ::send(connection, &reply, sizeof reply, MSG_NOSIGNAL);
}

}  // namespace

bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
  const int channel = takeChannel();
  if (channel < 0) {
    setLastError(kErrorFailedServiceControllerConnect);
    return false;
  }
  // From here on every failure is also told to the starter, whose
  // StartService then fails with the same code.
  int listenFd = -1;
  std::uint32_t error = copyText(gServiceName, sizeof gServiceName, serviceName)
                            ? openDispatcher(serviceName, &listenFd)
                            : posix::errorFromErrno(ENAMETOOLONG);
  pthread_t thread;
  if (error == kErrorSuccess) {
    std::lock_guard<std::mutex> guard(gDispatcher.lock);
    gDispatcher.status = ServiceStatus{kServiceWin32OwnProcess, kServiceStartPending, 0, 0, 0, 0, 0};
    error = posix::writeLastStatus(serviceName, gDispatcher.status);
    gDispatcher.listenFd = listenFd;
    gServiceMain = serviceMain;
    if (error == kErrorSuccess) {
      error = ::pthread_create(&thread, nullptr, runServiceMain, nullptr) == 0 ? ::pthread_detach(thread)
                                                                              : kErrorServiceNoThread;
    }
  }
  ssize_t told = ::write(channel, &error, sizeof error);
  (void)told;  // a starter that gave up has ended the service already
  ::close(channel);

  // Until accept fails: the socket is shut down by a reported STOPPED.
  while (error == kErrorSuccess) {
    const int connection = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0 && errno != EINTR && errno != ECONNABORTED) break;
    if (connection >= 0) {
      serveRequest(connection);
      ::close(connection);
    }
  }
  // Shut down, not closed: a report that still comes must not find the
  // descriptor's number reused by the service.
  ::shutdown(listenFd, SHUT_RDWR);
  setLastError(error);
  return error == kErrorSuccess;
}

// Like Windows for a service in a process of its own, the name is not
// checked: there is only one service it can mean. Neither is the handle of
// a report: the programs call both only from serviceMain.
StatusHandle registerControlHandler(const char*, ControlHandlerFunction handler) {
  std::lock_guard<std::mutex> guard(gDispatcher.lock);
  gDispatcher.handler = handler;
  return &gDispatcher;
}

bool setServiceStatus(StatusHandle, const ServiceStatus& status) {
  std::lock_guard<std::mutex> guard(gDispatcher.lock);
  gDispatcher.status = status;
  if (status.currentState != kServiceStopped) return true;
  const std::uint32_t error = posix::writeLastStatus(gServiceName, status);
  ::shutdown(gDispatcher.listenFd, SHUT_RDWR);
  setLastError(error);
  return error == kErrorSuccess;
}

}  // namespace platform
