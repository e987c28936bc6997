#include "scheduler/cron_log.h"

#include <cstdio>

#include "platform/files.h"

namespace scheduler {

namespace {

constexpr char kWeekdayNames[] = "SunMonTueWedThuFriSat";
constexpr char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

// localtime keeps one static result; the scheduler thread is its only user.
bool localStamp(std::time_t t, char (&stamp)[kStampSize]) {
  const std::tm* local = std::localtime(&t);
  if (local == nullptr) return false;
  formatStamp(*local, stamp);
  return true;
}

}  // namespace

void formatStamp(const std::tm& t, char (&stamp)[kStampSize]) {
  // Out-of-range fields would index past the name tables; show "???".
  const bool dayOk = t.tm_wday >= 0 && t.tm_wday <= 6;
  const bool monthOk = t.tm_mon >= 0 && t.tm_mon <= 11;
  // The day of month has a leading zero where asctime puts a blank.
  int n = std::snprintf(stamp, kStampSize, "%.3s %.3s %02d %02d:%02d:%02d %d\n",
                        dayOk ? kWeekdayNames + 3 * t.tm_wday : "???",
                        monthOk ? kMonthNames + 3 * t.tm_mon : "???", t.tm_mday, t.tm_hour,
                        t.tm_min, t.tm_sec, t.tm_year + 1900);
  if (n < 0 || static_cast<std::size_t>(n) >= kStampSize) {
    // Only absurd field values get here; the stamp still ends its line.
    stamp[kStampSize - 2] = '\n';
    stamp[kStampSize - 1] = '\0';
  }
}

bool writeStartEntry(std::FILE* openFile, std::time_t t) {
  char stamp[kStampSize];
  bool ok = localStamp(t, stamp) && std::fprintf(openFile, "Horamat gestartet am: %s", stamp) > 0;
  ok = (std::fflush(openFile) == 0) && ok;
  ok = (std::fclose(openFile) == 0) && ok;
  return ok;
}

bool writeJobEntry(const char* logPath, std::time_t t, const cron::CronLine& line, std::uint32_t startError) {
  char stamp[kStampSize];
  if (!localStamp(t, stamp)) return false;
  // The first line: its words, a code of up to ten digits and the stamp.
  char head[64 + kStampSize];
  const int n = startError == 0
                    ? std::snprintf(head, sizeof head, "Job gestartet am %s", stamp)
                    : std::snprintf(head, sizeof head, "Jobstart fehlgeschlagen (Fehlercode %lu) am %s",
                                    static_cast<unsigned long>(startError), stamp);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof head) return false;
  std::FILE* log = platform::openFile(logPath, "a+");
  if (log == nullptr) return false;
  // One fprintf for both lines: a reader of the log never sees half an entry
  // from this side of the stream buffer.
  bool ok = std::fprintf(log, "%s  <%s><%s><%s><%s><%s><%s>\n", head, line.minute, line.hour, line.dayOfMonth,
                         line.month, line.dayOfWeek, line.command) > 0;
  ok = (std::fflush(log) == 0) && ok;
  ok = (std::fclose(log) == 0) && ok;
  return ok;
}

}  // namespace scheduler
