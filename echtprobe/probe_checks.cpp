// The checks, group by group. Each group that installs something takes it
// away again before the next begins; removeEverything is the net below
// them all.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <windows.h>

#include "echtprobe/probe.h"
#include "echtprobe/probe_values.h"
#include "jobwache/jobwache.h"
#include "platform/bounded_text.h"
#include "settings/install_settings.h"

namespace probe {

namespace {

using settings::kServiceName;
using settings::kSettingsKey;

constexpr const char* kWineNoAccessLists =
    "Wine fuehrt keine Zugriffslisten und meldet keine Benutzer an: jeder darf alles";
constexpr const char* kWineNoRecovery = "Wine speichert keine Wiederherstellungsaktionen eines Dienstes";
constexpr const char* kWineNoSessionZero =
    "Wine hat keine Sitzung 0 und startet Dienste unter dem angemeldeten Linux-Benutzer";
constexpr const char* kWineNoLogonRights = "Wine kennt weder Anmelderechte noch Dienste unter einem anderen Konto";
constexpr const char* kWineHostZone = "Wine liest die Zeitzone vom Linux-Rechner und stellt sie nicht um";
constexpr const char* kWineHostClock =
    "Wine hat keine eigene Uhr: SetSystemTime stellte die des Linux-Rechners (oder scheitert)";
constexpr const char* kWineNoEventLog =
    "Wine fuehrt keine Ereignisanzeige: ReportEvent schreibt nur in Wines Ablaufprotokoll";
constexpr const char* kUsersSid = "*S-1-5-32-545";
constexpr const char* kSystemSid = "S-1-5-18";
constexpr const char* kServiceLogonRight = "SeServiceLogonRight";
// The accounts the checks make for themselves; a run removes them again.
constexpr const char* kServiceUser = "HmProbeDienst";
constexpr const char* kStandardUser = "HmProbeNutzer";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Horamat";
// The event id of Jobwache's entries, its message table's only entry.
constexpr std::uint32_t kJobwacheEvent = 1;
// A scan takes the table at second 0 of a minute: a table written before
// second 45 is surely in place for the next one.
constexpr unsigned kMinuteWait = 130;

using Text = char[kTextSize];

// The scheduler's installation made by hand, as Installation.txt does:
// programs, key, the setup's icacls lines, Horamat i.
Text gInstall, gJobs, gMarks;
bool gByHandRunning = false;

void joined(char* out, const char* folder, const char* name) {
  if (!format(out, kTextSize, "%s\\%s", folder, name)) out[0] = '\0';
}

void skipAll(const char* const* names, std::size_t count, const char* why) {
  for (std::size_t i = 0; i < count; ++i) reportSkipped(names[i], why);
}

bool protect(const char* folder) {
  char line[kCommandSize];
  return format(line, sizeof line, "icacls \"%s\" %s /T", folder, kIcaclsOwner) && runCommand(line, 120) == 0 &&
         format(line, sizeof line, "icacls \"%s\" %s", folder, kIcaclsGrant) && runCommand(line, 120) == 0;
}

long icacls(const char* path, const char* arguments) {
  char line[kCommandSize];
  return format(line, sizeof line, "icacls \"%s\" %s", path, arguments) ? runCommand(line, 120) : -1;
}

// Horamat with its arguments, from the installation; its console text in
// output (the cleared screen's form feed and all).
long horamat(const char* arguments, char* output, std::size_t size) {
  char line[kCommandSize], log[kTextSize];
  joined(log, gRun.scratch, "horamat-ausgabe.txt");
  if (!format(line, sizeof line, "\"%s\\Horamat.exe\" %s", gInstall, arguments)) return -1;
  const long rc = runCommand(line, 120, log);
  readFile(log, output, size);
  return rc;
}

// The Horamat report's last line, for a failure's text.
const char* lastLine(char* text) {
  std::size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) text[--n] = '\0';
  const char* line = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if ((*p == '\n' || *p == '\f') && p[1] != '\0') line = p + 1;
  }
  return line;
}

bool writeTable(const char* text) {
  char table[kTextSize], fresh[kTextSize];
  joined(table, gInstall, "CronTab.txt");
  joined(fresh, gRun.scratch, "CronTab.neu");
  // A save by rename, as editors do: the scan never sees half a table.
  return writeFile(fresh, text) && MoveFileExA(fresh, table, MOVEFILE_REPLACE_EXISTING) != 0;
}

// "M H D Mo *" for the local time secondsAhead from now, by the clock as
// it is set.
void fieldsAt(long long secondsAhead, char* out, std::size_t size) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER steps{};
  steps.LowPart = now.dwLowDateTime;
  steps.HighPart = now.dwHighDateTime;
  steps.QuadPart += static_cast<ULONGLONG>(secondsAhead * 10000000LL);
  FILETIME then{steps.LowPart, steps.HighPart};
  SYSTEMTIME utc{}, local{};
  FileTimeToSystemTime(&then, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  format(out, size, "%u %u %u %u *", local.wMinute, local.wHour, local.wDay, local.wMonth);
}

// A table line that runs this program as a job writing to the marker.
void jobLine(char* out, std::size_t size, const char* fields, const char* marker, const char* more) {
  format(out, size, "%s %s\\Echtprobe.exe --auftrag %s\\%s%s%s\r\n", fields, gJobs, gMarks, marker,
         more[0] != '\0' ? " " : "", more);
}

void markerPath(char* out, const char* marker) { joined(out, gMarks, marker); }

