#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace fs = std::filesystem;

std::string makeTempDir(const char* tag) {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path dir = fs::temp_directory_path() /
                   (std::string("hm_") + tag + "_" + std::to_string(stamp % 1000000007) + "_" +
                    std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.string();
  }
}

void removeTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool pathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string joinPath(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / name).string();
}

std::string jobEntryStamp(const std::string& line) {
  static const std::string started = "Job gestartet am ";
  static const std::string failed = "Jobstart fehlgeschlagen (Fehlercode ";
  if (line.rfind(started, 0) == 0) return line.substr(started.size());
  if (line.rfind(failed, 0) != 0) return "";
  const std::string::size_type digits = line.find_first_not_of("0123456789", failed.size());
  if (digits == failed.size() || digits == std::string::npos || line.compare(digits, 5, ") am ") != 0) return "";
  return line.substr(digits + 5);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

SimulatedClock gClock;

namespace {

platform::ClockReading simulatedNow() {
  const std::int64_t ms = gClock.nowMs;
  const std::int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  return {static_cast<std::time_t>(seconds), static_cast<std::uint32_t>(ms - seconds * 1000)};
}

void simulatedSleep(std::uint32_t ms) {
  ++gClock.sleeps;
  gClock.sleptMs += ms;
  std::int64_t add = ms;
  gClock.overshootRemainder += gClock.overshootMicros;
  add += gClock.overshootRemainder / 1000;
  gClock.overshootRemainder %= 1000;
  if (gClock.jitterMaxMs > 0) {
    add += std::uniform_int_distribution<std::uint32_t>(0, gClock.jitterMaxMs)(gClock.random);
  }
  gClock.nowMs += add;
}

}  // namespace

const scheduler::Clock kSimulatedClock = {simulatedNow, simulatedSleep};

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace testsupport

