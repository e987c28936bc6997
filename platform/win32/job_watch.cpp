// Watching a job on Windows. The job's output comes through a named pipe
// whose end here is overlapped, so one thread waits for the job's end, its
// output and the time limit at once. With a limit the job runs in a Job
// Object that kills on close: created suspended, assigned, then resumed,
// so that nothing it starts can slip out before it is in the job.
#include "platform/job_watch.h"

#include <array>
#include <cstdio>

#include <windows.h>

#include "platform/bounded_text.h"
#include "platform/errors.h"

namespace platform {

namespace {

constexpr std::size_t kCommandLineSize = 32768;
constexpr DWORD kPipeBufferSize = 65536;
constexpr DWORD kPipeChunk = 4096;
constexpr DWORD kLockRetryMs = 20;
constexpr WORD kEventId = 1;
// What TerminateJobObject leaves as the exit code of the job's processes.
constexpr UINT kTimedOutCode = 1;

struct Handles {
  HANDLE readEnd = INVALID_HANDLE_VALUE;
  HANDLE writeEnd = INVALID_HANDLE_VALUE;
  HANDLE nullIn = INVALID_HANDLE_VALUE;
  HANDLE readEvent = nullptr;
  HANDLE job = nullptr;
  HANDLE process = nullptr;
};

void closeHandle(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  h = nullptr;
}

void closeAll(Handles& h) {
  closeHandle(h.readEnd);
  closeHandle(h.writeEnd);
  closeHandle(h.nullIn);
  closeHandle(h.readEvent);
  closeHandle(h.process);
  closeHandle(h.job);  // with a limit: ends whatever of the job still runs
}

// An anonymous pipe cannot be read overlapped: a named pipe of a name
// no one else knows, one instance, local clients only.
bool makePipe(Handles& h) {
  static volatile LONG serial = 0;
  char name[96];
  const int n = std::snprintf(name, sizeof name, "\\\\.\\pipe\\Horamat-Jobwache-%lu-%ld",
                              static_cast<unsigned long>(GetCurrentProcessId()), InterlockedIncrement(&serial));
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof name) return false;
  h.readEnd = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                               0, kPipeBufferSize, 0, nullptr);
  if (h.readEnd == INVALID_HANDLE_VALUE) return false;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  h.writeEnd = CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h.writeEnd == INVALID_HANDLE_VALUE) return false;
  h.nullIn = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h.nullIn == INVALID_HANDLE_VALUE) return false;
  h.readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return h.readEvent != nullptr;
}

bool makeJob(Handles& h) {
  h.job = CreateJobObjectA(nullptr, nullptr);
  if (h.job == nullptr) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  return SetInformationJobObject(h.job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != 0;
}

// Only the null device and the pipe's end go along: a job must not keep
// this process's files, or those of another run started at the same time.
bool startJob(Handles& h, const char* file, char* line) {
  std::array<HANDLE, 2> inherited{h.nullIn, h.writeEnd};
  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::array<unsigned char, 256> listBuffer{};
  if (listSize > listBuffer.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return false;
  bool started = false;
  if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                sizeof(HANDLE) * inherited.size(), nullptr, nullptr)) {
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = h.nullIn;
    startup.StartupInfo.hStdOutput = h.writeEnd;
    startup.StartupInfo.hStdError = h.writeEnd;
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info{};
    const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | (h.job != nullptr ? CREATE_SUSPENDED : 0);
    started = CreateProcessA(file, line, nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup.StartupInfo,
                             &info) != 0;
    if (started) {
      h.process = info.hProcess;
      if (h.job != nullptr && !AssignProcessToJobObject(h.job, info.hProcess)) {
        const DWORD error = GetLastError();
        TerminateProcess(info.hProcess, kTimedOutCode);
        SetLastError(error);
        started = false;
      } else if (h.job != nullptr) {
        ResumeThread(info.hThread);
      }
      CloseHandle(info.hThread);
    }
  }
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(list);
  SetLastError(error);
  return started;
}

// One read stays pending on the pipe; done gives what it brought.
struct PipeReader {
  OVERLAPPED overlapped{};
  std::array<char, kPipeChunk> chunk{};
  bool pending = false;
  bool open = true;
};

// Starts reads until one stays pending; what completes at once goes to
// the sink directly.
void readOn(HANDLE pipe, PipeReader& r, OutputSink sink, void* context) {
  while (r.open && !r.pending) {
    DWORD got = 0;
    ResetEvent(r.overlapped.hEvent);
    if (ReadFile(pipe, r.chunk.data(), kPipeChunk, &got, &r.overlapped)) {
      if (GetOverlappedResult(pipe, &r.overlapped, &got, TRUE) && got > 0) sink(context, r.chunk.data(), got);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      r.pending = true;
    } else {
      r.open = false;  // broken: every writer has closed it
    }
  }
}

