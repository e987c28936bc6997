// The machine as the checks see it and change it: files, processes,
// services, registry, accounts, clock and time zone. Every change that
// outlives a check is recorded, so that cleanUp can undo it.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <bcrypt.h>
#include <lm.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>

#include "echtprobe/probe.h"
#include "platform/bounded_text.h"

namespace probe {

Run gRun{};

namespace {

int gPassed = 0;
int gFailed = 0;
int gSkipped = 0;

void printLine(const char* head, const char* name, const char* detail) {
  if (detail != nullptr && detail[0] != '\0') {
    std::printf("%s: %s: %s\n", head, name, detail);
  } else {
    std::printf("%s: %s\n", head, name);
  }
  std::fflush(stdout);
}

}  // namespace

bool format(char* out, std::size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(out, size, fmt, args);
  va_end(args);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

void reportPassed(const char* name) {
  ++gPassed;
  printLine("bestanden", name, nullptr);
}

void reportFailed(const char* name, const char* seenFormat, ...) {
  char seen[kTextSize];
  va_list args;
  va_start(args, seenFormat);
  std::vsnprintf(seen, sizeof seen, seenFormat, args);  // cut is fine: a report
  va_end(args);
  ++gFailed;
  printLine("FEHLER", name, seen);
}

void reportSkipped(const char* name, const char* why) {
  ++gSkipped;
  printLine("uebersprungen", name, why);
}

bool expect(bool ok, const char* name, const char* seenFormat, ...) {
  if (ok) {
    reportPassed(name);
    return true;
  }
  char seen[kTextSize];
  va_list args;
  va_start(args, seenFormat);
  std::vsnprintf(seen, sizeof seen, seenFormat, args);
  va_end(args);
  reportFailed(name, "%s", seen);
  return false;
}

void note(const char* fmt, ...) {
  char text[kTextSize];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  std::printf("  (%s)\n", text);
  std::fflush(stdout);
}

int failures() { return gFailed; }

void printSummary() {
  std::printf("Echtprobe: %d bestanden, %d fehlgeschlagen, %d uebersprungen\n", gPassed, gFailed, gSkipped);
  std::fflush(stdout);
}

const char* wineVersion() {
  using Version = const char* (*)();
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  auto version = reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  return version != nullptr ? version() : nullptr;
}

bool elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                  elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return ok;
}

void sleepSeconds(unsigned seconds) { Sleep(seconds * 1000); }

// --- files and folders

bool fileExists(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folderExists(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool writeFile(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(std::strlen(text));
  const bool ok = WriteFile(file, text, size, &written, nullptr) && written == size;
  return CloseHandle(file) && ok;
}

bool readFile(const char* path, char* text, std::size_t size) {
  text[0] = '\0';
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const bool ok = ReadFile(file, text, static_cast<DWORD>(size - 1), &got, nullptr);
  text[ok ? got : 0] = '\0';
  CloseHandle(file);
  return ok;
}

bool copyFile(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }

bool makeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != 0 || folderExists(path); }

bool removeTree(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) != 0;
  }
  char pattern[kTextSize];
  if (!format(pattern, sizeof pattern, "%s\\*", path)) return false;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
      char inner[kTextSize];
      if (format(inner, sizeof inner, "%s\\%s", path, found.cFileName)) removeTree(inner);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryA(path) != 0 || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

// --- processes

long runCommand(const char* commandLine, unsigned limitSeconds, const char* outputFile) {
  char line[kCommandSize];
  if (!platform::copyText(line, sizeof line, commandLine)) return -1;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (outputFile != nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    output = CreateFileA(outputFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return -1;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  PROCESS_INFORMATION started{};
  const BOOL ok = CreateProcessA(nullptr, line, nullptr, nullptr, outputFile != nullptr, 0, nullptr, nullptr,
                                 &startup, &started);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!ok) return -1;
  long code = -1;
  if (WaitForSingleObject(started.hProcess, limitSeconds * 1000) == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(started.hProcess, &exitCode)) code = static_cast<long>(exitCode);
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return code;
}

void endProcessesBelow(const char* folder) {
  const std::size_t n = std::strlen(folder);
  HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (all == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(all, &entry); more; more = Process32Next(all, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                 entry.th32ProcessID);
    if (process == nullptr) continue;
    char image[kTextSize];
    DWORD size = sizeof image;
    if (QueryFullProcessImageNameA(process, 0, image, &size) && size > n && _strnicmp(image, folder, n) == 0 &&
        image[n] == '\\') {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
  }
  CloseHandle(all);
}

bool processRunning(std::uint32_t pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// --- services

namespace {

SC_HANDLE openNamedService(const char* name, DWORD access) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return nullptr;
  SC_HANDLE service = OpenServiceA(manager, name, access);
  CloseServiceHandle(manager);
  return service;
}

constexpr DWORD kConfigSize = 8192;

bool queryConfig(const char* name, DWORD level, BYTE* buffer) {
  SC_HANDLE service = openNamedService(name, SERVICE_QUERY_CONFIG);
  if (service == nullptr) return false;
  DWORD needed = 0;
  const bool ok = QueryServiceConfig2A(service, level, buffer, kConfigSize, &needed);
  CloseServiceHandle(service);
  return ok;
}

}  // namespace

ServiceView viewService(const char* name) {
  ServiceView view{ServiceState::none, 0, 0};
  SC_HANDLE service = openNamedService(name, SERVICE_QUERY_STATUS);
  if (service == nullptr) return view;
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service, &status)) {
    view.state = static_cast<ServiceState>(status.dwCurrentState);
    view.win32ExitCode = status.dwWin32ExitCode;
    view.specificExitCode = status.dwServiceSpecificExitCode;
  }
  CloseServiceHandle(service);
  return view;
}

ServiceView awaitService(const char* name, ServiceState state, unsigned limitSeconds) {
  ServiceView view = viewService(name);
  for (unsigned tenths = 0; view.state != state && tenths < limitSeconds * 10; ++tenths) {
    Sleep(100);
    view = viewService(name);
  }
  return view;
}

bool stopService(const char* name) {
  SC_HANDLE service = openNamedService(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
  SERVICE_STATUS status{};
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  CloseServiceHandle(service);
  return awaitService(name, ServiceState::stopped, 30).state == ServiceState::stopped;
}

bool deleteService(const char* name) {
  SC_HANDLE service = openNamedService(name, DELETE);
  if (service == nullptr) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
  const bool ok = DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  CloseServiceHandle(service);
  return ok;
}

bool serviceDescription(const char* name, char* text, std::size_t size) {
  text[0] = '\0';
  alignas(SERVICE_DESCRIPTIONA) BYTE buffer[kConfigSize];
  if (!queryConfig(name, SERVICE_CONFIG_DESCRIPTION, buffer)) return false;
  const char* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer)->lpDescription;
  return description == nullptr || platform::copyText(text, size, description);
}

bool serviceRecovery(const char* name, Recovery* recovery) {
  *recovery = Recovery{};
  alignas(SERVICE_FAILURE_ACTIONSA) BYTE buffer[kConfigSize];
  if (!queryConfig(name, SERVICE_CONFIG_FAILURE_ACTIONS, buffer)) return false;
  const auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(buffer);
  recovery->resetSeconds = actions->dwResetPeriod;
  recovery->count = actions->cActions;
  for (DWORD i = 0; i < actions->cActions && i < 8; ++i) {
    recovery->type[i] = static_cast<std::uint32_t>(actions->lpsaActions[i].Type);
    recovery->delayMs[i] = actions->lpsaActions[i].Delay;
  }
  alignas(SERVICE_FAILURE_ACTIONS_FLAG) BYTE flag[kConfigSize];
  if (!queryConfig(name, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, flag)) return false;
  recovery->onErrorStop = reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(flag)->fFailureActionsOnNonCrashFailures != 0;
  return true;
}

// --- registry: HKEY_LOCAL_MACHINE, the 64-bit view, which the programs read

bool keyExists(const char* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

bool readString(const char* key, const char* name, char* text, std::size_t size) {
  text[0] = '\0';
  DWORD bytes = static_cast<DWORD>(size);
  return RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                      &bytes) == ERROR_SUCCESS;
}

bool writeString(const char* key, const char* name, const char* value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok = RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return ok;
}

bool readExpandString(const char* key, const char* name, char* text, std::size_t size) {
  text[0] = '\0';
  DWORD bytes = static_cast<DWORD>(size);
  return RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY,
                      nullptr, text, &bytes) == ERROR_SUCCESS;
}

