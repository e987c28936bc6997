// When a line starts: the scheduler scans every calendar minute and starts
// a line when lineMatches holds for the local time of that minute. The
// checker asks the same lineMatches, but skips days and hours that the
// masks rule out.
#pragma once
#include <array>
#include <ctime>

#include "scheduler/cron_table.h"

namespace checker {

// Why no local time can ever match, looking at the masks alone.
// Minute to Weekday in the order of cron::Field: no value the clock gives
// is marked.
enum class NeverReason { None, Minute, Hour, Day, Month, Weekday, NoSuchDate };

// The masks alone decide: every date, 29 February too, falls on every
// weekday within the Gregorian cycle, so a line runs some day exactly when
// every field marks a clock value and some marked day lies in some marked
// month. Time zones may still swallow one: a time inside a change to
// daylight-saving time never comes.
NeverReason neverReason(const cron::ScheduleMasks& masks);

// True when the only marked day that exists in a marked month is
// 29 February.
bool leapYearsOnly(const cron::ScheduleMasks& masks);

// The days of the shortest marked month in a common year (a day every
// marked month has, for a rewrite); 0 when no month 1..12 is marked.
int shortestMarkedMonthDays(const cron::ScheduleMasks& masks);

// The calendar minutes from `from` (rounded up to a whole minute) before
// `until` at which the scheduler starts the line, at most `wanted` of them,
// into starts; returns how many. A minute repeated when daylight-saving
// time ends is two minutes of calendar time, and both run.
int findStarts(const cron::ScheduleMasks& masks, std::time_t from, std::time_t until, std::time_t* starts,
               int wanted);

// Wall-clock minutes that the machine's time zone skips (summer time
// begins) or repeats (it ends): `minutes` of them from `wall`, a local
// time of the day they belong to.
struct ClockChange {
  bool repeated;
  std::tm wall;
  int minutes;
};
struct ClockChanges {
  std::array<ClockChange, 8> items{};
  int count = 0;
};

// The changes of the local time that lie within a year from `from`, as
// the C library's localtime reports them (on Windows the system's zone
// when TZ is unset).
void findClockChanges(std::time_t from, ClockChanges& changes);

// True when the line would start at some wall minute of the change.
bool startsWithin(const cron::ScheduleMasks& masks, const ClockChange& change);

}  // namespace checker
