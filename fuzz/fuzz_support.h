// What the fuzz targets share: a scratch folder per process, whole-file
// writes, standard output caught in a file, and a check that ends the run
// with a message libFuzzer keeps next to the input that caused it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// A fresh folder under $TMPDIR (or /tmp), removed again when the process
// exits normally.
std::string makeScratchDir(const char* tag);

void writeBytes(const std::string& path, const void* data, std::size_t size);
void writeText(const std::string& path, const std::string& text);
void makeDir(const std::string& path);
void removeTree(const std::string& path);

// Sends standard output (descriptor 1) to a file in dir from now on;
// takeStdout returns what was written since the last call and empties it.
void catchStdout(const std::string& dir);
std::string takeStdout();

[[noreturn]] void failCheck(const char* what, const char* file, int line);

}  // namespace fuzzsupport

#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) ::fuzzsupport::failCheck(#condition, __FILE__, __LINE__); \
  } while (false)
