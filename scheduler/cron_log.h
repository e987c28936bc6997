// Horamat.log: the start entry and the two lines of every job entry.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include "scheduler/cron_table.h"

namespace scheduler {

// "Mon Mar 06 08:30:00 2000\n": like asctime, but the day of month has a
// leading zero. 25 characters for four-digit years.
constexpr std::size_t kStampSize = 32;
void formatStamp(const std::tm& t, char (&stamp)[kStampSize]);

// Writes "Horamat gestartet am: <stamp>" through the log opened at start,
// flushes and closes it.
bool writeStartEntry(std::FILE* openFile, std::time_t t);

// Opens the log with "a+", writes the two lines of a job entry, flushes
// and closes. startError 0: "Job gestartet am <stamp>"; any other code,
// for a job that did not start: "Jobstart fehlgeschlagen (Fehlercode <n>)
// am <stamp>". The second line, the fields, is the same for both. False
// when the log does not open or the write fails.
bool writeJobEntry(const char* logPath, std::time_t t, const cron::CronLine& line, std::uint32_t startError);

}  // namespace scheduler