bool readNumber(const char* key, const char* name, std::uint32_t* value) {
  DWORD number = 0;
  DWORD bytes = sizeof number;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &number,
                   &bytes) != ERROR_SUCCESS) {
    return false;
  }
  *value = number;
  return true;
}

bool deleteKey(const char* key) {
  const LSTATUS rc = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool listedProgram(const char* displayName) {
  constexpr const char* kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  HKEY list = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS) {
    return false;
  }
  bool found = false;
  char sub[256];
  for (DWORD i = 0; !found; ++i) {
    DWORD length = sizeof sub;
    if (RegEnumKeyExA(list, i, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    char name[kTextSize];
    DWORD bytes = sizeof name;
    found = RegGetValueA(list, sub, "DisplayName", RRF_RT_REG_SZ, nullptr, name, &bytes) == ERROR_SUCCESS &&
            std::strcmp(name, displayName) == 0;
  }
  RegCloseKey(list);
  return found;
}

// --- the Application event log

namespace {

// One record of the log; larger ones (a text far beyond a result line)
// are not ours.
constexpr DWORD kRecordSize = 64 * 1024;
constexpr DWORD kInsertions = 8;

// The record's text as the Event Viewer builds it.
void eventText(const EVENTLOGRECORD* record, const char* messageFile, char* text, std::size_t size) {
  // The insertion strings as FORMAT_MESSAGE_ARGUMENT_ARRAY takes them;
  // those the record lacks are empty.
  DWORD_PTR strings[kInsertions];
  const char* next = reinterpret_cast<const char*>(record) + record->StringOffset;
  for (DWORD i = 0; i < kInsertions; ++i) {
    strings[i] = reinterpret_cast<DWORD_PTR>("");
    if (i < record->NumStrings) {
      strings[i] = reinterpret_cast<DWORD_PTR>(next);
      next += std::strlen(next) + 1;
    }
  }
  HMODULE messages =
      LoadLibraryExA(messageFile, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (messages == nullptr) {
    format(text, size, "<%s nicht geladen: Fehlercode %lu>", messageFile, GetLastError());
    return;
  }
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages,
                                      record->EventID, 0, text, static_cast<DWORD>(size),
                                      reinterpret_cast<va_list*>(strings));
  if (length == 0) {
    format(text, size, "<kein Text zu Ereignis %lu in %s: Fehlercode %lu>", record->EventID, messageFile,
           GetLastError());
  }
  FreeLibrary(messages);
}

}  // namespace

bool findEvent(const char* source, std::uint32_t id, long long since, const char* messageFile, char* text,
               std::size_t size) {
  text[0] = '\0';
  HANDLE log = OpenEventLogA(nullptr, "Application");
  if (log == nullptr) return false;
  alignas(EVENTLOGRECORD) static BYTE buffer[kRecordSize];
  bool found = false, older = false;
  while (!found && !older) {
    DWORD read = 0, needed = 0;
    if (!ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer, kRecordSize, &read,
                       &needed)) {
      break;  // the log's start, or a record too large for the buffer
    }
    for (DWORD at = 0; at < read && !found;) {
      const auto* record = reinterpret_cast<const EVENTLOGRECORD*>(buffer + at);
      if (record->Length == 0) break;
      if (static_cast<long long>(record->TimeWritten) < since) {
        older = true;  // newest first: the rest was written before
        break;
      }
      const char* name = reinterpret_cast<const char*>(record + 1);
      if ((record->EventID & 0xFFFF) == id && std::strcmp(name, source) == 0) {
        eventText(record, messageFile, text, size);
        found = true;
      }
      at += record->Length;
    }
  }
  CloseEventLog(log);
  return found;
}

// --- accounts

namespace {

constexpr std::size_t kUsers = 4;
char gUsers[kUsers][64];

bool wide(const char* text, wchar_t* out, int size) {
  return MultiByteToWideChar(CP_ACP, 0, text, -1, out, size) > 0;
}

// The account's SID, as a buffer and as a string.
bool accountSid(const char* name, BYTE* sid, DWORD sidSize, char* text, std::size_t textSize) {
  char domain[256];
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use{};
  if (!LookupAccountNameA(nullptr, name, sid, &sidSize, domain, &domainSize, &use)) return false;
  char* string = nullptr;
  if (!ConvertSidToStringSidA(sid, &string)) return false;
  const bool ok = platform::copyText(text, textSize, string);
  LocalFree(string);
  return ok;
}

LSA_HANDLE openPolicy() {
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  if (LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy) != 0) return nullptr;
  return policy;
}

bool changeRight(const char* name, const char* right, bool grant) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  char sidText[256];
  wchar_t rightName[64];
  if (!accountSid(name, sid, sizeof sid, sidText, sizeof sidText) || !wide(right, rightName, 64)) return false;
  LSA_HANDLE policy = openPolicy();
  if (policy == nullptr) return false;
  LSA_UNICODE_STRING text{};
  text.Buffer = rightName;
  text.Length = static_cast<USHORT>(std::wcslen(rightName) * sizeof(wchar_t));
  text.MaximumLength = static_cast<USHORT>(text.Length + sizeof(wchar_t));
  const NTSTATUS status =
      grant ? LsaAddAccountRights(policy, sid, &text, 1) : LsaRemoveAccountRights(policy, sid, FALSE, &text, 1);
  LsaClose(policy);
  return status == 0;
}

