// The job table: how a line splits, what each field text marks, and when a
// line matches the clock.
#include "scheduler/cron_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "scheduler/scheduler_loop.h"
#include "tests/support/test_support.h"

namespace {

using cron::CronLine;
using cron::kDayOfMonthMax;
using cron::kDayOfWeekMax;
using cron::kHourMax;
using cron::kMinuteMax;
using cron::kMonthMax;
using cron::ScheduleMasks;

constexpr int kMin = kMinuteMax;
constexpr int kHour = kHourMax;
constexpr int kDay = kDayOfMonthMax;
constexpr int kMon = kMonthMax;
constexpr int kWday = kDayOfWeekMax;

std::vector<int> valuesFrom(int first, int last) {
  std::vector<int> values;
  for (int v = first; v <= last; ++v) values.push_back(v);
  return values;
}

template <class Mask>
std::vector<int> setFlags(const Mask& mask) {
  std::vector<int> values;
  for (std::size_t v = 0; v < mask.flags.size(); ++v) {
    if (mask.flags[v] != 0) values.push_back(static_cast<int>(v));
  }
  return values;
}

std::vector<int> marked(const ScheduleMasks& masks, int field) {
  switch (field) {
    case kMinuteMax: return setFlags(masks.minute);
    case kHourMax: return setFlags(masks.hour);
    case kDayOfMonthMax: return setFlags(masks.dayOfMonth);
    case kMonthMax: return setFlags(masks.month);
    case kDayOfWeekMax: return setFlags(masks.dayOfWeek);
    default: return {};
  }
}

// Flags set in all five masks together; a flag set in the wrong mask, or
// any value other than 1, shows up here.
std::size_t markedCount(const ScheduleMasks& masks) {
  std::size_t count = 0;
  auto add = [&count](const auto& mask) {
    for (unsigned char flag : mask.flags) {
      EXPECT_LE(flag, 1) << "a flag is 0 or 1";
      count += flag;
    }
  };
  add(masks.minute);
  add(masks.hour);
  add(masks.dayOfMonth);
  add(masks.month);
  add(masks.dayOfWeek);
  return count;
}

struct FieldCase {
  const char* text;
  int field;
  std::vector<int> marks;
};

void expectFieldCases(const std::vector<FieldCase>& cases) {
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.text);
    SCOPED_TRACE(c.field);
    ScheduleMasks masks{};
    cron::parseField(c.text, c.field, masks);
    EXPECT_EQ(marked(masks, c.field), c.marks);
    EXPECT_EQ(markedCount(masks), c.marks.size()) << "no other mask is touched";
  }
}

TEST(CronTableField, MarksEachForm) {
  expectFieldCases({
      {"5-5", kMin, {}},  // a range needs its start below its end
      {"5-6", kMin, {5, 6}},
      {"6-5", kMin, {}},
      {"0-59", kMin, valuesFrom(0, 59)},  // both ends at the edges of the mask
      {"1-3,10-12,20", kHour, {1, 2, 3, 10, 11, 12, 20}},
      {"22-25", kHour, {}},  // end above 23
      {"22-23", kHour, {22, 23}},  // end at the maximum
      {"*/10", kMin, {}},  // no step syntax
      {"1,3,5", kWday, {1, 3, 5}},
      {"1-5", kWday, valuesFrom(1, 5)},
      {"1-7", kWday, valuesFrom(1, 7)},  // flag 7 is set, though it never matches
      {"*", kMin, valuesFrom(0, 59)},
      {"*", kHour, valuesFrom(0, 23)},
      {"*", kDay, valuesFrom(0, 31)},  // flag 0 too
      {"*", kMon, valuesFrom(0, 12)},  // flag 0 too
      {"*", kWday, valuesFrom(0, 7)},
      {"12", kMon, {12}},
      {"1", kMon, {1}},
      {"0", kMin, {0}},
  });
}

