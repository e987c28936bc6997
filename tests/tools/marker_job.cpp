// A job for tests: `marker_job <markerfile> [args...]` appends one line to
// <markerfile> and exits 0. The line is every argument, argv[0] included,
// joined by single blanks, then a tab, then the current directory. A test
// reads from it the vector (or, on Windows, the split command line) and
// the directory the job was started in.
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "platform/bounded_text.h"

namespace {
constexpr std::size_t kLineSize = 8192;
constexpr int kUsageError = 2;
constexpr int kWriteError = 3;
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kUsageError;
  std::array<char, kLineSize> line{};
  bool fits = true;
  for (int i = 0; i < argc && fits; ++i) {
    if (i > 0) fits = platform::appendText(line.data(), line.size(), " ");
    fits = fits && platform::appendText(line.data(), line.size(), argv[i]);
  }
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  fits = fits && platform::appendText(line.data(), line.size(), "\t") &&
         platform::appendText(line.data(), line.size(), error ? "?" : here.c_str()) &&
         platform::appendText(line.data(), line.size(), "\n");
  if (!fits) return kWriteError;

  // Jobs of one scan append to one marker at nearly the same moment.
  // Windows' C runtime appends by a seek to the end and then a write, so
  // two of them could write over each other's line: a lock folder beside
  // the marker (making a folder is atomic on both systems) puts them in
  // turn. A lock that a killed job left is ignored after five seconds.
  const std::filesystem::path lock = std::string(argv[1]) + ".lock";
  std::error_code lockError;
  bool locked = false;
  for (int wait = 0; wait < 500 && !lockError; ++wait) {
    if ((locked = std::filesystem::create_directory(lock, lockError))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::FILE* marker = std::fopen(argv[1], "a");
  // One write of the whole line.
  const bool written = marker != nullptr && std::fputs(line.data(), marker) >= 0;
  const bool closed = marker != nullptr && std::fclose(marker) == 0;
  if (locked) std::filesystem::remove(lock, lockError);
  return (written && closed) ? 0 : kWriteError;
}