bool awaitFile(const char* path, unsigned seconds) {
  for (unsigned half = 0; half < seconds * 2; ++half) {
    if (fileExists(path)) {
      Sleep(500);  // the job's line is written whole by then
      return true;
    }
    Sleep(500);
  }
  return fileExists(path);
}

int lineCount(const char* path) {
  static char text[65536];
  if (!readFile(path, text, sizeof text)) return 0;
  int n = 0;
  for (const char* p = text; *p != '\0'; ++p) n += *p == '\n';
  return n;
}

// The value after "<key>=" in the marker's first line.
bool markerValue(const char* path, const char* key, char* out, std::size_t size) {
  char text[kTextSize], wanted[64];
  out[0] = '\0';
  if (!readFile(path, text, sizeof text) || !format(wanted, sizeof wanted, "%s=", key)) return false;
  const char* at = std::strstr(text, wanted);
  if (at == nullptr) return false;
  at += std::strlen(wanted);
  // zeile= runs to the end of the line, the others to the next blank.
  const char* end = at + std::strcspn(at, std::strcmp(key, "zeile") == 0 ? "\r\n" : " \r\n");
  const std::size_t n = static_cast<std::size_t>(end - at);
  if (n >= size) return false;
  std::memcpy(out, at, n);
  out[n] = '\0';
  return true;
}

// Waits until the local second is within [from, to].
void awaitSecond(unsigned from, unsigned to) {
  for (;;) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    if (now.wSecond >= from && now.wSecond <= to) return;
    Sleep(250);
  }
}

bool prepareByHand() {
  joined(gInstall, gRun.scratch, "Programm");
  joined(gJobs, gRun.scratch, "Auftraege");
  joined(gMarks, gRun.scratch, "Marken");
  if (!makeFolder(gRun.scratch) || !makeFolder(gInstall) || !makeFolder(gJobs) || !makeFolder(gMarks)) return false;
  const char* const programs[] = {"Zyklant.exe", "Horamat.exe", "CronCheck.exe"};
  for (const char* program : programs) {
    Text from, to;
    joined(from, gRun.programs, program);
    joined(to, gInstall, program);
    if (!copyFile(from, to)) return false;
  }
  Text job, batch, text;
  joined(job, gJobs, "Echtprobe.exe");
  joined(batch, gJobs, "auftrag.bat");
  // What cmd makes of the words: %0 the program as written, %1 and %2 the
  // words, %* all of them.
  if (!copyFile(gRun.self, job) ||
      !format(text, sizeof text, "@echo [%%0] [%%1] [%%2] [%%*]>>%s\\bat.txt\r\n", gMarks) ||
      !writeFile(batch, text)) {
    return false;
  }
  Text table;
  joined(table, gInstall, "CronTab.txt");
  return writeFile(table, "# Echtprobe\r\n") && protect(gInstall) && protect(gJobs) &&
         writeString(kSettingsKey, "Path", gInstall) && writeString(kSettingsKey, "Version", kVersion);
}

// Horamat i [account password]; true when the service runs.
bool startByHand(const char* account, const char* password, char* output, std::size_t size) {
  char arguments[kTextSize];
  if (account != nullptr) {
    format(arguments, sizeof arguments, "i %s %s", account, password);
  } else {
    format(arguments, sizeof arguments, "i");
  }
  horamat(arguments, output, size);
  gByHandRunning = awaitService(kServiceName, ServiceState::running, 40).state == ServiceState::running;
  return gByHandRunning;
}

bool ensureByHand() {
  if (gByHandRunning) return true;
  char output[4096];
  if (!prepareByHand()) {
    reportFailed("Installation von Hand", "Ordner, Programme, Schluessel oder icacls: Fehlercode %lu", GetLastError());
    return false;
  }
  if (!startByHand(nullptr, nullptr, output, sizeof output)) {
    reportFailed("Installation von Hand: Horamat i", "Dienst laeuft nicht; Horamat: %s", lastLine(output));
    return false;
  }
  return true;
}

void stopByHand() {
  char output[4096];
  horamat("d", output, sizeof output);
  for (int tenths = 0; tenths < 300 && viewService(kServiceName).state != ServiceState::none; ++tenths) Sleep(100);
  gByHandRunning = false;
}

// Under Wine the group is skipped for its reason (none: Wine shows it);
// without the installation by hand it cannot run either.
bool groupCanRun(const char* const* names, std::size_t count, const char* wineLacks) {
  if (gRun.wine != nullptr && wineLacks != nullptr) {
    skipAll(names, count, wineLacks);
    return false;
  }
  if (!ensureByHand()) {
    skipAll(names, count, "keine Installation");
    return false;
  }
  return true;
}

