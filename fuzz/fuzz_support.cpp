#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzzsupport {

namespace {

namespace fs = std::filesystem;

std::vector<std::string>& scratchDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}

void removeScratchDirs() {
  for (const auto& dir : scratchDirs()) removeTree(dir);
}

int gStdoutFile = -1;

}  // namespace

std::string makeScratchDir(const char* tag) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/hm_fuzz_" + tag + "_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  if (scratchDirs().empty()) std::atexit(removeScratchDirs);
  scratchDirs().push_back(name.data());
  return name.data();
}

void writeBytes(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

void writeText(const std::string& path, const std::string& text) {
  writeBytes(path, text.data(), text.size());
}

void makeDir(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) {
    std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), ec.message().c_str());
    std::abort();
  }
}

void removeTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void catchStdout(const std::string& dir) {
  std::fflush(stdout);
  const std::string path = dir + "/stdout.txt";
  gStdoutFile = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (gStdoutFile < 0 || dup2(gStdoutFile, 1) < 0) {
    std::perror("stdout");
    std::abort();
  }
}

std::string takeStdout() {
  std::fflush(stdout);
  struct stat info {};
  if (fstat(gStdoutFile, &info) != 0) std::abort();
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  if (!text.empty() && pread(gStdoutFile, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    std::abort();
  }
  if (ftruncate(gStdoutFile, 0) != 0) std::abort();
  return text;
}

void failCheck(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n  at %s:%d\n", what, file, line);
  std::abort();
}

}  // namespace fuzzsupport
