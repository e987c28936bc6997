#include "checker/cron_check.h"

#include <cstring>
#include <span>

#include "jobwache/jobwache.h"
#include "jobwache/watch_options.h"
#include "platform/bounded_text.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/service_client.h"
#include "scheduler/cron_log.h"
#include "scheduler/job_start.h"
#include "scheduler/scheduler_loop.h"
#include "settings/install_settings.h"

namespace checker {

namespace {

using cron::skipSpace;
using scheduler::kPathSize;

// How far ahead starts are looked for: eight years, two of their days
// being 29 February.
constexpr std::time_t kSearchSpan = std::time_t{8 * 365 + 2} * 24 * 3600;

constexpr const char* kSkipTexts[] = {"", "leer", "weniger als fuenf Felder", "kein Befehl"};
constexpr const char* kNoSuchDate = "keiner dieser Tage kommt in einem dieser Monate vor";
constexpr const char* kNeverTexts[] = {"",
                                       "die Minute markiert nichts",
                                       "die Stunde markiert nichts",
                                       "kein Tag 1-31 markiert",
                                       "kein Monat 1-12 markiert",
                                       "kein Wochentag 0-6 markiert",
                                       kNoSuchDate};

struct Summary {
  int lines = 0;
  int comments = 0;
  int skipped = 0;
  int used = 0;
  int never = 0;
  int warnings = 0;
  int hints = 0;
  int writable = 0;  // warnings that others may change what runs
};

constexpr bool isHint(Finding f) { return f >= Finding::BothDayFields; }
constexpr bool isWritable(Finding f) { return f >= Finding::WritableTable && f <= Finding::WritableProgramFolder; }

// The log's stamp of t, without its newline.
struct Stamp {
  char text[scheduler::kStampSize] = "";
};
Stamp stampOf(std::time_t t) {
  Stamp stamp;
  if (const std::tm* local = std::localtime(&t)) scheduler::formatStamp(*local, stamp.text);
  stamp.text[std::strcspn(stamp.text, "\n")] = '\0';
  return stamp;
}

void addLineFindings(const char* pieceText, const PieceInfo& where, LineReport& report) {
  // The shown text keeps every character in its place.
  const char* hash = skipSpace(pieceText);
  if (cron::isSpace(pieceText[0]) && *hash == '#') {
    suggest(addFinding(report.findings, Finding::HashNotFirst,
                       "\"#\" nach Leerraum ist kein Kommentar; nur ein \"#\" als erstes Zeichen der Zeile macht einen"),
            "ohne den Leerraum davor: \"%s\"", report.text + (hash - pieceText));
  }
  if (where.overlong) {
    suggest(addFinding(report.findings, Finding::OverlongPiece,
                       "Teil %d der Datei-Zeile %d, die laenger als 255 Zeichen ist: der Dienst liest hoechstens "
                       "255 Zeichen am Stueck, jedes Stueck gilt als eigene Zeile",
                       where.piece, where.fileLine),
            "die Zeile kuerzen, etwa den Befehl in eine Batchdatei legen");
  }
}

// "laeuft am 28.03.2027 nicht (02:00-02:59), laeuft am 31.10.2027 zweimal
// (02:00-02:59)": the scheduler matches the wall clock, so a nightly job
// in such an hour misses a night and runs twice on another.
void addClockFinding(const ClockChanges& changes, LineReport& report) {
  Report* r = nullptr;
  for (const ClockChange& c : std::span(changes.items).first(static_cast<std::size_t>(changes.count))) {
    if (!startsWithin(report.masks, c)) continue;
    const bool first = r == nullptr;
    if (first && (r = addFinding(report.findings, Finding::ClockChange, "Zeitumstellung: ")) == nullptr) return;
    const int from = c.wall.tm_hour * 60 + c.wall.tm_min;
    const int last = from + c.minutes - 1;
    appendFormat(r->message, sizeof r->message, "%slaeuft am %02d.%02d.%04d %s (%02d:%02d-%02d:%02d)",
                 first ? "" : ", ", c.wall.tm_mday, c.wall.tm_mon + 1, c.wall.tm_year + 1900,
                 c.repeated ? "zweimal" : "nicht", from / 60, from % 60, last / 60, last % 60);
    if (first) suggest(r, "fuer genau einen Start am Tag eine Zeit ausserhalb davon waehlen");
  }
}

void addCombinationFindings(const CheckOptions& options, LineReport& report) {
  const cron::CronLine& line = report.line;
  if (report.never == NeverReason::NoSuchDate) {
    suggest(addFinding(report.findings, Finding::NoSuchDate, "Tag \"%s\" und Monat \"%s\": %s; die Zeile laeuft nie",
                       line.dayOfMonth, line.month, kNoSuchDate),
            "Tag \"%d\" statt \"%s\" (den gibt es in jedem der Monate)", shortestMarkedMonthDays(report.masks),
            line.dayOfMonth);
    return;
  }
  if (report.never != NeverReason::None) return;

  if (report.startCount == 0) {
    addFinding(report.findings, Finding::NoStartWithinSearch,
               "kein Start in den naechsten acht Jahren (bis %s): so selten treffen Tag, Monat und Wochentag "
               "zusammen, oder jede passende Zeit faellt in eine Zeitumstellung",
               stampOf(options.from + kSearchSpan).text);
  }
  if (leapYearsOnly(report.masks))
    addFinding(report.findings, Finding::LeapYearsOnly, "laeuft nur am 29. Februar, also nur in Schaltjahren");
  if (options.changes != nullptr) addClockFinding(*options.changes, report);
  auto restricted = [&](Field field) { return coverage(report.masks, cron::fieldSpec(field)) != Coverage::All; };
  if (restricted(Field::DayOfMonth) && restricted(Field::DayOfWeek)) {
    addFinding(report.findings, Finding::BothDayFields,
               "Tag und Wochentag muessen beide passen, nicht nur einer von beiden wie bei manchen anderen "
               "cron-Programmen");
  }
}

// Notepad saves UTF-8 unless told otherwise; the scheduler and the
// programs it starts read the ANSI code page.
constexpr const char* kSaveAsAnsi = "in Notepad \"Datei\", \"Speichern unter\", Codierung \"ANSI\" waehlen";

void addProgramFindings(const CheckOptions& options, const char* program, LineReport& report);
void addWatchedJobFindings(const CheckOptions& options, const scheduler::JobCommand& job, LineReport& report);

// A job path written as UTF-8 ("Pr\xc3\xbcfung.bat") is not the file that
// the ANSI calls find; its entry is logged all the same. The table may be
// meant for another machine, so a program that is not here is a warning,
// not a verdict.
void addCommandFindings(const CheckOptions& options, LineReport& report) {
  if (hasHighByte(report.line.command))
    suggest(addFinding(report.findings, Finding::HighBytes,
                       "Befehl mit Zeichen ueber 127 (etwa Umlauten): die Datei ist wahrscheinlich als UTF-8 "
                       "gespeichert, dann findet Windows ein Programm oder einen Pfad mit solchen Zeichen nicht"),
            "%s und die Zeile pruefen", kSaveAsAnsi);
  scheduler::JobCommand job;
  if (!scheduler::buildJobCommand(report.line.command, job)) return;
  addProgramFindings(options, job.program, report);
  if (jobwache::isJobwache(job.program)) addWatchedJobFindings(options, job, report);
}

// A program as the service would find it: there, not changeable by others,
// no window.
void addProgramFindings(const CheckOptions& options, const char* program, LineReport& report) {
  char resolved[kAuditPathSize] = "";
  const bool found = scheduler::resolveProgramFrom(options.serviceFolder, program, resolved, sizeof resolved);
  if (options.audit != nullptr && resolved[0] != '\0') auditProgram(*options.audit, resolved, found, report.findings);
  // The service's session has no screen: a window there is seen by no one
  // and closed by no one, and its program may wait for ever.
  if (found && imageKind(resolved) == ImageKind::Window)
    suggest(addFinding(report.findings, Finding::WindowProgram,
                       "Programm \"%s\" oeffnet Fenster (ein Windows-Programm, kein Konsolenprogramm): der Dienst "
                       "startet es unsichtbar in Sitzung 0, wo niemand es sieht, bedient oder schliesst; endet es "
                       "nicht von selbst, laeuft es fuer immer",
                       program),
            "ein Konsolenprogramm oder ein Skript (.bat, .cmd) starten, das ohne Eingabe von selbst endet");
  if (found) return;
  Report* r = addFinding(report.findings, Finding::ProgramNotFound, "Programm \"%s\" auf diesem Rechner nicht gefunden",
                         program);
  if (r != nullptr && resolved[0] != '\0')
    appendFormat(r->message, sizeof r->message,
                 ", gesucht als \"%s\" (ohne Endung auch mit .com, .exe, .bat und .cmd)", resolved);
  suggest(r, "den Pfad pruefen; ohne Pfad sucht der Dienst nur in seinem Ordner %s, einen PATH kennt er nicht",
          options.serviceFolder);
}

// Jobwache reads its options from the pieces after its own name, as here;
// a wrong one ends every run at once with 123, and nothing is recorded.
// The job behind it is checked as any program, after a mended option too.
void addWatchedJobFindings(const CheckOptions& options, const scheduler::JobCommand& job, LineReport& report) {
  const char* const* pieces = job.argv + 1;
  jobwache::WatchOptions watch;
  if (jobwache::parseWatchOptions(pieces, watch)) {
    addProgramFindings(options, pieces[watch.program], report);
    return;
  }
  char why[kMessageSize];
  jobwache::describeOptionError(watch, pieces, why, sizeof why);
  Report* r = addFinding(report.findings, Finding::JobwacheOption,
                         "Jobwache: %s; so endet jeder Lauf sofort mit 123, ohne Eintrag in Jobwache.log", why);
  static char rewrite[scheduler::kJobTextSize];
  if (!jobwache::rewriteOptions(watch, pieces, rewrite, sizeof rewrite)) return;
  suggest(r, "%s %s", job.program, rewrite);
  static scheduler::JobCommand mended;
  if (scheduler::buildJobCommand(rewrite, mended) && jobwache::parseWatchOptions(mended.argv, watch)) {
    addProgramFindings(options, mended.argv[watch.program], report);
  }
}

// The last result Jobwache recorded for the command of a watched line.
void printLastResult(std::FILE* out, const LineReport& report, const CheckOptions& options) {
  static scheduler::JobCommand job;
  jobwache::WatchOptions watch;
  char command[scheduler::kJobTextSize];
  if (options.installDir == nullptr || !scheduler::buildJobCommand(report.line.command, job) ||
      !jobwache::isJobwache(job.program) || !jobwache::parseWatchOptions(job.argv + 1, watch) ||
      !scheduler::joinCommandLine(job.argv + 1 + watch.program, command, sizeof command)) {
    return;
  }
  static jobwache::ResultLine result;
  if (jobwache::lastResult(options.installDir, command, result)) {
    std::fprintf(out, "  Letztes Ergebnis: %s, %llu s, %s\n", result.stamp,
                 static_cast<unsigned long long>(result.seconds), result.outcome);
  } else {
    std::fprintf(out, "  Letztes Ergebnis: keines in Jobwache.log\n");
  }
}

void printFindings(std::FILE* out, const FindingList& findings, const char* indent, Summary& summary) {
  for (const Report& r : std::span(findings.items).first(static_cast<std::size_t>(findings.count))) {
    std::fprintf(out, "%s%s: %s\n", indent, isHint(r.finding) ? "Hinweis" : "Warnung", r.message);
    if (r.suggestion[0] != '\0') std::fprintf(out, "%s  Vorschlag: %s\n", indent, r.suggestion);
    ++(isHint(r.finding) ? summary.hints : summary.warnings);
    summary.writable += isWritable(r.finding);
  }
  if (findings.dropped > 0) std::fprintf(out, "%s(%d weitere Warnungen)\n", indent, findings.dropped);
  summary.warnings += findings.dropped;
}

// 0 to 100, in at most three digits.
bool parseCount(const char* text, int& count) {
  const char* end = std::strlen(text) <= 3 && cron::isDigit(text[0]) ? cron::readNumber(text, count) : nullptr;
  return end != nullptr && *end == '\0' && count <= kMaxStarts;
}

// The account the installed service runs under; "" when there is none.
const char* serviceAccount() {
  static char account[kPathSize];
  account[0] = '\0';
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerConnect);
  if (manager == nullptr) return account;
  platform::ScHandle service = platform::openService(manager, settings::kServiceName, platform::kServiceQueryConfig);
  if (service != nullptr) {
    if (!platform::queryServiceAccount(service, account, sizeof account)) account[0] = '\0';
    platform::closeServiceHandle(service);
  }
  platform::closeServiceHandle(manager);
  return account;
}

void printUsage() {
  std::printf(
      "Aufruf: CronCheck [<Datei> [<Anzahl>]]\n"
      "  ohne Datei: CronTab.txt der Installation (Path in der Registry)\n"
      "  Anzahl: so viele naechste Starts je Zeile, 0 bis %d, sonst %d\n",
      kMaxStarts, kDefaultStarts);
}

void printLine(std::FILE* out, const LineReport& report, const CheckOptions& options, Summary& summary) {
  ++summary.lines;
  summary.comments += report.kind == LineKind::Comment;
  summary.skipped += report.kind == LineKind::Skipped;
  summary.used += report.kind == LineKind::Used;
  summary.never += report.kind == LineKind::Used && report.never != NeverReason::None;
  std::fprintf(out, "Zeile %d: ", report.where.number);
  if (report.kind == LineKind::Comment) {
    std::fprintf(out, "Kommentar\n");
  } else if (report.kind == LineKind::Skipped) {
    const bool empty = report.skip == SkipReason::Empty;
    std::fprintf(out, "uebersprungen (%s)%s%s\n", kSkipTexts[static_cast<int>(report.skip)], empty ? "" : ": ",
                 empty ? "" : report.text);
  } else {
    std::fprintf(out, "benutzt: %s\n", report.text);
    const char* separator = "  ";
    for (const FieldInfo& info : cron::kFields) {
      char marked[kMessageSize];
      describeMarks(report.masks, info, marked, sizeof marked);
      std::fprintf(out, "%s%s %s", separator, info.german, marked);
      separator = " | ";
    }
    std::fprintf(out, "\n");
    if (report.never != NeverReason::None) {
      std::fprintf(out, "  Laeuft nie: %s.\n", kNeverTexts[static_cast<int>(report.never)]);
    } else {
      const int shown = report.startCount < options.starts ? report.startCount : options.starts;
      for (int i = 0; i < shown; ++i) std::fprintf(out, "  Start: %s\n", stampOf(report.starts[i]).text);
      if (report.startCount > 0 && report.startCount < options.starts)
        std::fprintf(out, "  (keine weiteren Starts in den naechsten acht Jahren)\n");
    }
    printLastResult(out, report, options);
  }
  printFindings(out, report.findings, "  ", summary);
}

void printSummary(std::FILE* out, const Summary& summary) {
  auto plural = [](int count, const char* one, const char* many) { return count == 1 ? one : many; };
  std::fprintf(out, "Zusammenfassung: %d %s: %d %s, %d uebersprungen, %d benutzt, davon %d %s; %d %s, %d %s.\n",
               summary.lines, plural(summary.lines, "Zeile", "Zeilen"), summary.comments,
               plural(summary.comments, "Kommentar", "Kommentare"), summary.skipped, summary.used, summary.never,
               plural(summary.never, "laeuft nie", "laufen nie"), summary.warnings,
               plural(summary.warnings, "Warnung", "Warnungen"), summary.hints,
               plural(summary.hints, "Hinweis", "Hinweise"));
}

}  // namespace