bool recoveryAsSet(const Recovery& seen, char* expected, std::size_t size) {
  // "failure Horamat reset= <s> actions= <action>/<ms>/...": what sc sets.
  const char* reset = std::strstr(kScFailure, "reset= ");
  const char* actions = std::strstr(kScFailure, "actions= ");
  if (reset == nullptr || actions == nullptr) return false;
  Recovery wanted{};
  wanted.resetSeconds = static_cast<std::uint32_t>(std::strtoul(reset + 7, nullptr, 10));
  for (const char* p = actions + 9; *p != '\0' && *p != ' ' && wanted.count < 8;) {
    const std::size_t n = std::strcspn(p, "/");
    std::uint32_t type = SC_ACTION_NONE;
    if (std::strncmp(p, "restart", n) == 0 && n == 7) type = SC_ACTION_RESTART;
    if (std::strncmp(p, "reboot", n) == 0 && n == 6) type = SC_ACTION_REBOOT;
    if (std::strncmp(p, "run", n) == 0 && n == 3) type = SC_ACTION_RUN_COMMAND;
    p += n;
    if (*p == '/') ++p;
    wanted.type[wanted.count] = type;
    wanted.delayMs[wanted.count] = static_cast<std::uint32_t>(std::strtoul(p, nullptr, 10));
    ++wanted.count;
    p += std::strcspn(p, "/ ");
    if (*p == '/') ++p;
  }
  // "failureflag Horamat <0|1>"
  const std::size_t flagAt = std::strlen(kScFailureFlag);
  wanted.onErrorStop = flagAt > 0 && kScFailureFlag[flagAt - 1] == '1';
  format(expected, size, "reset %u, %u Aktionen, auch nach Stopp mit Fehler: %s", wanted.resetSeconds,
         wanted.count, wanted.onErrorStop ? "ja" : "nein");
  if (seen.resetSeconds != wanted.resetSeconds || seen.count != wanted.count) return false;
  if (seen.onErrorStop != wanted.onErrorStop) return false;
  for (std::uint32_t i = 0; i < wanted.count; ++i) {
    if (seen.type[i] != wanted.type[i] || seen.delayMs[i] != wanted.delayMs[i]) return false;
  }
  return true;
}

// The description as sc sets it: the quoted text of its arguments.
void descriptionAsSet(char* out, std::size_t size) {
  const char* open = std::strchr(kScDescription, '"');
  const char* close = std::strrchr(kScDescription, '"');
  out[0] = '\0';
  if (open == nullptr || close <= open) return;
  const std::size_t n = static_cast<std::size_t>(close - open - 1);
  if (n < size) {
    std::memcpy(out, open + 1, n);
    out[n] = '\0';
  }
}

void checkDescriptionAndRecovery(const char* who) {
  char name[kTextSize], seen[kTextSize], wanted[kTextSize];
  descriptionAsSet(wanted, sizeof wanted);
  serviceDescription(kServiceName, seen, sizeof seen);
  format(name, sizeof name, "%s: Beschreibung des Dienstes gezeigt", who);
  expect(std::strcmp(seen, wanted) == 0, name, "gesehen \"%s\"", seen);
  format(name, sizeof name, "%s: Wiederherstellungsaktionen gespeichert (QueryServiceConfig2)", who);
  if (gRun.wine != nullptr) {
    reportSkipped(name, kWineNoRecovery);
    return;
  }
  Recovery recovery{};
  const bool read = serviceRecovery(kServiceName, &recovery);
  expect(read && recoveryAsSet(recovery, wanted, sizeof wanted), name,
         "gelesen %s: reset %u, %u Aktionen (erste: Typ %u nach %u ms), auch nach Stopp mit Fehler: %s, "
         "erwartet %s",
         read ? "ja" : "nein", recovery.resetSeconds, recovery.count, recovery.type[0], recovery.delayMs[0],
         recovery.onErrorStop ? "ja" : "nein", wanted);
}

// What an installation of the setup or the MSI may leave, besides the
// files the removal keeps by design: nothing.
void leftovers(const char* folder, char* seen, std::size_t size) {
  seen[0] = '\0';
  auto add = [&](const char* what) {
    if (seen[0] != '\0') strncat(seen, ", ", size - std::strlen(seen) - 1);
    strncat(seen, what, size - std::strlen(seen) - 1);
  };
  if (viewService(kServiceName).state != ServiceState::none) add("Dienst Horamat");
  if (keyExists(kSettingsKey)) add("Schluessel Software\\Pexa\\Horamat");
  if (keyExists(kUninstallKey) || listedProgram("Horamat")) add("Eintrag in der Programmliste");
  if (keyExists(kEventSourceKey)) {
    char source[64];
    std::snprintf(source, sizeof source, "Ereignisquelle %s", jobwache::kEventSource);
    add(source);
  }
  if (folderExists(gRun.programData)) add(gRun.programData);
  if (folder != nullptr && folderExists(folder)) add(folder);
}

// Jobwache as the setup leaves it: in the jobs folder, its event source
// registered with Jobwache.exe's message table; and a run that does not
// start shows in the Event Viewer with its result line.
void checkJobwache(const char* jobs) {
  Text program, messageFile;
  joined(program, jobs, "Jobwache.exe");
  std::uint32_t types = 0;
  const bool there = fileExists(program);
  const bool registered = readExpandString(kEventSourceKey, "EventMessageFile", messageFile, sizeof messageFile);
  const bool typesRead = readNumber(kEventSourceKey, "TypesSupported", &types);
  expect(there && registered && _stricmp(messageFile, program) == 0 && typesRead && types == 7,
         "Setup: Jobwache.exe im Auftragsordner, Ereignisquelle registriert",
         "%s %s; EventMessageFile (REG_EXPAND_SZ) %s\"%s\"; TypesSupported %s%u", program, there ? "da" : "fehlt",
         registered ? "" : "nicht gelesen ", messageFile, typesRead ? "" : "nicht gelesen ", types);

  constexpr const char* kName = "Jobwache: Lauf ohne Erfolg in der Ereignisanzeige";
  if (gRun.wine != nullptr) {
    reportSkipped(kName, kWineNoEventLog);
    return;
  }
  // As a table line starts it: the paths without quotes (the jobs folder
  // holds no blank), the program one that is not there.
  char line[kCommandSize], said[4096], text[kTextSize];
  Text missing, output;
  joined(missing, gRun.scratch, "FehltEchtprobe.exe");
  joined(output, gRun.scratch, "jobwache-ausgabe.txt");
  format(line, sizeof line, "%s %s", program, missing);
  const long long start = static_cast<long long>(std::time(nullptr));
  const long rc = runCommand(line, 120, output);
  readFile(output, said, sizeof said);
  // The event log service may take a moment before the record is read.
  bool found = false;
  for (int tries = 0; tries < 20 && !found; ++tries) {
    found = findEvent(jobwache::kEventSource, kJobwacheEvent, start, program, text, sizeof text);
    if (!found) Sleep(500);
  }
  expect(rc == 127 && found && std::strstr(text, "nicht gestartet") != nullptr, kName,
         "Exitcode %ld (erwartet 127; Jobwache: %s); Eintrag der Quelle %s mit Ereignis-ID %u seit dem Start: %s "
         "\"%s\"",
         rc, lastLine(said), jobwache::kEventSource, kJobwacheEvent, found ? "gefunden" : "keiner", text);
}

}  // namespace