HANDLE gUserToken = nullptr;

// An account of that name that a cut-off run left: it carries our comment.
bool ourLeftover(const wchar_t* name, const wchar_t* comment) {
  BYTE* buffer = nullptr;
  if (NetUserGetInfo(nullptr, name, 1, &buffer) != NERR_Success) return false;
  const wchar_t* have = reinterpret_cast<USER_INFO_1*>(buffer)->usri1_comment;
  const bool ours = have != nullptr && std::wcscmp(have, comment) == 0;
  NetApiBufferFree(buffer);
  return ours;
}

}  // namespace

void rememberUser(const char* name) {
  for (auto& slot : gUsers) {
    if (slot[0] == '\0') {
      platform::copyText(slot, sizeof slot, name);
      return;
    }
  }
}

bool makeUser(const char* name, char* password, std::size_t size) {
  unsigned char random[8];
  if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return false;
  // Upper and lower case, digits and a sign: what any password policy asks.
  if (!format(password, size, "Ep-%02x%02x%02x%02x%02x%02x%02x%02x-Xz9", random[0], random[1], random[2], random[3],
              random[4], random[5], random[6], random[7])) {
    return false;
  }
  wchar_t wname[64], wpassword[64];
  wchar_t comment[] = L"Echtprobe: wird am Ende wieder entfernt";
  if (!wide(name, wname, 64) || !wide(password, wpassword, 64)) return false;
  USER_INFO_1 info{};
  info.usri1_name = wname;
  info.usri1_password = wpassword;
  info.usri1_priv = USER_PRIV_USER;
  info.usri1_comment = comment;
  info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
  DWORD badField = 0;
  NET_API_STATUS rc = NetUserAdd(nullptr, 1, reinterpret_cast<BYTE*>(&info), &badField);
  if (rc == NERR_UserExists && ourLeftover(wname, comment)) {
    deleteUser(name);
    rc = NetUserAdd(nullptr, 1, reinterpret_cast<BYTE*>(&info), &badField);
  }
  if (rc != NERR_Success) {
    SetLastError(rc);
    return false;
  }
  rememberUser(name);
  return true;
}

