#include "scheduler/cron_table.h"

#include <cstring>
#include <limits>
#include <span>

#include "platform/files.h"

namespace cron {
namespace {

using Flags = std::span<unsigned char>;
using TextBuffer = std::span<char, kLineBufferSize>;

constexpr bool endsWord(char c) { return isSpace(c); }

constexpr bool endsCommand(char c) { return c == '\n'; }

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
// Returns how many of the six items were read.
int splitWords(const char* p, CronLine& line) {
  const TextBuffer fields[] = {line.minute, line.hour, line.dayOfMonth, line.month,
                               line.dayOfWeek};
  int read = 0;
  for (TextBuffer field : fields) {
    if (!readWord(p, field)) return read;
    ++read;
  }
  return read + (readCommand(p, line.command) ? 1 : 0);
}

// The one place that sets flags: values outside 0..max never get here.
void markSpan(Flags flags, int first, int last) {
  const int max = static_cast<int>(flags.size()) - 1;
  if (first < 0 || last > max) return;
  for (int v = first; v <= last; ++v) flags[static_cast<std::size_t>(v)] = 1;
}

ItemReading noNumber(const char* at, bool beyondInt) {
  return {beyondInt ? ItemFault::BeyondInt : ItemFault::NotANumber, at, 0};
}

// range = number "-" number
// A range needs its start below its end, both within 0..max; "5-5" and
// "6-5" mark nothing. The "-" follows the first number at once, the second
// number may carry its own sign ("1-+5" is 1..5, "1--5" nothing), and what
// follows it is ignored ("1-5-9" is 1..5).
ItemReading readRange(const char* text, Flags flags) {
  int start = 0;
  int end = 0;
  bool beyondInt = false;
  const char* p = readNumber(text, start, &beyondInt);
  if (p == nullptr) return noNumber(text, beyondInt);
  if (start < 0) return {ItemFault::Negative, text, 0};
  if (*p != '-') return noNumber(text, false);
  const char* q = readNumber(p + 1, end, &beyondInt);
  if (q == nullptr) return noNumber(text, beyondInt);
  if (end < 0) return {ItemFault::Negative, text, 0};
  if (start >= end) return {ItemFault::NotAscending, text, 0};
  if (end >= static_cast<int>(flags.size())) return {ItemFault::AboveMaximum, text, end};
  markSpan(flags, start, end);
  return {ItemFault::None, q, 0};
}

// single = number
// Text after the digits is ignored ("5x" is 5). A value above max marks
// nothing rather than a flag beyond the mask.
ItemReading readSingle(const char* text, Flags flags) {
  int value = 0;
  bool beyondInt = false;
  const char* p = readNumber(text, value, &beyondInt);
  if (p == nullptr) return noNumber(text, beyondInt);
  if (value < 0) return {ItemFault::Negative, text, 0};
  if (value >= static_cast<int>(flags.size())) return {ItemFault::AboveMaximum, text, value};
  markSpan(flags, value, value);
  return {ItemFault::None, p, 0};
}

// Field texts from a table line fit a line buffer anyway; longer text from
// anywhere else is cut to what a line could have held.
void copyTruncated(TextBuffer out, const char* text) {
  std::size_t n = 0;
  for (; n < out.size() - 1 && text[n] != '\0'; ++n) out[n] = text[n];
  out[n] = '\0';
}

// The clock's value of a field; out of range stays out of range without
// overflowing (the month of std::tm counts from 0, ours from 1).
int clockValue(const std::tm& t, Field field) {
  switch (field) {
    case Field::Minute: return t.tm_min;
    case Field::Hour: return t.tm_hour;
    case Field::DayOfMonth: return t.tm_mday;
    case Field::Month: return (t.tm_mon < 0 || t.tm_mon >= kMonthMax) ? -1 : t.tm_mon + 1;
    case Field::DayOfWeek: return t.tm_wday;
  }
  return -1;
}

// A value outside the clock's matches nothing and reads nothing outside
// the masks.
bool markedIn(const ScheduleMasks& masks, const FieldInfo& info, int value) {
  return value >= info.first && value <= info.last && flagsOf(masks, info.field)[static_cast<std::size_t>(value)] != 0;
}

}  // namespace

bool splitCronLine(const char* lineText, CronLine& line) {
  // Only a "#" in the very first column comments a line out; after a blank
  // it is the start of a minute field that marks nothing.
  const bool used = lineText != nullptr && lineText[0] != '#' && splitWords(lineText, line) == 6;
  if (!used) line = CronLine{};
  return used;
}

const char* skipSpace(const char* p) {
  while (isSpace(*p)) ++p;
  return p;
}

int lineItems(const char* lineText) {
  CronLine scratch;
  return splitWords(lineText, scratch);
}

std::span<const unsigned char> flagsOf(const ScheduleMasks& masks, Field field) {
  switch (field) {
    case Field::Minute: return masks.minute.flags;
    case Field::Hour: return masks.hour.flags;
    case Field::DayOfMonth: return masks.dayOfMonth.flags;
    case Field::Month: return masks.month.flags;
    case Field::DayOfWeek: return masks.dayOfWeek.flags;
  }
  return {};
}

std::span<unsigned char> flagsOf(ScheduleMasks& masks, Field field) {
  const std::span<const unsigned char> flags = flagsOf(static_cast<const ScheduleMasks&>(masks), field);
  return {const_cast<unsigned char*>(flags.data()), flags.size()};
}

// Leading zeros are harmless (07 is 7); "%d" leaves a value beyond int
// undefined, and a reader that wraps would let 4294967301 mark 5.
const char* readNumber(const char* p, int& value, bool* beyondInt) {
  constexpr long long kLargestMagnitude = -static_cast<long long>(std::numeric_limits<int>::min());
  if (beyondInt != nullptr) *beyondInt = false;
  p = skipSpace(p);
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!isDigit(*p)) return nullptr;
  long long magnitude = 0;
  for (; isDigit(*p); ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kLargestMagnitude) break;
  }
  if (magnitude > kLargestMagnitude || (!negative && magnitude > std::numeric_limits<int>::max())) {
    if (beyondInt != nullptr) *beyondInt = true;
    return nullptr;
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return p;
}