// --- service status: a log that cannot be opened

void checkServiceStatus() {
  constexpr const char* kName = "Dienststatus: Log nicht zu oeffnen, Dienst gestoppt mit Exitcode";
  if (!prepareByHand()) {
    reportFailed(kName, "Installation von Hand: Fehlercode %lu", GetLastError());
    return;
  }
  // A folder of the log's name: no program opens it as a file.
  Text log;
  joined(log, gInstall, "Horamat.log");
  makeFolder(log);
  char output[4096];
  horamat("i", output, sizeof output);
  ServiceView view = awaitService(kServiceName, ServiceState::stopped, 40);
  expect(view.state == ServiceState::stopped && (view.win32ExitCode != 0 || view.specificExitCode != 0), kName,
         "Zustand %u, Win32-Exitcode %u, eigener Exitcode %u", static_cast<unsigned>(view.state), view.win32ExitCode,
         view.specificExitCode);
  if (view.state == ServiceState::stopped) note("Win32-Exitcode %u", view.win32ExitCode);
  stopByHand();
  removeTree(log);
}

// --- the table while a job runs, and what a job sees in session 0

void checkTableWhileJobRuns() {
  const char* const names[] = {
      "Tabelle: Auftrag laeuft (haelt nichts offen)",
      "Tabelle: Speichern per MoveFileEx(MOVEFILE_REPLACE_EXISTING) waehrend ein Auftrag laeuft",
      "Tabelle: naechster Lauf liest die ersetzte Tabelle",
      "Tabelle: Loeschen und neu Anlegen waehrend ein Auftrag laeuft",
      "Tabelle: naechster Lauf liest die neu angelegte Tabelle",
  };
  if (!groupCanRun(names, 5, nullptr)) return;
  awaitSecond(3, 40);
  Text fields, table, line;
  fieldsAt(60, fields, sizeof fields);
  table[0] = '\0';
  jobLine(line, sizeof line, fields, "halter.txt", "--warte 240");
  strncat(table, line, sizeof table - std::strlen(table) - 1);
  jobLine(line, sizeof line, fields, "sitzung.txt", "eins zwei");
  strncat(table, line, sizeof table - std::strlen(table) - 1);
  format(line, sizeof line, "%s %s\\auftrag.bat eins zwei\r\n", fields, gJobs);
  strncat(table, line, sizeof table - std::strlen(table) - 1);
  writeTable(table);

  Text holder, pid;
  markerPath(holder, "halter.txt");
  const bool started = awaitFile(holder, kMinuteWait) && markerValue(holder, "pid", pid, sizeof pid);
  const bool holding = started && processRunning(static_cast<std::uint32_t>(std::strtoul(pid, nullptr, 10)));
  if (!expect(holding, names[0], "Auftrag %s", started ? "schon beendet" : "nicht gestartet")) {
    skipAll(names + 1, 4, "kein laufender Auftrag");
    return;
  }
  awaitSecond(3, 40);
  Text target, fresh;
  joined(target, gInstall, "CronTab.txt");
  joined(fresh, gRun.scratch, "CronTab.tmp");
  jobLine(table, sizeof table, "* * * * *", "ersetzt.txt", "");
  writeFile(fresh, table);
  const bool moved = MoveFileExA(fresh, target, MOVEFILE_REPLACE_EXISTING) != 0;
  expect(moved, names[1], "Fehlercode %lu", GetLastError());
  Text marker;
  markerPath(marker, "ersetzt.txt");
  expect(moved && awaitFile(marker, kMinuteWait), names[2], "kein Lauf in %u s", kMinuteWait);

  awaitSecond(3, 40);
  const bool deleted = DeleteFileA(target) != 0;
  const DWORD deleteError = GetLastError();
  jobLine(table, sizeof table, "* * * * *", "neu.txt", "");
  const bool made = deleted && writeFile(target, table);
  expect(made, names[3], "%s: Fehlercode %lu", deleted ? "Anlegen" : "Loeschen",
         deleted ? GetLastError() : deleteError);
  markerPath(marker, "neu.txt");
  expect(made && awaitFile(marker, kMinuteWait), names[4], "kein Lauf in %u s", kMinuteWait);

  // What the jobs of the first minute saw.
  Text seen, wanted;
  Text session;
  markerPath(marker, "sitzung.txt");
  if (gRun.wine != nullptr) {
    reportSkipped("Sitzung 0: Auftrag in Sitzung 0 unter dem Konto des Dienstes (SYSTEM)", kWineNoSessionZero);
  } else {
    markerValue(marker, "sitzung", session, sizeof session);
    markerValue(marker, "sid", seen, sizeof seen);
    expect(std::strcmp(session, "0") == 0 && std::strcmp(seen, kSystemSid) == 0,
           "Sitzung 0: Auftrag in Sitzung 0 unter dem Konto des Dienstes (SYSTEM)", "Sitzung %s, Konto %s", session,
           seen);
  }
  markerValue(marker, "zeile", seen, sizeof seen);
  format(wanted, sizeof wanted, "%s\\Echtprobe.exe --auftrag %s\\sitzung.txt eins zwei", gJobs, gMarks);
  expect(std::strcmp(seen, wanted) == 0, "Auftrag: Befehlszeile wie in der Tabelle", "\"%s\"", seen);
  Text batch;
  markerPath(batch, "bat.txt");
  readFile(batch, seen, sizeof seen);
  lastLine(seen);
  format(wanted, sizeof wanted, "[%s\\auftrag.bat] [eins] [zwei] [eins zwei]", gJobs);
  expect(std::strcmp(seen, wanted) == 0, ".bat-Auftrag: cmd bekommt Programm und Woerter (%0 %1 %2 %*)",
         "\"%s\", erwartet \"%s\"", seen, wanted);
  writeTable("# Echtprobe\r\n");
  endProcessesBelow(gJobs);
}