TEST(CronTableField, ReadsNumbersAsPercentDDoes) {
  expectFieldCases({
      {"+5", kMin, {5}},
      {"-5", kMin, {}},  // any "-" makes a range, and one number is no range
      {"+-5", kMin, {}},
      {"1-+5", kMin, valuesFrom(1, 5)},  // the second number may carry a sign
      {"1--5", kMin, {}},  // ... and then it is negative
      {"-1-5", kMin, {}},  // start below 0
      {"-0-5", kMin, valuesFrom(0, 5)},  // -0 reads as 0
      {"1-5-9", kMin, valuesFrom(1, 5)},  // reading stops after the second number
      {"1-5x", kMin, valuesFrom(1, 5)},
      {"1x-5", kMin, {}},  // the "-" must follow the first number at once
      {"1- 5", kMin, valuesFrom(1, 5)},  // "%d" skips white space in front
      {" 5", kMin, {5}},
      {"07", kMin, {7}},  // decimal, not octal
      {"5x", kMin, {5}},
      {"x5", kMin, {}},
      {"*,5", kMin, {5}},  // "*" is no list item
      {"*/5", kMin, {}},
      {"**", kMin, {}},
      {",,5,", kMin, {5}},  // empty items are skipped
      {",", kMin, {}},
      {"", kMin, {}},
      {"5-3,7", kMin, {7}},  // a bad item leaves the good ones
      {"1-3-5,9", kMin, {1, 2, 3, 9}},
  });
}

TEST(CronTableField, NumbersBeyondIntMarkNothing) {
  expectFieldCases({
      {"2147483648", kMin, {}},  // INT_MAX + 1
      {"2147483647", kMin, {}},  // INT_MAX reads, but lies above the maximum
      {"99999999999", kMin, {}},
      {"4294967301", kMin, {}},  // 2^32 + 5: a wrapping reader marks 5
      {"1-2147483648", kMin, {}},
      {"2147483648-5", kMin, {}},
      {"1-99999999999", kMin, {}},
      {"4294967296-4294967301", kMin, {}},  // wraps to 0-5
      {"-2147483648-5", kMin, {}},  // INT_MIN reads and fails the start check
      {"-2147483649-5", kMin, {}},
      {"5,2147483648", kMin, {5}},
      {"5,99999999999,7", kMin, {5, 7}},
      {"4294967301,7", kMin, {7}},
      {"1-4294967301,7", kMin, {7}},  // a wrapped end would add 1..5
      {"0000000000000000000007", kMin, {7}},  // leading zeros are no overflow
      {"00000000000000000001-00000000000000000003", kMin, {1, 2, 3}},
  });
}

TEST(CronTableField, ValuesAboveTheMaximumMarkNothing) {
  expectFieldCases({
      {"59", kMin, {59}},
      {"60", kMin, {}},  // first value past the minute mask
      {"23", kHour, {23}},
      {"24", kHour, {}},
      {"1,24", kHour, {1}},  // as a list item too
      {"0,24,23", kHour, {0, 23}},
      {"31", kDay, {31}},
      {"32", kDay, {}},
      {"13", kMon, {}},
      {"7", kWday, {7}},
      {"8", kWday, {}},
      {"1,60", kMin, {1}},
  });
}

TEST(CronTableField, OtherFieldNumbersMarkNothing) {
  const int fields[] = {INT_MIN, -1, 0, 1, 6, 8, 11, 13, 22, 24, 30, 32, 58, 60, INT_MAX};
  const char* texts[] = {"*", "0", "0-1", "0,1"};
  for (int field : fields) {
    for (const char* text : texts) {
      SCOPED_TRACE(text);
      SCOPED_TRACE(field);
      ScheduleMasks masks{};
      cron::parseField(text, field, masks);
      EXPECT_EQ(markedCount(masks), 0u);
    }
  }
}

// A text that cannot be read must not clear what earlier calls marked.
TEST(CronTableField, UnreadableTextKeepsEarlierFlags) {
  const char* texts[] = {"6-5", "x", "", "*/5", "99999999999", "24", "24,25"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    ScheduleMasks masks{};
    cron::parseField("1-3", kHour, masks);
    cron::parseField(text, kHour, masks);
    EXPECT_EQ(marked(masks, kHour), valuesFrom(1, 3));
  }
}

