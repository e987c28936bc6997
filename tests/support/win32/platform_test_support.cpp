// The Windows side of what tests need from the system itself.
#include <cstdlib>
#include <ctime>
#include <string>

#include <windows.h>

#include "tests/support/test_support.h"

namespace testsupport {

bool setTimeZone(const char* tz) {
  _putenv_s("TZ", tz);
  _tzset();
  return true;
}

void setEnvironment(const char* name, const char* value) {
  _putenv_s(name, value != nullptr ? value : "");
}

// Tests use the real registry and Service Control Manager here.
std::string useScratchPlatformRoot() { return std::string(); }

int forwardCall(const char* program, char** argv) {
  (void)argv;  // the command line itself, quotes and all
  // What follows argv[0] in the command line: a quoted first word ends at
  // its closing quote, a plain one at the first blank or tab.
  const char* rest = GetCommandLineA();
  if (*rest == '"') {
    ++rest;
    while (*rest != '\0' && *rest != '"') ++rest;
    if (*rest == '"') ++rest;
  } else {
    while (*rest != '\0' && *rest != ' ' && *rest != '\t') ++rest;
  }
  std::string line = std::string("\"") + program + "\"" + rest;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
    return -1;
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(started.hProcess, &code);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return static_cast<int>(code);
}

long serviceProcessId(const char* serviceName) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return 0;
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (service == nullptr ||
      !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof status, &needed)) {
    status.dwProcessId = 0;
  }
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return static_cast<long>(status.dwProcessId);
}

void endServiceProcess(const char* serviceName) {
  const long pid = serviceProcessId(serviceName);
  if (pid == 0) return;
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid))) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
}

// Windows keeps its registrations and keys in its own database.
std::string standInRegistration(const char*) { return std::string(); }
std::string standInKeyFolder(const char*) { return std::string(); }

}  // namespace testsupport