// --- a time zone changed while the service runs

void checkTimeZone() {
  constexpr const char* kName = "Zeitzone: Wechsel gilt ab dem naechsten Lauf, ohne Neustart";
  if (gRun.wine != nullptr) {
    reportSkipped(kName, kWineHostZone);
    return;
  }
  if (!ensureByHand()) {
    reportSkipped(kName, "keine Installation");
    return;
  }
  const long before = localOffsetMinutes();
  // Two zones without summer time, far apart: one differs from any zone.
  const char* target = before == 9 * 60 ? "UTC" : "Tokyo Standard Time";
  awaitSecond(3, 40);
  if (!setTimeZone(target)) {
    reportFailed(kName, "Zone \"%s\" nicht gesetzt: Fehlercode %lu", target, GetLastError());
    return;
  }
  Text fields, table, marker;
  fieldsAt(60, fields, sizeof fields);
  jobLine(table, sizeof table, fields, "zone.txt", "");
  writeTable(table);
  markerPath(marker, "zone.txt");
  expect(awaitFile(marker, kMinuteWait), kName, "Zeile fuer %s in \"%s\" (vorher %+ld min) lief nicht in %u s",
         fields, target, before, kMinuteWait);
  writeTable("# Echtprobe\r\n");
  restoreTimeZone();
}

// --- the clock steps

void checkClockSteps() {
  const char* const names[] = {
      "Uhr: 3 Minuten vor, jede uebersprungene Minute gelesen",
      "Uhr: 10 Minuten vor, Zeile mit fester Zeit nachgeholt, *-Zeile nur einmal",
      "Uhr: 2 Minuten zurueck, *-Zeilen laufen weiter",
      "Uhr: 2 Minuten zurueck, Zeile mit fester Zeit laeuft nicht zweimal",
      "Uhr: 4 Stunden zurueck, neue Zeit",
  };
  if (!groupCanRun(names, 5, kWineHostClock)) return;
  Text table, line, fields, marker;
  char markers[3][kTextSize];

  // Forward by 3 minutes: minutes +1, +2 and +3 are skipped, and each runs.
  awaitSecond(5, 30);
  table[0] = '\0';
  for (int i = 0; i < 3; ++i) {
    char name[32];
    format(name, sizeof name, "vor3-%d.txt", i + 1);
    fieldsAt(60LL * (i + 1), fields, sizeof fields);
    jobLine(line, sizeof line, fields, name, "");
    strncat(table, line, sizeof table - std::strlen(table) - 1);
    markerPath(markers[i], name);
  }
  writeTable(table);
  if (!stepClock(180)) {
    reportFailed(names[0], "Uhr nicht gestellt: Fehlercode %lu", GetLastError());
    skipAll(names + 1, 4, "Uhr laesst sich nicht stellen");
    restoreClock();
    return;
  }
  const bool all = awaitFile(markers[0], 70) && awaitFile(markers[1], 10) && awaitFile(markers[2], 10);
  expect(all, names[0], "gelaufen: +1 %s, +2 %s, +3 %s", fileExists(markers[0]) ? "ja" : "nein",
         fileExists(markers[1]) ? "ja" : "nein", fileExists(markers[2]) ? "ja" : "nein");

  // Forward by 10 minutes: the fixed-time line of minute +4 is caught up,
  // the * line runs for the current minute only.
  awaitSecond(5, 20);
  fieldsAt(240, fields, sizeof fields);
  jobLine(table, sizeof table, fields, "vor10-fest.txt", "");
  jobLine(line, sizeof line, "* * * * *", "vor10-stern.txt", "");
  strncat(table, line, sizeof table - std::strlen(table) - 1);
  writeTable(table);
  Text star;
  markerPath(marker, "vor10-fest.txt");
  markerPath(star, "vor10-stern.txt");
  // The scan of this minute may just have run the * line: counted from here.
  Sleep(2000);
  const int starBefore = lineCount(star);
  stepClock(600);
  const bool fixed = awaitFile(marker, 20);
  Sleep(3000);
  const int starRuns = lineCount(star) - starBefore;
  expect(fixed && lineCount(marker) == 1 && starRuns == 1, names[1], "feste Zeile %d mal, *-Zeile %d mal",
         lineCount(marker), starRuns);

  // Back by 2 minutes after the fixed-time line of the next minute ran:
  // the * line goes on, the fixed one does not run a second time.
  awaitSecond(5, 30);
  fieldsAt(60, fields, sizeof fields);
  jobLine(table, sizeof table, fields, "zurueck2-fest.txt", "");
  jobLine(line, sizeof line, "* * * * *", "zurueck2-stern.txt", "");
  strncat(table, line, sizeof table - std::strlen(table) - 1);
  writeTable(table);
  markerPath(marker, "zurueck2-fest.txt");
  markerPath(star, "zurueck2-stern.txt");
  awaitFile(marker, 70);
  awaitSecond(5, 30);
  const int starAtStep = lineCount(star);
  stepClock(-120);
  // The clock passes the fixed line's minute again two minutes later.
  sleepSeconds(150);
  expect(lineCount(star) >= starAtStep + 2, names[2], "*-Zeile %d mal in 150 s nach dem Schritt",
         lineCount(star) - starAtStep);
  expect(lineCount(marker) == 1, names[3], "feste Zeile %d mal gelaufen", lineCount(marker));

  // Back by 4 hours: a new time, its next minute's fixed line runs.
  awaitSecond(5, 30);
  stepClock(-4 * 3600);
  fieldsAt(60, fields, sizeof fields);
  jobLine(table, sizeof table, fields, "zurueck4h.txt", "");
  writeTable(table);
  markerPath(marker, "zurueck4h.txt");
  expect(awaitFile(marker, kMinuteWait), names[4], "Zeile fuer %s lief nicht in %u s", fields, kMinuteWait);
  writeTable("# Echtprobe\r\n");
  restoreClock();
  // The scheduler has seen the clock go forward by hours: a new time.
  stopByHand();
}

