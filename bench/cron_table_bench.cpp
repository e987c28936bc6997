// The cost of the table work of one scan.
//
// - oneLine: one line split, its five fields parsed, matched and the masks
//   cleared, as the scheduler handles every line; split, parse and match
//   also one by one.
// - tableScan: whole tables of 10,000 and 100,000 lines read from memory
//   the way the scheduler reads the file, in pieces of at most 255
//   characters.
// - fileScan: the scheduler's own scan, scheduler::scanTable, over a
//   CronTab.txt of 10,000 and 100,000 lines on disk (a scratch folder below
//   /tmp, removed at the end). No line of that table can ever match (day 30
//   or 31 of February), so no job starts.
//
// bench/run starts this program and turns its figures into nanoseconds per
// line and milliseconds per table.
#include "scheduler/cron_table.h"
#include "scheduler/scheduler_loop.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

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

// The three steps of one line apart, on the busiest of the lines above.
const char* const kListLine = "0,15,30,45 8-17 * * 1-5 poll.exe -q host1\n";

void lineSplit(benchmark::State& state) {
  const char* lineText = kListLine;
  cron::CronLine line{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(lineText);
    const bool used = cron::splitCronLine(lineText, line);
    benchmark::DoNotOptimize(used);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(lineSplit);

void lineParseFields(benchmark::State& state) {
  cron::CronLine line{};
  cron::ScheduleMasks masks{};
  if (!cron::splitCronLine(kListLine, line)) {
    state.SkipWithError("the line does not split");
    return;
  }
  for (auto _ : state) {
    cron::clearMasks(masks);
    cron::parseLine(line, masks);
    benchmark::DoNotOptimize(masks);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(lineParseFields);

void lineMatch(benchmark::State& state) {
  const std::tm t = scanTime();
  cron::CronLine line{};
  cron::ScheduleMasks masks{};
  if (!cron::splitCronLine(kListLine, line)) {
    state.SkipWithError("the line does not split");
    return;
  }
  cron::parseLine(line, masks);
  for (auto _ : state) {
    benchmark::DoNotOptimize(masks);
    const bool matches = cron::lineMatches(masks, t);
    benchmark::DoNotOptimize(matches);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(lineMatch);

// Typical lines, some comments and blank lines. The second set can never
// match: every line asks for day 30 or 31 of February.
const char* const kTypicalLines[] = {
    "* * * * * C:\\Jobs\\ping.exe\n",
    "0 12 * * * backup.bat full\n",
    "0,15,30,45 8-17 * * 1-5 poll.exe -q host1\n",
    "30 23 13 1-12 5 report.exe\n",
    "# nightly cleanup\n",
    "\n",
    "5 4 1 1 * yearly.exe\n",
    "10-20 0-6,22-23 * * 0,6 weekend.cmd\n",
};
const char* const kNeverLines[] = {
    "* * 30 2 * C:\\Jobs\\ping.exe\n",
    "0 12 31 2 * backup.bat full\n",
    "0,15,30,45 8-17 30,31 2 1-5 poll.exe -q host1\n",
    "30 23 30 2 5 report.exe\n",
    "# nightly cleanup\n",
    "\n",
    "5 4 31 2 * yearly.exe\n",
    "10-20 0-6,22-23 30 2 0,6 weekend.cmd\n",
};
constexpr std::size_t kLineKinds = sizeof kTypicalLines / sizeof kTypicalLines[0];

// lineCount lines: every 97th a numbered job of its own, the last one
// overlong so that it arrives in two pieces.
std::string makeTable(int lineCount, bool canMatch) {
  const char* const* lines = canMatch ? kTypicalLines : kNeverLines;
  std::string table;
  char numbered[64];
  for (int i = 0; i < lineCount - 1; ++i) {
    const char* text = lines[static_cast<std::size_t>(i) % kLineKinds];
    if (i % 97 == 0) {
      const int n = std::snprintf(numbered, sizeof numbered, "%d %d %s * job%d.exe\n", i % 60,
                                  i % 24, canMatch ? "* *" : "31 2", i);
      if (n > 0 && static_cast<std::size_t>(n) < sizeof numbered) text = numbered;
    }
    table += text;
  }
  table += canMatch ? "0 1 * * * " : "0 1 30 2 * ";
  table += std::string(400, 'x') + "\n";
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

std::size_t countPieces(const std::string& table) {
  char piece[cron::kLineBufferSize];
  std::size_t pos = 0;
  std::size_t pieces = 0;
  while (nextPiece(table, pos, piece)) ++pieces;
  return pieces;
}

void tableScan(benchmark::State& state) {
  const std::string table = makeTable(static_cast<int>(state.range(0)), true);
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
  state.counters["lines"] = static_cast<double>(state.range(0));
  state.counters["pieces"] = static_cast<double>(pieces);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(tableScan)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The scratch folder of fileScan, made in main.
char gScratch[] = "/tmp/hm_scanbench_XXXXXX";

// Writes <scratch>/<lineCount>/CronTab.txt once; returns that folder.
bool prepareTableFolder(int lineCount, std::string& folder, std::size_t& pieces) {
  folder = std::string(gScratch) + "/" + std::to_string(lineCount);
  const std::string table = makeTable(lineCount, false);
  pieces = countPieces(table);
  const std::string path = folder + "/CronTab.txt";
  if (std::filesystem::exists(path)) return true;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(table.data(), 1, table.size(), file) == table.size();
  return (std::fclose(file) == 0) && written;
}

// The scheduler's state is large and lives for the whole run there too.
scheduler::SchedulerState gScanState;

void fileScan(benchmark::State& state) {
  std::string folder;
  std::size_t pieces = 0;
  if (!prepareTableFolder(static_cast<int>(state.range(0)), folder, pieces) ||
      folder.size() >= sizeof gScanState.installDir) {
    state.SkipWithError("cannot write the table");
    return;
  }
  std::snprintf(gScanState.installDir, sizeof gScanState.installDir, "%s", folder.c_str());
  const std::time_t now = std::time(nullptr);
  for (auto _ : state) {
    const bool read = scheduler::scanTable(gScanState, now);
    benchmark::DoNotOptimize(read);
    if (!read) {
      state.SkipWithError("the table did not open");
      break;
    }
  }
  state.counters["lines"] = static_cast<double>(state.range(0));
  state.counters["pieces"] = static_cast<double>(pieces);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(fileScan)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (mkdtemp(gScratch) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  std::filesystem::remove_all(gScratch, error);
  return 0;
}