// A lone CR stays in a line, as Windows keeps it, and is shown as "?".
void copyForDisplay(char (&out)[cron::kLineBufferSize], const char* text) {
  std::size_t n = 0;
  for (; n < sizeof out - 1 && text[n] != '\0' && text[n] != '\n'; ++n) {
    const unsigned char c = static_cast<unsigned char>(text[n]);
    out[n] = (c < 0x20 && c != '\t') || c == 0x7F ? '?' : text[n];
  }
  out[n] = '\0';
}

void checkLine(const char* pieceText, const PieceInfo& where, const CheckOptions& options, LineReport& report) {
  report = LineReport{};
  report.where = where;
  copyForDisplay(report.text, pieceText);

  // The verdicts are the scheduler's: a "#" in the first column, then
  // splitCronLine.
  if (pieceText[0] == '#') {
    report.kind = LineKind::Comment;
  } else if (cron::splitCronLine(pieceText, report.line)) {
    report.kind = LineKind::Used;
  } else {
    // Only for saying why splitCronLine skipped the line; it decided.
    const int items = cron::lineItems(pieceText);
    report.kind = LineKind::Skipped;
    report.skip = items == 0 ? SkipReason::Empty : items < 5 ? SkipReason::FewerThanFiveFields : SkipReason::NoCommand;
  }
  addLineFindings(pieceText, where, report);
  if (report.kind != LineKind::Used) return;

  cron::parseLine(report.line, report.masks);
  report.never = neverReason(report.masks);
  // An indented "#" line was meant as a comment: its "#" is its minute
  // field, which marks nothing. The finding above says all there is; its
  // other fields and its "program" are words of a comment.
  if (*skipSpace(pieceText) == '#') return;

  for (const FieldInfo& info : cron::kFields)
    checkField(cron::fieldText(report.line, info.field), info, report.findings);
  if (report.never == NeverReason::None) {
    // At least one start is looked for even when none is shown: a line
    // without one in eight years is worth a warning.
    const int wanted = options.starts > 0 ? options.starts : 1;
    report.startCount =
        findStarts(report.masks, options.from, options.from + kSearchSpan, report.starts.data(), wanted);
  }
  addCombinationFindings(options, report);
  addCommandFindings(options, report);
}

