// The service's side of the stand-in Service Control Manager.
//
// A start (service_client.cpp) hands the program two environment entries:
// the service's run folder and the number of an inherited socket on which
// the starter waits. The dispatcher takes both at once and removes them
// from the environment, so that jobs the service starts never inherit
// them; a program started any other way finds neither and fails with 1063,
// as on Windows when it runs from a console.
//
// The dispatcher listens on <run>/control, tells the starter it is
// connected, runs serviceMain on a thread of its own and serves controls on
// the calling thread: each control runs the registered handler there and is
// answered with the status the service last reported. A reported STOPPED,
// from whichever thread, ends the dispatcher.
#include "platform/service_side.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"
#include "platform/posix/service_store.h"

namespace platform {

namespace {

// A client that connects and then says nothing is dropped after this long,
// so it cannot hold up the stop that comes after it.
constexpr int kRequestWaitMs = 5000;

struct Dispatcher {
  std::mutex lock;
  bool active = false;   // inside startServiceDispatcher
  bool stopped = false;  // the service has reported STOPPED
  ControlHandlerFunction handler = nullptr;
  ServiceStatus status{};
  char runFolder[posix::kStorePathSize] = {};
  int wakeWrite = -1;  // a byte here makes the serving loop look at `stopped`
};

Dispatcher gDispatcher;

// serviceMain's arguments, as Windows passes them: the service name alone.
char gServiceName[posix::kServiceNameMax + 1];
char* gServiceArgv[2] = {gServiceName, nullptr};
ServiceMainFunction gServiceMain = nullptr;

void* runServiceMain(void*) {
  gServiceMain(1, gServiceArgv);
  return nullptr;
}

// Takes the run folder and the channel from the environment, which keeps
// neither. False when the program was not started as a service.
bool takeStartChannel(char* runFolder, std::size_t size, int* channel) {
  const char* folder = std::getenv(posix::kRunFolderVariable);
  const char* number = std::getenv(posix::kChannelVariable);
  bool ok = folder != nullptr && number != nullptr && copyText(runFolder, size, folder);
  long fd = -1;
  if (ok) {
    char* end = nullptr;
    errno = 0;
    fd = std::strtol(number, &end, 10);
    ok = errno == 0 && end != number && *end == '\0' && fd >= 0 && fd <= INT_MAX;
  }
  ::unsetenv(posix::kRunFolderVariable);
  ::unsetenv(posix::kChannelVariable);
  if (ok) ok = ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC) == 0;
  if (ok) *channel = static_cast<int>(fd);
  return ok;
}

// Tells the waiting starter how the start ended and lets go of the channel.
void answerStarter(int channel, std::uint32_t error) {
  if (error == kErrorSuccess) {
    posix::sendAll(channel, &posix::kHandshakeConnected, 1);
  } else {
    char message[1 + sizeof error];
    message[0] = posix::kHandshakeFailed;
    std::memcpy(message + 1, &error, sizeof error);
    posix::sendAll(channel, message, sizeof message);
  }
  ::close(channel);
}

// The listening socket at <run>/control; -1 with *error set on failure.
int listenForControls(const char* socketPath, std::uint32_t* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path holds about a hundred bytes: a deep root cannot host a service.
  if (!copyText(address.sun_path, sizeof address.sun_path, socketPath)) {
    *error = posix::kErrorFilenameTooLong;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = posix::errorFromErrno(errno);
    return -1;
  }
  // A socket left by an earlier run of the service is in the way of bind.
  ::unlink(socketPath);
  // Only the service's own account (and root) may send it controls.
  bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::chmod(socketPath, 0600) == 0 && ::listen(fd, 8) == 0;
  if (!ok) {
    *error = posix::errorFromErrno(errno);
    ::close(fd);
    ::unlink(socketPath);
    return -1;
  }
  return fd;
}

// One control from one client: run the handler here, on the dispatcher's
// thread, and answer with the status the service reported.
void serveControl(int connection) {
  posix::ControlRequest request{};
  if (posix::receiveAll(connection, &request, sizeof request,
                        posix::monotonicMs() + kRequestWaitMs) != posix::Receive::done ||
      request.magic != posix::kControlMagic) {
    return;
  }
  ControlHandlerFunction handler = nullptr;
  {
    std::lock_guard<std::mutex> guard(gDispatcher.lock);
    handler = gDispatcher.handler;
  }
  posix::ControlReply reply{};
  // The handler reports through setServiceStatus, which takes the lock.
  if (handler != nullptr) {
    handler(request.control);
  } else {
    reply.error = kErrorServiceCannotAcceptCtrl;
  }
  {
    std::lock_guard<std::mutex> guard(gDispatcher.lock);
    reply.status = gDispatcher.status;
  }
  posix::sendAll(connection, &reply, sizeof reply);
}

// Serves controls until the service reports STOPPED. False when waiting
// itself failed.
bool serveUntilStopped(int listenFd, int wakeRead) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(gDispatcher.lock);
      if (gDispatcher.stopped) return true;
    }
    pollfd watch[2] = {{listenFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
    if (::poll(watch, 2, -1) < 0) {
      if (errno == EINTR) continue;
      posix::setLastErrorFromErrno();
      return false;
    }
    if (watch[1].revents != 0) {
      char drain[16];
      while (::read(wakeRead, drain, sizeof drain) > 0) {
      }
    }
    if ((watch[0].revents & POLLIN) != 0) {
      int connection = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) {
        serveControl(connection);
        ::close(connection);
      }
    }
  }
}

}  // namespace

