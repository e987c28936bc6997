// The sample CronTab.txt that the setup installs teaches the table's rules
// by example. Its example lines are the comment lines with a time field
// right behind the "#"; each one, uncommented, goes through the
// scheduler's own table code here, and must run exactly when the comment
// above it says, over every minute of 2027. A wrong sentence in the sample
// (as once "0-30/10 never runs", while it runs 31 times an hour) or an
// example without a row here fails.
//
// The file itself is the table the scheduler reads and the administrator
// edits in Notepad: ANSI (Windows-1252) without a byte-order mark, CR LF,
// nothing that runs after the installation, umlauts in prose only.
#include "scheduler/cron_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "jobwache/watch_options.h"
#include "scheduler/job_start.h"

namespace {

// The file's bytes. Under Wine a Unix path is found on drive Z:.
std::string readSample() {
  for (const char* drive : {"", "Z:"}) {
    const std::string path = std::string(drive) + HORAMAT_SAMPLE_TABLE;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) continue;
    std::string bytes;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) bytes.append(chunk.data(), n);
    std::fclose(in);
    return bytes;
  }
  return {};
}

// Lines without their CR LF.
std::vector<std::string> linesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = bytes.find("\r\n"); end != std::string::npos; end = bytes.find("\r\n", start)) {
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The marker of an example: a time field right behind the "#".
bool isExample(const std::string& line) {
  return line.size() > 1 && line[0] == '#' &&
         (std::isdigit(static_cast<unsigned char>(line[1])) != 0 || line[1] == '*');
}

struct Runs {
  int count = 0;
  std::string first;
  std::string last;
};

// "Fri 2027-08-13 12:00"
std::string stampOf(const std::tm& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<char, 64> text{};  // room for any int the fields may hold
  std::snprintf(text.data(), text.size(), "%s %04d-%02d-%02d %02d:%02d", kDays[t.tm_wday],
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
  return text.data();
}

// Every minute of 2027 that the parsed line matches. The calendar is laid
// out by hand: no time zone, no clock, only the table code.
Runs runsIn2027(const cron::ScheduleMasks& masks) {
  constexpr std::array<int, 12> kMonthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  Runs runs;
  int weekday = 5;  // 1 January 2027 is a Friday
  for (int month = 0; month < 12; ++month) {
    for (int day = 1; day <= kMonthDays[static_cast<std::size_t>(month)]; ++day) {
      std::tm t{};
      t.tm_year = 2027 - 1900;
      t.tm_mon = month;
      t.tm_mday = day;
      t.tm_wday = weekday;
      for (t.tm_hour = 0; t.tm_hour < 24; ++t.tm_hour) {
        for (t.tm_min = 0; t.tm_min < 60; ++t.tm_min) {
          if (!cron::lineMatches(masks, t)) continue;
          if (runs.count++ == 0) runs.first = stampOf(t);
          runs.last = stampOf(t);
        }
      }
      weekday = (weekday + 1) % 7;
    }
  }
  return runs;
}

// What each example of the sample does, keyed by its five fields.
struct Example {
  const char* fields;
  int runs;
  const char* first;
  const char* last;
  const char* rule;
};
constexpr int kDays2027 = 365;
constexpr int kWeekdays2027 = 261;  // 52 weeks and Friday 31 December
const Example kExamples[] = {
    {"*/5 * * * *", 0, "", "", "a step marks nothing: the line never runs"},
    {"0-30/10 * * * *", 31 * 24 * kDays2027, "Fri 2027-01-01 00:00", "Fri 2027-12-31 23:30",
     "0-30 is read, /10 ignored: every minute from 0 to 30"},
    {"0,10,20,30,40,50 * * * *", 6 * 24 * kDays2027, "Fri 2027-01-01 00:00", "Fri 2027-12-31 23:50",
     "every ten minutes, written as a list"},
    {"0 7 * * MON-FRI", 0, "", "", "names mark nothing"},
    {"0 7 * * 7", 0, "", "", "7 is not Sunday"},
    {"0 7 0 * *", 0, "", "", "there is no day 0"},
    {"0 12 13 * 5", 1, "Fri 2027-08-13 12:00", "Fri 2027-08-13 12:00",
     "day and weekday both: 2027 has one Friday the 13th"},
    {"30 3 * * *", kDays2027, "Fri 2027-01-01 03:30", "Fri 2027-12-31 03:30",
     "every night at 03:30, outside the hour that daylight saving skips or repeats"},
    {"30 8 * * 1-5", kWeekdays2027, "Fri 2027-01-01 08:30", "Fri 2027-12-31 08:30", "weekdays at 08:30"},
    {"0 23 * * 0", 52, "Sun 2027-01-03 23:00", "Sun 2027-12-26 23:00", "Sundays at 23:00"},
    {"0,30 8-18 * * *", 22 * kDays2027, "Fri 2027-01-01 08:00", "Fri 2027-12-31 18:30",
     "every full and half hour from 8 to 18"},
    {"0 6 1,15 1-3 *", 6, "Fri 2027-01-01 06:00", "Mon 2027-03-15 06:00", "1st and 15th, first quarter"},
    {"15 4 * * *", kDays2027, "Fri 2027-01-01 04:15", "Fri 2027-12-31 04:15", "every night at 04:15, through Jobwache"},
};

std::string fieldsOf(const cron::CronLine& line) {
  return std::string(line.minute) + " " + line.hour + " " + line.dayOfMonth + " " + line.month + " " +
         line.dayOfWeek;
}

TEST(SampleTable, IsAnAnsiTableThatRunsNothing) {
  const std::string bytes = readSample();
  ASSERT_FALSE(bytes.empty()) << HORAMAT_SAMPLE_TABLE;
  EXPECT_NE(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark: the scheduler reads the bytes";
  ASSERT_EQ(bytes.compare(bytes.size() - 2, 2, "\r\n"), 0) << "the last line ends with CR LF";
  const std::vector<std::string> lines = linesOf(bytes);
  std::size_t umlauts = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + line);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "a LF without CR";
    EXPECT_EQ(line.find('\r'), std::string::npos) << "a CR without LF";
    EXPECT_LE(line.size(), 255u) << "read in one piece";
    EXPECT_TRUE(!line.empty() && line[0] == '#') << "after the installation nothing runs";
    for (char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 128) continue;
      ++umlauts;
      // The umlauts and sharp s of Windows-1252; UTF-8 would show 0xC3 first.
      EXPECT_NE(std::string("\xE4\xF6\xFC\xC4\xD6\xDC\xDF").find(c), std::string::npos)
          << "byte " << static_cast<int>(byte) << " is no Windows-1252 umlaut";
      EXPECT_FALSE(isExample(line)) << "an example, uncommented, is a command: ASCII only";
    }
  }
  EXPECT_GT(umlauts, 0u) << "the comments are German with umlauts";
}

