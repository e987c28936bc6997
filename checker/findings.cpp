#include "checker/findings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace checker {

namespace {

template <int Max>
Marks copyFlags(const cron::FieldMask<Max>& mask) {
  Marks marks;
  for (int v = 0; v <= Max; ++v)
    marks.on[static_cast<std::size_t>(v)] = mask.flags[static_cast<std::size_t>(v)] != 0;
  return marks;
}

}  // namespace

Marks marksOf(const cron::ScheduleMasks& masks, int field) {
  switch (field) {
    case cron::kMinuteMax:
      return copyFlags(masks.minute);
    case cron::kHourMax:
      return copyFlags(masks.hour);
    case cron::kDayOfMonthMax:
      return copyFlags(masks.dayOfMonth);
    case cron::kMonthMax:
      return copyFlags(masks.month);
    case cron::kDayOfWeekMax:
      return copyFlags(masks.dayOfWeek);
    default:
      return Marks{};
  }
}

const FieldInfo& fieldInfo(int field) {
  for (const FieldInfo& info : kFieldInfos) {
    if (info.field == field) return info;
  }
  return kFieldInfos[0];
}

bool marksClockValue(const Marks& marks, const FieldInfo& info) {
  for (int v = info.first; v <= info.last; ++v) {
    if (marks.on[static_cast<std::size_t>(v)]) return true;
  }
  return false;
}

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

bool appendFormat(char* out, std::size_t size, const char* format, ...) {
  if (size == 0) return false;
  const std::size_t have = strnlen(out, size);
  if (have >= size) {
    out[size - 1] = '\0';
    return false;
  }
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(out + have, size - have, format, args);
  va_end(args);
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

}  // namespace checker