// The log shows the field texts as read, after they were parsed.
TEST(CronTableField, LeavesTheCallersTextAsRead) {
  const char* texts[] = {"1,3,5", ",,5,", "1-3,10-12,20"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    char copy[cron::kLineBufferSize];
    std::strcpy(copy, text);
    ScheduleMasks masks{};
    cron::parseField(copy, kHour, masks);
    EXPECT_STREQ(copy, text);
  }
}

// Text longer than a line buffer is cut to 255 characters, never copied
// past the end of the parser's own buffer.
TEST(CronTableField, LongTextIsCutToALineBuffer) {
  const std::string text = std::string(254, ',') + "5,7";  // "5" is character 255
  ScheduleMasks masks{};
  cron::parseField(text.c_str(), kMin, masks);
  EXPECT_EQ(marked(masks, kMin), std::vector<int>{5});
}

// What the item reader tells the checker: why an item marked nothing, and
// where its reading stopped (what follows is not read).
TEST(CronTableField, ItemReaderSaysWhyAndWhereItStopped) {
  using cron::ItemFault;
  const struct {
    const char* item;
    bool inList;
    ItemFault fault;
    const char* rest;  // after the stop
    int value;         // the value above the maximum
  } cases[] = {
      {"5", false, ItemFault::None, "", 0},
      {"5x", false, ItemFault::None, "x", 0},
      {"0-30/5", false, ItemFault::None, "/5", 0},
      {"1-5-9", true, ItemFault::None, "-9", 0},
      {"*", false, ItemFault::None, "", 0},
      {"*", true, ItemFault::StarInList, "*", 0},
      {"*/5", false, ItemFault::Step, "*/5", 0},
      {"5-3/2", false, ItemFault::Step, "5-3/2", 0},  // a step before the range's fault
      {"x", false, ItemFault::NotANumber, "x", 0},
      {"1x-5", false, ItemFault::NotANumber, "1x-5", 0},
      {"4294967301", false, ItemFault::BeyondInt, "4294967301", 0},
      {"1-4294967301", false, ItemFault::BeyondInt, "1-4294967301", 0},
      {"-5", false, ItemFault::Negative, "-5", 0},
      {"1--5", false, ItemFault::Negative, "1--5", 0},
      {"5-5", false, ItemFault::NotAscending, "5-5", 0},
      {"60", false, ItemFault::AboveMaximum, "60", 60},
      {"22-61", true, ItemFault::AboveMaximum, "22-61", 61},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    ScheduleMasks masks{};
    const cron::ItemReading reading = cron::readItem(c.item, c.inList, cron::flagsOf(masks, cron::Field::Minute));
    EXPECT_EQ(reading.fault, c.fault);
    EXPECT_STREQ(reading.stop, c.rest);
    EXPECT_EQ(reading.value, c.value);
    EXPECT_EQ(markedCount(masks) == 0, c.fault != ItemFault::None) << "a fault exactly when nothing is marked";
  }
}

struct LineCase {
  std::string text;
  bool used;
  const char* fields[5];
  std::string command;
};