// Any "-" makes an item a range, so a negative value never gets read as a
// single one; as a range start it fails the start check (but "-0-5" is
// 0..5). "*" is the whole field, never a list item ("*,5" marks 5 only);
// "*/5" has no meaning here. An item that marks nothing says why, a step
// first, as the reason its writer most likely had.
ItemReading readItem(const char* item, bool inList, std::span<unsigned char> flags) {
  if (!inList && std::strcmp(item, "*") == 0) {
    markSpan(flags, 0, static_cast<int>(flags.size()) - 1);
    return {ItemFault::None, item + 1, 0};
  }
  ItemReading reading = std::strchr(item, '-') != nullptr ? readRange(item, flags) : readSingle(item, flags);
  if (reading.fault == ItemFault::None) return reading;
  if (inList && std::strcmp(item, "*") == 0) reading.fault = ItemFault::StarInList;
  else if (std::strchr(item, '/') != nullptr) reading.fault = ItemFault::Step;
  return reading;
}

void parseField(const char* fieldText, Field field, ScheduleMasks& masks) {
  if (fieldText == nullptr) return;
  const Flags flags = flagsOf(masks, field);
  // The list form cuts at commas; the caller's text must stay as read,
  // because the log shows it.
  char text[kLineBufferSize];
  copyTruncated(text, fieldText);
  if (std::strchr(text, ',') != nullptr) {
    forEachItem(text, [&](const char* item) { readItem(item, true, flags); });
  } else {
    readItem(text, false, flags);
  }
}

void parseField(const char* fieldText, int field, ScheduleMasks& masks) {
  for (const FieldInfo& info : kFields) {
    if (info.max == field) parseField(fieldText, info.field, masks);
  }
}

bool isMarked(const ScheduleMasks& masks, Field field, int value) { return markedIn(masks, fieldSpec(field), value); }

bool lineMatches(const ScheduleMasks& masks, const std::tm& t) {
  // Day of month and day of week must both hold, like every other field.
  for (const FieldInfo& info : kFields) {
    if (!markedIn(masks, info, clockValue(t, info.field))) return false;
  }
  return true;
}

void clearMasks(ScheduleMasks& masks) { masks = ScheduleMasks{}; }

const char* fieldText(const CronLine& line, Field field) {
  const char* const texts[] = {line.minute, line.hour, line.dayOfMonth, line.month, line.dayOfWeek};
  return texts[static_cast<std::size_t>(field)];
}

void parseLine(const CronLine& line, ScheduleMasks& masks) {
  for (const FieldInfo& info : kFields) parseField(fieldText(line, info.field), info.field, masks);
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
