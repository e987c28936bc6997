// A whole table file, read the way every scan reads it: written to a real
// file, opened with platform::openFile, read piece by piece with
// platform::readLine, every piece split, parsed and matched against Monday
// 7 December 2026, 10:01 (UTC), every match given its entry in a log of
// its own. No job is ever started here.
//
// Input: the bytes of CronTab.txt, NULs, CRs and overlong lines included.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

#include "fuzz/fuzz_support.h"
#include "platform/files.h"
#include "scheduler/cron_log.h"
#include "scheduler/cron_table.h"
#include "scheduler/job_start.h"

namespace {

std::string gTablePath;
std::string gLogPath;
std::time_t gScanTime = 0;

// What Windows text mode makes of the bytes: a CR directly before a LF
// is dropped, every other byte stays.
std::string textModeBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    out += static_cast<char>(data[i]);
  }
  return out;
}

bool startsWith(const std::string& text, std::size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC0", 1);
  tzset();
  const std::string dir = fuzzsupport::makeScratchDir("table");
  gTablePath = dir + "/CronTab.txt";
  gLogPath = dir + "/Horamat.log";
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 10;
  t.tm_min = 1;
  gScanTime = timegm(&t);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::writeBytes(gTablePath, data, size);
  unlink(gLogPath.c_str());

  std::FILE* table = platform::openFile(gTablePath.c_str(), "r");
  FUZZ_CHECK(table != nullptr);
  const std::tm scanTime = *std::localtime(&gScanTime);
  const bool hasNul = size > 0 && std::memchr(data, '\0', size) != nullptr;

  char lineText[cron::kLineBufferSize];
  cron::CronLine line;
  cron::ScheduleMasks masks{};
  std::string joined;
  bool lastPiece = false;
  std::size_t matches = 0;
  while (platform::readLine(lineText, sizeof lineText, table) != nullptr) {
    const std::size_t n = strnlen(lineText, sizeof lineText);
    FUZZ_CHECK(n < sizeof lineText);
    if (!hasNul) {
      // Only the last piece of the file may be short without a newline,
      // and a newline only ends a piece.
      FUZZ_CHECK(!lastPiece);
      FUZZ_CHECK(n > 0);
      const char* newline = static_cast<const char*>(std::memchr(lineText, '\n', n));
      FUZZ_CHECK(newline == nullptr || newline == lineText + n - 1);
      lastPiece = newline == nullptr && n < sizeof lineText - 1;
      joined.append(lineText, n);
    }
    if (cron::splitCronLine(lineText, line)) {
      cron::parseLine(line, masks);
      if (cron::lineMatches(masks, scanTime)) {
        ++matches;
        scheduler::JobCommand job;
        // A command holds a non-blank first character and fits: there is
        // always a program.
        FUZZ_CHECK(scheduler::buildJobCommand(line.command, job));
        FUZZ_CHECK(job.argv[0] == job.program && job.program[0] != '\0');
        FUZZ_CHECK(scheduler::writeJobEntry(gLogPath.c_str(), gScanTime, line, 0));
      }
    }
    cron::clearMasks(masks);
  }
  FUZZ_CHECK(std::ferror(table) == 0);
  std::fclose(table);
  if (!hasNul) FUZZ_CHECK(joined == textModeBytes(data, size));

  // Two whole lines per match, the first of them the stamp line.
  std::string log;
  if (std::FILE* file = std::fopen(gLogPath.c_str(), "rb")) {
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) log.append(buffer, got);
    std::fclose(file);
  }
  std::size_t lines = 0;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find('\n', at);
    FUZZ_CHECK(end != std::string::npos);
    FUZZ_CHECK(startsWith(log, at, lines % 2 == 0 ? "Job gestartet am Mon Dec 07 10:01:00 2026" : "  <"));
    ++lines;
    at = end + 1;
  }
  FUZZ_CHECK(lines == 2 * matches);
  return 0;
}