TEST(CronTableSplit, SplitsOrSkipsLines) {
  const LineCase cases[] = {
      {"0 12 * * * job", true, {"0", "12", "*", "*", "*"}, "job"},
      {"#0 12 * * * job", false, {}, ""},  // comment: "#" in the first column
      {" #0 12 * * * job", true, {"#0", "12", "*", "*", "*"}, "job"},  // "#" after a blank
      {"0\t12\t*\t*\t*\tjob", true, {"0", "12", "*", "*", "*"}, "job"},
      {"0\v12\f*\r* * \t \v\f job", true, {"0", "12", "*", "*", "*"}, "job"},
      {" \t 0 12 * * * job", true, {"0", "12", "*", "*", "*"}, "job"},
      {"0 12 * *   job", false, {}, ""},  // four fields and a one-word command
      {"0 12 * * *", false, {}, ""},  // five fields, no command
      {"0 12 * * * \t ", false, {}, ""},  // white space is no command
      {"0 12 * * *\n", false, {}, ""},
      {"0 12 * * run the job", true, {"0", "12", "*", "*", "run"}, "the job"},
      {"0 12 * * * a  b \t c  ", true, {"0", "12", "*", "*", "*"}, "a  b \t c  "},
      {"0 12 * * *   job", true, {"0", "12", "*", "*", "*"}, "job"},
      {"0 12 * * * job\n", true, {"0", "12", "*", "*", "*"}, "job"},
      // Read raw, a CRLF line keeps its CR; text mode drops it before us.
      {"0 12 * * * job\r\n", true, {"0", "12", "*", "*", "*"}, "job\r"},
      {"0 12 * * * job\nnext", true, {"0", "12", "*", "*", "*"}, "job"},
      // The white space before the command crosses a newline, as " %[^\n]" does.
      {"0 12 * * *\njob", true, {"0", "12", "*", "*", "*"}, "job"},
      // Bytes from 0x80 up are text, 0xA0 included.
      {"0\xa0" "12 * * * * \xe4nderung \xa0", true, {"0\xa0" "12", "*", "*", "*", "*"},
       "\xe4nderung \xa0"},
      {"", false, {}, ""},
      {"\n", false, {}, ""},
      {" \t\v\f\r\n", false, {}, ""},
      {"#", false, {}, ""},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.text);
    CronLine line{};
    ASSERT_EQ(cron::splitCronLine(c.text.c_str(), line), c.used);
    if (!c.used) continue;
    EXPECT_STREQ(line.minute, c.fields[0]);
    EXPECT_STREQ(line.hour, c.fields[1]);
    EXPECT_STREQ(line.dayOfMonth, c.fields[2]);
    EXPECT_STREQ(line.month, c.fields[3]);
    EXPECT_STREQ(line.dayOfWeek, c.fields[4]);
    EXPECT_EQ(std::string(line.command), c.command);
  }
}

// Table lines come in pieces of at most 255 characters; the texts of a
// piece fill a line buffer up to its terminator. Longer texts reach the
// splitter only by direct calls and must not overflow.
TEST(CronTableSplit, LongTextsFillButNeverOverflowABuffer) {
  const std::string fields = "* * * * * ";
  const struct {
    std::string text;
    bool used;
    std::size_t commandLength;
    std::size_t minuteLength;
  } cases[] = {
      {fields + std::string(245, 'x'), true, 245, 1},  // a 255-character piece of a longer line
      {fields + std::string(244, 'x') + "\n", true, 244, 1},  // 254 characters and the newline
      {fields + std::string(244, 'x'), true, 244, 1},  // 254 characters
      {fields + std::string(255, 'x'), true, 255, 1},  // command fills its buffer
      {fields + std::string(256, 'x'), false, 0, 0},  // one too many
      {std::string(255, '1') + " * * * * job", true, 3, 255},  // word fills its buffer
      {std::string(256, '1') + " * * * * job", false, 0, 0},
      {"* * * * " + std::string(256, '1') + " job", false, 0, 0},  // in the last field
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.size());
    CronLine line{};
    ASSERT_EQ(cron::splitCronLine(c.text.c_str(), line), c.used);
    if (!c.used) continue;
    EXPECT_EQ(std::strlen(line.command), c.commandLength);
    EXPECT_EQ(std::strlen(line.minute), c.minuteLength);
  }
}

// Parses a line that must be used; the masks are fresh.
ScheduleMasks masksOf(const char* lineText) {
  CronLine line{};
  EXPECT_TRUE(cron::splitCronLine(lineText, line)) << lineText;
  ScheduleMasks masks{};
  cron::parseLine(line, masks);
  return masks;
}

// Each value lies above the maximum of some other field, so a field parsed
// with the wrong number or into the wrong mask loses its flag.
TEST(CronTableLine, ParsesTheFieldsInTableOrder) {
  const ScheduleMasks masks = masksOf("45 20 31 12 6 job");
  EXPECT_EQ(marked(masks, kMin), std::vector<int>{45});
  EXPECT_EQ(marked(masks, kHour), std::vector<int>{20});
  EXPECT_EQ(marked(masks, kDay), std::vector<int>{31});
  EXPECT_EQ(marked(masks, kMon), std::vector<int>{12});
  EXPECT_EQ(marked(masks, kWday), std::vector<int>{6});
  EXPECT_EQ(markedCount(masks), 5u);
}