bool deleteUser(const char* name) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  char sidText[256];
  const bool known = accountSid(name, sid, sizeof sid, sidText, sizeof sidText);
  wchar_t wname[64];
  if (!wide(name, wname, 64)) return false;
  const NET_API_STATUS rc = NetUserDel(nullptr, wname);
  // A service that ran under the account loaded a profile for it.
  if (known) DeleteProfileA(sidText, nullptr, nullptr);
  return rc == NERR_Success || rc == NERR_UserNotFound;
}

bool userSid(const char* name, char* text, std::size_t size) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  if (accountSid(name, sid, sizeof sid, text, size)) return true;
  text[0] = '\0';
  return false;
}

bool grantRight(const char* name, const char* right) { return changeRight(name, right, true); }
bool revokeRight(const char* name, const char* right) { return changeRight(name, right, false); }

bool becomeUser(const char* name, const char* password) {
  becomeSelf();
  if (!LogonUserA(name, ".", password, LOGON32_LOGON_NETWORK, LOGON32_PROVIDER_DEFAULT, &gUserToken)) {
    gUserToken = nullptr;
    return false;
  }
  return ImpersonateLoggedOnUser(gUserToken) != 0;
}

void becomeSelf() {
  RevertToSelf();
  if (gUserToken != nullptr) CloseHandle(gUserToken);
  gUserToken = nullptr;
}