// --- the service under an account of its own

void checkServiceAccount() {
  const char* const names[] = {
      "Konto: Horamat i mit Konto und Passwort, Dienst laeuft",
      "Konto: Auftrag laeuft unter dem Konto des Dienstes",
  };
  if (!groupCanRun(names, 2, kWineNoLogonRights)) return;
  char password[64];
  if (!makeUser(kServiceUser, password, sizeof password)) {
    reportFailed(names[0], "Konto %s nicht angelegt: Fehlercode %lu", kServiceUser, GetLastError());
    skipAll(names + 1, 1, "kein Konto");
    return;
  }
  char account[128], grant[256], output[4096];
  format(account, sizeof account, ".\\%s", kServiceUser);
  // What such an account needs: the right to log on as a service, and to
  // write the log; the marker's folder is the check's own.
  Text log;
  joined(log, gInstall, "Horamat.log");
  // The SYSTEM service writes its first line only at the next minute.
  if (!fileExists(log)) writeFile(log, "");
  format(grant, sizeof grant, "/grant %s:(M)", kServiceUser);
  const bool rights = grantRight(kServiceUser, kServiceLogonRight) && icacls(log, grant) == 0 &&
                      format(grant, sizeof grant, "/grant %s:(OI)(CI)(M)", kServiceUser) &&
                      icacls(gMarks, grant) == 0;
  stopByHand();
  const bool running = rights && startByHand(account, password, output, sizeof output);
  const ServiceView view = viewService(kServiceName);
  expect(running, names[0], "%s; Zustand %u, Exitcode %u; Horamat: %s",
         rights ? "Rechte gegeben" : "Rechte nicht gegeben", static_cast<unsigned>(view.state), view.win32ExitCode,
         lastLine(output));
  if (running) {
    awaitSecond(3, 40);
    Text fields, table, marker, sid, session;
    fieldsAt(60, fields, sizeof fields);
    jobLine(table, sizeof table, fields, "konto.txt", "");
    writeTable(table);
    markerPath(marker, "konto.txt");
    const bool ran = awaitFile(marker, kMinuteWait);
    markerValue(marker, "sid", sid, sizeof sid);
    markerValue(marker, "sitzung", session, sizeof session);
    // The account's SID as the job's token shows it.
    char wantedSid[256];
    userSid(kServiceUser, wantedSid, sizeof wantedSid);
    expect(ran && std::strcmp(sid, wantedSid) == 0 && std::strcmp(session, "0") == 0, names[1],
           "%s; Konto %s (erwartet %s), Sitzung %s", ran ? "gelaufen" : "nicht gelaufen", sid, wantedSid, session);
    writeTable("# Echtprobe\r\n");
  } else {
    reportSkipped(names[1], "der Dienst laeuft nicht unter dem Konto");
  }
  stopByHand();
  endProcessesBelow(gJobs);
  revokeRight(kServiceUser, kServiceLogonRight);
  startByHand(nullptr, nullptr, output, sizeof output);
}

// --- the setup: silent, access lists, CronCheck, silent removal