// month counts from 1 here, as in the table; std::tm counts from 0.
std::tm timeOf(int month, int day, int weekday, int hour, int minute) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_wday = weekday;
  t.tm_hour = hour;
  t.tm_min = minute;
  return t;
}

// Calls visit(month, day, weekday) for every day of 2026.
template <class Visit>
void forEachDayOf2026(Visit visit) {
  const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int weekday = 4;  // 1 January 2026 is a Thursday
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= days[month - 1]; ++day) {
      visit(month, day, weekday);
      weekday = (weekday + 1) % 7;
    }
  }
}

TEST(CronTableMatch, NoonEveryDay) {
  const ScheduleMasks masks = masksOf("0 12 * * * job");
  int matchingDays = 0;
  forEachDayOf2026([&](int month, int day, int weekday) {
    matchingDays += cron::lineMatches(masks, timeOf(month, day, weekday, 12, 0));
  });
  EXPECT_EQ(matchingDays, 365);

  std::vector<std::pair<int, int>> matchingMinutes;
  for (int hour = 0; hour <= 23; ++hour) {
    for (int minute = 0; minute <= 59; ++minute) {
      if (cron::lineMatches(masks, timeOf(3, 1, 0, hour, minute))) {
        matchingMinutes.emplace_back(hour, minute);
      }
    }
  }
  EXPECT_EQ(matchingMinutes, (std::vector<std::pair<int, int>>{{12, 0}}));
}

// Day of month and day of week must both hold: not one or the other.
TEST(CronTableMatch, FridayThe13th) {
  const ScheduleMasks masks = masksOf("0 12 13 * 5 job");
  std::vector<std::pair<int, int>> dates;
  forEachDayOf2026([&](int month, int day, int weekday) {
    if (cron::lineMatches(masks, timeOf(month, day, weekday, 12, 0))) dates.emplace_back(month, day);
  });
  EXPECT_EQ(dates, (std::vector<std::pair<int, int>>{{2, 13}, {3, 13}, {11, 13}}));
}