std::uint32_t writeAccess(const char* path) {
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (folderExists(path)) {
    char probe[kTextSize];
    if (!format(probe, sizeof probe, "%s\\Echtprobe-%lu.tmp", path, GetTickCount())) return ERROR_BUFFER_OVERFLOW;
    // Not FILE_FLAG_DELETE_ON_CLOSE: it asks for the right to delete as
    // well, and a user who may create but not delete would look refused.
    opened = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
      CloseHandle(opened);
      DeleteFileA(probe);  // else the cleaning up at the end takes it
      return 0;
    }
  } else {
    opened = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  }
  if (opened == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(opened);
  return 0;
}

std::uint32_t changeRightsAccess(const char* path) {
  HANDLE opened = CreateFileA(path, WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(opened);
  return 0;
}

bool grantFullControl(const char* path, const char* user) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  char trustee[64];
  bool ok = platform::copyText(trustee, sizeof trustee, user);
  EXPLICIT_ACCESS_A entry{};
  entry.grfAccessPermissions = FILE_ALL_ACCESS;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  entry.Trustee.TrusteeType = TRUSTEE_IS_USER;
  entry.Trustee.ptstrName = trustee;
  PACL granted = nullptr;
  ok = ok && SetEntriesInAclA(1, &entry, dacl, &granted) == ERROR_SUCCESS &&
       SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             granted, nullptr) == ERROR_SUCCESS;
  if (granted != nullptr) LocalFree(granted);
  LocalFree(descriptor);
  return ok;
}

// --- time

