// CronCheck: says, line by line, what the scheduler will make of
// CronTab.txt, and which lines never run. Every verdict comes from the
// scheduler's own table code; the checker only explains and looks ahead.
#pragma once
#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "scheduler/cron_table.h"

namespace checker {

using cron::Field;
using cron::FieldInfo;

constexpr int kDefaultStarts = 3;
constexpr int kMaxStarts = 100;

constexpr int kExitAllRun = 0;     // every used line runs some day
constexpr int kExitSomeNever = 1;  // some used line never runs
constexpr int kExitNotRead = 2;    // no table read: not there, no settings, wrong call
constexpr int kExitWritable = 3;   // every used line runs, but others may change what runs

// How many of the values the clock shows are marked; the others never match.
enum class Coverage { None, Some, All };
Coverage coverage(const cron::ScheduleMasks& masks, const FieldInfo& info);

// The order groups them: causes of a field item that marks nothing; items
// that mark less than they seem to ("0-30/5", "5x"); values the clock
// never shows; the line or the table as a whole; who else may change what
// runs; then the hints, nothing wrong but not what users of other cron
// programs expect.
enum class Finding {
  Step, Name, RangeNotAscending, AboveMaximum, Negative, NotANumber, StarInList,
  StepIgnored, RestIgnored,
  SundayAsSeven, NoDayZero, NoMonthZero, NoSuchDate,
  NoStartWithinSearch, HashNotFirst, OverlongPiece, ProgramNotFound, WindowProgram, JobwacheOption, HighBytes, Utf16Table,
  TimeZoneVariable,
  WritableTable, WritableTableFolder, WritableProgram, WritableProgramFolder, AccessUnknown,
  BothDayFields, LeapYearsOnly, Utf8Mark, ClockChange
};

// A message holds a whole table line and some words around it, or two
// paths and the icacls arguments around them.
constexpr std::size_t kMessageSize = 1024;

struct Report {
  Finding finding;
  char message[kMessageSize];
  char suggestion[kMessageSize];  // empty when there is none
};

struct FindingList {
  std::array<Report, 16> items{};
  int count = 0;
  int dropped = 0;  // found beyond the list: counted, not kept
};

// nullptr when the list is full (then counted as dropped); suggest does
// nothing for nullptr. Text that does not fit is cut and ends in "...".
Report* addFinding(FindingList& list, Finding finding, const char* format, ...) __attribute__((format(printf, 3, 4)));
void suggest(Report* report, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendFormat(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A byte above 127: an umlaut, or a piece of one saved as UTF-8.
bool hasHighByte(const char* text);

// The marked clock values, compact: "0,30", "8-17", "Mo-Fr", or the
// field's words for all ("jeder") and none ("keiner").
void describeMarks(const cron::ScheduleMasks& masks, const FieldInfo& info, char* out, std::size_t size);

// Checks one field's text item by item, with a rewrite where one is sure.
void checkField(const char* text, const FieldInfo& info, FindingList& findings);

// Why no local time can ever match: Minute to Weekday mark no value the
// clock gives, or no marked day lies in a marked month. Every date, 29
// February too, falls on every weekday within the Gregorian cycle, so the
// masks alone decide; only a time zone may still swallow a time.
enum class NeverReason { None, Minute, Hour, Day, Month, Weekday, NoSuchDate };
NeverReason neverReason(const cron::ScheduleMasks& masks);
bool leapYearsOnly(const cron::ScheduleMasks& masks);
// A day that every marked month has, for a rewrite.
int shortestMarkedMonthDays(const cron::ScheduleMasks& masks);

// The calendar minutes from `from` (rounded up to a whole minute) before
// `until` at which the scheduler starts the line, at most `wanted` of them.
// A minute repeated when daylight-saving time ends is two minutes of
// calendar time, and both run.
int findStarts(const cron::ScheduleMasks& masks, std::time_t from, std::time_t until, std::time_t* starts, int wanted);

// Wall-clock minutes that the machine's time zone skips (summer time
// begins) or repeats (it ends): `minutes` of them from `wall`.
struct ClockChange {
  bool repeated;
  std::tm wall;
  int minutes;
};

struct ClockChanges {
  std::array<ClockChange, 8> items{};
  int count = 0;
};

// The changes within a year from `from`, as the C library's localtime
// reports them (on Windows the system's zone when TZ is unset).
void findClockChanges(std::time_t from, ClockChanges& changes);
bool startsWithin(const cron::ScheduleMasks& masks, const ClockChange& change);

// ".\" and a suffix around a 255-character program, below a folder.
constexpr std::size_t kAuditPathSize = 2 * 256 + 16;

// Each path is judged once per table, at its first use; beyond the list of
// judged paths they are judged again.
struct Audit {
  // The service's account as the Service Control Manager names it; "" when
  // the service is not installed (the setup's choice is the system account).
  const char* serviceAccount = "";
  int count = 0;
  std::array<std::array<char, kAuditPathSize>, 64> judged{};
};

void auditTable(Audit& audit, const char* tablePath, FindingList& findings);
// found false: no such program yet, and only its folder is judged, where
// someone could still put it.
void auditProgram(Audit& audit, const char* programPath, bool found, FindingList& findings);

// What the Windows loader makes of a program file: an image of the
// graphical subsystem (a program with windows), another image, or none at
// all (a script, any other file, one too short to tell).
enum class ImageKind { NoImage, Window, NoWindow };
ImageKind imageKind(const char* path);

// TZ where the service would find it: in the machine's environment, or in
// its own registration's Environment value.
void checkServiceTimeZone(FindingList& findings);

enum class LineKind { Comment, Skipped, Used };
enum class SkipReason { None, Empty, FewerThanFiveFields, NoCommand };

// A piece of the file as the scheduler reads it: at most 255 characters,
// so a longer physical line is several pieces, each a line of its own.
struct PieceInfo {
  int number;     // counted the way the scheduler counts: one per piece
  int fileLine;   // the physical line of the file
  int piece;      // 1, 2, ... within the physical line
  bool overlong;  // a piece with text, of a physical line longer than 255
};

struct CheckOptions {
  std::time_t from;             // the first minute a start may fall on
  int starts;                   // how many starts to show per used line
  const char* serviceFolder;    // where the service looks for a program without a path
  Audit* audit;                 // nullptr: not asked
  const ClockChanges* changes;  // nullptr: not asked
  bool serviceTimeZone;         // false: not asked
  const char* installDir;       // whose Jobwache.log gives a watched line's last result; nullptr: not asked
};

struct LineReport {
  PieceInfo where;
  LineKind kind;
  SkipReason skip;
  char text[cron::kLineBufferSize];  // as read, without its newline
  cron::CronLine line;               // used lines only
  cron::ScheduleMasks masks;         // used lines only
  NeverReason never;
  int startCount;  // found, from options.from on
  std::array<std::time_t, kMaxStarts> starts;
  FindingList findings;
};

// The text for the console: no newline, and no control character that
// would garble the report.
void copyForDisplay(char (&out)[cron::kLineBufferSize], const char* text);

void checkLine(const char* pieceText, const PieceInfo& where, const CheckOptions& options, LineReport& report);

// Reads the table piece by piece, exactly as the scheduler does, and
// writes the report to out. Returns the exit code.
int checkTable(const char* path, const CheckOptions& options, std::FILE* out);

// CronCheck [<Datei> [<Anzahl>]]: without a file, CronTab.txt of the
// installation (Path from the registry).
int cronCheckMain(int argc, char** argv);

}  // namespace checker