void checkSetupAndRights() {
  const char* const rightsNames[] = {
      "Rechte: Standardbenutzer kann die Tabelle nicht schreiben",
      "Rechte: Standardbenutzer kann im Installationsordner nichts anlegen",
      "Rechte: Standardbenutzer kann im Auftragsordner nichts anlegen",
      "Rechte: Standardbenutzer kann ein Auftragsprogramm nicht schreiben",
      "Rechte: vorher vom Benutzer angelegter Auftragsordner mit eigenem Eintrag danach nicht mehr beschreibbar",
      "Rechte: Standardbenutzer kann die Rechte des Auftragsordners nicht aendern",
  };
  constexpr std::size_t kRights = sizeof rightsNames / sizeof rightsNames[0];
  if (gRun.setup[0] == '\0') {
    reportSkipped("Setup", "kein Horamat-Setup-*.exe bei den Programmen (makensis fehlte beim Bauen)");
    return;
  }
  Text folder, jobs, programData;
  makeFolder(gRun.scratch);
  joined(folder, gRun.scratch, "Setup");
  platform::copyText(programData, sizeof programData, gRun.programData);
  joined(jobs, programData, "Jobs");

  // A standard user makes the jobs folder before the setup, with an entry
  // of its own that gives it full control, as users may below ProgramData.
  char password[64] = "";
  bool user = false, userFolder = false;
  if (gRun.wine == nullptr) {
    user = makeUser(kStandardUser, password, sizeof password);
    if (!user) note("Benutzer %s nicht angelegt: Fehlercode %lu", kStandardUser, GetLastError());
    if (user && becomeUser(kStandardUser, password)) {
      userFolder = makeFolder(programData) && makeFolder(jobs) && grantFullControl(jobs, kStandardUser) &&
                   writeAccess(jobs) == 0;
      becomeSelf();
    }
    if (user && !userFolder) note("Auftragsordner als Benutzer nicht angelegt: Fehlercode %lu", GetLastError());
  }

  char line[kCommandSize], said[4096];
  Text output;
  joined(output, gRun.scratch, "setup-ausgabe.txt");
  format(line, sizeof line, "\"%s\" /S /D=%s", gRun.setup, folder);
  const long rc = runCommand(line, 300, output);
  readFile(output, said, sizeof said);
  expect(rc == 0, "Setup /S: Exitcode 0", "Exitcode %ld; Setup: %s", rc, lastLine(said));
  const ServiceView view = awaitService(kServiceName, ServiceState::running, 40);
  expect(view.state == ServiceState::running, "Setup: Dienst laeuft", "Zustand %u, Exitcode %u",
         static_cast<unsigned>(view.state), view.win32ExitCode);
  checkDescriptionAndRecovery("Setup");
  checkJobwache(jobs);

  Text table, job;
  joined(table, folder, "CronTab.txt");
  joined(job, jobs, "auftrag.bat");
  writeFile(job, "@echo Echtprobe\r\n");
  const char* const paths[] = {table, folder, jobs, job};
  if (gRun.wine != nullptr) {
    skipAll(rightsNames, kRights, kWineNoAccessLists);
  } else if (!user || !becomeUser(kStandardUser, password)) {
    skipAll(rightsNames, kRights, "kein Standardbenutzer (Anlegen oder Anmelden scheiterte)");
  } else {
    std::uint32_t codes[4];
    for (int i = 0; i < 4; ++i) codes[i] = writeAccess(paths[i]);
    const std::uint32_t rightsCode = changeRightsAccess(jobs);
    becomeSelf();
    for (int i = 0; i < 4; ++i) {
      expect(codes[i] == ERROR_ACCESS_DENIED, rightsNames[i], "%s: Fehlercode %u (0: geschrieben)", paths[i],
             codes[i]);
    }
    if (userFolder) {
      expect(codes[2] == ERROR_ACCESS_DENIED, rightsNames[4], "Fehlercode %u (0: geschrieben)", codes[2]);
    } else {
      reportSkipped(rightsNames[4], "der Benutzer konnte den Ordner vorher nicht anlegen");
    }
    expect(rightsCode == ERROR_ACCESS_DENIED, rightsNames[5], "Fehlercode %u (0: geoeffnet)", rightsCode);
  }
  std::uint32_t adminCodes[4];
  for (int i = 0; i < 4; ++i) adminCodes[i] = writeAccess(paths[i]);
  expect(adminCodes[0] == 0 && adminCodes[1] == 0 && adminCodes[2] == 0 && adminCodes[3] == 0,
         "Rechte: Administrator kann Tabelle, Installations- und Auftragsordner und Auftrag schreiben",
         "Fehlercodes %u %u %u %u", adminCodes[0], adminCodes[1], adminCodes[2], adminCodes[3]);

  joined(output, gRun.scratch, "croncheck.txt");
  format(line, sizeof line, "\"%s\\CronCheck.exe\"", folder);
  long check = runCommand(line, 120, output);
  expect(check == 0, "CronCheck: Exitcode 0 auf der geschuetzten Installation", "Exitcode %ld", check);
  if (gRun.wine != nullptr) {
    reportSkipped("CronCheck: Exitcode 3, sobald Benutzer die Tabelle schreiben duerfen", kWineNoAccessLists);
  } else {
    char grant[64];
    format(grant, sizeof grant, "/grant %s:(M)", kUsersSid);
    icacls(table, grant);
    check = runCommand(line, 120, output);
    expect(check == 3, "CronCheck: Exitcode 3, sobald Benutzer die Tabelle schreiben duerfen", "Exitcode %ld",
           check);
  }

  // The uninstaller copies itself away and returns at once; it is done
  // when its own file and the service are gone.
  Text uninstaller;
  joined(uninstaller, folder, "Entfernen.exe");
  format(line, sizeof line, "\"%s\" /S", uninstaller);
  runCommand(line, 120);
  for (int tenths = 0; tenths < 1200; ++tenths) {
    if (!fileExists(uninstaller) && viewService(kServiceName).state == ServiceState::none) break;
    Sleep(100);
  }
  Text program, log;
  joined(program, folder, "Zyklant.exe");
  joined(log, folder, "Horamat.log");
  const bool gone = viewService(kServiceName).state == ServiceState::none && !keyExists(kSettingsKey) &&
                    !keyExists(kUninstallKey) && !fileExists(program) && !fileExists(uninstaller);
  expect(gone, "Entfernen.exe /S: Dienst, Programme, Schluessel und Eintrag entfernt",
         "Dienst %s, Schluessel %s, Eintrag %s, Zyklant.exe %s, Entfernen.exe %s",
         viewService(kServiceName).state == ServiceState::none ? "weg" : "da", keyExists(kSettingsKey) ? "da" : "weg",
         keyExists(kUninstallKey) ? "da" : "weg", fileExists(program) ? "da" : "weg",
         fileExists(uninstaller) ? "da" : "weg");
  expect(fileExists(table) && fileExists(log) && folderExists(jobs),
         "Entfernen.exe /S: Tabelle, Log und Auftragsordner bleiben", "Tabelle %s, Log %s, Auftragsordner %s",
         fileExists(table) ? "da" : "weg", fileExists(log) ? "da" : "weg", folderExists(jobs) ? "da" : "weg");
  removeTree(folder);
  removeTree(programData);
  char seen[kTextSize];
  leftovers(folder, seen, sizeof seen);
  expect(seen[0] == '\0', "Setup: Rechner danach wie vorher", "noch da: %s", seen);
  if (user) deleteUser(kStandardUser);
}

