// One table line through split, parse and match, each result held against
// a plain second reading of the table rules written for this target.
//
// Input: six bytes, then the line text (a C string: a NUL ends it, as it
// ends every line the scheduler hands on). The six bytes are the time to
// match (minute, hour, day of month, month 0-11, weekday, as signed bytes,
// so out-of-range values come too) and the number of the field that the
// text is also parsed as on its own (one of the five, or any other).
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "scheduler/cron_table.h"

namespace {

constexpr std::size_t kHeader = 6;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// ---- the reference reading -------------------------------------------

struct Number {
  long long value;
  std::size_t end;
};

std::optional<Number> referenceNumber(const std::string& s, std::size_t pos) {
  while (pos < s.size() && isSpace(s[pos])) ++pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  if (pos >= s.size() || s[pos] < '0' || s[pos] > '9') return std::nullopt;
  long long magnitude = 0;
  for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
    magnitude = magnitude * 10 + (s[pos] - '0');
    if (magnitude > 2147483648LL) return std::nullopt;
  }
  if (!negative && magnitude > 2147483647LL) return std::nullopt;
  return Number{negative ? -magnitude : magnitude, pos};
}

void referenceRange(const std::string& s, std::vector<bool>& flags) {
  auto first = referenceNumber(s, 0);
  if (!first || first->end >= s.size() || s[first->end] != '-') return;
  auto last = referenceNumber(s, first->end + 1);
  if (!last) return;
  if (first->value < 0 || last->value < 0 || first->value >= last->value) return;
  if (last->value >= static_cast<long long>(flags.size())) return;
  for (long long v = first->value; v <= last->value; ++v) flags[static_cast<std::size_t>(v)] = true;
}

void referenceSingle(const std::string& s, std::vector<bool>& flags) {
  auto n = referenceNumber(s, 0);
  if (!n || n->value < 0 || n->value >= static_cast<long long>(flags.size())) return;
  flags[static_cast<std::size_t>(n->value)] = true;
}

// The flags a field text marks in a field whose largest value is max.
std::vector<bool> referenceField(const char* text, int max) {
  std::vector<bool> flags(static_cast<std::size_t>(max) + 1, false);
  std::string s(text, strnlen(text, cron::kLineBufferSize - 1));
  if (s.find(',') != std::string::npos) {
    std::size_t start = 0;
    for (;;) {
      std::size_t comma = s.find(',', start);
      std::string item = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!item.empty()) {
        if (item.find('-') != std::string::npos) referenceRange(item, flags);
        else referenceSingle(item, flags);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  } else if (s.find('-') != std::string::npos) {
    referenceRange(s, flags);
  } else if (s == "*") {
    flags.assign(flags.size(), true);
  } else {
    referenceSingle(s, flags);
  }
  return flags;
}

// Five words and a command, or nothing.
bool referenceSplit(const std::string& text, std::array<std::string, 6>& parts) {
  if (!text.empty() && text[0] == '#') return false;
  std::size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    std::size_t start = pos;
    while (pos < text.size() && (i < 5 ? !isSpace(text[pos]) : text[pos] != '\n')) ++pos;
    parts[static_cast<std::size_t>(i)] = text.substr(start, pos - start);
    if (pos == start || pos - start >= cron::kLineBufferSize) return false;
  }
  return true;
}

template <int Max>
void checkFlags(const cron::FieldMask<Max>& mask, const std::vector<bool>& want) {
  FUZZ_CHECK(want.size() == mask.flags.size());
  for (std::size_t v = 0; v < want.size(); ++v) FUZZ_CHECK((mask.flags[v] != 0) == want[v]);
}

template <int Max>
bool referenceMarked(const cron::FieldMask<Max>& mask, int value, int first, int last) {
  return value >= first && value <= last && mask.flags[static_cast<std::size_t>(value)] != 0;
}