int checkTable(const char* path, const CheckOptions& options, std::FILE* out) {
  cron::TableMark mark = cron::TableMark::None;
  std::FILE* table = cron::openTable(path, &mark);
  if (table == nullptr) {
    std::fprintf(out, "Tabelle \"%s\" nicht lesbar.\n", path);
    return kExitNotRead;
  }
  std::fprintf(out, "Tabelle: %s\nStarts ab: %s\n", path, stampOf(options.from).text);
  Summary summary;
  FindingList tableFindings;
  if (options.audit != nullptr) auditTable(*options.audit, path, tableFindings);
  if (options.serviceTimeZone) checkServiceTimeZone(tableFindings);
  if (mark == cron::TableMark::Utf8)
    addFinding(tableFindings, Finding::Utf8Mark,
               "die Tabelle beginnt mit der UTF-8-Markierung (BOM, Notepads \"UTF-8 mit BOM\"); der Dienst "
               "ueberspringt sie");
  if (mark == cron::TableMark::Utf16)
    suggest(addFinding(tableFindings, Finding::Utf16Table,
                       "die Tabelle ist als UTF-16 gespeichert (Notepads Codierung \"Unicode\"); darin liest der "
                       "Dienst keine Zeile, kein Job laeuft"),
            "%s", kSaveAsAnsi);
  printFindings(out, tableFindings, "", summary);
  if (mark == cron::TableMark::Utf16) {
    std::fclose(table);
    return kExitSomeNever;
  }
  std::fprintf(out, "\n");

  // The pieces as the scheduler reads them, one ahead: whether a piece
  // ends its physical line short of 255 characters is only known once the
  // next piece is seen.
  char text[cron::kLineBufferSize] = "";
  char next[cron::kLineBufferSize];
  bool haveNext = platform::readLine(next, sizeof next, table) != nullptr;
  PieceInfo where{};
  bool lineOverlong = false;  // the physical line being read is longer than 255
  // One report at a time; it is large, and nothing keeps it.
  static LineReport report;
  while (haveNext) {
    const bool continued = where.number > 0 && std::strchr(text, '\n') == nullptr;
    std::memcpy(text, next, sizeof text);
    haveNext = platform::readLine(next, sizeof next, table) != nullptr;
    ++where.number;
    where.piece = continued ? where.piece + 1 : 1;
    if (!continued) {
      ++where.fileLine;
      // A line of exactly 255 characters leaves only its newline for the
      // next piece: an empty line to the scheduler, and nothing lost.
      lineOverlong = std::strchr(text, '\n') == nullptr && haveNext && std::strcmp(next, "\n") != 0;
    }
    where.overlong = lineOverlong && std::strcmp(text, "\n") != 0;
    checkLine(text, where, options, report);
    printLine(out, report, options, summary);
  }
  const bool failed = std::ferror(table) != 0;
  std::fclose(table);
  std::fprintf(out, "\n");
  printSummary(out, summary);
  if (failed) {
    std::fprintf(out, "Tabelle \"%s\" nicht ganz lesbar.\n", path);
    return kExitNotRead;
  }
  if (summary.never > 0) return kExitSomeNever;
  return summary.writable > 0 ? kExitWritable : kExitAllRun;
}

