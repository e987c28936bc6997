// CronCheck: what it says about fields and lines, where it finds a
// program, how it counts the pieces of a long line, its exit codes, and
// whether the starts it predicts are the ones the scheduler's loop makes.
#include "checker/cron_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry_admin.h"
#include "scheduler/cron_log.h"
#include "scheduler/job_start.h"
#include "scheduler/scheduler_loop.h"
#include "settings/install_settings.h"
#include "tests/support/test_support.h"

using namespace testsupport;
using checker::Finding;
namespace fs = std::filesystem;

namespace {

// Calendar time of a UTC date, by arithmetic alone (no timegm on every
// C library): days from 1970-01-01 in the proleptic Gregorian calendar.
std::time_t utc(int year, int month, int day, int hour, int minute) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
  return static_cast<std::time_t>(days * 86400 + hour * 3600 + minute * 60);
}

std::string stampOf(std::time_t t) {
  char stamp[scheduler::kStampSize];
  scheduler::formatStamp(*std::localtime(&t), stamp);
  return std::string(stamp, std::strlen(stamp) - 1);
}

// The field that a maximum names, as parseField's thin entry knows it.
const cron::FieldInfo& specOf(int max) {
  for (const cron::FieldInfo& info : cron::kFields) {
    if (info.max == max) return info;
  }
  return cron::kFields[0];
}

cron::ScheduleMasks parsed(const char* text, int field) {
  cron::ScheduleMasks masks{};
  cron::parseField(text, field, masks);
  return masks;
}

std::vector<Finding> kinds(const checker::FindingList& list, bool withProgram = false) {
  std::vector<Finding> out;
  for (int i = 0; i < list.count; ++i) {
    const Finding f = list.items[static_cast<std::size_t>(i)].finding;
    if (withProgram || f != Finding::ProgramNotFound) out.push_back(f);
  }
  return out;
}

std::string lastSuggestion(const checker::FindingList& list) {
  std::string last;
  for (int i = 0; i < list.count; ++i) {
    const char* s = list.items[static_cast<std::size_t>(i)].suggestion;
    if (s[0] != '\0') last = s;
  }
  return last;
}