namespace {

long long gClockOffset = 0;      // seconds the clock was stepped in all
// The time service, and the virtual machine's time sync (Hyper-V, as on
// CI's runners), which sets the clock to the host's by itself.
constexpr const char* kTimeServices[] = {"W32Time", "vmictimesync"};
bool gTimeServiceStopped[2] = {false, false};
bool gZoneChanged = false;
DYNAMIC_TIME_ZONE_INFORMATION gSavedZone{};
constexpr long long kStepsPerSecond = 10000000;

bool enablePrivilege(const char* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

bool setClockBy(long long seconds) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER steps{};
  steps.LowPart = now.dwLowDateTime;
  steps.HighPart = now.dwHighDateTime;
  steps.QuadPart += static_cast<ULONGLONG>(seconds * kStepsPerSecond);
  FILETIME then{steps.LowPart, steps.HighPart};
  SYSTEMTIME utc{};
  return FileTimeToSystemTime(&then, &utc) && SetSystemTime(&utc);
}

}  // namespace

bool stepClock(long long seconds) {
  if (!enablePrivilege(SE_SYSTEMTIME_NAME)) return false;
  // The time service would set the clock back to the true time at its
  // next look: it stays stopped while the clock is off.
  for (int i = 0; i < 2; ++i) {
    if (!gTimeServiceStopped[i] && viewService(kTimeServices[i]).state == ServiceState::running) {
      if (!stopService(kTimeServices[i])) return false;
      gTimeServiceStopped[i] = true;
    }
  }
  if (!setClockBy(seconds)) return false;
  gClockOffset += seconds;
  return true;
}

void restoreClock() {
  if (gClockOffset != 0 && setClockBy(-gClockOffset)) gClockOffset = 0;
  bool started = false;
  for (int i = 0; i < 2; ++i) {
    if (!gTimeServiceStopped[i]) continue;
    SC_HANDLE service = openNamedService(kTimeServices[i], SERVICE_START);
    if (service != nullptr) {
      StartServiceA(service, 0, nullptr);
      CloseServiceHandle(service);
    }
    gTimeServiceStopped[i] = false;
    started = true;
  }
  // Set right again at once rather than at the service's next look.
  if (started) runCommand("w32tm /resync /nowait", 30);
}

bool setTimeZone(const char* keyName) {
  if (!enablePrivilege(SE_TIME_ZONE_NAME)) return false;
  wchar_t wanted[128];
  if (!wide(keyName, wanted, 128)) return false;
  if (!gZoneChanged) {
    if (GetDynamicTimeZoneInformation(&gSavedZone) == TIME_ZONE_ID_INVALID) return false;
  }
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  for (DWORD i = 0; EnumDynamicTimeZoneInformation(i, &zone) == ERROR_SUCCESS; ++i) {
    if (std::wcscmp(zone.TimeZoneKeyName, wanted) == 0) {
      if (!SetDynamicTimeZoneInformation(&zone)) return false;
      gZoneChanged = true;
      return true;
    }
  }
  return false;
}

void restoreTimeZone() {
  if (gZoneChanged && SetDynamicTimeZoneInformation(&gSavedZone)) gZoneChanged = false;
}

long localOffsetMinutes() {
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return 0;
  FILETIME u{}, l{};
  SystemTimeToFileTime(&utc, &u);
  SystemTimeToFileTime(&local, &l);
  ULARGE_INTEGER a{}, b{};
  a.LowPart = u.dwLowDateTime;
  a.HighPart = u.dwHighDateTime;
  b.LowPart = l.dwLowDateTime;
  b.HighPart = l.dwHighDateTime;
  const long long difference = static_cast<long long>(b.QuadPart) - static_cast<long long>(a.QuadPart);
  return static_cast<long>(difference / kStepsPerSecond / 60);
}

void currentTimeZone(char* keyName, std::size_t size) {
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  keyName[0] = '\0';
  if (GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return;
  WideCharToMultiByte(CP_ACP, 0, zone.TimeZoneKeyName, -1, keyName, static_cast<int>(size), nullptr, nullptr);
}

// --- undoing

void cleanUp() {
  becomeSelf();
  restoreClock();
  restoreTimeZone();
  for (auto& user : gUsers) {
    if (user[0] == '\0') continue;
    revokeRight(user, "SeServiceLogonRight");
    deleteUser(user);
    user[0] = '\0';
  }
}

}  // namespace probe
