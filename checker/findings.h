// What CronCheck finds in a table line, and the marks of a field in the
// one shape the checker reasons about.
#pragma once
#include <array>
#include <cstddef>

#include "scheduler/cron_table.h"

namespace checker {

using cron::Field;
using cron::FieldSpec;

// One flag per value 0..63, whatever the field's maximum.
struct Marks {
  std::array<bool, 64> on{};
};

// The flags the scheduler's parseField set for a field, copied out.
Marks marksOf(const cron::ScheduleMasks& masks, Field field);

// True when marks hold some value the clock gives, or all of them.
bool marksClockValue(const Marks& marks, const FieldSpec& spec);
bool marksAllClockValues(const Marks& marks, const FieldSpec& spec);

// The words for all and none: "jede Minute", "jeder Tag".
const char* everyWord(const FieldSpec& spec);
const char* noneWord(const FieldSpec& spec);

enum class Finding {
  // A field item that marks nothing, by its cause.
  Step,               // "*/5"
  Name,               // "MON", "JAN"
  RangeNotAscending,  // "5-5", "22-2"
  AboveMaximum,       // "60" as a minute, "22-25" as an hour
  Negative,           // "-5"
  NotANumber,         // "x"
  StarInList,         // "*" inside "*,5"
  // An item that marks something, but less than it seems to.
  StepIgnored,  // "0-30/5" marks 0..30
  RestIgnored,  // "5x" marks 5
  // Fields and combinations that the clock never shows.
  SundayAsSeven,  // weekday 7
  NoDayZero,      // day 0 as the only day
  NoMonthZero,    // month 0 as the only month
  NoSuchDate,     // day 31 in months of 30 days only
  // The line as a whole.
  NoStartWithinSearch,
  HashNotFirst,   // "  # ..." is no comment
  OverlongPiece,  // a piece of a line longer than 255 characters
  ProgramNotFound,
  HighBytes,   // a byte above 127 in the command: saved as UTF-8?
  Utf16Table,  // the table saved as UTF-16: no line reads
  // Who else may change what runs with the service's rights.
  WritableTable,
  WritableTableFolder,
  WritableProgram,
  WritableProgramFolder,
  AccessUnknown,  // the rights could not be read
  // Hints: nothing wrong, but not what users of other cron programs expect.
  BothDayFields,
  LeapYearsOnly,
  Utf8Mark,     // skipped, as the scheduler skips it
  ClockChange,  // starts in an hour the time zone skips or repeats
};

constexpr bool isHint(Finding f) { return f >= Finding::BothDayFields; }
constexpr bool isWritable(Finding f) { return f >= Finding::WritableTable && f <= Finding::WritableProgramFolder; }

// A message holds a whole table line and some words around it, or two
// paths and the icacls arguments around them.
constexpr std::size_t kMessageSize = 1024;
constexpr int kMaxFindings = 16;

struct Report {
  Finding finding;
  char message[kMessageSize];
  char suggestion[kMessageSize];  // empty when there is none
};

struct FindingList {
  std::array<Report, kMaxFindings> items{};
  int count = 0;
  int dropped = 0;  // found beyond the list: counted, not kept
};

// A new entry to fill, or nullptr when the list is full (then counted as
// dropped). Message and suggestion start empty.
Report* addFinding(FindingList& list, Finding finding);

// The same with its message formatted, and a suggestion added to one;
// both do nothing for nullptr, a full list.
Report* addFinding(FindingList& list, Finding finding, const char* format, ...) __attribute__((format(printf, 3, 4)));
void suggest(Report* report, const char* format, ...) __attribute__((format(printf, 2, 3)));

// True when text holds a byte above 127: an umlaut, or a piece of one
// saved as UTF-8.
bool hasHighByte(const char* text);

// snprintf appended to what out holds. Text that does not fit is cut and
// ends in "..."; false then.
bool appendFormat(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace checker