TEST(CronTableMatch, WeekdaySevenNeverMatches) {
  const struct {
    const char* line;
    std::vector<int> matchingWeekdays;
  } cases[] = {
      {"* * * * 7 job", {}},
      {"* * * * 1-7 job", valuesFrom(1, 6)},  // Monday to Saturday, not Sunday
      {"* * * * 0,7 job", {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ScheduleMasks masks = masksOf(c.line);
    std::vector<int> weekdays;
    for (int weekday = 0; weekday <= 7; ++weekday) {  // 7 is no weekday of the clock
      if (cron::lineMatches(masks, timeOf(6, 1, weekday, 0, 0))) weekdays.push_back(weekday);
    }
    EXPECT_EQ(weekdays, c.matchingWeekdays);
  }
}

TEST(CronTableMatch, DayAndMonthZeroNeverMatch) {
  const ScheduleMasks dayZero = masksOf("* * 0 * * job");
  const ScheduleMasks monthZero = masksOf("* * * 0 * job");
  int matches = 0;
  forEachDayOf2026([&](int month, int day, int weekday) {
    matches += cron::lineMatches(dayZero, timeOf(month, day, weekday, 0, 0));
    matches += cron::lineMatches(monthZero, timeOf(month, day, weekday, 0, 0));
  });
  EXPECT_EQ(matches, 0);
}

// A broken-down time outside the clock's ranges matches nothing, even where
// a flag exists for it, and is never used to index a mask.
TEST(CronTableMatch, TimeOutsideTheClocksRangesMatchesNothing) {
  const ScheduleMasks masks = masksOf("* * * * * job");
  ASSERT_TRUE(cron::lineMatches(masks, timeOf(6, 1, 1, 0, 0)));
  const struct {
    const char* what;
    int std::tm::*member;
    int value;
  } cases[] = {
      {"minute -1", &std::tm::tm_min, -1},
      {"minute 60", &std::tm::tm_min, 60},
      {"minute INT_MIN", &std::tm::tm_min, INT_MIN},
      {"hour 24", &std::tm::tm_hour, 24},
      {"hour INT_MAX", &std::tm::tm_hour, INT_MAX},
      {"day 0", &std::tm::tm_mday, 0},  // flag 0 is set by "*"
      {"day 32", &std::tm::tm_mday, 32},
      {"month 0", &std::tm::tm_mon, -1},  // flag 0 is set by "*"
      {"month 13", &std::tm::tm_mon, 12},
      {"month INT_MAX", &std::tm::tm_mon, INT_MAX},  // plus one would overflow
      {"weekday -1", &std::tm::tm_wday, -1},
      {"weekday 7", &std::tm::tm_wday, 7},  // flag 7 is set by "*"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::tm t = timeOf(6, 1, 1, 0, 0);
    t.*c.member = c.value;
    EXPECT_FALSE(cron::lineMatches(masks, t));
  }
}

// Lines that are used but can never run.
TEST(CronTableMatch, LinesThatNeverMatch) {
  const char* lines[] = {
      " #0 12 * * * job",  // not a comment, but "#0" marks no minute
      "*/10 * * * * job",
      "0 12 * * run the job",  // the command's first word became the weekday
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    const ScheduleMasks masks = masksOf(line);
    int matches = 0;
    for (int weekday = 0; weekday <= 6; ++weekday) {
      for (int minute = 0; minute <= 59; ++minute) {
        matches += cron::lineMatches(masks, timeOf(6, 7 + weekday, weekday, 12, minute));
      }
    }
    EXPECT_EQ(matches, 0);
  }
}

// Notepad's byte-order marks: the scheduler's own scan skips a UTF-8 mark
// at the very start of the table, so its first line runs; nothing else is
// skipped. Each table holds one line for every minute.
TEST(CronTableFile, AUtf8MarkAtTheStartIsSkipped) {
  const struct {
    const char* what;
    std::string content;
    cron::TableMark mark;
    int entries;
  } cases[] = {
      {"no mark", "* * * * * job\n", cron::TableMark::None, 1},
      {"UTF-8 mark", "\xEF\xBB\xBF* * * * * job\n* * * * * job2\n", cron::TableMark::Utf8, 2},
      {"UTF-8 mark, no newline", "\xEF\xBB\xBF* * * * * job", cron::TableMark::Utf8, 1},
      {"only the mark", "\xEF\xBB\xBF", cron::TableMark::Utf8, 0},
      {"half a mark", "\xEF\xBB* * * * * job\n", cron::TableMark::None, 0},
      {"a mark on the second line", "* * * * * job\n\xEF\xBB\xBF* * * * * job2\n", cron::TableMark::None, 1},
      {"UTF-16, little end first", std::string("\xFF\xFE*\0 \0*\0", 8), cron::TableMark::Utf16, 0},
      {"UTF-16, big end first", std::string("\xFE\xFF\0*\0 \0*", 8), cron::TableMark::Utf16, 0},
      {"empty", "", cron::TableMark::None, 0},
  };
  const std::string dir = testsupport::makeTempDir("bom");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::writeFile(testsupport::joinPath(dir, "CronTab.txt"), c.content);
    cron::TableMark mark = cron::TableMark::Utf8;
    std::FILE* file = cron::openTable(testsupport::joinPath(dir, "CronTab.txt").c_str(), &mark);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(mark, c.mark);

    std::remove(testsupport::joinPath(dir, "Horamat.log").c_str());
    static scheduler::SchedulerState state;
    state = scheduler::SchedulerState{};
    std::snprintf(state.installDir, sizeof state.installDir, "%s", dir.c_str());
    std::snprintf(state.logPath, sizeof state.logPath, "%s", testsupport::joinPath(dir, "Horamat.log").c_str());
    ASSERT_TRUE(scheduler::scanTable(state, 0));
    const std::string log = testsupport::pathExists(state.logPath) ? testsupport::readFile(state.logPath) : "";
    int entries = 0;
    for (const std::string& line : testsupport::splitLines(log)) entries += !testsupport::jobEntryStamp(line).empty();
    EXPECT_EQ(entries, c.entries);
  }
  testsupport::removeTree(dir);
}

}  // namespace
