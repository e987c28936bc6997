// The job table CronTab.txt: one line split into five time fields and a
// command, each field turned into match flags, a line matched against a
// broken-down local time, and the table file opened for that reading.
// No clock.
#pragma once
#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <span>

namespace cron {

// The five time fields, in table order.
enum class Field { Minute, Hour, DayOfMonth, Month, DayOfWeek };

// A field as a type. Its mask holds a flag for each value 0..max, more
// than the clock gives (flag 0 of day and month, flag 7 of the weekday,
// which never match); the maximum also names the field to parseField.
struct FieldInfo {
  Field field;
  const char* name;    // "day of week"
  const char* german;  // "Wochentag"
  int first;           // the values the clock gives: first..last
  int last;
  int max;  // the mask's flags: 0..max
};

constexpr std::array<FieldInfo, 5> kFields = {{
    {Field::Minute, "minute", "Minute", 0, 59, 59},
    {Field::Hour, "hour", "Stunde", 0, 23, 23},
    {Field::DayOfMonth, "day of month", "Tag", 1, 31, 31},
    {Field::Month, "month", "Monat", 1, 12, 12},
    {Field::DayOfWeek, "day of week", "Wochentag", 0, 6, 7},
}};

constexpr const FieldInfo& fieldSpec(Field field) { return kFields[static_cast<std::size_t>(field)]; }

constexpr int kMinuteMax = fieldSpec(Field::Minute).max;
constexpr int kHourMax = fieldSpec(Field::Hour).max;
constexpr int kDayOfMonthMax = fieldSpec(Field::DayOfMonth).max;
constexpr int kMonthMax = fieldSpec(Field::Month).max;
constexpr int kDayOfWeekMax = fieldSpec(Field::DayOfWeek).max;

// Table lines are read in pieces of at most 255 characters.
constexpr std::size_t kLineBufferSize = 256;

// One flag per value, indexed by the value itself: 0 clear, 1 set.
template <int Max>
struct FieldMask {
  std::array<unsigned char, Max + 1> flags{};
};

struct ScheduleMasks {
  FieldMask<kMinuteMax> minute;
  FieldMask<kHourMax> hour;
  FieldMask<kDayOfMonthMax> dayOfMonth;
  FieldMask<kMonthMax> month;
  FieldMask<kDayOfWeekMax> dayOfWeek;
};

// One used table line: five field texts without white space, and the
// command text (blanks and tabs kept, trailing ones too).
struct CronLine {
  char minute[kLineBufferSize];
  char hour[kLineBufferSize];
  char dayOfMonth[kLineBufferSize];
  char month[kLineBufferSize];
  char dayOfWeek[kLineBufferSize];
  char command[kLineBufferSize];
};

// The flags of one field's mask, 0..max.
std::span<const unsigned char> flagsOf(const ScheduleMasks& masks, Field field);
std::span<unsigned char> flagsOf(ScheduleMasks& masks, Field field);

// White space as the C locale knows it; bytes from 0x80 up never are.
constexpr bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipSpace(const char* p);

// A decimal digit, as the C locale knows it.
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

// number = [white space] ["+" | "-"] digit {digit}
// Read the way "%d" reads it, but a value outside the 32-bit int range is
// no number (beyondInt tells so). Returns where the digits end, or nullptr.
const char* readNumber(const char* p, int& value, bool* beyondInt = nullptr);

// Why an item of a field marked nothing. The scheduler ignores it; the
// checker words it.
enum class ItemFault {
  None,          // it marked something
  NotANumber,    // "x", "1x-5"
  BeyondInt,     // "4294967301"
  Negative,      // "-5", "1--5"
  NotAscending,  // "5-5", "22-2"
  AboveMaximum,  // "60" as a minute, "22-25" as an hour: value is 60, 25
  Step,          // "*/5"
  StarInList,    // "*" inside "*,5"
};

struct ItemReading {
  ItemFault fault;
  const char* stop;  // where reading ended; what follows is not read ("5x", "0-30/5")
  int value;         // the value above the maximum
};

// item = range | single | "*" (the whole field only)
// Sets the item's flags in flags (a field's mask) and says how it read.
ItemReading readItem(const char* item, bool inList, std::span<unsigned char> flags);

// list = item {"," item}
// Cuts text, a copy of the field, at every comma and hands each item to
// visit; empty items from doubled, leading or trailing commas are skipped.
template <class Visit>
void forEachItem(char* text, Visit visit) {
  for (char* item = text;;) {
    char* comma = item;
    while (*comma != '\0' && *comma != ',') ++comma;
    const bool last = *comma == '\0';
    *comma = '\0';
    if (*item != '\0') visit(item);
    if (last) return;
    item = comma + 1;
  }
}

// Splits one line as read from the table. False when the line is skipped:
// a comment ("#" as its very first character), or fewer than five words
// and a command.
bool splitCronLine(const char* lineText, CronLine& line);

// How many of a line's six items (five fields, then the command)
// splitCronLine reads from it, the "#" rule aside; it uses the line at 6.
int lineItems(const char* lineText);

// Sets the flags that fieldText marks in the mask of field. Text it cannot
// read marks nothing.
void parseField(const char* fieldText, Field field, ScheduleMasks& masks);

// The same for a field named by its maximum: 59, 23, 31, 12 or 7. Any
// other number marks nothing.
void parseField(const char* fieldText, int field, ScheduleMasks& masks);

// True when value is one the clock gives for field, and marked.
bool isMarked(const ScheduleMasks& masks, Field field, int value);

// True when the minute, hour, day of month, month (January = 1) and day of
// week (Sunday = 0) of t are all marked.
bool lineMatches(const ScheduleMasks& masks, const std::tm& t);

// Clears every flag of all five masks.
void clearMasks(ScheduleMasks& masks);

// The text of one field of a line.
const char* fieldText(const CronLine& line, Field field);

// parseField for all five fields of a line, in table order.
void parseLine(const CronLine& line, ScheduleMasks& masks);

// The byte-order mark a table may begin with: Notepad writes EF BB BF for
// "UTF-8 mit BOM", FF FE or FE FF for UTF-16 ("Unicode").
enum class TableMark { None, Utf8, Utf16 };

// Opens the table for reading, text mode, through the platform, and skips
// a UTF-8 mark at its very start, which would otherwise begin the first
// line's minute field. Nothing else is skipped or changed, a UTF-16 mark
// neither; mark, when given, says which was there.
std::FILE* openTable(const char* path, TableMark* mark = nullptr);

}  // namespace cron