bool startServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
  char runFolder[posix::kStorePathSize];
  int channel = -1;
  if (!takeStartChannel(runFolder, sizeof runFolder, &channel)) {
    setLastError(kErrorFailedServiceControllerConnect);
    return false;
  }

  // From here on every failure is also told to the starter, whose
  // StartService then fails with the same code.
  std::uint32_t error = kErrorSuccess;
  char socketPath[posix::kStorePathSize];
  int listenFd = -1;
  int wake[2] = {-1, -1};
  if (serviceName == nullptr || serviceMain == nullptr ||
      !copyText(gServiceName, sizeof gServiceName, serviceName)) {
    error = kErrorInvalidParameter;
  } else if (!posix::formatText(socketPath, sizeof socketPath, "%s/control", runFolder)) {
    error = posix::kErrorFilenameTooLong;
  } else {
    listenFd = listenForControls(socketPath, &error);
  }
  if (error == kErrorSuccess && ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = posix::errorFromErrno(errno);
  }
  if (error == kErrorSuccess) {
    std::lock_guard<std::mutex> guard(gDispatcher.lock);
    gDispatcher.active = true;
    gDispatcher.stopped = false;
    gDispatcher.handler = nullptr;
    gDispatcher.status = ServiceStatus{kServiceWin32OwnProcess, kServiceStartPending, 0, 0, 0, 0, 0};
    copyText(gDispatcher.runFolder, sizeof gDispatcher.runFolder, runFolder);
    gDispatcher.wakeWrite = wake[1];
    gServiceMain = serviceMain;
  }
  if (error == kErrorSuccess) {
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, runServiceMain, nullptr) != 0) {
      error = kErrorServiceNoThread;
    } else {
      ::pthread_detach(thread);
    }
  }
  answerStarter(channel, error);

  bool served = false;
  if (error == kErrorSuccess) served = serveUntilStopped(listenFd, wake[0]);
  {
    // From now on the service's reports and registrations fail (6, 1063):
    // the wake pipe is about to close.
    std::lock_guard<std::mutex> guard(gDispatcher.lock);
    gDispatcher.active = false;
    gDispatcher.handler = nullptr;
    gDispatcher.wakeWrite = -1;
  }
  if (error != kErrorSuccess) setLastError(error);
  if (listenFd >= 0) {
    ::close(listenFd);
    ::unlink(socketPath);
  }
  if (wake[0] >= 0) ::close(wake[0]);
  if (wake[1] >= 0) ::close(wake[1]);
  return served;
}

StatusHandle registerControlHandler(const char* serviceName, ControlHandlerFunction handler) {
  // Like Windows for a service in a process of its own, the name is not
  // checked: there is only one service it can mean.
  if (serviceName == nullptr || handler == nullptr) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(gDispatcher.lock);
  if (!gDispatcher.active) {
    setLastError(kErrorFailedServiceControllerConnect);
    return nullptr;
  }
  gDispatcher.handler = handler;
  return &gDispatcher;
}

bool setServiceStatus(StatusHandle handle, const ServiceStatus& status) {
  if (status.currentState < kServiceStopped || status.currentState > kServicePaused) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  std::lock_guard<std::mutex> guard(gDispatcher.lock);
  if (handle != &gDispatcher || !gDispatcher.active) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  // The reply to a control carries the status even when the file could
  // not be written (the service was deleted under it, say).
  gDispatcher.status = status;
  bool written = posix::writeStatusFile(gDispatcher.runFolder, status);
  if (status.currentState == kServiceStopped && !gDispatcher.stopped) {
    gDispatcher.stopped = true;
    // Wakes the dispatcher when the report comes from another thread; on
    // the dispatcher's own thread the byte is drained on the way out.
    char wake = 1;
    ssize_t n = ::write(gDispatcher.wakeWrite, &wake, 1);
    (void)n;
  }
  return written;
}

}  // namespace platform
