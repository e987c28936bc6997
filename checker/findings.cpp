#include "checker/findings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace checker {

Marks marksOf(const cron::ScheduleMasks& masks, Field field) {
  Marks marks;
  const auto flags = cron::flagsOf(masks, field);
  for (std::size_t v = 0; v < flags.size(); ++v) marks.on[v] = flags[v] != 0;
  return marks;
}

bool marksClockValue(const Marks& marks, const FieldSpec& spec) {
  for (int v = spec.first; v <= spec.last; ++v) {
    if (marks.on[static_cast<std::size_t>(v)]) return true;
  }
  return false;
}

bool marksAllClockValues(const Marks& marks, const FieldSpec& spec) {
  for (int v = spec.first; v <= spec.last; ++v) {
    if (!marks.on[static_cast<std::size_t>(v)]) return false;
  }
  return true;
}

// Minute and Stunde are feminine, Tag, Monat and Wochentag masculine.
const char* everyWord(const FieldSpec& spec) { return spec.field <= Field::Hour ? "jede" : "jeder"; }
const char* noneWord(const FieldSpec& spec) { return spec.field <= Field::Hour ? "keine" : "keiner"; }

Report* addFinding(FindingList& list, Finding finding) {
  if (list.count >= kMaxFindings) {
    ++list.dropped;
    return nullptr;
  }
  Report& report = list.items[static_cast<std::size_t>(list.count++)];
  report.finding = finding;
  report.message[0] = '\0';
  report.suggestion[0] = '\0';
  return &report;
}

bool hasHighByte(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) > 127) return true;
  }
  return false;
}

namespace {

bool appendFormatV(char* out, std::size_t size, const char* format, std::va_list args) {
  if (size == 0) return false;
  const std::size_t have = strnlen(out, size);
  if (have >= size) {
    out[size - 1] = '\0';
    return false;
  }
  const int n = std::vsnprintf(out + have, size - have, format, args);
  if (n >= 0 && static_cast<std::size_t>(n) < size - have) return true;
  if (n < 0) {
    out[have] = '\0';
    return false;
  }
  // Cut: vsnprintf filled the buffer and terminated it; show that
  // something is missing.
  if (size >= 4) std::memcpy(out + size - 4, "...", 4);
  return false;
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

bool appendFormat(char* out, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const bool whole = appendFormatV(out, size, format, args);
  va_end(args);
  return whole;
}

Report* addFinding(FindingList& list, Finding finding, const char* format, ...) {
  Report* report = addFinding(list, finding);
  if (report == nullptr) return nullptr;
  std::va_list args;
  va_start(args, format);
  appendFormatV(report->message, sizeof report->message, format, args);
  va_end(args);
  return report;
}

void suggest(Report* report, const char* format, ...) {
  if (report == nullptr) return;
  std::va_list args;
  va_start(args, format);
  appendFormatV(report->suggestion, sizeof report->suggestion, format, args);
  va_end(args);
}

#pragma GCC diagnostic pop

}  // namespace checker