std::string withoutCarriageReturns(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

// Both places where the European rules may come from: the zone database,
// or the rule itself in POSIX form, which glibc reads without one. True
// only when they are really in force: 00:30 and 01:30 UTC on 25 October
// 2026 are both 02:30, 01:30 UTC on 29 March is 03:30.
bool useBerlinRules() {
  for (const char* tz : {"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
    if (!setTimeZone(tz)) continue;
    const std::time_t fallFirst = utc(2026, 10, 25, 0, 30), fallSecond = utc(2026, 10, 25, 1, 30);
    const std::time_t spring = utc(2026, 3, 29, 1, 30);
    const std::tm a = *std::localtime(&fallFirst);
    const std::tm b = *std::localtime(&fallSecond);
    const std::tm c = *std::localtime(&spring);
    if (a.tm_hour == 2 && a.tm_min == 30 && b.tm_hour == 2 && b.tm_min == 30 && c.tm_hour == 3) return true;
  }
  setTimeZone("UTC0");
  return false;
}

// Lord Howe Island shifts by half an hour: at 02:00 on the first Sunday of
// April back to 01:30, at 02:00 on the first Sunday of October on to
// 02:30. A stern test of skipping by whole hours.
bool useLordHoweRules() {
  if (setTimeZone("LHST-10:30LHDT-11,M10.1.0,M4.1.0")) {
    const std::time_t first = utc(2026, 4, 4, 14, 45), second = utc(2026, 4, 4, 15, 15);
    const std::time_t spring = utc(2026, 10, 3, 15, 30);
    const std::tm a = *std::localtime(&first);
    const std::tm b = *std::localtime(&second);
    const std::tm c = *std::localtime(&spring);
    if (a.tm_hour == 1 && a.tm_min == 45 && b.tm_hour == 1 && b.tm_min == 45 && c.tm_hour == 2 &&
        c.tm_min == 30)
      return true;
  }
  setTimeZone("UTC0");
  return false;
}

struct CheckerTest : ::testing::Test {
  std::string dir;
  checker::CheckOptions options{};
  std::string folder;

  void SetUp() override {
    setTimeZone("UTC0");
    dir = makeTempDir("check");
    folder = dir;
    options.from = utc(2026, 12, 7, 10, 0);  // a Monday
    options.starts = checker::kDefaultStarts;
    options.serviceFolder = folder.c_str();
  }
  void TearDown() override {
    setTimeZone("UTC0");
    removeTree(dir);
  }

  checker::LineReport& check(const std::string& text, int number = 1) {
    static checker::LineReport report;
    const checker::PieceInfo where{number, number, 1, false};
    checker::checkLine(text.c_str(), where, options, report);
    return report;
  }

  // The report of a whole table, as written to a file, and the exit code.
  std::pair<int, std::string> run(const std::string& tablePath) {
    const std::string outPath = joinPath(dir, "report.txt");
    std::FILE* out = std::fopen(outPath.c_str(), "w");
    EXPECT_NE(out, nullptr);
    if (out == nullptr) return {-1, ""};
    const int code = checker::checkTable(tablePath.c_str(), options, out);
    std::fclose(out);
    return {code, withoutCarriageReturns(readFile(outPath))};
  }
  std::pair<int, std::string> runTable(const std::string& content) {
    const std::string path = joinPath(dir, "CronTab.txt");
    writeFile(path, content);
    return run(path);
  }
};

}  // namespace

// Each cause a field can have, with the rewrite the checker offers. The
// marks come from the scheduler's parseField; a suggestion is only shown
// when parseField reads it as meant.
TEST(CheckField, CausesAndRewrites) {
  using cron::kDayOfMonthMax, cron::kDayOfWeekMax, cron::kHourMax, cron::kMinuteMax, cron::kMonthMax;
  const struct {
    int field;
    const char* text;
    std::vector<Finding> findings;
    const char* suggestion;  // of the field, "" for none
  } cases[] = {
      // steps, which other cron programs know
      {kMinuteMax, "*/5", {Finding::Step}, "Minute \"0,5,10,15,20,25,30,35,40,45,50,55\" statt \"*/5\""},
      {kMinuteMax, "*/15", {Finding::Step}, "Minute \"0,15,30,45\" statt \"*/15\""},
      {kHourMax, "*/6", {Finding::Step}, "Stunde \"0,6,12,18\" statt \"*/6\""},
      {kDayOfMonthMax, "*/10", {Finding::Step}, "Tag \"1,11,21,31\" statt \"*/10\""},
      {kMinuteMax, "*/0", {Finding::Step}, ""},  // a step of 0 means nothing sure
      // a step after a range or a value is silently dropped: 0-30 every minute
      {kMinuteMax, "0-30/10", {Finding::StepIgnored}, "Minute \"0,10,20,30\" statt \"0-30/10\""},
      {kMinuteMax, "5/20", {Finding::StepIgnored}, "Minute \"5,25,45\" statt \"5/20\""},
      // names, English and German
      {kDayOfWeekMax, "MON-FRI", {Finding::Name}, "Wochentag \"1-5\" statt \"MON-FRI\""},
      {kDayOfWeekMax,
       "mon,wed,fri",
       {Finding::Name, Finding::Name, Finding::Name},
       "Wochentag \"1,3,5\" statt \"mon,wed,fri\""},
      {kDayOfWeekMax,
       "Sa-So",
       {Finding::Name},
       "Wochentag \"0,6\" statt \"Sa-So\""},  // across the week's end
      {kMonthMax, "JAN", {Finding::Name}, "Monat \"1\" statt \"JAN\""},
      {kMonthMax, "Dez", {Finding::Name}, "Monat \"12\" statt \"Dez\""},
      {kMonthMax, "MON", {Finding::Name}, ""},  // a day's name in the month field
      // ranges
      {kHourMax, "5-5", {Finding::RangeNotAscending}, "Stunde \"5\" statt \"5-5\""},
      {kHourMax, "22-2", {Finding::RangeNotAscending}, "Stunde \"0-2,22-23\" statt \"22-2\""},
      {kHourMax, "22-25", {Finding::AboveMaximum}, "Stunde \"22-23\" statt \"22-25\""},
      {kDayOfWeekMax, "5-8", {Finding::AboveMaximum}, "Wochentag \"0,5-6\" statt \"5-8\""},
      // values above the maximum, numbers too large, negatives, no number
      {kMinuteMax, "60", {Finding::AboveMaximum}, ""},
      {kMonthMax, "13", {Finding::AboveMaximum}, ""},
      {kDayOfWeekMax, "8", {Finding::AboveMaximum}, ""},
      {kMinuteMax, "4294967301", {Finding::AboveMaximum}, ""},  // would wrap to 5 in a careless reader
      {kMinuteMax, "-5", {Finding::Negative}, ""},
      {kMinuteMax, "1--5", {Finding::Negative}, ""},
      {kMinuteMax, "x", {Finding::NotANumber}, ""},
      {kMinuteMax, "?", {Finding::NotANumber}, ""},
      // "*" is no list item
      {kMinuteMax, "*,5", {Finding::StarInList}, "Minute \"*\" statt \"*,5\""},
      // text after the number is ignored
      {kMinuteMax, "5x", {Finding::RestIgnored}, "Minute \"5\" statt \"5x\""},
      {kMinuteMax, "1-5-9", {Finding::RestIgnored}, "Minute \"1-5\" statt \"1-5-9\""},
      // an item the checker cannot mend leaves the field without a rewrite
      {kMinuteMax, "5x,60", {Finding::RestIgnored, Finding::AboveMaximum}, ""},
      // 7 is no Sunday here
      {kDayOfWeekMax, "7", {Finding::SundayAsSeven}, "Wochentag \"0\" statt \"7\""},
      {kDayOfWeekMax, "1-7", {Finding::SundayAsSeven}, "Wochentag \"*\" statt \"1-7\""},
      {kDayOfWeekMax, "5-7", {Finding::SundayAsSeven}, "Wochentag \"0,5-6\" statt \"5-7\""},
      {kDayOfWeekMax, "0-7", {Finding::SundayAsSeven}, "Wochentag \"*\" statt \"0-7\""},
      // flag 0 of day and month
      {kDayOfMonthMax, "0", {Finding::NoDayZero}, ""},
      {kMonthMax, "0", {Finding::NoMonthZero}, ""},
      // fine as they are
      {kDayOfWeekMax, "*", {}, ""},  // sets flag 7 too, harmlessly
      {kDayOfMonthMax, "*", {}, ""},
      {kDayOfMonthMax, "0-5", {}, ""},  // 1..5 run; flag 0 is harmless beside them
      {kMinuteMax, "0,30", {}, ""},
      {kHourMax, "1-3,10-12,20", {}, ""},
      {kMinuteMax, "+5", {}, ""},
      {kMinuteMax, "07", {}, ""},
      {kMinuteMax, ",5,,", {}, ""},  // empty items are skipped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    checker::FindingList list;
    checker::checkField(c.text, specOf(c.field), list);
    EXPECT_EQ(kinds(list), c.findings);
    EXPECT_EQ(lastSuggestion(list), c.suggestion);
  }
}

TEST(CheckField, MessagesNameFieldItemAndWhatIsMarked) {
  checker::FindingList list;
  checker::checkField("0-30/5", specOf(cron::kMinuteMax), list);
  ASSERT_EQ(list.count, 1);
  EXPECT_STREQ(list.items[0].message,
               "Minute \"0-30/5\": die Schrittweite \"/5\" wird nicht gelesen; das Feld markiert 0-30");
  list = checker::FindingList{};
  checker::checkField("1,*/5", specOf(cron::kMinuteMax), list);
  ASSERT_EQ(list.count, 1);
  EXPECT_STREQ(list.items[0].message,
               "Minute \"1,*/5\", Eintrag \"*/5\": eine Schrittweite (\"/\") gibt es hier nicht; der Eintrag "
               "markiert nichts");
  EXPECT_STREQ(list.items[0].suggestion, "Minute \"0-1,5,10,15,20,25,30,35,40,45,50,55\" statt \"1,*/5\"");
}

// The compact form of what a field marks: only values the clock shows.
TEST(DescribeMarks, CompactForm) {
  using cron::kDayOfMonthMax, cron::kDayOfWeekMax, cron::kHourMax, cron::kMinuteMax, cron::kMonthMax;
  const struct {
    int field;
    const char* text;
    const char* shown;
  } cases[] = {
      {kMinuteMax, "0,30", "0,30"},
      {kHourMax, "8-17", "8-17"},
      {kDayOfMonthMax, "*", "jeder"},
      {kDayOfMonthMax, "1-31", "jeder"},  // flag 0 unset, still every day the clock shows
      {kMonthMax, "*", "jeder"},
      {kDayOfWeekMax, "1-5", "Mo-Fr"},
      {kDayOfWeekMax, "0,6", "So,Sa"},
      {kDayOfWeekMax, "1-7", "Mo-Sa"},  // flag 7 never matches
      {kDayOfWeekMax, "0-6", "jeder"},
      {kMinuteMax, "*", "jede"},
      {kMinuteMax, "0-1", "0,1"},  // two values are no range
      {kMinuteMax, "*/5", "keine"},
      {kDayOfMonthMax, "0", "keiner"},
      {kDayOfWeekMax, "7", "keiner"},
      {kHourMax, "1-3,10-12,20", "1-3,10-12,20"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char shown[checker::kMessageSize];
    checker::describeMarks(parsed(c.text, c.field), specOf(c.field), shown, sizeof shown);
    EXPECT_STREQ(shown, c.shown);
  }
}

// Whole lines: the scheduler's verdict (comment, skipped, used), why a
// line is skipped, why it never runs, and the line-wide findings.
TEST_F(CheckerTest, LineVerdicts) {
  using checker::LineKind, checker::NeverReason, checker::SkipReason;
  const struct {
    const char* text;
    LineKind kind;
    SkipReason skip;
    NeverReason never;
    std::vector<Finding> findings;
  } cases[] = {
      {"# 0 12 * * * x\n", LineKind::Comment, SkipReason::None, NeverReason::None, {}},
      {"\n", LineKind::Skipped, SkipReason::Empty, NeverReason::None, {}},
      {" \t \n", LineKind::Skipped, SkipReason::Empty, NeverReason::None, {}},
      {"1 2 3\n", LineKind::Skipped, SkipReason::FewerThanFiveFields, NeverReason::None, {}},
      {"1 2 3 4 x\n", LineKind::Skipped, SkipReason::NoCommand, NeverReason::None, {}},
      {"1 2 3 4 5   \n", LineKind::Skipped, SkipReason::NoCommand, NeverReason::None, {}},
      // an indented "#" is no comment: used, and its minute marks nothing
      {"  # 0 12 * * * alt\n",
       LineKind::Used,
       SkipReason::None,
       NeverReason::Minute,
       {Finding::HashNotFirst}},
      {" # kurz\n",
       LineKind::Skipped,
       SkipReason::FewerThanFiveFields,
       NeverReason::None,
       {Finding::HashNotFirst}},
      {"0 12 * * * job\n", LineKind::Used, SkipReason::None, NeverReason::None, {}},
      // four fields and a command of two words: the first is the weekday
      {"1 2 3 4 echo hallo\n", LineKind::Used, SkipReason::None, NeverReason::Weekday, {Finding::NotANumber}},
      // combinations that never come
      {"0 12 31 4,6,9,11 * x\n",
       LineKind::Used,
       SkipReason::None,
       NeverReason::NoSuchDate,
       {Finding::NoSuchDate}},
      {"0 12 30,31 2 * x\n",
       LineKind::Used,
       SkipReason::None,
       NeverReason::NoSuchDate,
       {Finding::NoSuchDate}},
      {"0 0 * * 7 x\n", LineKind::Used, SkipReason::None, NeverReason::Weekday, {Finding::SundayAsSeven}},
      {"0 0 0 * * x\n", LineKind::Used, SkipReason::None, NeverReason::Day, {Finding::NoDayZero}},
      {"0 0 * 0 * x\n", LineKind::Used, SkipReason::None, NeverReason::Month, {Finding::NoMonthZero}},
      {"*/5 * * * * x\n", LineKind::Used, SkipReason::None, NeverReason::Minute, {Finding::Step}},
      // runs, with something worth knowing
      {"0 12 29 2 * x\n", LineKind::Used, SkipReason::None, NeverReason::None, {Finding::LeapYearsOnly}},
      {"0 0 13 * 5 x\n", LineKind::Used, SkipReason::None, NeverReason::None, {Finding::BothDayFields}},
      // Monday 29 February: 2044, beyond eight years from 2026; runs some day
      {"0 0 29 2 1 x\n",
       LineKind::Used,
       SkipReason::None,
       NeverReason::None,
       {Finding::NoStartWithinSearch, Finding::LeapYearsOnly, Finding::BothDayFields}},
      {"0 0 31 2,4 * x\n", LineKind::Used, SkipReason::None, NeverReason::NoSuchDate, {Finding::NoSuchDate}},
      {"0 0 31 1,4 * x\n", LineKind::Used, SkipReason::None, NeverReason::None, {}},  // January has a 31st
      // an umlaut saved as UTF-8: the ANSI calls look for another file
      {"0 0 * * * C:\\Jobs\\Pr\xc3\xbc" "fung.bat\n", LineKind::Used, SkipReason::None, NeverReason::None,
       {Finding::HighBytes}},
      {"\xc3\xa4 0 * * * x\n", LineKind::Used, SkipReason::None, NeverReason::Minute, {Finding::NotANumber}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto& report = check(c.text);
    EXPECT_EQ(report.kind, c.kind);
    EXPECT_EQ(report.skip, c.skip);
    EXPECT_EQ(report.never, c.never);
    EXPECT_EQ(kinds(report.findings), c.findings);
    // The verdict is splitCronLine's, whatever the checker says about it.
    cron::CronLine line;
    EXPECT_EQ(c.kind == LineKind::Used, cron::splitCronLine(c.text, line));
  }
}

TEST_F(CheckerTest, SuggestionsForLines) {
  writeFile(joinPath(dir, "x.exe"), "x");
  const struct {
    const char* line;
    const char* suggestion;
  } cases[] = {
      {"0 12 31 4,6,9,11 * x\n", "Tag \"30\" statt \"31\" (den gibt es in jedem der Monate)"},
      {"0 12 30,31 2 * x\n", "Tag \"28\" statt \"30,31\" (den gibt es in jedem der Monate)"},
      {"\t# 0 12 * * * alt\n", "ohne den Leerraum davor: \"# 0 12 * * * alt\""},
  };
  for (const auto& c : cases) EXPECT_EQ(lastSuggestion(check(c.line).findings), c.suggestion) << c.line;
}

TEST_F(CheckerTest, NextStartsInTheLogsStampLayout) {
  options.starts = 4;
  const auto& report = check("30 8 * * 1-5 job\n");
  ASSERT_EQ(report.startCount, 4);
  // From Monday 7 December 2026, 10:00: Monday's 08:30 is past.
  EXPECT_EQ(stampOf(report.starts[0]), "Tue Dec 08 08:30:00 2026");
  EXPECT_EQ(stampOf(report.starts[1]), "Wed Dec 09 08:30:00 2026");
  EXPECT_EQ(stampOf(report.starts[2]), "Thu Dec 10 08:30:00 2026");
  EXPECT_EQ(stampOf(report.starts[3]), "Fri Dec 11 08:30:00 2026");
  // The start minute itself counts when it matches; seconds round up.
  options.from = utc(2026, 12, 8, 8, 30);
  EXPECT_EQ(stampOf(check("30 8 * * 1-5 job\n").starts[0]), "Tue Dec 08 08:30:00 2026");
  options.from = utc(2026, 12, 8, 8, 30) + 1;
  EXPECT_EQ(stampOf(check("30 8 * * 1-5 job\n").starts[0]), "Wed Dec 09 08:30:00 2026");
}

// The checker finds a program where the scheduler, standing in the
// service's folder, finds it: compared with resolveProgram itself, run
// from that folder.
TEST_F(CheckerTest, ProgramsAreFoundWhereTheSchedulerFindsThem) {
  const std::string other = makeTempDir("check_other");
  writeFile(joinPath(dir, "prog.exe"), "x");
  writeFile(joinPath(dir, "tool.bat"), "x");
  writeFile(joinPath(dir, "named.txt"), "x");
  fs::create_directory(joinPath(dir, "sub"));
  writeFile(joinPath(joinPath(dir, "sub"), "inner.cmd"), "x");
  writeFile(joinPath(other, "abs.exe"), "x");
  const std::string absolute = other + "\\abs";

  const std::vector<std::string> programs = {"prog",      "prog.exe", "tool",    "sub\\inner", "sub/inner",
                                             "named.txt", "named",    "missing", absolute,     "prog.com"};
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  std::vector<bool> scheduler;
  for (const auto& p : programs) {
    char resolved[600];
    scheduler.push_back(scheduler::resolveProgram(p.c_str(), resolved, sizeof resolved));
  }
  fs::current_path(before);

  for (std::size_t i = 0; i < programs.size(); ++i) {
    SCOPED_TRACE(programs[i]);
    char resolved[600];
    EXPECT_EQ(scheduler::resolveProgramFrom(dir.c_str(), programs[i].c_str(), resolved, sizeof resolved),
              scheduler[i]);
    const auto& report = check("0 0 * * * " + programs[i] + " arg\n");
    const bool warned = kinds(report.findings, true) == std::vector<Finding>{Finding::ProgramNotFound};
    EXPECT_EQ(warned, !scheduler[i]);
  }
  EXPECT_EQ(scheduler, (std::vector<bool>{true, true, true, true, true, true, false, false, true, false}));

  // From another folder the bare names are gone; the absolute path stays.
  char resolved[600];
  EXPECT_FALSE(scheduler::resolveProgramFrom(other.c_str(), "prog", resolved, sizeof resolved));
  EXPECT_TRUE(scheduler::resolveProgramFrom(other.c_str(), absolute.c_str(), resolved, sizeof resolved));
  removeTree(other);
}

// A physical line longer than 255 characters is several lines to the
// scheduler; the checker numbers them the same way and warns about each
// piece. A line of exactly 255 leaves only its newline: an empty line,
// nothing lost, no warning. CR LF line ends read the same.
TEST_F(CheckerTest, PiecesOfALongLineAreNumberedAsTheSchedulerReadsThem) {
  const std::string longLine = "0 0 * * * " + std::string(290, 'x');  // 300 characters
  const std::string exact = "0 0 * * * " + std::string(245, 'y');     // 255 characters
  ASSERT_EQ(longLine.size(), 300u);
  ASSERT_EQ(exact.size(), 255u);
  for (const char* end : {"\n", "\r\n"}) {
    SCOPED_TRACE(std::strlen(end) == 1 ? "LF" : "CR LF");
    const std::string table = longLine + end + exact + end + "0 1 * * * z" + end;
    const std::string path = joinPath(dir, "CronTab.txt");
    writeFile(path, table);

    // What the scheduler's reading yields: five lines.
    std::FILE* file = platform::openFile(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    char buffer[cron::kLineBufferSize];
    int pieces = 0;
    while (platform::readLine(buffer, sizeof buffer, file) != nullptr) ++pieces;
    std::fclose(file);
    EXPECT_EQ(pieces, 5);

    const auto [code, text] = run(path);
    EXPECT_EQ(code, checker::kExitAllRun);
    const auto lines = splitLines(text);
    std::vector<std::string> heads, pieceWarnings;
    for (const auto& l : lines) {
      if (l.rfind("Zeile ", 0) == 0) heads.push_back(l.substr(0, l.find_first_of(" (", l.find(':') + 2)));
      if (l.find("Teil ") != std::string::npos) pieceWarnings.push_back(l.substr(0, l.find(',')));
    }
    EXPECT_EQ(heads,
              (std::vector<std::string>{"Zeile 1: benutzt:", "Zeile 2: uebersprungen",
                                        "Zeile 3: benutzt:", "Zeile 4: uebersprungen", "Zeile 5: benutzt:"}));
    EXPECT_EQ(pieceWarnings, (std::vector<std::string>{"  Warnung: Teil 1 der Datei-Zeile 1",
                                                       "  Warnung: Teil 2 der Datei-Zeile 1"}));
    EXPECT_NE(text.find("Zeile 4: uebersprungen (leer)\n"), std::string::npos);
    EXPECT_NE(text.find("Zusammenfassung: 5 Zeilen: 0 Kommentare, 2 uebersprungen, 3 benutzt, davon 0 laufen "
                        "nie;"),
              std::string::npos);
  }
}

TEST_F(CheckerTest, ExitCodes) {
  writeFile(joinPath(dir, "job.exe"), "x");
  const struct {
    const char* table;
    int code;
    const char* why;
  } cases[] = {
      {"0 12 * * * job\n# */5 * * * * job\n", 0, "every used line runs"},
      {"# nur ein Kommentar\n\n1 2 3\n", 0, "no used line at all"},
      {"0 0 29 2 1 job\n", 0, "no start in eight years, but some day"},
      {"0 12 * * * job\n*/5 * * * * job\n", 1, "a step marks nothing"},
      {"0 12 * * * job\n0 0 * * 7 job\n", 1, "7 alone as the weekday"},
      {"0 12 31 4,6,9,11 * job\n", 1, "day 31 in months of 30 days"},
      {"0 12 * * * job\n  # 0 12 * * * job\n", 1, "an indented # line is used and never runs"},
      {"0 12 * * * job", 0, "no newline at the end"},
      {"", 0, "an empty table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(runTable(c.table).first, c.code);
  }
  const auto [missingCode, missingText] = run(joinPath(dir, "fehlt.txt"));
  EXPECT_EQ(missingCode, checker::kExitNotRead);
  EXPECT_NE(missingText.find("nicht lesbar"), std::string::npos);
  // A folder is no table: it either does not open or does not read.
  EXPECT_EQ(run(dir).first, checker::kExitNotRead);
}

// Notepad's encodings: a UTF-8 mark is skipped as the scheduler skips it
// (a hint), a table saved as UTF-16 runs nothing, an umlaut in a field
// marks nothing and one in a command points to the way to save as ANSI.
TEST_F(CheckerTest, NotepadEncodings) {
  writeFile(joinPath(dir, "job.exe"), "x");
  const struct {
    std::string table;
    int code;
    const char* said;
  } cases[] = {
      {"\xEF\xBB\xBF" "0 12 * * * job\n", 0,
       "\nHinweis: die Tabelle beginnt mit der UTF-8-Markierung (BOM, Notepads \"UTF-8 mit BOM\"); der Dienst "
       "ueberspringt sie\n\nZeile 1: benutzt: 0 12 * * * job\n"},
      {std::string("\xFF\xFE" "0\0 \0" "1\0", 8), 1,
       "\nWarnung: die Tabelle ist als UTF-16 gespeichert (Notepads Codierung \"Unicode\"); darin liest der Dienst "
       "keine Zeile, kein Job laeuft\n  Vorschlag: in Notepad \"Datei\", \"Speichern unter\", Codierung \"ANSI\" "
       "waehlen\n"},
      {std::string("\xFE\xFF\0" "0\0 \0" "1", 8), 1, "als UTF-16 gespeichert"},
      {"0 12 * * * job \xc3\xbc\n", 0,
       "  Warnung: Befehl mit Zeichen ueber 127 (etwa Umlauten): die Datei ist wahrscheinlich als UTF-8 "
       "gespeichert, dann findet Windows ein Programm oder einen Pfad mit solchen Zeichen nicht\n    Vorschlag: in "
       "Notepad \"Datei\", \"Speichern unter\", Codierung \"ANSI\" waehlen und die Zeile pruefen\n"},
      {"0 12 * \xc3\xa4 * job\n", 1,
       "  Warnung: Monat \"\xc3\xa4\": keine Zahl; das Feld markiert nichts (Zeichen ueber 127, etwa Umlaute "
       "einer als UTF-8 gespeicherten Datei, lesen sich nie als Zahl)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    const auto [code, text] = runTable(c.table);
    EXPECT_EQ(code, c.code);
    EXPECT_NE(text.find(c.said), std::string::npos) << text;
  }
}

namespace {

void put16(std::string& image, std::size_t at, unsigned value) {
  image[at] = static_cast<char>(value & 0xFF);
  image[at + 1] = static_cast<char>(value >> 8 & 0xFF);
}

// A program file's first bytes as a linker writes them, as far as the
// loader's first look goes: "MZ", at 0x3C the offset of "PE\0\0", the file
// header (machine, the optional header's size at 16), then the optional
// header with its magic and, at 68, the subsystem.
std::string peImage(unsigned magic, unsigned subsystem) {
  constexpr std::size_t at = 0x80;
  const unsigned optionalSize = magic == 0x20B ? 240 : 224;
  std::string image(at + 24 + optionalSize, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put16(image, 0x3C, at);
  image.replace(at, 4, std::string("PE\0\0", 4));
  put16(image, at + 4, magic == 0x20B ? 0x8664 : 0x14C);
  put16(image, at + 4 + 16, optionalSize);
  put16(image, at + 24, magic);
  put16(image, at + 24 + 68, subsystem);
  return image;
}

}  // namespace

// Only an image of the graphical subsystem (2) opens windows; a console
// image (3), another subsystem, a script or a file too short to tell does
// not count as one.
TEST_F(CheckerTest, ImageKindIsTheSubsystemOfThePeHeader) {
  using checker::ImageKind;
  const std::string gui = peImage(0x20B, 2);
  std::string farHeader = gui;
  put16(farHeader, 0x3C, 0x7000);  // beyond the file's end
  std::string notPe = gui;
  notPe[0x81] = 'X';
  std::string romImage = gui;
  put16(romImage, 0x80 + 24, 0x107);
  std::string shortOptional = gui;
  put16(shortOptional, 0x80 + 4 + 16, 68);  // ends before the subsystem
  const struct {
    std::string content;
    ImageKind kind;
    const char* why;
  } cases[] = {
      {gui, ImageKind::Window, "PE32+, graphical"},
      {peImage(0x10B, 2), ImageKind::Window, "PE32, graphical"},
      {peImage(0x20B, 3), ImageKind::NoWindow, "PE32+, console"},
      {peImage(0x10B, 3), ImageKind::NoWindow, "PE32, console"},
      {peImage(0x20B, 1), ImageKind::NoWindow, "native"},
      {gui.substr(0, 0x80 + 24 + 69), ImageKind::NoImage, "cut inside the subsystem field"},
      {gui.substr(0, 0x30), ImageKind::NoImage, "cut inside the DOS header"},
      {"MZ", ImageKind::NoImage, "only the mark"},
      {"@echo off\r\nexit /b 0\r\n", ImageKind::NoImage, "a batch file"},
      {"", ImageKind::NoImage, "an empty file"},
      {farHeader, ImageKind::NoImage, "header offset beyond the end"},
      {notPe, ImageKind::NoImage, "no PE signature (an old NE or LE program)"},
      {romImage, ImageKind::NoImage, "no PE32 or PE32+ magic"},
      {shortOptional, ImageKind::NoImage, "optional header too short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string path = joinPath(dir, "prog.exe");
    writeFile(path, c.content);
    EXPECT_EQ(checker::imageKind(path.c_str()), c.kind);
  }
  EXPECT_EQ(checker::imageKind(joinPath(dir, "fehlt.exe").c_str()), ImageKind::NoImage);
}

// A job whose program has windows gets a warning with what to start
// instead; a console program and a script none.
TEST_F(CheckerTest, AProgramWithWindowsIsWarnedOf) {
  writeFile(joinPath(dir, "fenster.exe"), peImage(0x20B, 2));
  writeFile(joinPath(dir, "konsole.exe"), peImage(0x20B, 3));
  writeFile(joinPath(dir, "skript.bat"), "@echo off\r\n");
  const auto& report = check("0 12 * * * fenster /x\n");
  ASSERT_EQ(kinds(report.findings, true), std::vector<Finding>{Finding::WindowProgram});
  EXPECT_STREQ(report.findings.items[0].message,
               "Programm \"fenster\" oeffnet Fenster (ein Windows-Programm, kein Konsolenprogramm): der Dienst "
               "startet es unsichtbar in Sitzung 0, wo niemand es sieht, bedient oder schliesst; endet es nicht von "
               "selbst, laeuft es fuer immer");
  EXPECT_STREQ(report.findings.items[0].suggestion,
               "ein Konsolenprogramm oder ein Skript (.bat, .cmd) starten, das ohne Eingabe von selbst endet");
  for (const char* program : {"konsole", "konsole.exe", "skript"}) {
    SCOPED_TRACE(program);
    EXPECT_EQ(kinds(check(std::string("0 12 * * * ") + program + "\n").findings, true), std::vector<Finding>{});
  }
}

// TZ where the service would see it, in the stand-in's registry: the
// machine's environment and the service's own Environment value (strings
// each with its zero, one zero more at the end), the name in any case; an
// empty TZ is none. Under Windows the registry is the machine's own:
// wine_croncheck.sh sets these values in its prefix instead.
TEST_F(CheckerTest, TimeZoneVariableOfTheService) {
  const std::string root = useScratchPlatformRoot();
  if (root.empty()) GTEST_SKIP() << "the machine's own registry";
  const char* machineKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  const char* serviceKey = "SYSTEM\\CurrentControlSet\\Services\\Horamat";
  const std::string machine = "TZ=CET-1CEST ist fuer den ganzen Rechner gesetzt";
  const std::string own = " ist in der Umgebung des Dienstes gesetzt";
  const struct {
    const char* machineTz;  // nullptr: no such value
    std::string environment;
    std::vector<std::string> said;
    const char* why;
  } cases[] = {
      {nullptr, "", {}, "neither"},
      {"CET-1CEST", "", {machine}, "the machine's"},
      {"", "", {}, "the machine's, empty"},
      {nullptr, std::string("PATH=C:\\x\0TZ=EST5EDT\0\0", 22), {"TZ=EST5EDT" + own}, "the service's, second"},
      {nullptr, std::string("tz=GMT0\0\0", 9), {"TZ=GMT0" + own}, "the service's, lower case"},
      {nullptr, std::string("TZX=1\0XTZ=2\0TZ=\0\0", 17), {}, "other names, and an empty TZ"},
      {"CET-1CEST", std::string("TZ=UTC0\0\0", 9), {machine, "TZ=UTC0" + own}, "both"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    platform::regDeleteKey(machineKey);
    platform::regDeleteKey(serviceKey);
    if (c.machineTz != nullptr) {
      ASSERT_EQ(platform::regWriteValue(machineKey, "TZ", c.machineTz,
                                        static_cast<std::uint32_t>(std::strlen(c.machineTz) + 1)),
                0);
    }
    if (!c.environment.empty()) {
      ASSERT_EQ(platform::regWriteValue(serviceKey, "Environment", c.environment.data(),
                                        static_cast<std::uint32_t>(c.environment.size())),
                0);
    }
    checker::FindingList list;
    checker::checkServiceTimeZone(list);
    ASSERT_EQ(list.count, static_cast<int>(c.said.size()));
    for (std::size_t i = 0; i < c.said.size(); ++i) {
      EXPECT_EQ(list.items[i].finding, Finding::TimeZoneVariable);
      EXPECT_NE(std::string(list.items[i].message).find(c.said[i]), std::string::npos) << list.items[i].message;
    }
  }

  // In the report it heads the table's warnings; the jobs run all the
  // same, only at other hours, so the exit code stays.
  platform::regDeleteKey(serviceKey);
  ASSERT_EQ(platform::regWriteValue(machineKey, "TZ", "CET-1CEST", 10), 0);
  writeFile(joinPath(dir, "job.exe"), "x");
  options.serviceTimeZone = true;
  const auto [code, text] = runTable("0 12 * * * job\n");
  EXPECT_EQ(code, checker::kExitAllRun);
  EXPECT_NE(text.find("\nWarnung: Umgebungsvariable TZ=CET-1CEST ist fuer den ganzen Rechner gesetzt "
                      "(HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment, Wert "
                      "TZ): mit TZ rechnet die C-Laufzeit des Dienstes die Ortszeit nach TZ statt nach der Zeitzone "
                      "von Windows, die Sommerzeit immer nach den Regeln der USA; Auftraege starten dann einige "
                      "Wochen im Jahr (bei einem TZ, das sie nicht versteht, immer) zur falschen Stunde\n  Vorschlag: "
                      "TZ entfernen: reg delete \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session "
                      "Manager\\Environment\" /v TZ /f, dann Windows neu starten; der Dienst folgt dann der Zeitzone "
                      "des Systems\n\nZeile 1: benutzt"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("1 benutzt, davon 0 laufen nie; 1 Warnung, 0 Hinweise."), std::string::npos) << text;
  platform::regDeleteKey(machineKey);
  removeTree(root);
}

// Starts in an hour that the time zone skips or repeats within the next
// year, with the dates: in Europe/Berlin 02:00-02:59 on the last Sundays
// of March and October.
TEST_F(CheckerTest, HintsForTheChangesOfDaylightSavingTime) {
  if (!useBerlinRules()) GTEST_SKIP() << "no European rules on this C library";
  checker::ClockChanges changes;
  checker::findClockChanges(options.from, changes);
  options.changes = &changes;
  const char* both = "Zeitumstellung: laeuft am 28.03.2027 nicht (02:00-02:59), laeuft am 31.10.2027 zweimal "
                     "(02:00-02:59)";
  const struct {
    const char* line;
    const char* hint;  // "" for none
  } cases[] = {
      {"30 2 * * * x\n", both},
      {"0 1-3 * * * x\n", both},
      {"* * * * * x\n", both},
      {"30 2 * 3 * x\n", "Zeitumstellung: laeuft am 28.03.2027 nicht (02:00-02:59)"},
      {"59 2 * 10 0 x\n", "Zeitumstellung: laeuft am 31.10.2027 zweimal (02:00-02:59)"},
      {"30 3 * * * x\n", ""},     // outside the hour
      {"30 2 * * 1-5 x\n", ""},   // the changes fall on Sundays
      {"30 2 1 * * x\n", ""},
      {"*/5 2 * * * x\n", ""},    // never runs at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string hint;
    const auto& report = check(c.line);
    for (int i = 0; i < report.findings.count; ++i) {
      if (report.findings.items[static_cast<std::size_t>(i)].finding == Finding::ClockChange)
        hint = report.findings.items[static_cast<std::size_t>(i)].message;
    }
    EXPECT_EQ(hint, c.hint);
  }
  setTimeZone("UTC0");
  checker::findClockChanges(options.from, changes);
  EXPECT_EQ(changes.count, 0);
}

// The whole report of a small table, byte for byte.
TEST_F(CheckerTest, ReportOfASmallTable) {
  writeFile(joinPath(dir, "backup.exe"), "x");
  options.starts = 2;
  const auto [code, text] = runTable(
      "# Sicherung an Werktagen\n"
      "0,30 8-17 * * 1-5 backup /q\n"
      "*/15 * * * MON-FRI backup\n"
      "1 2 3\n");
  EXPECT_EQ(code, checker::kExitSomeNever);
  const std::string body = text.substr(text.find("\n\n") + 2);
  EXPECT_EQ(
      body,
      "Zeile 1: Kommentar\n"
      "Zeile 2: benutzt: 0,30 8-17 * * 1-5 backup /q\n"
      "  Minute 0,30 | Stunde 8-17 | Tag jeder | Monat jeder | Wochentag Mo-Fr\n"
      "  Start: Mon Dec 07 10:00:00 2026\n"
      "  Start: Mon Dec 07 10:30:00 2026\n"
      "Zeile 3: benutzt: */15 * * * MON-FRI backup\n"
      "  Minute keine | Stunde jede | Tag jeder | Monat jeder | Wochentag keiner\n"
      "  Laeuft nie: die Minute markiert nichts.\n"
      "  Warnung: Minute \"*/15\": eine Schrittweite (\"/\") gibt es hier nicht; das Feld markiert nichts\n"
      "    Vorschlag: Minute \"0,15,30,45\" statt \"*/15\"\n"
      "  Warnung: Wochentag \"MON-FRI\": Namen von Tagen und Monaten gibt es hier nicht, nur Zahlen; das "
      "Feld markiert nichts\n"
      "    Vorschlag: Wochentag \"1-5\" statt \"MON-FRI\"\n"
      "Zeile 4: uebersprungen (weniger als fuenf Felder): 1 2 3\n"
      "\n"
      "Zusammenfassung: 4 Zeilen: 1 Kommentar, 1 uebersprungen, 2 benutzt, davon 1 laeuft nie; 2 Warnungen, "
      "0 Hinweise.\n");
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
            "Tabelle: " + joinPath(dir, "CronTab.txt") + "\nStarts ab: Mon Dec 07 10:00:00 2026\n");
}

// The skipping search against asking lineMatches about every single minute,
// across the changes of daylight-saving time, in zones that shift by an
// hour and by half an hour.
TEST_F(CheckerTest, StartsEqualAMinuteByMinuteSearch) {
  const char* const tables[] = {
      "30 2 * * *",    "0,30 * * * 1-5", "* 2 * * 0",  "59 23 * * *", "0 0 * * *",        "15 1-3 * 3,4,10 0",
      "* * 25-31 3 0", "45 1,2 * * *",   "0 0 31 * *", "5 3 1 * *",   "0-59 0-23 29 2 *", "0 12 13 * 5",
  };
  // Around the changes of 2026: Europe in late March and October, Lord
  // Howe in early April and October.
  const std::pair<std::time_t, std::time_t> windows[] = {
      {utc(2026, 3, 20, 0, 0), utc(2026, 4, 10, 0, 0)},
      {utc(2026, 9, 28, 0, 0), utc(2026, 10, 31, 0, 0)},
  };
  struct Zone {
    const char* name;
    bool (*use)();
  };
  const Zone zones[] = {
      {"UTC", [] { return setTimeZone("UTC0"); }},
      {"Europa", useBerlinRules},
      {"Lord Howe", useLordHoweRules},
  };
  int zonesRun = 0;
  for (const auto& zone : zones) {
    if (!zone.use()) continue;
    ++zonesRun;
    for (const char* fields : tables) {
      SCOPED_TRACE(std::string(zone.name) + ": " + fields);
      cron::CronLine line;
      ASSERT_TRUE(cron::splitCronLine((std::string(fields) + " x").c_str(), line));
      cron::ScheduleMasks masks{};
      cron::parseLine(line, masks);
      for (const auto& [from, until] : windows) {
        std::vector<std::time_t> expected;
        for (std::time_t t = from; t < until; t += 60) {
          if (cron::lineMatches(masks, *std::localtime(&t))) expected.push_back(t);
        }
        std::vector<std::time_t> found(expected.size() + 1);
        const int n = checker::findStarts(masks, from, until, found.data(), static_cast<int>(found.size()));
        found.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(found, expected);
      }
    }
  }
  EXPECT_GE(zonesRun, 1);
}

// A rare line is searched day by day, not minute by minute (its cost is
// bench/'s matter): Monday, 29 February comes next in 2044, beyond the
// eight years of a report, and the day skipping must not jump over it.
TEST_F(CheckerTest, RareLinesAreFoundFarAhead) {
  const auto& report = check("0 0 29 2 1 x\n");
  std::array<std::time_t, 2> starts{};
  const int n = checker::findStarts(report.masks, options.from, utc(2060, 1, 1, 0, 0), starts.data(), 2);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(starts[0], utc(2044, 2, 29, 0, 0));
}

// The proof: run the real scheduler loop on the simulated clock over the
// same table for weeks and compare the minutes at which it logs job starts
// with the starts the checker predicts, line by line. In Europe/Berlin the
// weeks span a change of daylight-saving time each way: the skipped hour
// starts nothing, the repeated one starts its jobs twice.
TEST_F(CheckerTest, PredictsTheStartsOfTheSchedulerLoop) {
  const std::string table =
      "30 2 * * * nicht_da_a\n"
      "0,30 * * * 1-5 nicht_da_b\n"
      "* 2 * * 0 nicht_da_c\n"
      "59 1,2,3 * * * nicht_da_d\n"
      "0 0 * * * nicht_da_e\n"
      "15 2 25-31 3,10 0 nicht_da_f\n"
      "*/5 * * * * nicht_da_g\n"
      "# 0 * * * * nicht_da_h\n";
  struct Run {
    const char* zone;
    std::time_t from;
    int days;
  };
  std::vector<Run> runs = {{"UTC0", utc(2026, 3, 23, 0, 0), 7}};
  if (useBerlinRules()) {
    runs.push_back({nullptr, utc(2026, 3, 23, 0, 0), 14});   // 29 March: 02:00 -> 03:00
    runs.push_back({nullptr, utc(2026, 10, 19, 0, 0), 14});  // 25 October: 03:00 -> 02:00
  }
  int compared = 0;
  for (const auto& r : runs) {
    const bool berlin = r.zone == nullptr;
    if (!berlin) setTimeZone(r.zone);
    if (berlin) useBerlinRules();
    SCOPED_TRACE(stampOf(r.from) + (berlin ? " Europa" : " UTC"));

    const std::string install = makeTempDir("check_loop");
    writeFile(joinPath(install, "CronTab.txt"), table);
    gClock = SimulatedClock{};
    gClock.nowMs = static_cast<std::int64_t>(r.from) * 1000;
    static scheduler::SchedulerState state;
    state = scheduler::SchedulerState{};
    ASSERT_TRUE(scheduler::startScheduler(install.c_str(), kSimulatedClock, state));
    const std::time_t until = r.from + static_cast<std::time_t>(r.days) * 24 * 3600;
    while (gClock.nowMs < static_cast<std::int64_t>(until) * 1000)
      scheduler::schedulerPass(state, kSimulatedClock);

    // The log: stamps per command.
    std::map<std::string, std::vector<std::string>> logged;
    const auto log = splitLines(readFile(joinPath(install, "Horamat.log")));
    for (std::size_t i = 1; i + 1 < log.size(); i += 2) {
      ASSERT_NE(jobEntryStamp(log[i]), "") << log[i];
      const std::string fields = log[i + 1];
      const std::string command = fields.substr(fields.rfind('<') + 1, fields.size() - fields.rfind('<') - 2);
      logged[command].push_back(jobEntryStamp(log[i]));
    }

    // The checker, line by line, over the same minutes.
    std::map<std::string, std::vector<std::string>> predicted;
    std::FILE* file = platform::openFile(joinPath(install, "CronTab.txt").c_str(), "r");
    ASSERT_NE(file, nullptr);
    char text[cron::kLineBufferSize];
    int number = 0;
    checker::CheckOptions all = options;
    all.from = r.from;
    all.starts = checker::kMaxStarts;
    while (platform::readLine(text, sizeof text, file) != nullptr) {
      const auto& report = check(text, ++number);
      if (report.kind != checker::LineKind::Used) continue;
      std::vector<std::time_t> starts(20000);
      const int n =
          checker::findStarts(report.masks, r.from, until, starts.data(), static_cast<int>(starts.size()));
      auto& list = predicted[report.line.command];
      for (int i = 0; i < n; ++i) list.push_back(stampOf(starts[static_cast<std::size_t>(i)]));
      // What the report shows is the head of that list.
      checker::LineReport shown;
      checker::checkLine(text, checker::PieceInfo{number, number, 1, false}, all, shown);
      for (int i = 0; i < shown.startCount && i < n; ++i) {
        EXPECT_EQ(shown.starts[static_cast<std::size_t>(i)], starts[static_cast<std::size_t>(i)]);
      }
    }
    std::fclose(file);

    for (const char* command :
         {"nicht_da_a", "nicht_da_b", "nicht_da_c", "nicht_da_d", "nicht_da_e", "nicht_da_f", "nicht_da_g"}) {
      SCOPED_TRACE(command);
      EXPECT_EQ(predicted[command], logged[command]);
      ++compared;
    }
    EXPECT_EQ(logged.count("nicht_da_h"), 0u);
    EXPECT_TRUE(logged["nicht_da_g"].empty());
    EXPECT_FALSE(logged["nicht_da_b"].empty());
    if (berlin && r.from < utc(2026, 6, 1, 0, 0)) {
      EXPECT_EQ(logged["nicht_da_c"].size(), 60u) << "5 April only: 29 March has no 02:xx";
      EXPECT_EQ(logged["nicht_da_f"].size(), 0u) << "02:15 on the last Sunday of March never comes";
    }
    if (berlin && r.from > utc(2026, 6, 1, 0, 0)) {
      EXPECT_EQ(logged["nicht_da_c"].size(), 60u + 120u) << "25 October has two 02:xx hours";
      EXPECT_EQ(logged["nicht_da_f"].size(), 2u) << "02:15 comes twice on 25 October";
    }
    removeTree(install);
  }
  EXPECT_GE(compared, 7);
}

// The command line: file, count, and the installed table without the
// installer's diagnostic line.
TEST_F(CheckerTest, CommandLine) {
  const std::string table = joinPath(dir, "CronTab.txt");
  writeFile(table, "0 12 * * * job\n");
  auto runMain = [](std::vector<std::string> args, std::string& printed) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    ::testing::internal::CaptureStdout();
    const int code = checker::cronCheckMain(static_cast<int>(argv.size()), argv.data());
    printed = withoutCarriageReturns(::testing::internal::GetCapturedStdout());
    return code;
  };
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  std::string printed;
  EXPECT_EQ(runMain({"CronCheck", table}, printed), 0);
  EXPECT_EQ(count(printed, "  Start: "), checker::kDefaultStarts);
  EXPECT_EQ(runMain({"CronCheck", table, "5"}, printed), 0);
  EXPECT_EQ(count(printed, "  Start: "), 5);
  EXPECT_EQ(runMain({"CronCheck", table, "0"}, printed), 0);
  EXPECT_EQ(count(printed, "  Start: "), 0);
  for (const char* wrong : {"x", "-1", "101", "", "5x"}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(runMain({"CronCheck", table, wrong}, printed), 2);
    EXPECT_EQ(printed.rfind("Aufruf: CronCheck", 0), 0u);
  }
  EXPECT_EQ(runMain({"CronCheck", table, "1", "2"}, printed), 2);
  EXPECT_EQ(runMain({"CronCheck", joinPath(dir, "fehlt.txt")}, printed), 2);
}

TEST_F(CheckerTest, WithoutAFileTheInstalledTableIsReadWithoutTheDiagnosticLine) {
  const std::string root = useScratchPlatformRoot();
  platform::regDeleteKey(settings::kSettingsKey);
  settings::InstallSettings = {};
  char* argv[] = {const_cast<char*>("CronCheck"), nullptr};

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(checker::cronCheckMain(1, argv), 2);
  std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.rfind("Installation nicht gefunden", 0), 0u) << printed;

  writeFile(joinPath(dir, "CronTab.txt"), "0 12 * * * job\n*/5 * * * * job\n");
  ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Path", dir.c_str(),
                                    static_cast<std::uint32_t>(dir.size() + 1)),
            0);
  ASSERT_EQ(platform::regWriteValue(settings::kSettingsKey, "Version", "1.0.0", 6), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(checker::cronCheckMain(1, argv), 1);
  printed = withoutCarriageReturns(::testing::internal::GetCapturedStdout());
  // The report's own first line comes first: no "0 <path> 256 <size>".
  EXPECT_EQ(printed.rfind("Tabelle: " + dir + "\\CronTab.txt\n", 0), 0u) << printed;

  // The installer's variant still prints its line; suppressed, nothing.
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(settings::readInstallSettings(settings::Variant::Installer), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("0 " + dir + " 256 ", 0), 0u);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(settings::readInstallSettings(settings::Variant::Installer, settings::DiagnosticLine::Suppressed),
            1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_STREQ(settings::InstallSettings.path, dir.c_str());

  platform::regDeleteKey(settings::kSettingsKey);
  if (!root.empty()) removeTree(root);
}
