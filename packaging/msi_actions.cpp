// Custom actions of the MSI package, in the DLL horamat_msi.dll that the
// package carries. What the setup program checks and waits for, for a
// package that Group Policy, Intune or Configuration Manager installs
// without a window:
//   CheckFolder       (immediate) refuses an INSTALLDIR that Path cannot
//                     hold, and sets HORAMATPATH to INSTALLDIR without its
//                     trailing backslash, the form Path has, and
//                     HORAMATFILLED to 1 when the folder holds anything
//                     already, which then gets the folder's rights again
//   AwaitServiceGone  (deferred, after "Horamat d") waits until the
//                     service's registration and its program are gone, so
//                     that the files can be removed or replaced at once
// Windows-only packaging code, like the setup script beside it.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cwchar>

namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Pexa\\Horamat";
constexpr const wchar_t* kServiceName = L"Horamat";
// Both programs append names of 12 characters ("\CronTab.txt") to Path in
// buffers of 256 bytes.
constexpr int kMaxPathBytes = 243;
// What an earlier installation of Horamat leaves in its folder.
constexpr const wchar_t* kOwnFiles[] = {L"Zyklant.exe",  L"Horamat.exe",    L"CronCheck.exe", L"CronTab.txt",
                                        L"Horamat.log",  L"LiesMich.txt",   L"Entfernen.exe", L"Jobwache.exe",
                                        L"Jobwache.log", L"Jobwache.log.1", L"Ausgaben"};
constexpr DWORD kWaitMs = 30000;
constexpr DWORD kPollMs = 250;
constexpr std::size_t kTextSize = 1024;

// A message in the installer's log; with a window also shown, for an
// error with an OK button.
void say(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text) {
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(kind | MB_OK | MB_ICONERROR), record);
  MsiCloseHandle(record);
}

UINT refuse(MSIHANDLE install, const wchar_t* text) {
  say(install, INSTALLMESSAGE_ERROR, text);
  return ERROR_INSTALL_FAILURE;
}

bool isOwnFile(const wchar_t* name) {
  for (const wchar_t* own : kOwnFiles) {
    if (_wcsicmp(name, own) == 0) return true;
  }
  return false;
}

// The folder of the installation in the registry, if any; this DLL is
// 64-bit, so it reads the 64-bit view, where the settings live.
bool registeredPath(wchar_t* path, DWORD size) {
  DWORD bytes = size * sizeof(wchar_t);
  return RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"Path", RRF_RT_REG_SZ, nullptr, path, &bytes) ==
         ERROR_SUCCESS;
}

// The first entry of folder, with othersOnly the first that is not
// Horamat's, or false.
bool firstEntry(const wchar_t* folder, bool othersOnly, wchar_t* name, std::size_t size) {
  wchar_t pattern[MAX_PATH + 4];
  if (std::swprintf(pattern, MAX_PATH + 4, L"%ls\\*", folder) < 0) return false;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    if (!othersOnly || !isOwnFile(entry.cFileName)) {
      std::swprintf(name, size, L"%ls", entry.cFileName);
      found = true;
    }
  } while (!found && FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

bool serviceRegistered() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
  const bool registered = service != nullptr;
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return registered;
}

// A program that still runs cannot be opened for writing.
bool programInUse(const wchar_t* program) {
  HANDLE file = CreateFileW(program, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckFolder(MSIHANDLE install) {
  wchar_t folder[MAX_PATH + 1] = L"";
  DWORD length = MAX_PATH + 1;
  if (MsiGetPropertyW(install, L"INSTALLDIR", folder, &length) != ERROR_SUCCESS) {
    return refuse(install, L"Der Installationsordner (INSTALLDIR) ist zu lang oder ungueltig. Es wurde nichts installiert.");
  }
  while (length > 0 && folder[length - 1] == L'\\') folder[--length] = L'\0';

  wchar_t text[kTextSize];
  char ansi[MAX_PATH * 2 + 1];
  BOOL lossy = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folder, -1, ansi, sizeof ansi, nullptr, &lossy);
  if (length == 0 || bytes == 0) {
    std::swprintf(text, kTextSize, L"Der Installationsordner \"%ls\" ist ungueltig. Es wurde nichts installiert.", folder);
    return refuse(install, text);
  }
  if (lossy) {
    std::swprintf(text, kTextSize,
                  L"Der Installationsordner \"%ls\" enthaelt Zeichen, die Horamat nicht lesen kann. Bitte einen "
                  L"Ordner waehlen, dessen Name nur Zeichen der Windows-Codepage enthaelt. Es wurde nichts installiert.",
                  folder);
    return refuse(install, text);
  }
  if (bytes - 1 > kMaxPathBytes) {
    std::swprintf(text, kTextSize,
                  L"Der Installationsordner ist zu lang: %d Zeichen, Horamat erlaubt hoechstens %d. Es wurde nichts "
                  L"installiert.",
                  bytes - 1, kMaxPathBytes);
    return refuse(install, text);
  }
  if (length == 2 && folder[1] == L':') {
    std::swprintf(text, kTextSize,
                  L"Ein Laufwerk selbst (\"%ls\\\") kann nicht der Installationsordner sein: Horamat setzt die "
                  L"Zugriffsrechte seines Ordners. Es wurde nichts installiert.",
                  folder);
    return refuse(install, text);
  }
  // A folder that holds others' files keeps its rights: the package does
  // not ask, it refuses, like the setup without a window.
  wchar_t registered[MAX_PATH + 1] = L"";
  wchar_t other[MAX_PATH] = L"";
  if (!(registeredPath(registered, MAX_PATH + 1) && _wcsicmp(registered, folder) == 0) &&
      firstEntry(folder, true, other, MAX_PATH)) {
    std::swprintf(text, kTextSize,
                  L"Der Ordner \"%ls\" enthaelt schon Dateien, die nicht zu Horamat gehoeren (etwa \"%ls\"). "
                  L"Horamat setzt die Zugriffsrechte seines Ordners; bitte einen leeren oder neuen Ordner waehlen. "
                  L"Es wurde nichts installiert.",
                  folder, other);
    return refuse(install, text);
  }
  MsiSetPropertyW(install, L"HORAMATPATH", folder);
  // icacls has nothing to reset below an empty or new folder.
  MsiSetPropertyW(install, L"HORAMATFILLED", firstEntry(folder, false, other, MAX_PATH) ? L"1" : L"");
  return ERROR_SUCCESS;
}

// CustomActionData: the path of Zyklant.exe.
extern "C" __declspec(dllexport) UINT __stdcall AwaitServiceGone(MSIHANDLE install) {
  wchar_t program[MAX_PATH + 1] = L"";
  DWORD length = MAX_PATH + 1;
  MsiGetPropertyW(install, L"CustomActionData", program, &length);
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    if (!serviceRegistered() && (program[0] == L'\0' || !programInUse(program))) return ERROR_SUCCESS;
    Sleep(kPollMs);
  }
  say(install, INSTALLMESSAGE_INFO,
      L"Horamat: Der Dienst Horamat ist nach 30 Sekunden noch eingetragen; ein anderes Programm (die "
      L"Dienste-Konsole, der Task-Manager) haelt ihn offen.");
  return ERROR_SUCCESS;
}
