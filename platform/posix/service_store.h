// What both sides of the stand-in Service Control Manager share: where a
// service lives under the stand-in root, its status file, the start
// handshake and the control protocol.
//
// Layout, per service:
//   <root>/services/<name>/config       the registration (key=value lines)
//   <root>/services/<name>/pid          "<pid> <start time>" of the last start
//   <root>/services/<name>/start.lock   serialises two starts of one service
//   <root>/services/<name>/run/         owned by the service's account
//   <root>/services/<name>/run/status   the reported status, 7 numbers
//   <root>/services/<name>/run/control  the dispatcher's UNIX-domain socket
// The run folder is apart so that a service running under another account
// can write its status and socket without owning its registration.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/service_status.h"

namespace platform::posix {

// Windows' own limit for a service name and its display name.
constexpr std::size_t kServiceNameMax = 256;
// Paths inside the store, and a registered command line.
constexpr std::size_t kStorePathSize = 1024;
constexpr std::size_t kCommandLineMax = 1024;
constexpr std::size_t kAccountMax = 256;

// Windows codes that only the stand-in's service code raises.
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
constexpr std::uint32_t kErrorProcessAborted = 1067;

// How a start hands the service program its way back: the run folder, and
// the inherited end of the handshake channel, always descriptor 3.
constexpr const char* kRunFolderVariable = "HORAMAT_SERVICE_RUN";
constexpr const char* kChannelVariable = "HORAMAT_SERVICE_CHANNEL";
constexpr int kChannelFd = 3;

// Handshake messages on the channel, child to starter: 'P' + int32 pid
// (the service process exists), 'K' (its dispatcher listens), 'E' + uint32
// Windows code (the start failed before or in the dispatcher).
constexpr char kHandshakePid = 'P';
constexpr char kHandshakeConnected = 'K';
constexpr char kHandshakeFailed = 'E';

// Both the start and a control wait this long for the service, as Windows.
constexpr int kServiceAnswerMs = 30000;

// One control: the client sends a request, the dispatcher answers with the
// Windows code of the outcome and the status the service last reported.
constexpr std::uint32_t kControlMagic = 0x48534331;  // "HSC1"
struct ControlRequest {
  std::uint32_t magic;
  std::uint32_t control;
};
struct ControlReply {
  std::uint32_t error;
  ServiceStatus status;
};

// snprintf into out; false (out empty) when it does not fit.
bool formatText(char* out, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A name the store can hold: 1 to 256 characters, no "/", "\" or control
// characters, not "." or "..". Windows forbids the slashes as well.
bool validServiceName(const char* name);

// <root>/services/<name>/<leaf>; leaf "" gives the folder itself.
bool servicePath(const char* name, const char* leaf, char* out, std::size_t size);

// The status file in a run folder, replaced whole (temp file + rename) so
// a reader never sees half a status. Failures set lastError.
bool writeStatusFile(const char* runFolder, const ServiceStatus& status);
bool readStatusFile(const char* runFolder, ServiceStatus* status);

// Milliseconds of a clock that does not jump.
std::int64_t monotonicMs();

// Whole-buffer transfers on a socket. Sending never raises SIGPIPE: a
// vanished peer must not kill a service or the installer.
bool sendAll(int fd, const void* data, std::size_t size);
enum class Receive { done, closed, timedOut, failed };
Receive receiveAll(int fd, void* data, std::size_t size, std::int64_t deadlineMs);

}  // namespace platform::posix
