// When a line starts: the scheduler scans every calendar minute and starts
// a line when lineMatches holds for the local time of that minute. The
// checker asks the same lineMatches, but skips days and hours that the
// masks rule out.
#include <algorithm>

#include "checker/cron_check.h"

namespace checker {

namespace {

using cron::isMarked;

// Days per month in a year without a 29 February.
constexpr int kCommonDays[] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Some marked day exists in some marked month, in a leap year or not.
bool someDate(const cron::ScheduleMasks& masks, bool leapYear) {
  for (int month = 1; month <= cron::kMonthMax; ++month) {
    const int days = kCommonDays[month] + (leapYear && month == 2);
    for (int day = 1; day <= days; ++day) {
      if (isMarked(masks, Field::Month, month) && isMarked(masks, Field::DayOfMonth, day)) return true;
    }
  }
  return false;
}

bool localAt(std::time_t t, std::tm& out) {
  const std::tm* local = std::localtime(&t);
  if (local == nullptr) return false;
  out = *local;
  return true;
}

// When not, lineMatches fails for every minute of this local day.
bool dayMarked(const cron::ScheduleMasks& masks, const std::tm& t) {
  return isMarked(masks, Field::DayOfMonth, t.tm_mday) && isMarked(masks, Field::Month, t.tm_mon + 1) &&
         isMarked(masks, Field::DayOfWeek, t.tm_wday);
}

// Minutes from b's wall clock to a's; the two lie within a day or so.
int wallDistance(const std::tm& a, const std::tm& b) {
  const int days = a.tm_year != b.tm_year ? (a.tm_year > b.tm_year ? 1 : -1) : a.tm_yday - b.tm_yday;
  return days * 24 * 60 + (a.tm_hour - b.tm_hour) * 60 + (a.tm_min - b.tm_min);
}

// The first calendar minute of the local day (or hour) after the one that
// t, with local time `local`, lies in. The wall clock tells how far that
// is, but a change of daylight-saving time in between makes the real
// distance shorter or longer: a guess that lands still inside the day (a
// day of 25 hours) is simply looked at again; one that lands past the
// boundary (a day of 23 hours) is moved back by the wall minutes it shows
// past it, so that no minute of the next day is jumped over.
std::time_t nextUnit(std::time_t t, const std::tm& local, bool day) {
  const int unit = day ? 24 * 60 : 60;
  const int into = day ? local.tm_hour * 60 + local.tm_min : local.tm_min;
  const std::time_t guess = t + static_cast<std::time_t>(unit - into) * 60;
  std::tm at;
  if (!localAt(guess, at)) return t + 60;
  if (wallDistance(at, local) + into < unit) return guess;
  const int past = day ? at.tm_hour * 60 + at.tm_min : at.tm_min;
  const std::time_t back = guess - static_cast<std::time_t>(past) * 60;
  return back > t ? back : t + 60;
}

// A change happens where a minute of calendar time moves the wall clock by
// other than one minute: found hour by hour, then pinned to its minute.
bool changeWithin(std::time_t hour, ClockChange& change) {
  std::tm before;
  std::tm after;
  if (!localAt(hour, before) || !localAt(hour + 3600, after) || wallDistance(after, before) == 60) return false;
  for (std::time_t t = hour + 60; t <= hour + 3600; t += 60) {
    if (!localAt(t - 60, before) || !localAt(t, after)) return false;
    const int jump = wallDistance(after, before);
    if (jump == 1) continue;
    // Skipped: the minutes before `after` that never showed. Repeated: the
    // minutes from `after` on, which showed once already.
    change.repeated = jump < 1;
    change.minutes = change.repeated ? 1 - jump : jump - 1;
    change.wall = after;
    if (!change.repeated) change.wall.tm_min -= change.minutes;
    return true;
  }
  return false;
}

}  // namespace

void findClockChanges(std::time_t from, ClockChanges& changes) {
  changes = ClockChanges{};
  const int room = static_cast<int>(changes.items.size());
  for (std::time_t hour = from - from % 3600; hour < from + 366 * 24 * 3600 && changes.count < room; hour += 3600) {
    ClockChange change;
    if (changeWithin(hour, change)) changes.items[static_cast<std::size_t>(changes.count++)] = change;
  }
}

bool startsWithin(const cron::ScheduleMasks& masks, const ClockChange& change) {
  // The tm_min of change.wall may lie below 0 (a skip across a full hour).
  const int first = change.wall.tm_hour * 60 + change.wall.tm_min;
  for (int m = first; m < first + change.minutes; ++m) {
    if (m < 0 || m >= 24 * 60) continue;
    std::tm t = change.wall;
    t.tm_hour = m / 60;
    t.tm_min = m % 60;
    if (cron::lineMatches(masks, t)) return true;
  }
  return false;
}

NeverReason neverReason(const cron::ScheduleMasks& masks) {
  for (const FieldInfo& info : cron::kFields) {
    if (coverage(masks, info) == Coverage::None) return static_cast<NeverReason>(static_cast<int>(info.field) + 1);
  }
  return someDate(masks, true) ? NeverReason::None : NeverReason::NoSuchDate;
}

bool leapYearsOnly(const cron::ScheduleMasks& masks) { return someDate(masks, true) && !someDate(masks, false); }

int shortestMarkedMonthDays(const cron::ScheduleMasks& masks) {
  int shortest = cron::kDayOfMonthMax;
  for (int month = 1; month <= cron::kMonthMax; ++month) {
    if (isMarked(masks, Field::Month, month)) shortest = std::min(shortest, kCommonDays[month]);
  }
  return shortest;
}

int findStarts(const cron::ScheduleMasks& masks, std::time_t from, std::time_t until, std::time_t* starts, int wanted) {
  std::time_t t = from - from % 60;
  if (t < from) t += 60;
  int found = 0;
  std::tm local;
  while (found < wanted && t < until && localAt(t, local)) {
    if (!dayMarked(masks, local)) {
      t = nextUnit(t, local, true);
    } else if (!isMarked(masks, Field::Hour, local.tm_hour)) {
      t = nextUnit(t, local, false);
    } else if (cron::lineMatches(masks, local)) {
      // The verdict is the scheduler's own; the skips above only save
      // asking it about minutes it must refuse.
      starts[found++] = t;
      t += 60;
    } else {
      int next = local.tm_min + 1;
      while (next <= cron::kMinuteMax && !isMarked(masks, Field::Minute, next)) ++next;
      t = next <= cron::kMinuteMax ? t + static_cast<std::time_t>(next - local.tm_min) * 60 : nextUnit(t, local, false);
    }
  }
  return found;
}

}  // namespace checker
