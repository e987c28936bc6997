// The job command split into program and arguments, joined again, and the
// program resolved on a scratch folder that holds a few programs. Nothing
// is ever started: only startJob starts, and it is not called here.
//
// Input: the capacity of the resolved name's buffer (odd: the scheduler's
// own, even: that many bytes), the capacity of the joined command line
// (odd: the scheduler's, even: that many bytes), then the command text as
// the table gives it (a C string).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "scheduler/job_start.h"

namespace {

constexpr std::size_t kHeader = 2;
constexpr std::size_t kSchedulerResolvedSize = scheduler::kJobTextSize + 16;
constexpr std::size_t kSchedulerCommandLineSize = 512;

// Files of the scratch folder, which is the current directory. A folder
// counts as a file to the resolution, as it does on Windows.
const char* const kFiles[] = {"a.com", "a.exe", "b.exe", "c.bat", "d.cmd", "e", "sub/g.exe",
                              "sub/h.bat", "sub/i", "x.y/z.cmd", "c:prog.exe", "punkt."};
const char* const kFolders[] = {"f.exe", "sub", "x.y", "sub/j.com"};

bool referenceExists(const std::string& windowsPath) {
  std::string path = windowsPath;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string referenceLastComponent(const std::string& program) {
  const std::size_t slash = program.find_last_of("\\/");
  if (slash != std::string::npos) return program.substr(slash + 1);
  const std::size_t colon = program.find(':');
  return colon != std::string::npos ? program.substr(colon + 1) : program;
}

// The name that is started, or "" when there is none within size bytes.
std::string referenceResolve(const std::string& program, std::size_t size) {
  const bool bare = program.find_first_of("\\/:") == std::string::npos;
  const std::string base = (bare ? ".\\" : "") + program;
  if (base.size() >= size) return "";
  if (referenceLastComponent(program).find('.') != std::string::npos) {
    return referenceExists(base) ? base : "";
  }
  for (const char* suffix : {".com", ".exe", ".bat", ".cmd"}) {
    const std::string candidate = base + suffix;
    if (candidate.size() < size && referenceExists(candidate)) return candidate;
  }
  return "";
}

std::vector<std::string> referencePieces(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ') ++pos;
    if (pos > start) pieces.push_back(text.substr(start, pos - start));
  }
  return pieces;
}

std::size_t capacity(std::uint8_t byte, std::size_t schedulers) {
  return (byte & 1) != 0 ? schedulers : byte;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = fuzzsupport::makeScratchDir("job");
  for (const char* folder : kFolders) fuzzsupport::makeDir(dir + "/" + folder);
  for (const char* file : kFiles) fuzzsupport::writeText(dir + "/" + file, "echo\n");
  if (chdir(dir.c_str()) != 0) {
    std::perror("chdir");
    return 1;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::size_t resolvedSize = capacity(data[0], kSchedulerResolvedSize);
  const std::size_t lineSize = capacity(data[1], kSchedulerCommandLineSize);
  std::string text(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  text.resize(std::strlen(text.c_str()));
  std::vector<char> commandText(text.begin(), text.end());
  commandText.push_back('\0');

  scheduler::JobCommand job;
  std::memset(&job, 0x5a, sizeof job);
  const bool built = scheduler::buildJobCommand(commandText.data(), job);
  if (text.size() >= scheduler::kJobTextSize) {
    FUZZ_CHECK(!built);
    FUZZ_CHECK(job.program[0] == '\0' && job.argv[0] == nullptr);
    return 0;
  }
  const std::vector<std::string> pieces = referencePieces(text);
  FUZZ_CHECK(built == !pieces.empty());
  std::size_t count = 0;
  while (count < scheduler::kJobArgumentSlots && job.argv[count] != nullptr) ++count;
  FUZZ_CHECK(count == pieces.size() && count < scheduler::kJobArgumentSlots);
  for (std::size_t i = 0; i < count; ++i) FUZZ_CHECK(pieces[i] == job.argv[i]);
  if (!built) return 0;
  FUZZ_CHECK(job.argv[0] == job.program);

  // Joined again with single blanks, into a buffer of exactly lineSize bytes.
  std::string joined;
  for (std::size_t i = 0; i < count; ++i) joined += (i > 0 ? " " : "") + pieces[i];
  std::vector<char> line(lineSize);
  const bool joinFits = scheduler::joinCommandLine(job.argv, line.data(), line.size());
  FUZZ_CHECK(joinFits == (joined.size() < lineSize));
  if (joinFits) FUZZ_CHECK(joined == line.data());

  // Resolved into a buffer of exactly resolvedSize bytes.
  std::vector<char> resolved(resolvedSize);
  const bool found = scheduler::resolveProgram(job.program, resolved.data(), resolved.size());
  const std::string want = referenceResolve(job.program, resolvedSize);
  FUZZ_CHECK(found == !want.empty());
  if (found) FUZZ_CHECK(want == resolved.data());
  return 0;
}
