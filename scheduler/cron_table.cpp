#include "scheduler/cron_table.h"

#include <cstring>
#include <limits>
#include <span>

#include "platform/files.h"

namespace cron {
namespace {

using Flags = std::span<unsigned char>;
using TextBuffer = std::span<char, kLineBufferSize>;

// White space as the C locale knows it. Bytes from 0x80 up are never white
// space here, whatever code page the table was written in, and no
// <cctype> call can see a negative char.
constexpr bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool endsWord(char c) { return isSpace(c); }

constexpr bool endsCommand(char c) { return c == '\n'; }

const char* skipSpace(const char* p) {
  while (isSpace(*p)) ++p;
  return p;
}

// Copies the run of characters up to the end of the text or a character
// that ends it; false when the run is empty or would not fit. A run is never
// cut to fit: the rest of it would be read as the next word.
bool copyRun(const char*& p, TextBuffer out, bool (*ends)(char)) {
  std::size_t n = 0;
  for (; *p != '\0' && !ends(*p); ++p) {
    if (n == out.size() - 1) return false;
    out[n++] = *p;
  }
  out[n] = '\0';
  return n > 0;
}

// word = non-space {non-space}, after any white space
bool readWord(const char*& p, TextBuffer out) {
  p = skipSpace(p);
  return copyRun(p, out, endsWord);
}

// command = non-newline {non-newline}, after any white space
// The skip in front crosses a newline as well, so a command may follow the
// fifth field on the next line of the text; blanks at its end are kept.
bool readCommand(const char*& p, TextBuffer out) {
  p = skipSpace(p);
  return copyRun(p, out, endsCommand);
}

// line = word word word word word command
bool splitWords(const char* p, CronLine& line) {
  const TextBuffer fields[] = {line.minute, line.hour, line.dayOfMonth, line.month,
                               line.dayOfWeek};
  for (TextBuffer field : fields) {
    if (!readWord(p, field)) return false;
  }
  return readCommand(p, line.command);
}

// number = [white space] ["+" | "-"] digit {digit}
// Read the way "%d" reads it, but a value outside the 32-bit int range is no
// number at all: "%d" leaves it undefined, and a reader that wraps would let
// 4294967301 mark 5. Leading zeros are harmless (07 is 7). Returns where the
// digits end, or nullptr.
const char* readNumber(const char* p, int& value) {
  constexpr long long kLargestMagnitude = -static_cast<long long>(std::numeric_limits<int>::min());
  p = skipSpace(p);
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!isDigit(*p)) return nullptr;
  long long magnitude = 0;
  for (; isDigit(*p); ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kLargestMagnitude) return nullptr;
  }
  if (!negative && magnitude > std::numeric_limits<int>::max()) return nullptr;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return p;
}

// The flags of the field named by its maximum. Any other number gets no
// flags at all, so it marks nothing instead of writing into some mask.
Flags fieldFlags(ScheduleMasks& masks, int field) {
  switch (field) {
    case kMinuteMax: return masks.minute.flags;
    case kHourMax: return masks.hour.flags;
    case kDayOfMonthMax: return masks.dayOfMonth.flags;
    case kMonthMax: return masks.month.flags;
    case kDayOfWeekMax: return masks.dayOfWeek.flags;
    default: return {};
  }
}

// The one place that sets flags: values outside 0..max never get here.
void markSpan(Flags flags, int first, int last) {
  const int max = static_cast<int>(flags.size()) - 1;
  if (first < 0 || last > max) return;
  for (int v = first; v <= last; ++v) flags[static_cast<std::size_t>(v)] = 1;
}

// range = number "-" number
// A range needs its start below its end, both within 0..max; "5-5" and
// "6-5" mark nothing. The "-" follows the first number at once, the second
// number may carry its own sign ("1-+5" is 1..5, "1--5" nothing), and what
// follows it is ignored ("1-5-9" is 1..5).
void parseRange(const char* text, Flags flags) {
  int start = 0;
  int end = 0;
  const char* p = readNumber(text, start);
  if (p == nullptr || *p != '-') return;
  if (readNumber(p + 1, end) == nullptr) return;
  if (start < 0 || end < 0 || start >= end) return;
  markSpan(flags, start, end);
}

// single = number
// Text after the digits is ignored ("5x" is 5). A value above max marks
// nothing rather than a flag beyond the mask.
void parseSingle(const char* text, Flags flags) {
  int value = 0;
  if (readNumber(text, value) == nullptr) return;
  markSpan(flags, value, value);
}