TEST(SampleTable, EachExampleRunsAsItsCommentSays) {
  const std::vector<std::string> lines = linesOf(readSample());
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    if (!isExample(line)) continue;
    SCOPED_TRACE(line);
    cron::CronLine parsed{};
    ASSERT_TRUE(cron::splitCronLine(line.c_str() + 1, parsed)) << "uncommented, it is a used line";
    const std::string fields = fieldsOf(parsed);
    const std::string command = parsed.command;
    EXPECT_EQ(command.rfind("C:\\ProgramData\\Horamat\\Jobs\\", 0), 0u) << "a job from the jobs folder";
    // Jobwache reads the rest itself: a wrong option would end every run.
    scheduler::JobCommand job;
    jobwache::WatchOptions watch;
    if (scheduler::buildJobCommand(parsed.command, job) && jobwache::isJobwache(job.program)) {
      EXPECT_TRUE(jobwache::parseWatchOptions(job.argv + 1, watch));
      EXPECT_EQ(std::string(job.argv[1 + watch.program]).rfind("C:\\ProgramData\\Horamat\\Jobs\\", 0), 0u);
    }
    const Example* row = nullptr;
    for (const Example& e : kExamples) {
      if (fields == e.fields) row = &e;
    }
    ASSERT_NE(row, nullptr) << "an example of the sample without a row here";
    EXPECT_TRUE(seen.insert(fields).second) << "two examples with the same fields";
    SCOPED_TRACE(row->rule);
    cron::ScheduleMasks masks{};
    cron::parseLine(parsed, masks);
    const Runs runs = runsIn2027(masks);
    EXPECT_EQ(runs.count, row->runs);
    EXPECT_EQ(runs.first, row->first);
    EXPECT_EQ(runs.last, row->last);
  }
  for (const Example& e : kExamples) {
    EXPECT_EQ(seen.count(e.fields), 1u) << "a row without its example in the sample: " << e.fields;
  }
}

}  // namespace
