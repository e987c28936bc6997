#include "jobwache/watch_options.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <strings.h>

#include "platform/bounded_text.h"

namespace jobwache {

namespace {

enum class Option { TimeLimit, Delay, Parallel };

struct OptionInfo {
  Option option;
  const char* name;  // as the help and the rewrites spell it
  bool takesSeconds;
  std::uint32_t min;
  std::uint32_t max;
};

constexpr OptionInfo kOptions[] = {
    {Option::TimeLimit, "/Zeitlimit", true, kMinTimeLimit, kMaxTimeLimit},
    {Option::Delay, "/Verzoegerung", true, 0, kMaxDelay},
    {Option::Parallel, "/Parallel", false, 0, 0},
};

bool isOption(const char* piece) { return piece[0] == '/' && std::strpbrk(piece + 1, "/\\") == nullptr; }

// The option a piece names, and where its value begins (after ":"); the
// separator found there, ':' or '=' or '\0'.
const OptionInfo* optionOf(const char* piece, const char** value, char* separator) {
  const std::size_t nameLength = std::strcspn(piece, ":=");
  for (const OptionInfo& info : kOptions) {
    if (std::strlen(info.name) == nameLength && strncasecmp(piece, info.name, nameLength) == 0) {
      *separator = piece[nameLength];
      *value = piece[nameLength] != '\0' ? piece + nameLength + 1 : piece + nameLength;
      return &info;
    }
  }
  return nullptr;
}

// seconds = digit {digit}; no sign, no blank; at most ten digits, so that
// any text of digits is read without overflow and then judged by range.
bool readSeconds(const char* text, std::uint64_t* seconds) {
  const std::size_t n = std::strlen(text);
  if (n == 0 || n > 10 || std::strspn(text, "0123456789") != n) return false;
  *seconds = 0;
  for (const char* c = text; *c != '\0'; ++c) *seconds = *seconds * 10 + static_cast<std::uint64_t>(*c - '0');
  return true;
}

bool fail(WatchOptions& options, OptionError error, std::size_t piece) {
  options.error = error;
  options.errorPiece = piece;
  return false;
}

// The one option piece the way it should read, into out ("" to leave it
// out).
void mendedPiece(const WatchOptions& options, const char* piece, char* out, std::size_t size) {
  const char* value = nullptr;
  char separator = '\0';
  const OptionInfo* info = optionOf(piece, &value, &separator);
  std::uint64_t seconds = 0;
  out[0] = '\0';
  if (info == nullptr || options.error == OptionError::Repeated) return;
  if (!info->takesSeconds) {
    platform::copyText(out, size, info->name);
  } else if (readSeconds(value, &seconds)) {
    if (seconds < info->min) seconds = info->min;
    if (seconds > info->max) seconds = info->max;
    const int n = std::snprintf(out, size, "%s:%llu", info->name, static_cast<unsigned long long>(seconds));
    if (n < 0 || static_cast<std::size_t>(n) >= size) out[0] = '\0';
  }
}

}  // namespace

bool parseWatchOptions(const char* const* pieces, WatchOptions& options) {
  options = WatchOptions{};
  bool seen[sizeof kOptions / sizeof kOptions[0]] = {};
  std::size_t i = 0;
  for (; pieces[i] != nullptr && isOption(pieces[i]); ++i) {
    const char* value = nullptr;
    char separator = '\0';
    const OptionInfo* info = optionOf(pieces[i], &value, &separator);
    if (info == nullptr) return fail(options, OptionError::Unknown, i);
    const bool formOk = info->takesSeconds ? separator == ':' : separator == '\0';
    if (!formOk) return fail(options, OptionError::WrongForm, i);
    bool& already = seen[info - kOptions];
    if (already) return fail(options, OptionError::Repeated, i);
    already = true;
    if (!info->takesSeconds) {
      options.parallel = true;
      continue;
    }
    std::uint64_t seconds = 0;
    if (!readSeconds(value, &seconds)) return fail(options, OptionError::NotANumber, i);
    if (seconds < info->min || seconds > info->max) return fail(options, OptionError::OutOfRange, i);
    (info->option == Option::TimeLimit ? options.timeLimit : options.delay) = static_cast<std::uint32_t>(seconds);
  }
  if (pieces[i] == nullptr) return fail(options, OptionError::NoProgram, i);
  options.program = i;
  return true;
}

void describeOptionError(const WatchOptions& options, const char* const* pieces, char* out, std::size_t size) {
  const char* piece = options.error == OptionError::NoProgram ? "" : pieces[options.errorPiece];
  const char* value = nullptr;
  char separator = '\0';
  const OptionInfo* info = optionOf(piece, &value, &separator);
  int n = 0;
  switch (options.error) {
    case OptionError::None: n = std::snprintf(out, size, "kein Fehler"); break;
    case OptionError::Unknown:
      n = std::snprintf(out, size, "unbekannte Option \"%s\" (bekannt: /Zeitlimit, /Verzoegerung, /Parallel)", piece);
      break;
    case OptionError::WrongForm:
      n = info->takesSeconds
              ? std::snprintf(out, size, "Option \"%s\": richtig ist %s:<Sekunden>", piece, info->name)
              : std::snprintf(out, size, "Option \"%s\": richtig ist %s, ohne Wert", piece, info->name);
      break;
    case OptionError::NotANumber:
      n = std::snprintf(out, size, "Option \"%s\": \"%s\" ist keine Zahl von Sekunden", piece, value);
      break;
    case OptionError::OutOfRange:
      n = std::snprintf(out, size, "Option \"%s\": erlaubt sind %lu bis %lu Sekunden", piece,
                        static_cast<unsigned long>(info->min), static_cast<unsigned long>(info->max));
      break;
    case OptionError::Repeated: n = std::snprintf(out, size, "Option \"%s\" steht mehr als einmal da", piece); break;
    case OptionError::NoProgram: n = std::snprintf(out, size, "kein Programm angegeben"); break;
  }
  if (n < 0 || static_cast<std::size_t>(n) >= size) platform::copyText(out, size, "falscher Aufruf");
}

bool rewriteOptions(const WatchOptions& options, const char* const* pieces, char* out, std::size_t size) {
  if (options.error == OptionError::NoProgram || !platform::copyText(out, size, "")) return false;
  char mended[64];
  for (std::size_t i = 0; pieces[i] != nullptr; ++i) {
    const char* piece = pieces[i];
    if (i == options.errorPiece) {
      mendedPiece(options, piece, mended, sizeof mended);
      if (mended[0] == '\0') continue;
      piece = mended;
    }
    if (out[0] != '\0' && !platform::appendText(out, size, " ")) return false;
    if (!platform::appendText(out, size, piece)) return false;
  }
  return true;
}

bool isJobwache(const char* program) {
  // The last component: what follows the last "\", "/" or ":".
  const std::size_t n = std::strlen(program);
  for (const char* name : {"Jobwache", "Jobwache.exe"}) {
    const std::size_t k = std::strlen(name);
    if (n < k || strcasecmp(program + n - k, name) != 0) continue;
    if (n == k || std::strchr("\\/:", program[n - k - 1]) != nullptr) return true;
  }
  return false;
}

}  // namespace jobwache
