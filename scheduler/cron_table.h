// The job table CronTab.txt: one line split into five time fields and a
// command, each field turned into match flags, a line matched against a
// broken-down local time, and the table file opened for that reading.
// No clock.
#pragma once
#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>

namespace cron {

// The maximum of a field is also the number that names it to parseField.
constexpr int kMinuteMax = 59;
constexpr int kHourMax = 23;
constexpr int kDayOfMonthMax = 31;
constexpr int kMonthMax = 12;
constexpr int kDayOfWeekMax = 7;

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

// Splits one line as read from the table. False when the line is skipped:
// a comment ("#" as its very first character), or fewer than five words
// and a command.
bool splitCronLine(const char* lineText, CronLine& line);

// Sets the flags that fieldText marks in the mask of field (named by its
// maximum: 59, 23, 31, 12 or 7). Text it cannot read marks nothing.
void parseField(const char* fieldText, int field, ScheduleMasks& masks);

// True when the minute, hour, day of month, month (January = 1) and day of
// week (Sunday = 0) of t are all marked.
bool lineMatches(const ScheduleMasks& masks, const std::tm& t);

// Clears every flag of all five masks.
void clearMasks(ScheduleMasks& masks);

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