// item = range | single
// Any "-" makes it a range, so a negative value never gets read as a single
// one; as a range start it fails the start check (but "-0-5" is 0..5).
void parseItem(const char* text, Flags flags) {
  if (std::strchr(text, '-') != nullptr) {
    parseRange(text, flags);
  } else {
    parseSingle(text, flags);
  }
}

// list = item {"," item}
// Empty items from doubled, leading or trailing commas are skipped, and "*"
// is no item ("*,5" marks 5 only). The commas are cut in our own copy.
void parseList(char* text, Flags flags) {
  char* item = text;
  for (;;) {
    char* comma = std::strchr(item, ',');
    if (comma != nullptr) *comma = '\0';
    if (*item != '\0') parseItem(item, flags);
    if (comma == nullptr) return;
    item = comma + 1;
  }
}

// all = "*", the whole field and nothing else; "*/5" has no meaning here.
void markAll(Flags flags) { markSpan(flags, 0, static_cast<int>(flags.size()) - 1); }

// Field texts from a table line fit a line buffer anyway; longer text from
// anywhere else is cut to what a line could have held.
void copyTruncated(TextBuffer out, const char* text) {
  std::size_t n = 0;
  for (; n < out.size() - 1 && text[n] != '\0'; ++n) out[n] = text[n];
  out[n] = '\0';
}

// The clock's weekday runs 0..6 and its day of month 1..31, so flag 7 of the
// weekday and flag 0 of the day and the month never match. A time outside
// the clock's ranges matches nothing and reads nothing outside the masks.
template <int First, int Last, int Max>
bool isMarked(const FieldMask<Max>& mask, int value) {
  static_assert(0 <= First && First <= Last && Last <= Max);
  if (value < First || value > Last) return false;
  return mask.flags[static_cast<std::size_t>(value)] != 0;
}

// The month of std::tm counts from 0; ours from 1. Out of range stays out of
// range without overflowing.
int monthFromOne(int tmMon) { return (tmMon < 0 || tmMon >= kMonthMax) ? -1 : tmMon + 1; }

}  // namespace

bool splitCronLine(const char* lineText, CronLine& line) {
  // Only a "#" in the very first column comments a line out; after a blank
  // it is the start of a minute field that marks nothing.
  const bool used = lineText != nullptr && lineText[0] != '#' && splitWords(lineText, line);
  if (!used) line = CronLine{};
  return used;
}

void parseField(const char* fieldText, int field, ScheduleMasks& masks) {
  const Flags flags = fieldFlags(masks, field);
  if (fieldText == nullptr || flags.empty()) return;
  // The list form cuts at commas; the caller's text must stay as read,
  // because the log shows it.
  char text[kLineBufferSize];
  copyTruncated(text, fieldText);
  if (std::strchr(text, ',') != nullptr) {
    parseList(text, flags);
  } else if (std::strchr(text, '-') != nullptr) {
    parseRange(text, flags);
  } else if (std::strcmp(text, "*") == 0) {
    markAll(flags);
  } else {
    parseSingle(text, flags);
  }
}

bool lineMatches(const ScheduleMasks& masks, const std::tm& t) {
  // Day of month and day of week must both hold, like every other field.
  return isMarked<0, kMinuteMax>(masks.minute, t.tm_min) &&
         isMarked<0, kHourMax>(masks.hour, t.tm_hour) &&
         isMarked<1, kDayOfMonthMax>(masks.dayOfMonth, t.tm_mday) &&
         isMarked<1, kMonthMax>(masks.month, monthFromOne(t.tm_mon)) &&
         isMarked<0, kDayOfWeekMax - 1>(masks.dayOfWeek, t.tm_wday);
}

void clearMasks(ScheduleMasks& masks) { masks = ScheduleMasks{}; }

void parseLine(const CronLine& line, ScheduleMasks& masks) {
  parseField(line.minute, kMinuteMax, masks);
  parseField(line.hour, kHourMax, masks);
  parseField(line.dayOfMonth, kDayOfMonthMax, masks);
  parseField(line.month, kMonthMax, masks);
  parseField(line.dayOfWeek, kDayOfWeekMax, masks);
}

std::FILE* openTable(const char* path, TableMark* mark) {
  std::FILE* file = platform::openFile(path, "r");
  if (file == nullptr) return nullptr;
  unsigned char head[3] = {};
  const std::size_t n = std::fread(head, 1, sizeof head, file);
  TableMark found = TableMark::None;
  if (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    found = TableMark::Utf8;
  } else {
    if (n >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF)))
      found = TableMark::Utf16;
    std::rewind(file);
  }
  if (mark != nullptr) *mark = found;
  return file;
}

}  // namespace cron