// --- the MSI package: msiexec /i and /x, silent

void checkMsi() {
  if (gRun.msi[0] == '\0') {
    reportSkipped("MSI", "kein Horamat-*.msi bei den Programmen (wixl fehlte beim Bauen)");
    return;
  }
  Text folder, log, table;
  makeFolder(gRun.scratch);
  joined(folder, gRun.scratch, "Paket");
  joined(log, gRun.scratch, "msiexec.log");
  joined(table, folder, "CronTab.txt");
  char line[kCommandSize];
  Text output;
  joined(output, gRun.scratch, "msiexec-ausgabe.txt");
  format(line, sizeof line, "msiexec /i \"%s\" /qn /l*v \"%s\" INSTALLDIR=\"%s\"", gRun.msi, log, folder);
  long rc = runCommand(line, 300, output);
  expect(rc == 0, "MSI: msiexec /i /qn, Exitcode 0", "Exitcode %ld (Protokoll %s)", rc, log);
  const ServiceView view = awaitService(kServiceName, ServiceState::running, 40);
  expect(view.state == ServiceState::running, "MSI: Dienst laeuft", "Zustand %u, Exitcode %u",
         static_cast<unsigned>(view.state), view.win32ExitCode);
  char path[kTextSize];
  readString(kSettingsKey, "Path", path, sizeof path);
  expect(std::strcmp(path, folder) == 0 && fileExists(table), "MSI: Path im Schluessel, Tabelle installiert",
         "Path \"%s\"", path);
  checkDescriptionAndRecovery("MSI");
  format(line, sizeof line, "msiexec /x \"%s\" /qn /l*v \"%s\"", gRun.msi, log);
  rc = runCommand(line, 300, output);
  expect(rc == 0, "MSI: msiexec /x /qn, Exitcode 0", "Exitcode %ld", rc);
  for (int tenths = 0; tenths < 300 && viewService(kServiceName).state != ServiceState::none; ++tenths) Sleep(100);
  Text program;
  joined(program, folder, "Zyklant.exe");
  const bool gone = viewService(kServiceName).state == ServiceState::none && !keyExists(kSettingsKey) &&
                    !listedProgram("Horamat") && !fileExists(program);
  expect(gone, "MSI: Dienst, Programme, Schluessel und Produkt entfernt", "Dienst %s, Schluessel %s, Produkt %s",
         viewService(kServiceName).state == ServiceState::none ? "weg" : "da", keyExists(kSettingsKey) ? "da" : "weg",
         listedProgram("Horamat") ? "da" : "weg");
  expect(fileExists(table), "MSI: Tabelle bleibt", "weg");
  removeTree(folder);
  removeTree(gRun.programData);
  char seen[kTextSize];
  leftovers(folder, seen, sizeof seen);
  expect(seen[0] == '\0', "MSI: Rechner danach wie vorher", "noch da: %s", seen);
}

// --- the net below all checks

bool foreignInstallation(char* seen, std::size_t size) {
  char path[kTextSize];
  seen[0] = '\0';
  const bool ours = readString(kSettingsKey, "Path", path, sizeof path) &&
                    _strnicmp(path, gRun.scratch, std::strlen(gRun.scratch)) == 0;
  if (ours) return false;  // a run that was cut off left it: removed first
  leftovers(nullptr, seen, size);
  return seen[0] != '\0';
}

void removeEverything() {
  cleanUp();
  endProcessesBelow(gRun.scratch);
  if (viewService(kServiceName).state != ServiceState::none) {
    stopService(kServiceName);
    deleteService(kServiceName);
  }
  if (gRun.msi[0] != '\0' && listedProgram("Horamat")) {
    char line[kCommandSize];
    if (format(line, sizeof line, "msiexec /x \"%s\" /qn", gRun.msi)) runCommand(line, 300);
  }
  deleteKey(kUninstallKey);
  deleteKey(kSettingsKey);
  endProcessesBelow(gRun.scratch);
  for (int i = 0; i < 20 && !removeTree(gRun.scratch); ++i) Sleep(500);
  removeTree(gRun.programData);
}

void finishByHand() {
  if (gInstall[0] == '\0') return;
  if (viewService(kServiceName).state != ServiceState::none) stopByHand();
  deleteKey(kSettingsKey);
  endProcessesBelow(gRun.scratch);
  removeTree(gInstall);
  removeTree(gJobs);
  removeTree(gMarks);
}

}  // namespace probe
