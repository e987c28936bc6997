// One time field of a used line: what it marks, told compactly, and what
// is wrong with its text. What a text marks is always decided by the
// scheduler's own parseField; this file only explains it.
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "checker/cron_check.h"
#include "platform/bounded_text.h"

namespace checker {

namespace {

constexpr const char* kWeekdayShort[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

constexpr bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names that other cron programs, or a German hand, put in a field. A run
// of letters is the name when it begins the full word and is at least
// `shortest` letters long: "Mon", "MONDAY", "Mo", "Montag".
struct Name {
  Field field;
  const char* word;
  int value;
  std::size_t shortest;
};

constexpr Name kNames[] = {
    {Field::DayOfWeek, "sunday", 0, 3},    {Field::DayOfWeek, "monday", 1, 3},   {Field::DayOfWeek, "tuesday", 2, 3},
    {Field::DayOfWeek, "wednesday", 3, 3}, {Field::DayOfWeek, "thursday", 4, 3}, {Field::DayOfWeek, "friday", 5, 3},
    {Field::DayOfWeek, "saturday", 6, 3},  {Field::DayOfWeek, "sonntag", 0, 2},  {Field::DayOfWeek, "montag", 1, 2},
    {Field::DayOfWeek, "dienstag", 2, 2},  {Field::DayOfWeek, "mittwoch", 3, 2}, {Field::DayOfWeek, "donnerstag", 4, 2},
    {Field::DayOfWeek, "freitag", 5, 2},   {Field::DayOfWeek, "samstag", 6, 2},  {Field::Month, "january", 1, 3},
    {Field::Month, "januar", 1, 3},        {Field::Month, "february", 2, 3},     {Field::Month, "februar", 2, 3},
    {Field::Month, "march", 3, 3},         {Field::Month, "maerz", 3, 3},        {Field::Month, "mrz", 3, 3},
    {Field::Month, "april", 4, 3},         {Field::Month, "may", 5, 3},          {Field::Month, "mai", 5, 3},
    {Field::Month, "june", 6, 3},          {Field::Month, "juni", 6, 3},         {Field::Month, "july", 7, 3},
    {Field::Month, "juli", 7, 3},          {Field::Month, "august", 8, 3},       {Field::Month, "september", 9, 3},
    {Field::Month, "october", 10, 3},      {Field::Month, "oktober", 10, 3},     {Field::Month, "november", 11, 3},
    {Field::Month, "december", 12, 3},     {Field::Month, "dezember", 12, 3},
};

// The value that the letters from run to end name in the field (a day's
// name in the month field names none), or with no field given, in either;
// -1 for none.
int nameValue(const char* run, const char* end, const FieldInfo* info) {
  const std::size_t length = static_cast<std::size_t>(end - run);
  for (const Name& name : kNames) {
    if (info != nullptr && info->field != name.field) continue;
    if (length < name.shortest || length > std::strlen(name.word)) continue;
    std::size_t i = 0;
    while (i < length && lower(run[i]) == name.word[i]) ++i;
    if (i == length) return name.value;
  }
  return -1;
}

bool holdsName(const char* text) {
  for (const char* p = text; *p != '\0';) {
    const char* run = p;
    while (isLetter(*p)) ++p;
    if (p == run) ++p;
    else if (nameValue(run, p, nullptr) >= 0) return true;
  }
  return false;
}

// value = digits | name
const char* readValue(const char* p, const FieldInfo& info, int& value) {
  if (cron::isDigit(*p)) return cron::readNumber(p, value);
  const char* run = p;
  while (isLetter(*p)) ++p;
  value = nameValue(run, p, &info);
  return value >= 0 ? p : nullptr;
}

// The marked clock values run by run: for a reader two values read best
// as a list ("0,1", "8-17", "Mo-Fr"), in a field text they are a range.
void writeRuns(const cron::ScheduleMasks& masks, const FieldInfo& info, bool forReader, char* out, std::size_t size) {
  out[0] = '\0';
  const bool named = forReader && info.field == Field::DayOfWeek;
  auto value = [&](int v) {
    named ? appendFormat(out, size, "%s", kWeekdayShort[v]) : appendFormat(out, size, "%d", v);
  };
  for (int v = info.first; v <= info.last; ++v) {
    if (!cron::isMarked(masks, info.field, v)) continue;
    int end = v;
    while (cron::isMarked(masks, info.field, end + 1)) ++end;
    if (out[0] != '\0') appendFormat(out, size, ",");
    value(v);
    if (end > v) {
      appendFormat(out, size, end - v + 1 >= (forReader ? 3 : 2) ? "-" : ",");
      value(end);
    }
    v = end;
  }
}

// item = base ["/" step]
// base = "*" | value ["-" value]
// Marks in meant what a text means to users of other cron programs; false
// (meant unchanged) when it means nothing sure. A range across the end of
// the field ("22-2", "FRI-MON") wraps, an end above the maximum is cut to
// it, a single value with a step runs to the maximum ("5/10" is
// 5,15,...), 7 of the weekday is Sunday. This never decides what the
// scheduler does; it only shapes a rewrite.
bool intendedMarks(const char* text, const FieldInfo& info, cron::ScheduleMasks& meant) {
  const char* p = text;
  int start = info.first;
  int end = info.last;
  bool single = false;
  if (*p == '*') {
    ++p;
  } else {
    p = readValue(p, info, start);
    if (p == nullptr) return false;
    end = start;
    single = *p != '-';
    if (!single && (p = readValue(p + 1, info, end)) == nullptr) return false;
  }
  int step = 1;
  if (*p == '/') {
    if (!cron::isDigit(p[1]) || (p = cron::readNumber(p + 1, step)) == nullptr || step < 1 || step > 999) return false;
    if (single) end = info.max;
  }
  if (*p != '\0' || start < info.first || start > info.max || end < info.first) return false;
  end = std::min(end, info.max);
  const int span = info.max - info.first + 1;
  const int count = (end - start + span) % span + 1;
  for (int i = 0; i < count; i += step) {
    const int v = info.first + (start - info.first + i) % span;
    cron::flagsOf(meant, info.field)[info.field == Field::DayOfWeek && v == 7 ? 0 : v] = 1;
  }
  return true;
}

struct FieldState {
  const char* text;  // the field as read
  const FieldInfo* info;
  bool inList;
  cron::ScheduleMasks meant;  // what the field should mark, item by item
  bool sure = true;           // every item's meaning is known
  bool fixable = false;       // some finding a rewrite can fix
  Report* last = nullptr;
};

// "Minute "*/5": " or "Minute "1,*/5", Eintrag "*/5": "
Report* startReport(FieldState& state, FindingList& findings, Finding finding, const char* item) {
  Report* report = addFinding(findings, finding, "%s \"%s\"", state.info->german, state.text);
  if (report == nullptr) return nullptr;
  if (state.inList) appendFormat(report->message, sizeof report->message, ", Eintrag \"%s\"", item);
  appendFormat(report->message, sizeof report->message, ": ");
  state.last = report;
  return report;
}

// The scheduler's reason in words, a name first where one stands: its
// writer most likely meant one. The text is a format that may use the
// value above the maximum and the maximum.
struct Wording {
  cron::ItemFault fault;
  Finding finding;
  const char* why;
};
constexpr Wording kWordings[] = {
    {cron::ItemFault::StarInList, Finding::StarInList, "\"*\" gilt nur als ganzes Feld, nicht als Listeneintrag"},
    {cron::ItemFault::Step, Finding::Step, "eine Schrittweite (\"/\") gibt es hier nicht"},
    {cron::ItemFault::BeyondInt, Finding::AboveMaximum, "die Zahl ist zu gross"},
    {cron::ItemFault::Negative, Finding::Negative, "negative Werte gibt es nicht"},
    {cron::ItemFault::NotAscending, Finding::RangeNotAscending, "der Anfang eines Bereichs muss unter seinem Ende liegen"},
    {cron::ItemFault::AboveMaximum, Finding::AboveMaximum, "%d liegt ueber dem Hoechstwert %d"},
};

Wording wordingOf(const char* item, cron::ItemFault fault) {
  const bool stepOrStar = fault == cron::ItemFault::StarInList || fault == cron::ItemFault::Step;
  if (!stepOrStar && holdsName(item))
    return {fault, Finding::Name, "Namen von Tagen und Monaten gibt es hier nicht, nur Zahlen"};
  for (const Wording& w : kWordings) {
    if (w.fault == fault) return w;
  }
  return {fault, Finding::NotANumber,
          std::strchr(item, '-') != nullptr ? "kein Bereich aus zwei Zahlen" : "keine Zahl"};
}

void checkItem(const char* item, FieldState& state, FindingList& findings) {
  const FieldInfo& info = *state.info;
  cron::ScheduleMasks scratch{};
  const cron::ItemReading reading = cron::readItem(item, state.inList, cron::flagsOf(scratch, info.field));
  const char* whole = state.inList ? "der Eintrag" : "das Feld";
  const bool meantKnown = intendedMarks(item, info, state.meant);

  if (reading.fault != cron::ItemFault::None) {
    const Wording why = wordingOf(item, reading.fault);
    if (Report* report = startReport(state, findings, why.finding, item)) {
      appendFormat(report->message, sizeof report->message, why.why, reading.value, info.max);
      appendFormat(report->message, sizeof report->message, "; %s markiert nichts", whole);
      if (hasHighByte(item))
        appendFormat(report->message, sizeof report->message,
                     " (Zeichen ueber 127, etwa Umlaute einer als UTF-8 gespeicherten Datei, lesen sich nie als "
                     "Zahl)");
    }
    state.fixable = state.fixable || meantKnown;
    state.sure = state.sure && meantKnown;
    return;
  }

  if (*reading.stop != '\0') {
    const bool step = *reading.stop == '/';
    char marked[kMessageSize];
    describeMarks(scratch, info, marked, sizeof marked);
    if (Report* report = startReport(state, findings, step ? Finding::StepIgnored : Finding::RestIgnored, item)) {
      appendFormat(report->message, sizeof report->message, "%s \"%s\" wird nicht gelesen; %s markiert %s",
                   step ? "die Schrittweite" : "der Rest", reading.stop, whole, marked);
    }
    state.fixable = true;
  }
  // Where the text means nothing sure ("5x"), what the scheduler read is meant.
  for (int v = info.first; !meantKnown && v <= info.last; ++v) {
    if (cron::isMarked(scratch, info.field, v)) cron::flagsOf(state.meant, info.field)[v] = 1;
  }
}

// "Wochentag "1-5" statt "MON-FRI"", only when the rewrite, read by the
// scheduler's own parseField, marks exactly the meant clock values.
void suggestRewrite(const FieldState& state) {
  const FieldInfo& info = *state.info;
  char rewrite[cron::kLineBufferSize] = "*";
  if (coverage(state.meant, info) != Coverage::All) writeRuns(state.meant, info, false, rewrite, sizeof rewrite);
  if (rewrite[0] == '\0' || std::strcmp(rewrite, state.text) == 0) return;
  cron::ScheduleMasks check{};
  cron::parseField(rewrite, info.field, check);
  for (int v = info.first; v <= info.last; ++v) {
    if (cron::isMarked(check, info.field, v) != cron::isMarked(state.meant, info.field, v)) return;
  }
  suggest(state.last, "%s \"%s\" statt \"%s\"", info.german, rewrite, state.text);
}

void appendFormatV(char* out, std::size_t size, const char* format, std::va_list args) {
  const std::size_t have = strnlen(out, size);
  if (have >= size) return;
  const int n = std::vsnprintf(out + have, size - have, format, args);
  if (n < 0) out[have] = '\0';
  // Cut: vsnprintf filled the buffer and terminated it; show that
  // something is missing.
  if (n >= 0 && static_cast<std::size_t>(n) >= size - have && size >= 4) std::memcpy(out + size - 4, "...", 4);
}

}  // namespace

Coverage coverage(const cron::ScheduleMasks& masks, const FieldInfo& info) {
  int count = 0;
  for (int v = info.first; v <= info.last; ++v) count += cron::isMarked(masks, info.field, v);
  return count == 0 ? Coverage::None : count == info.last - info.first + 1 ? Coverage::All : Coverage::Some;
}

bool hasHighByte(const char* text) {
  return std::any_of(text, text + std::strlen(text), [](char c) { return static_cast<unsigned char>(c) > 127; });
}

void appendFormat(char* out, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  appendFormatV(out, size, format, args);
  va_end(args);
}

Report* addFinding(FindingList& list, Finding finding, const char* format, ...) {
  if (list.count >= static_cast<int>(list.items.size())) {
    ++list.dropped;
    return nullptr;
  }
  Report& report = list.items[static_cast<std::size_t>(list.count++)];
  report = Report{finding, "", ""};
  std::va_list args;
  va_start(args, format);
  appendFormatV(report.message, sizeof report.message, format, args);
  va_end(args);
  return &report;
}

void suggest(Report* report, const char* format, ...) {
  if (report == nullptr) return;
  std::va_list args;
  va_start(args, format);
  appendFormatV(report->suggestion, sizeof report->suggestion, format, args);
  va_end(args);
}

void describeMarks(const cron::ScheduleMasks& masks, const FieldInfo& info, char* out, std::size_t size) {
  const Coverage covered = coverage(masks, info);
  // Minute and Stunde are feminine, Tag, Monat and Wochentag masculine.
  const bool feminine = info.field <= Field::Hour;
  if (covered == Coverage::Some) writeRuns(masks, info, true, out, size);
  else if (covered == Coverage::All) platform::copyText(out, size, feminine ? "jede" : "jeder");
  else platform::copyText(out, size, feminine ? "keine" : "keiner");
}

void checkField(const char* text, const FieldInfo& info, FindingList& findings) {
  char copy[cron::kLineBufferSize];
  if (!platform::copyText(copy, sizeof copy, text)) return;
  FieldState state{text, &info, std::strchr(text, ',') != nullptr, {}};
  cron::forEachItem(copy, [&](const char* item) { checkItem(item, state, findings); });

  // Flags the masks hold but the clock never shows. "*" sets flag 7 of the
  // weekday as well, harmlessly: only a 7 written out is a mistake.
  cron::ScheduleMasks masks{};
  cron::parseField(text, info.field, masks);
  const auto flags = cron::flagsOf(masks, info.field);
  const bool day = info.field == Field::DayOfMonth;
  if (info.field == Field::DayOfWeek && flags[7] != 0 && std::strcmp(text, "*") != 0) {
    Report* report = addFinding(findings, Finding::SundayAsSeven,
                                "%s \"%s\": 7 ist hier nicht Sonntag (Sonntag ist 0, Samstag 6); 7 passt nie",
                                info.german, text);
    if (report != nullptr) state.last = report;
    state.fixable = true;
  } else if ((day || info.field == Field::Month) && coverage(masks, info) == Coverage::None && flags[0] != 0) {
    addFinding(findings, day ? Finding::NoDayZero : Finding::NoMonthZero, "%s \"%s\": %s; das Feld passt nie",
               info.german, text, day ? "einen Tag 0 gibt es nicht" : "einen Monat 0 gibt es nicht (Januar ist 1)");
  }

  if (state.fixable && state.sure && state.last != nullptr) suggestRewrite(state);
}

}  // namespace checker
