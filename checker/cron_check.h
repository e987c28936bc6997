// CronCheck: says, line by line, what the scheduler will make of
// CronTab.txt, and which lines never run. The table is read the way the
// scheduler reads it and every verdict comes from the scheduler's own
// table code (splitCronLine, parseField, lineMatches); the checker only
// explains and looks ahead.
#pragma once
#include <array>
#include <cstdio>
#include <ctime>

#include "checker/access_audit.h"
#include "checker/findings.h"
#include "checker/start_search.h"
#include "scheduler/cron_table.h"

namespace checker {

constexpr int kDefaultStarts = 3;
constexpr int kMaxStarts = 100;
// How far ahead starts are looked for: eight years, two of their days
// being 29 February.
constexpr int kSearchDays = 8 * 365 + 2;

// Exit codes.
constexpr int kExitAllRun = 0;     // every used line runs some day
constexpr int kExitSomeNever = 1;  // some used line never runs
constexpr int kExitNotRead = 2;    // no table read: not there, no settings, wrong call
constexpr int kExitWritable = 3;   // every used line runs, but others may change what runs

enum class LineKind { Comment, Skipped, Used };
enum class SkipReason { None, Empty, FewerThanFiveFields, NoCommand };

// A piece of the file as the scheduler reads it: at most 255 characters,
// so a longer physical line is several pieces, each a line of its own.
struct PieceInfo {
  int number;     // counted the way the scheduler counts: one per piece
  int fileLine;   // the physical line of the file
  int piece;      // 1, 2, ... within the physical line
  bool overlong;  // a piece with text, of a physical line longer than 255
};

struct CheckOptions {
  std::time_t from;           // the first minute a start may fall on
  int starts;                 // how many starts to show per used line
  const char* serviceFolder;  // where the service looks for a program without a path
  Audit* audit;               // who else may change what runs; nullptr: not asked
  const ClockChanges* changes;  // the time zone's changes within a year; nullptr: not asked
};

struct LineReport {
  PieceInfo where;
  LineKind kind;
  SkipReason skip;
  char text[cron::kLineBufferSize];  // as read, without its newline
  cron::CronLine line;               // used lines only
  cron::ScheduleMasks masks;         // used lines only
  NeverReason never;
  int startCount;  // found, from options.from on
  std::array<std::time_t, kMaxStarts> starts;
  FindingList findings;
};

struct Summary {
  int lines = 0;
  int comments = 0;
  int skipped = 0;
  int used = 0;
  int never = 0;
  int warnings = 0;
  int hints = 0;
  int writable = 0;  // warnings that others may change what runs
};

// Checks one piece as read from the table.
void checkLine(const char* pieceText, const PieceInfo& where, const CheckOptions& options,
               LineReport& report);

void printLine(std::FILE* out, const LineReport& report, const CheckOptions& options);
void countLine(const LineReport& report, Summary& summary);
void printSummary(std::FILE* out, const Summary& summary);
int exitCode(const Summary& summary);

// Reads the table at path piece by piece through the platform's text-mode
// reading, exactly as the scheduler does, and writes the report to out.
// Returns the exit code.
int checkTable(const char* path, const CheckOptions& options, std::FILE* out);

// CronCheck [<Datei> [<Anzahl>]]: without a file, CronTab.txt of the
// installation (Path from the registry).
int cronCheckMain(int argc, char** argv);

}  // namespace checker