bool isEmpty(const cron::ScheduleMasks& masks) {
  const cron::ScheduleMasks none{};
  return std::memcmp(&masks, &none, sizeof masks) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  std::tm t{};
  t.tm_min = static_cast<std::int8_t>(data[0]);
  t.tm_hour = static_cast<std::int8_t>(data[1]);
  t.tm_mday = static_cast<std::int8_t>(data[2]);
  t.tm_mon = static_cast<std::int8_t>(data[3]);
  t.tm_wday = static_cast<std::int8_t>(data[4]);
  const int fieldNumbers[] = {cron::kMinuteMax, cron::kHourMax, cron::kDayOfMonthMax,
                              cron::kMonthMax, cron::kDayOfWeekMax};
  const int field = data[5] < 5 ? fieldNumbers[data[5]] : static_cast<std::int8_t>(data[5]);

  // The text on the heap, exactly as long as the C string it is, so that
  // any read past its terminator is caught.
  std::string bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  bytes.resize(std::strlen(bytes.c_str()));
  std::vector<char> text(bytes.begin(), bytes.end());
  text.push_back('\0');

  // Split.
  cron::CronLine line;
  std::memset(&line, 0x5a, sizeof line);
  const bool used = cron::splitCronLine(text.data(), line);
  std::array<std::string, 6> parts;
  FUZZ_CHECK(used == referenceSplit(bytes, parts));
  if (used) {
    const char* got[] = {line.minute, line.hour, line.dayOfMonth, line.month, line.dayOfWeek, line.command};
    for (std::size_t i = 0; i < 6; ++i) {
      FUZZ_CHECK(strnlen(got[i], cron::kLineBufferSize) < cron::kLineBufferSize);
      FUZZ_CHECK(parts[i] == got[i]);
    }
  } else {
    const cron::CronLine none{};
    FUZZ_CHECK(std::memcmp(&line, &none, sizeof line) == 0);
  }

  // Parse and match.
  cron::ScheduleMasks masks;
  std::memset(&masks, 0x5a, sizeof masks);
  cron::clearMasks(masks);
  FUZZ_CHECK(isEmpty(masks));
  cron::parseLine(line, masks);
  checkFlags(masks.minute, referenceField(line.minute, cron::kMinuteMax));
  checkFlags(masks.hour, referenceField(line.hour, cron::kHourMax));
  checkFlags(masks.dayOfMonth, referenceField(line.dayOfMonth, cron::kDayOfMonthMax));
  checkFlags(masks.month, referenceField(line.month, cron::kMonthMax));
  checkFlags(masks.dayOfWeek, referenceField(line.dayOfWeek, cron::kDayOfWeekMax));
  if (!used) FUZZ_CHECK(isEmpty(masks));

  const bool matches = referenceMarked(masks.minute, t.tm_min, 0, 59) &&
                       referenceMarked(masks.hour, t.tm_hour, 0, 23) &&
                       referenceMarked(masks.dayOfMonth, t.tm_mday, 1, 31) &&
                       referenceMarked(masks.month, t.tm_mon + 1, 1, 12) &&
                       referenceMarked(masks.dayOfWeek, t.tm_wday, 0, 6);
  FUZZ_CHECK(cron::lineMatches(masks, t) == matches);

  // The whole text as one field, of a known field or any other number.
  cron::ScheduleMasks single{};
  cron::parseField(text.data(), field, single);
  auto expect = [&](int which) {
    return which == field ? referenceField(text.data(), which)
                          : std::vector<bool>(static_cast<std::size_t>(which) + 1, false);
  };
  checkFlags(single.minute, expect(cron::kMinuteMax));
  checkFlags(single.hour, expect(cron::kHourMax));
  checkFlags(single.dayOfMonth, expect(cron::kDayOfMonthMax));
  checkFlags(single.month, expect(cron::kMonthMax));
  checkFlags(single.dayOfWeek, expect(cron::kDayOfWeekMax));
  // The caller's text is never changed by parsing (the log shows it).
  FUZZ_CHECK(bytes == text.data());
  return 0;
}
