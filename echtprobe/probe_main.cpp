// Echtprobe [<Ordner der Programme>] [<Gruppe>...]
//
// Run elevated on a scratch machine or a CI runner: checks what Wine
// cannot show, with the programs of the folder given (default: the
// folder of Echtprobe.exe), one line per check, and takes away all it
// made. Groups: status tabelle zeitzone konto uhr setup msi (default:
// all). Exit code 0 when no check failed, 1 when one did, 2 when the
// check did not begin (not elevated, programs missing, Horamat installed).
//
// Echtprobe --auftrag <Marke> [--warte <s>] [<Wort>...] is the job the
// checks let the service start: it appends what it sees to the marker.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>
// After windows.h, which it builds on.
#include <sddl.h>

#include "echtprobe/probe.h"
#include "platform/bounded_text.h"

namespace probe {

int runAsJob(int argc, char** argv) {
  if (argc < 3) return 2;
  unsigned wait = 0;
  if (argc >= 5 && std::strcmp(argv[3], "--warte") == 0) wait = static_cast<unsigned>(std::atoi(argv[4]));
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  char sid[256] = "?";
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(TOKEN_USER) BYTE buffer[512];
    DWORD size = 0;
    char* text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
      platform::copyText(sid, sizeof sid, text);
      LocalFree(text);
    }
    CloseHandle(token);
  }
  char line[kCommandSize];
  if (!format(line, sizeof line, "pid=%lu sitzung=%lu sid=%s zeile=%s\r\n", GetCurrentProcessId(), session, sid,
              GetCommandLineA())) {
    return 1;
  }
  // Jobs of one minute start together: a marker busy with another's line
  // is tried again.
  HANDLE marker = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 50 && marker == INVALID_HANDLE_VALUE; ++i) {
    marker = CreateFileA(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (marker == INVALID_HANDLE_VALUE) Sleep(100);
  }
  if (marker == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(marker, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(marker);
  if (wait > 0) sleepSeconds(wait);
  return 0;
}

namespace {

// The first file in the folder whose name fits the pattern, or empty.
void findOne(const char* folder, const char* pattern, char* out, std::size_t size) {
  char search[kTextSize];
  out[0] = '\0';
  if (!format(search, sizeof search, "%s\\%s", folder, pattern)) return;
  WIN32_FIND_DATAA found{};
  HANDLE handle = FindFirstFileA(search, &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  if (!format(out, size, "%s\\%s", folder, found.cFileName)) out[0] = '\0';
  FindClose(handle);
}

bool wanted(int argc, char** argv, int first, const char* group) {
  if (first >= argc) return true;
  for (int i = first; i < argc; ++i) {
    if (std::strcmp(argv[i], group) == 0) return true;
  }
  return false;
}

BOOL WINAPI interrupted(DWORD) {
  std::printf("Abbruch: raeume auf\n");
  removeEverything();
  printSummary();
  ExitProcess(1);
}

bool findRun(int argc, char** argv, int* first) {
  GetModuleFileNameA(nullptr, gRun.self, sizeof gRun.self);
  *first = 1;
  if (argc > 1 && folderExists(argv[1])) {
    if (GetFullPathNameA(argv[1], sizeof gRun.programs, gRun.programs, nullptr) == 0) return false;
    *first = 2;
  } else {
    platform::copyText(gRun.programs, sizeof gRun.programs, gRun.self);
    char* slash = std::strrchr(gRun.programs, '\\');
    if (slash != nullptr) *slash = '\0';
  }
  std::size_t n = std::strlen(gRun.programs);
  if (n > 3 && gRun.programs[n - 1] == '\\') gRun.programs[n - 1] = '\0';
  char drive[16] = "C:";
  GetEnvironmentVariableA("SystemDrive", drive, sizeof drive);
  char programData[kTextSize] = "C:\\ProgramData";
  GetEnvironmentVariableA("ProgramData", programData, sizeof programData);
  findOne(gRun.programs, "Horamat-Setup-*.exe", gRun.setup, sizeof gRun.setup);
  findOne(gRun.programs, "Horamat-*.msi", gRun.msi, sizeof gRun.msi);
  gRun.wine = wineVersion();
  return format(gRun.scratch, sizeof gRun.scratch, "%s\\HoramatEchtprobe", drive) &&
         format(gRun.programData, sizeof gRun.programData, "%s\\Horamat", programData);
}

}  // namespace

}  // namespace probe

int main(int argc, char** argv) {
  using namespace probe;
  if (argc >= 3 && std::strcmp(argv[1], "--auftrag") == 0) return runAsJob(argc, argv);
  int first = 1;
  if (!findRun(argc, argv, &first)) {
    std::printf("Echtprobe: Ordner zu lang\n");
    return 2;
  }
  std::printf("Echtprobe: Programme aus %s, Arbeitsordner %s, %s\n", gRun.programs, gRun.scratch,
              gRun.wine != nullptr ? "unter Wine" : "Windows");
  if (gRun.wine != nullptr) std::printf("Echtprobe: Wine %s erkannt; was Wine nicht zeigen kann, wird uebersprungen\n", gRun.wine);
  if (!elevated()) {
    std::printf("Echtprobe: bitte als Administrator (erhoeht) starten\n");
    return 2;
  }
  const char* const programs[] = {"Zyklant.exe", "Horamat.exe", "CronCheck.exe"};
  for (const char* program : programs) {
    char path[kTextSize];
    if (!format(path, sizeof path, "%s\\%s", gRun.programs, program) || !fileExists(path)) {
      std::printf("Echtprobe: %s fehlt in %s\n", program, gRun.programs);
      return 2;
    }
  }
  char seen[kTextSize];
  if (foreignInstallation(seen, sizeof seen)) {
    std::printf("Echtprobe: Horamat ist auf diesem Rechner eingerichtet (%s); die Probe aendert daran nichts "
                "und beginnt nicht. Auf einem Rechner ohne Horamat starten.\n",
                seen);
    return 2;
  }
  // A run that was cut off may have left its own things: gone first.
  removeEverything();
  SetConsoleCtrlHandler(interrupted, TRUE);

  if (wanted(argc, argv, first, "status")) checkServiceStatus();
  if (wanted(argc, argv, first, "tabelle")) checkTableWhileJobRuns();
  if (wanted(argc, argv, first, "zeitzone")) checkTimeZone();
  if (wanted(argc, argv, first, "konto")) checkServiceAccount();
  if (wanted(argc, argv, first, "uhr")) checkClockSteps();
  finishByHand();
  if (wanted(argc, argv, first, "setup")) checkSetupAndRights();
  if (wanted(argc, argv, first, "msi")) checkMsi();

  removeEverything();
  char left[kTextSize];
  const bool clean = !foreignInstallation(left, sizeof left) && !folderExists(gRun.scratch);
  expect(clean, "Aufgeraeumt: kein Dienst, kein Schluessel, kein Arbeitsordner", "noch da: %s%s%s", left,
         left[0] != '\0' ? ", " : "", folderExists(gRun.scratch) ? gRun.scratch : "");
  printSummary();
  return failures() == 0 ? 0 : 1;
}
