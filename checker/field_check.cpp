// One time field of a used line: what it marks, told compactly, and what
// is wrong with its text. What a text marks is always decided by the
// scheduler's own parseField; this file only explains it.
#include <cstdarg>
#include <cstring>

#include "checker/cron_check.h"

namespace checker {

namespace {

constexpr const char* kWeekdayShort[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names that other cron programs, or a German hand, put in a field. A run
// of letters is the name when it begins the full word and is at least
// `shortest` letters long: "Mon", "MONDAY", "Mo", "Montag".
struct Name {
  const char* word;
  int value;
  int shortest;
};

constexpr Name kWeekdayNames[] = {
    {"sunday", 0, 3},   {"monday", 1, 3},     {"tuesday", 2, 3}, {"wednesday", 3, 3}, {"thursday", 4, 3},
    {"friday", 5, 3},   {"saturday", 6, 3},   {"sonntag", 0, 2}, {"montag", 1, 2},    {"dienstag", 2, 2},
    {"mittwoch", 3, 2}, {"donnerstag", 4, 2}, {"freitag", 5, 2}, {"samstag", 6, 2},
};

constexpr Name kMonthNames[] = {
    {"january", 1, 3},   {"januar", 1, 3},   {"february", 2, 3}, {"februar", 2, 3},   {"march", 3, 3},
    {"maerz", 3, 3},     {"mrz", 3, 3},      {"april", 4, 3},    {"may", 5, 3},       {"mai", 5, 3},
    {"june", 6, 3},      {"juni", 6, 3},     {"july", 7, 3},     {"juli", 7, 3},      {"august", 8, 3},
    {"september", 9, 3}, {"october", 10, 3}, {"oktober", 10, 3}, {"november", 11, 3}, {"december", 12, 3},
    {"dezember", 12, 3},
};

template <std::size_t N>
bool lookUp(const Name (&names)[N], const char* run, std::size_t length, int& value) {
  for (const Name& name : names) {
    if (length < static_cast<std::size_t>(name.shortest) || length > std::strlen(name.word)) continue;
    std::size_t i = 0;
    while (i < length && lower(run[i]) == name.word[i]) ++i;
    if (i == length) {
      value = name.value;
      return true;
    }
  }
  return false;
}

// A name of the field's own kind (a day name in the month field is none),
// or with no field given, of either kind.
bool isName(const char* run, std::size_t length, const FieldInfo* info, int& value) {
  const bool weekday = info == nullptr || info->field == Field::DayOfWeek;
  const bool month = info == nullptr || info->field == Field::Month;
  return (weekday && lookUp(kWeekdayNames, run, length, value)) || (month && lookUp(kMonthNames, run, length, value));
}

bool holdsName(const char* text) {
  for (const char* p = text; *p != '\0';) {
    const char* run = p;
    while (isLetter(*p)) ++p;
    int value = 0;
    if (p == run) ++p;
    else if (isName(run, static_cast<std::size_t>(p - run), nullptr, value)) return true;
  }
  return false;
}

// value = digits | name
const char* readValue(const char* p, const FieldInfo& info, int& value) {
  if (isDigit(*p)) return cron::readNumber(p, value);
  const char* run = p;
  while (isLetter(*p)) ++p;
  return p != run && isName(run, static_cast<std::size_t>(p - run), &info, value) ? p : nullptr;
}

void merge(Marks& into, const Marks& from) {
  for (std::size_t v = 0; v < into.on.size(); ++v) into.on[v] = into.on[v] || from.on[v];
}

Marks clockPart(const Marks& marks, const FieldInfo& info) {
  Marks part;
  for (int v = info.first; v <= info.last; ++v)
    part.on[static_cast<std::size_t>(v)] = marks.on[static_cast<std::size_t>(v)];
  return part;
}

// The marked clock values run by run: a run of at least rangeFrom values
// as a range ("8-17", "Mo-Fr"), a shorter one value by value ("0,1");
// weekdays by their short names when named.
void writeRuns(const Marks& marks, const FieldInfo& info, int rangeFrom, bool named, char* out, std::size_t size) {
  auto value = [&](int v) {
    if (named) {
      appendFormat(out, size, "%s", kWeekdayShort[v]);
    } else {
      appendFormat(out, size, "%d", v);
    }
  };
  for (int v = info.first; v <= info.last; ++v) {
    if (!marks.on[static_cast<std::size_t>(v)]) continue;
    int end = v;
    while (end < info.last && marks.on[static_cast<std::size_t>(end + 1)]) ++end;
    if (out[0] != '\0') appendFormat(out, size, ",");
    value(v);
    if (end > v) {
      appendFormat(out, size, end - v + 1 >= rangeFrom ? "-" : ",");
      value(end);
    }
    v = end;
  }
}

// item = base ["/" step]
// base = "*" | value ["-" value]
// What a text means to users of other cron programs; false when it means
// nothing sure. A range across the end of the field ("22-2", "FRI-MON")
// wraps, an end above the maximum is cut to it, a single value with a step
// runs to the maximum ("5/10" is 5,15,...), 7 of the weekday is Sunday.
// This never decides what the scheduler does; it only shapes a rewrite.
bool intendedMarks(const char* text, const FieldInfo& info, Marks& marks) {
  marks = Marks{};
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
    if (!isDigit(p[1]) || (p = cron::readNumber(p + 1, step)) == nullptr || step < 1 || step > 999) return false;
    if (single) end = info.max;
  }
  if (*p != '\0' || start < info.first || start > info.max || end < info.first) return false;
  if (end > info.max) end = info.max;

  const bool weekday = info.field == Field::DayOfWeek;
  int index = 0;
  auto walk = [&](int from, int to) {
    for (int v = from; v <= to; ++v) {
      if (index++ % step == 0) marks.on[static_cast<std::size_t>(weekday && v == 7 ? 0 : v)] = true;
    }
  };
  if (start <= end) {
    walk(start, end);
  } else {
    walk(start, info.max);
    walk(info.first, end);
  }
  return true;
}

// marks as a field text that marks the same clock values: "*", "1-5",
// "0,15,30,45".
void fieldText(const Marks& marks, const FieldInfo& info, char* out, std::size_t size) {
  out[0] = '\0';
  if (allClockValues(marks, info)) {
    appendFormat(out, size, "*");
  } else {
    writeRuns(marks, info, 2, false, out, size);
  }
}

// The state of one field across its items.
struct FieldState {
  const char* text;  // the field as read
  const FieldInfo* info;
  bool inList;
  Marks meant;           // what the field should mark, item by item
  bool sure = true;      // every item's meaning is known
  bool fixable = false;  // some finding a rewrite can fix
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
// writer most likely meant one. The format may use the value above the
// maximum and the maximum.
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

Finding explainNothing(const char* item, const cron::ItemReading& reading, const FieldInfo& info, char* why,
                       std::size_t size) {
  const bool stepOrStar = reading.fault == cron::ItemFault::StarInList || reading.fault == cron::ItemFault::Step;
  if (!stepOrStar && holdsName(item)) {
    appendFormat(why, size, "Namen von Tagen und Monaten gibt es hier nicht, nur Zahlen");
    return Finding::Name;
  }
  for (const Wording& w : kWordings) {
    if (w.fault != reading.fault) continue;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    appendFormat(why, size, w.why, reading.value, info.max);
#pragma GCC diagnostic pop
    return w.finding;
  }
  appendFormat(why, size, "%s", std::strchr(item, '-') != nullptr ? "kein Bereich aus zwei Zahlen" : "keine Zahl");
  return Finding::NotANumber;
}

void checkItem(const char* item, FieldState& state, FindingList& findings) {
  const FieldInfo& info = *state.info;
  cron::ScheduleMasks scratch{};
  const cron::ItemReading reading = cron::readItem(item, state.inList, cron::flagsOf(scratch, info.field));
  const Marks actual = marksOf(scratch, info.field);
  const char* whole = state.inList ? "der Eintrag" : "das Feld";
  Marks meant;
  const bool meantKnown = intendedMarks(item, info, meant);

  if (reading.fault != cron::ItemFault::None) {
    char why[kMessageSize] = "";
    const Finding cause = explainNothing(item, reading, info, why, sizeof why);
    if (Report* report = startReport(state, findings, cause, item)) {
      appendFormat(report->message, sizeof report->message, "%s; %s markiert nichts", why, whole);
      if (hasHighByte(item))
        appendFormat(report->message, sizeof report->message,
                     " (Zeichen ueber 127, etwa Umlaute einer als UTF-8 gespeicherten Datei, lesen sich nie als "
                     "Zahl)");
    }
    if (meantKnown) merge(state.meant, meant);
    state.fixable = state.fixable || meantKnown;
    state.sure = state.sure && meantKnown;
    return;
  }

  if (*reading.stop != '\0') {
    const bool step = *reading.stop == '/';
    char marked[kMessageSize] = "";
    describeMarks(actual, info, marked, sizeof marked);
    if (Report* report = startReport(state, findings, step ? Finding::StepIgnored : Finding::RestIgnored, item)) {
      appendFormat(report->message, sizeof report->message, "%s \"%s\" wird nicht gelesen; %s markiert %s",
                   step ? "die Schrittweite" : "der Rest", reading.stop, whole, marked);
    }
    state.fixable = true;
  }
  merge(state.meant, meantKnown ? meant : clockPart(actual, info));
}

// "Wochentag "1-5" statt "MON-FRI"", only when the rewrite, read by the
// scheduler's own parseField, marks exactly the meant clock values.
void suggestRewrite(const FieldState& state) {
  const FieldInfo& info = *state.info;
  char rewrite[cron::kLineBufferSize];
  fieldText(state.meant, info, rewrite, sizeof rewrite);
  if (rewrite[0] == '\0' || std::strcmp(rewrite, state.text) == 0) return;
  cron::ScheduleMasks check{};
  cron::parseField(rewrite, info.field, check);
  if (clockPart(marksOf(check, info.field), info).on != clockPart(state.meant, info).on) return;
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

int clockValues(const Marks& marks, const FieldInfo& info) {
  int count = 0;
  for (int v = info.first; v <= info.last; ++v) count += marks.on[static_cast<std::size_t>(v)];
  return count;
}

bool allClockValues(const Marks& marks, const FieldInfo& info) {
  return clockValues(marks, info) == info.last - info.first + 1;
}

Marks marksOf(const cron::ScheduleMasks& masks, Field field) {
  Marks marks;
  const auto flags = cron::flagsOf(masks, field);
  for (std::size_t v = 0; v < flags.size(); ++v) marks.on[v] = flags[v] != 0;
  return marks;
}

bool hasHighByte(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) > 127) return true;
  }
  return false;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

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
  report.finding = finding;
  report.message[0] = '\0';
  report.suggestion[0] = '\0';
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

#pragma GCC diagnostic pop

void describeMarks(const Marks& marks, const FieldInfo& info, char* out, std::size_t size) {
  out[0] = '\0';
  if (allClockValues(marks, info) || clockValues(marks, info) == 0) {
    // Minute and Stunde are feminine, Tag, Monat and Wochentag masculine.
    const bool feminine = info.field <= Field::Hour;
    const char* all = feminine ? "jede" : "jeder";
    const char* none = feminine ? "keine" : "keiner";
    appendFormat(out, size, "%s", allClockValues(marks, info) ? all : none);
    return;
  }
  // Two values read best as a list: "0,1".
  writeRuns(marks, info, 3, info.field == Field::DayOfWeek, out, size);
}

void checkField(const char* text, const FieldInfo& info, const Marks& fieldMarks, FindingList& findings) {
  char copy[cron::kLineBufferSize];
  if (std::strlen(text) >= sizeof copy) return;
  std::strcpy(copy, text);
  FieldState state{text, &info, std::strchr(text, ',') != nullptr, {}};
  cron::forEachItem(copy, [&](const char* item) { checkItem(item, state, findings); });

  // Flags the masks hold but the clock never shows. "*" sets flag 7 of the
  // weekday as well, harmlessly: only a 7 written out is a mistake.
  const bool day = info.field == Field::DayOfMonth;
  if (info.field == Field::DayOfWeek && fieldMarks.on[7] && std::strcmp(text, "*") != 0) {
    Report* report = addFinding(findings, Finding::SundayAsSeven,
                                "%s \"%s\": 7 ist hier nicht Sonntag (Sonntag ist 0, Samstag 6); 7 passt nie",
                                info.german, text);
    if (report != nullptr) state.last = report;
    state.fixable = true;
  } else if ((day || info.field == Field::Month) && clockValues(fieldMarks, info) == 0 && fieldMarks.on[0]) {
    addFinding(findings, day ? Finding::NoDayZero : Finding::NoMonthZero, "%s \"%s\": %s; das Feld passt nie",
               info.german, text, day ? "einen Tag 0 gibt es nicht" : "einen Monat 0 gibt es nicht (Januar ist 1)");
  }

  if (state.fixable && state.sure && state.last != nullptr) suggestRewrite(state);
}

}  // namespace checker
