// One time field of a used line: what it marks, told compactly, and what
// is wrong with its text. What a text marks is always decided by the
// scheduler's own parseField; this file only explains it.
#pragma once
#include <cstddef>

#include "checker/findings.h"

namespace checker {

// The values the clock can show that marks hold, compact: "0,30", "8-17",
// "Mo-Fr", or the field's words for all ("jeder") and none ("keiner").
void describeMarks(const Marks& marks, const FieldSpec& spec, char* out, std::size_t size);

// marks as a field text of the table that marks the same clock values:
// "*", "1-5", "0,15,30,45". Empty for marks without a clock value.
void fieldText(const Marks& marks, const FieldSpec& spec, char* out, std::size_t size);

// What a text means to users of other cron programs: names of days and
// months, steps ("*/15", "1-5/2"), ranges across the end ("22-2"), 7 for
// Sunday, an end above the maximum cut to it. False when it means nothing
// sure. This never decides what the scheduler does; it only shapes a
// suggested rewrite.
bool intendedMarks(const char* text, const FieldSpec& spec, Marks& marks);

// Checks the text of one field, which marks fieldMarks in the scheduler's
// masks, item by item, and adds what it finds, with a rewrite of the
// field where one is sure.
void checkField(const char* text, const FieldSpec& spec, const Marks& fieldMarks, FindingList& findings);

}  // namespace checker