int cronCheckMain(int argc, char** argv) {
  CheckOptions options{};
  options.starts = kDefaultStarts;
  if (argc > 3 || (argc == 3 && !parseCount(argv[2], options.starts))) {
    printUsage();
    return kExitNotRead;
  }

  // Without a file the installed table, its folder read the way the
  // installer reads it, without its diagnostic line.
  const bool installed = argc < 2;
  if (installed &&
      settings::readInstallSettings(settings::Variant::Installer, settings::DiagnosticLine::Suppressed) != 1) {
    std::printf("Installation nicht gefunden: HKEY_LOCAL_MACHINE\\%s, Werte Path und Version.\n",
                settings::kSettingsKey);
    printUsage();
    return kExitNotRead;
  }
  char path[kPathSize];
  const bool fits = installed ? platform::copyText(path, sizeof path, settings::InstallSettings.path) &&
                                    platform::appendText(path, sizeof path, "\\CronTab.txt")
                              : platform::copyText(path, sizeof path, argv[1]);
  if (!fits) {
    std::printf(installed ? "Installationspfad zu lang.\n" : "Dateiname zu lang.\n");
    return kExitNotRead;
  }

  char folder[kPathSize];
  if (!platform::serviceCurrentFolder(folder, sizeof folder)) platform::copyText(folder, sizeof folder, ".");
  options.serviceFolder = folder;
  // The service's own account may change what it runs anyway.
  static Audit audit;
  audit.serviceAccount = serviceAccount();
  options.audit = &audit;
  // The scheduler has scanned the current minute already, or does so
  // within its first second: starts count from the next one.
  const std::time_t now = std::time(nullptr);
  options.from = now - now % 60 + 60;
  static ClockChanges changes;
  findClockChanges(options.from, changes);
  options.changes = &changes;
  options.serviceTimeZone = true;
  // A table given by name may be this machine's all the same: its watched
  // lines' results are shown when there is an installation.
  if (installed || settings::readInstallSettings(settings::Variant::Installer,
                                                 settings::DiagnosticLine::Suppressed) == 1) {
    options.installDir = settings::InstallSettings.path;
  }

  const int code = checkTable(path, options, stdout);
  std::fflush(stdout);
  return code;
}

}  // namespace checker
