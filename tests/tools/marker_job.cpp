// A job for tests: `marker_job <markerfile> [args...]` appends one line to
// <markerfile> and exits 0. The line is every argument, argv[0] included,
// joined by single blanks, then a tab, then the current directory. A test
// reads from it the vector (or, on Windows, the split command line) and
// the directory the job was started in.
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

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

  std::FILE* marker = std::fopen(argv[1], "a");
  if (marker == nullptr) return kWriteError;
  // One write of the whole line, so jobs appending to one marker at once
  // do not interleave within a line.
  const bool written = std::fputs(line.data(), marker) >= 0;
  const bool closed = std::fclose(marker) == 0;
  return (written && closed) ? 0 : kWriteError;
}
