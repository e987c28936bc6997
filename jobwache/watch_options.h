// Jobwache's options, read from the pieces of its command line the way
// the scheduler cuts a command: Jobwache itself and CronCheck, which
// judges a table line that starts Jobwache, read them here and only here.
//   Jobwache [/Zeitlimit:<Sekunden>] [/Verzoegerung:<Sekunden>] [/Parallel]
//            <Programm> [<Argument> ...]
#pragma once
#include <cstddef>
#include <cstdint>

namespace jobwache {

constexpr std::uint32_t kMinTimeLimit = 1;
constexpr std::uint32_t kMaxTimeLimit = 2592000;  // 30 days
constexpr std::uint32_t kMaxDelay = 86400;        // a day

enum class OptionError { None, Unknown, WrongForm, NotANumber, OutOfRange, Repeated, NoProgram };

struct WatchOptions {
  std::uint32_t timeLimit = 0;  // seconds; 0: none
  std::uint32_t delay = 0;      // the most a run waits before its start
  bool parallel = false;
  std::size_t program = 0;      // the piece that names the program
  OptionError error = OptionError::None;
  std::size_t errorPiece = 0;   // the piece at fault
};

// pieces: null-terminated, the first after Jobwache's own name. Options
// come before the program, each once, names in any case. A piece is an
// option when it begins with "/" and holds no other "/" or "\": a path
// such as "/opt/x" or "\x" names a program. False with error set.
bool parseWatchOptions(const char* const* pieces, WatchOptions& options);

// The German text of options.error, for standard error and CronCheck.
void describeOptionError(const WatchOptions& options, const char* const* pieces, char* out, std::size_t size);

// The pieces again, joined by blanks, with the faulty piece mended (the
// value brought into range, "=" made ":") or left out. False when there
// is no sure rewrite (no program) or it does not fit.
bool rewriteOptions(const WatchOptions& options, const char* const* pieces, char* out, std::size_t size);

// True when the program of a table line is Jobwache: its last component
// is "Jobwache" or "Jobwache.exe", in any case.
bool isJobwache(const char* program);

}  // namespace jobwache
