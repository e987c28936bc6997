// Starting a job: the command text split into program and arguments, the
// program resolved the way the scheduler has always resolved it, the
// process started without waiting.
#pragma once
#include <cstddef>

namespace scheduler {

constexpr std::size_t kJobTextSize = 256;
constexpr std::size_t kJobArgumentSlots = 256;

struct JobCommand {
  char text[kJobTextSize];      // the copy that is cut into pieces
  char program[kJobTextSize];   // the first piece
  const char* argv[kJobArgumentSlots];  // argv[0] is program; null-terminated
};

// Cuts a copy of commandText at blanks (runs count as one; tabs and quotes
// are ordinary characters). False when the text holds no piece at all.
bool buildJobCommand(const char* commandText, JobCommand& job);

// Resolves the program as written in the table to the file that is
// started: ".\" in front of a bare name, and for a last component without
// a dot the first of ".com", ".exe", ".bat", ".cmd" that exists. False
// when no such file exists or the name does not fit the buffer.
bool resolveProgram(const char* program, char* resolved, std::size_t size);

// resolveProgram on behalf of a process whose current folder is folder
// (the checker asks where the service would find a job's program). The
// same name rules and suffix trial; only the current folder differs.
bool resolveProgramFrom(const char* folder, const char* program, char* resolved, std::size_t size);

// Joins argv with single blanks, unquoted. False when it does not fit.
bool joinCommandLine(const char* const* argv, char* line, std::size_t size);

// Resolves argv[0]'s program and starts it with the joined command line;
// does not wait. False when no process was created, with lastError() the
// reason: 2 when no file of the program exists, 87 when the command line
// does not fit, else the system's own code for the refused start.
bool startJob(const char* program, const char* const* argv);

}  // namespace scheduler