// The pending read, once its event is set (or, with cancel, at once).
void finishRead(HANDLE pipe, PipeReader& r, OutputSink sink, void* context, bool cancel) {
  if (!r.pending) return;
  if (cancel) CancelIo(pipe);
  DWORD got = 0;
  if (GetOverlappedResult(pipe, &r.overlapped, &got, TRUE)) {
    if (got > 0) sink(context, r.chunk.data(), got);
  } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
    r.open = false;
  }
  r.pending = false;
}

// What the job wrote before its end is in the pipe's buffer by now.
void drainAvailable(HANDLE pipe, PipeReader& r, OutputSink sink, void* context) {
  DWORD available = 0;
  while (r.open && PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    readOn(pipe, r, sink, context);
    finishRead(pipe, r, sink, context, false);
  }
}

}  // namespace

bool ownArguments(int, char**, char* out, std::size_t size) {
  // The C runtime's rule for the program's name: up to the closing quote
  // when it begins with one, else up to the first blank or tab.
  const char* line = GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return copyText(out, size, line);
}

WatchedRun runWatchedJob(const char* file, const char* commandLine, const char* const*, std::uint32_t limitSeconds,
                         OutputSink sink, void* context) {
  Handles h{};
  std::array<char, kCommandLineSize> line{};
  if (!copyText(line.data(), line.size(), commandLine)) return {JobEnd::NotStarted, 0, kErrorInvalidParameter};
  const bool ready = makePipe(h) && (limitSeconds == 0 || makeJob(h));
  if (!ready || !startJob(h, file, line.data())) {
    const DWORD error = GetLastError();
    closeAll(h);
    return {JobEnd::NotStarted, 0, error};
  }
  // The job holds its own copy of the write end; ours would keep the pipe
  // open after the job's end.
  closeHandle(h.writeEnd);

  PipeReader reader{};
  reader.overlapped.hEvent = h.readEvent;
  const ULONGLONG deadline = GetTickCount64() + ULONGLONG{limitSeconds} * 1000;
  bool timedOut = false;
  for (;;) {
    readOn(h.readEnd, reader, sink, context);
    DWORD timeout = INFINITE;
    if (limitSeconds > 0) {
      const ULONGLONG now = GetTickCount64();
      timeout = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    const HANDLE waits[2] = {h.process, h.readEvent};
    const DWORD count = reader.pending ? 2 : 1;
    const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0 + 1) {
      finishRead(h.readEnd, reader, sink, context, false);
      continue;
    }
    if (woke == WAIT_TIMEOUT) {
      timedOut = true;
      TerminateJobObject(h.job, kTimedOutCode);
      WaitForSingleObject(h.process, INFINITE);
    }
    break;  // the job ended (or the wait failed, which ends the watch)
  }
  finishRead(h.readEnd, reader, sink, context, true);
  drainAvailable(h.readEnd, reader, sink, context);
  DWORD code = 0;
  GetExitCodeProcess(h.process, &code);
  closeAll(h);
  if (timedOut) return {JobEnd::TimedOut, 0, 0};
  return {JobEnd::Exited, code, 0};
}

bool takeFileLock(const char* path, bool wait, std::uint32_t waitMs, FileLock& lock) {
  lock.handle = -1;
  const ULONGLONG end = GetTickCount64() + (wait ? waitMs : 0);
  for (;;) {
    // No sharing at all, and no security attributes: not inheritable.
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      lock.handle = reinterpret_cast<std::intptr_t>(h);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION || GetTickCount64() >= end) {
      SetLastError(error);
      return false;
    }
    Sleep(kLockRetryMs);
  }
}

void releaseFileLock(FileLock& lock) {
  if (lock.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
  lock.handle = -1;
}

bool appendWhole(const char* path, const char* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return false;
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  const DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(error);
  return whole;
}

bool fileSize(const char* path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool replaceByRename(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const char* path) { return DeleteFileA(path) != 0; }

bool makeFolder(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return true;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const char* lineEnd() { return "\r\n"; }

bool reportEvent(const char* source, bool error, const char* text) {
  HANDLE log = RegisterEventSourceA(nullptr, source);
  if (log == nullptr) return false;
  const char* strings[1] = {text};
  const bool reported = ReportEventA(log, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0, kEventId,
                                     nullptr, 1, 0, strings, nullptr) != 0;
  DeregisterEventSource(log);
  return reported;
}

}  // namespace platform
