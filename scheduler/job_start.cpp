#include "scheduler/job_start.h"

#include <cstring>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"

namespace scheduler {

namespace {

// Tried in this order for a program named without an extension, the way
// the command interpreter has always done it.
constexpr const char* kProgramSuffixes[] = {".com", ".exe", ".bat", ".cmd"};

// The joined command line holds at most what one table line held.
constexpr std::size_t kCommandLineSize = 512;
// ".\" + a 255-character name + a suffix.
constexpr std::size_t kResolvedSize = kJobTextSize + 16;

// The last component of a program path: after the later of the last "\"
// and the last "/", or, with neither, after the first ":" (a drive).
const char* lastComponent(const char* program) {
  const char* back = std::strrchr(program, '\\');
  const char* slash = std::strrchr(program, '/');
  const char* last = back > slash ? back : slash;
  if (last != nullptr) return last + 1;
  const char* colon = std::strchr(program, ':');
  return colon != nullptr ? colon + 1 : program;
}

// The program as the scheduler names it: a bare name means a file in the
// scheduler's current directory; there is no search of the PATH.
bool programName(const char* program, char* name, std::size_t size) {
  const bool bare = std::strpbrk(program, "\\/:") == nullptr;
  if (!platform::copyText(name, size, bare ? ".\\" : "")) return false;
  return platform::appendText(name, size, program);
}

// The file behind the name in resolved: the name itself when the last
// component of program has a dot, else the first suffix under which a file
// exists. resolved keeps the name without a suffix when nothing exists.
bool findProgramFile(const char* program, char* resolved, std::size_t size) {
  if (std::strchr(lastComponent(program), '.') != nullptr) return platform::fileExists(resolved);

  const std::size_t base = std::strlen(resolved);
  for (const char* suffix : kProgramSuffixes) {
    resolved[base] = '\0';
    if (platform::appendText(resolved, size, suffix) && platform::fileExists(resolved)) return true;
  }
  resolved[base] = '\0';
  return false;
}

}  // namespace

bool buildJobCommand(const char* commandText, JobCommand& job) {
  job.program[0] = '\0';
  job.argv[0] = nullptr;
  if (!platform::copyText(job.text, sizeof job.text, commandText)) return false;

  // Pieces are cut at blanks only: runs of blanks are one separator, tabs
  // and quotes are ordinary characters, as they always were here.
  std::size_t count = 0;
  char* p = job.text;
  while (*p != '\0' && count + 1 < kJobArgumentSlots) {
    while (*p == ' ') ++p;
    if (*p == '\0') break;
    char* piece = p;
    while (*p != '\0' && *p != ' ') ++p;
    if (*p == ' ') *p++ = '\0';
    if (count == 0) {
      platform::copyText(job.program, sizeof job.program, piece);
      job.argv[count++] = job.program;
    } else {
      job.argv[count++] = piece;
    }
  }
  job.argv[count] = nullptr;
  return count > 0;
}

bool resolveProgram(const char* program, char* resolved, std::size_t size) {
  return programName(program, resolved, size) && findProgramFile(program, resolved, size);
}

bool resolveProgramFrom(const char* folder, const char* program, char* resolved, std::size_t size) {
  // The scheduler's name first, then that name as seen from folder: ".\x"
  // becomes folder\.\x, which every file function takes as folder\x.
  char name[kResolvedSize];
  if (!programName(program, name, sizeof name)) return false;
  if (!platform::pathFromFolder(folder, name, resolved, size)) return false;
  return findProgramFile(program, resolved, size);
}

bool joinCommandLine(const char* const* argv, char* line, std::size_t size) {
  if (size == 0) return false;
  line[0] = '\0';
  for (std::size_t i = 0; argv[i] != nullptr; ++i) {
    if (i > 0 && !platform::appendText(line, size, " ")) return false;
    if (!platform::appendText(line, size, argv[i])) return false;
  }
  return true;
}

bool startJob(const char* program, const char* const* argv) {
  char resolved[kResolvedSize];
  char commandLine[kCommandLineSize];
  // The codes are those CreateProcessA gives for the same faults: the log
  // tells an administrator why a job did not start.
  if (!resolveProgram(program, resolved, sizeof resolved)) {
    platform::setLastError(platform::kErrorFileNotFound);
    return false;
  }
  if (!joinCommandLine(argv, commandLine, sizeof commandLine)) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return false;
  }
  return platform::startProcess(resolved, commandLine, argv);
}

}  // namespace scheduler
