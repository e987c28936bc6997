// The cost of the table work of one scan: a line split, parsed, matched and
// cleared, and a whole table of 10,000 lines read from memory the way the
// scheduler reads the file, in pieces of at most 255 characters.
#include "scheduler/cron_table.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Thursday 1 October 2026, 12:00.
std::tm scanTime() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 9;
  t.tm_mday = 1;
  t.tm_wday = 4;
  t.tm_hour = 12;
  t.tm_min = 0;
  return t;
}

// What the scheduler does with one line, whatever the verdict.
bool handleLine(const char* lineText, cron::CronLine& line, cron::ScheduleMasks& masks,
                const std::tm& t) {
  bool matches = false;
  if (cron::splitCronLine(lineText, line)) {
    cron::parseLine(line, masks);
    matches = cron::lineMatches(masks, t);
  }
  cron::clearMasks(masks);
  return matches;
}

void oneLine(benchmark::State& state, const char* lineText) {
  const std::tm t = scanTime();
  cron::CronLine line{};
  cron::ScheduleMasks masks{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(lineText);
    const bool matches = handleLine(lineText, line, masks, t);
    benchmark::DoNotOptimize(matches);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(oneLine, every_minute, "* * * * * C:\\Jobs\\ping.exe\n");
BENCHMARK_CAPTURE(oneLine, noon_daily, "0 12 * * * backup.bat full\n");
BENCHMARK_CAPTURE(oneLine, workdays_list, "0,15,30,45 8-17 * * 1-5 poll.exe -q host1\n");
BENCHMARK_CAPTURE(oneLine, friday_13th, "30 23 13 1-12 5 \"C:\\Program Files\\x\\y.exe\" a b\n");
BENCHMARK_CAPTURE(oneLine, comment, "# 0 3 * * * cleanup.exe\n");

// A table of typical lines, some comments, blank lines and one overlong
// line that arrives in pieces.
std::string makeTable(int lineCount) {
  static const char* const kLines[] = {
      "* * * * * C:\\Jobs\\ping.exe\n",
      "0 12 * * * backup.bat full\n",
      "0,15,30,45 8-17 * * 1-5 poll.exe -q host1\n",
      "30 23 13 1-12 5 report.exe\n",
      "# nightly cleanup\n",
      "\n",
      "5 4 1 1 * yearly.exe\n",
      "10-20 0-6,22-23 * * 0,6 weekend.cmd\n",
  };
  std::string table;
  char numbered[64];
  for (int i = 0; i < lineCount - 1; ++i) {
    const char* text = kLines[i % (sizeof kLines / sizeof kLines[0])];
    if (i % 97 == 0) {
      const int n = std::snprintf(numbered, sizeof numbered, "%d %d * * * job%d.exe\n", i % 60,
                                  i % 24, i);
      if (n > 0 && static_cast<std::size_t>(n) < sizeof numbered) text = numbered;
    }
    table += text;
  }
  table += "0 1 * * * " + std::string(400, 'x') + "\n";
  return table;
}

// Cuts the next piece off the table as fgets with a size of 256 would: up to
// and including a newline, at most 255 characters.
bool nextPiece(const std::string& table, std::size_t& pos, char (&piece)[cron::kLineBufferSize]) {
  if (pos >= table.size()) return false;
  std::size_t n = 0;
  while (n < sizeof piece - 1 && pos < table.size()) {
    const char c = table[pos++];
    piece[n++] = c;
    if (c == '\n') break;
  }
  piece[n] = '\0';
  return true;
}

void tableScan(benchmark::State& state) {
  const std::string table = makeTable(static_cast<int>(state.range(0)));
  const std::tm t = scanTime();
  cron::CronLine line{};
  cron::ScheduleMasks masks{};
  char piece[cron::kLineBufferSize];
  std::size_t pieces = 0;
  for (auto _ : state) {
    std::size_t pos = 0;
    int matches = 0;
    pieces = 0;
    while (nextPiece(table, pos, piece)) {
      matches += handleLine(piece, line, masks, t);
      ++pieces;
    }
    benchmark::DoNotOptimize(matches);
  }
  state.counters["pieces"] = static_cast<double>(pieces);
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(pieces));
}

BENCHMARK(tableScan)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
