#include "checker/field_check.h"

#include <cstring>

#include "platform/bounded_text.h"

namespace checker {

namespace {

constexpr const char* kWeekdayShort[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A number the way the scheduler reads one: a sign, digits, and nothing
// beyond the 32-bit int range (the scheduler takes such a text as no
// number at all). Only used to say why; parseField decides.
struct Number {
  bool read = false;
  bool tooLarge = false;
  long long value = 0;
  const char* end = nullptr;  // after the digits
};

Number scanNumber(const char* p) {
  constexpr long long kIntMax = 2147483647LL;
  Number n;
  n.end = p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!isDigit(*p)) return n;
  long long magnitude = 0;
  for (; isDigit(*p); ++p) {
    if (magnitude <= kIntMax + 1) magnitude = magnitude * 10 + (*p - '0');
  }
  n.end = p;
  n.tooLarge = magnitude > kIntMax + (negative ? 1 : 0);
  n.read = !n.tooLarge;
  n.value = negative ? -magnitude : magnitude;
  return n;
}

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
    const std::size_t full = std::strlen(name.word);
    if (length < static_cast<std::size_t>(name.shortest) || length > full) continue;
    bool same = true;
    for (std::size_t i = 0; i < length && same; ++i) same = lower(run[i]) == name.word[i];
    if (same) {
      value = name.value;
      return true;
    }
  }
  return false;
}

// A name of this field's own kind; a day name in the month field is none.
bool nameOfField(const char* run, std::size_t length, const FieldInfo& info, int& value) {
  if (info.field == cron::kDayOfWeekMax) return lookUp(kWeekdayNames, run, length, value);
  if (info.field == cron::kMonthMax) return lookUp(kMonthNames, run, length, value);
  return false;
}

// True when some run of letters in text is a day or month name of any kind.
bool holdsName(const char* text) {
  for (const char* p = text; *p != '\0';) {
    if (!isLetter(*p)) {
      ++p;
      continue;
    }
    const char* run = p;
    while (isLetter(*p)) ++p;
    int value = 0;
    const std::size_t length = static_cast<std::size_t>(p - run);
    if (lookUp(kWeekdayNames, run, length, value) || lookUp(kMonthNames, run, length, value)) return true;
  }
  return false;
}

// value = digits | name
const char* readValue(const char* p, const FieldInfo& info, int& value) {
  if (isDigit(*p)) {
    int v = 0;
    int digits = 0;
    for (; isDigit(*p); ++p) {
      if (++digits > 6) return nullptr;  // no field goes near that
      v = v * 10 + (*p - '0');
    }
    value = v;
    return p;
  }
  const char* run = p;
  while (isLetter(*p)) ++p;
  if (p == run || !nameOfField(run, static_cast<std::size_t>(p - run), info, value)) return nullptr;
  return p;
}

bool any(const Marks& marks) {
  for (bool on : marks.on) {
    if (on) return true;
  }
  return false;
}

// The values of marks that the clock shows; the others never match.
Marks clockPart(const Marks& marks, const FieldInfo& info) {
  Marks part;
  for (int v = info.first; v <= info.last; ++v)
    part.on[static_cast<std::size_t>(v)] = marks.on[static_cast<std::size_t>(v)];
  return part;
}

void merge(Marks& into, const Marks& from) {
  for (std::size_t v = 0; v < into.on.size(); ++v) into.on[v] = into.on[v] || from.on[v];
}

Marks parsedMarks(const char* text, const FieldInfo& info) {
  cron::ScheduleMasks scratch{};
  cron::parseField(text, info.field, scratch);
  return marksOf(scratch, info.field);
}

// Runs of marked clock values, each handed to emit(first, last).
template <typename Emit>
void forEachRun(const Marks& marks, const FieldInfo& info, Emit emit) {
  for (int v = info.first; v <= info.last;) {
    if (!marks.on[static_cast<std::size_t>(v)]) {
      ++v;
      continue;
    }
    int end = v;
    while (end < info.last && marks.on[static_cast<std::size_t>(end + 1)]) ++end;
    emit(v, end);
    v = end + 1;
  }
}

bool allClockValues(const Marks& marks, const FieldInfo& info) {
  for (int v = info.first; v <= info.last; ++v) {
    if (!marks.on[static_cast<std::size_t>(v)]) return false;
  }
  return true;
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
  Report* report = addFinding(findings, finding);
  if (report == nullptr) return nullptr;
  appendFormat(report->message, sizeof report->message, "%s \"%s\"", state.info->name, state.text);
  if (state.inList) appendFormat(report->message, sizeof report->message, ", Eintrag \"%s\"", item);
  appendFormat(report->message, sizeof report->message, ": ");
  state.last = report;
  return report;
}

// Why an item marks nothing, by what its writer most likely meant: a step
// or a name first, then where the scheduler's reading of numbers fails.
Finding explainNothing(const char* item, const FieldState& state, char* why, std::size_t size) {
  const FieldInfo& info = *state.info;
  if (state.inList && std::strcmp(item, "*") == 0) {
    appendFormat(why, size, "\"*\" gilt nur als ganzes Feld, nicht als Listeneintrag");
    return Finding::StarInList;
  }
  if (std::strchr(item, '/') != nullptr) {
    appendFormat(why, size, "eine Schrittweite (\"/\") gibt es hier nicht");
    return Finding::Step;
  }
  if (holdsName(item)) {
    appendFormat(why, size, "Namen von Tagen und Monaten gibt es hier nicht, nur Zahlen");
    return Finding::Name;
  }
  if (std::strchr(item, '-') != nullptr) {
    const Number start = scanNumber(item);
    if (start.tooLarge) {
      appendFormat(why, size, "die Zahl ist zu gross");
      return Finding::AboveMaximum;
    }
    if (start.read && start.value < 0) {
      appendFormat(why, size, "negative Werte gibt es nicht");
      return Finding::Negative;
    }
    if (!start.read || *start.end != '-') {
      appendFormat(why, size, "kein Bereich aus zwei Zahlen");
      return Finding::NotANumber;
    }
    const Number end = scanNumber(start.end + 1);
    if (end.tooLarge) {
      appendFormat(why, size, "die Zahl ist zu gross");
      return Finding::AboveMaximum;
    }
    if (!end.read) {
      appendFormat(why, size, "kein Bereich aus zwei Zahlen");
      return Finding::NotANumber;
    }
    if (end.value < 0) {
      appendFormat(why, size, "negative Werte gibt es nicht");
      return Finding::Negative;
    }
    if (start.value >= end.value) {
      appendFormat(why, size, "der Anfang eines Bereichs muss unter seinem Ende liegen");
      return Finding::RangeNotAscending;
    }
    if (end.value > info.field) {
      appendFormat(why, size, "%lld liegt ueber dem Hoechstwert %d", end.value, info.field);
      return Finding::AboveMaximum;
    }
  } else {
    const Number value = scanNumber(item);
    if (value.tooLarge) {
      appendFormat(why, size, "die Zahl ist zu gross");
      return Finding::AboveMaximum;
    }
    if (!value.read) {
      appendFormat(why, size, "keine Zahl");
      return Finding::NotANumber;
    }
    if (value.value > info.field) {
      appendFormat(why, size, "%lld liegt ueber dem Hoechstwert %d", value.value, info.field);
      return Finding::AboveMaximum;
    }
  }
  appendFormat(why, size, "nicht lesbar");
  return Finding::NotANumber;
}

// Where the scheduler's reading of an item that marks something stops:
// after the second number of a range, after a single number; "*" is read
// whole.
const char* unreadRest(const char* item, bool inList) {
  if (!inList && std::strcmp(item, "*") == 0) return item + 1;
  const Number start = scanNumber(item);
  if (!start.read) return item;
  if (std::strchr(item, '-') == nullptr) return start.end;
  const Number end = scanNumber(start.end + 1);
  return end.read ? end.end : start.end;
}

void checkItem(const char* item, FieldState& state, FindingList& findings) {
  const FieldInfo& info = *state.info;
  // "*" is no list item: the scheduler reads it as a number, which it is not.
  const Marks actual = (state.inList && std::strcmp(item, "*") == 0) ? Marks{} : parsedMarks(item, info);
  Marks meant;
  const bool meantKnown = intendedMarks(item, info, meant);

  if (!any(actual)) {
    char why[kMessageSize] = "";
    const Finding cause = explainNothing(item, state, why, sizeof why);
    if (Report* report = startReport(state, findings, cause, item)) {
      appendFormat(report->message, sizeof report->message, "%s; %s markiert nichts", why,
                   state.inList ? "der Eintrag" : "das Feld");
      if (hasHighByte(item))
        appendFormat(report->message, sizeof report->message,
                     " (Zeichen ueber 127, etwa Umlaute einer als UTF-8 gespeicherten Datei, lesen sich nie als "
                     "Zahl)");
    }
    if (meantKnown) {
      merge(state.meant, meant);
      state.fixable = true;
    } else {
      state.sure = false;
    }
    return;
  }

  const char* rest = unreadRest(item, state.inList);
  if (*rest != '\0') {
    const Finding finding = *rest == '/' ? Finding::StepIgnored : Finding::RestIgnored;
    char marked[kMessageSize] = "";
    describeMarks(actual, info, marked, sizeof marked);
    if (Report* report = startReport(state, findings, finding, item)) {
      appendFormat(report->message, sizeof report->message, "%s \"%s\" wird nicht gelesen; %s markiert %s",
                   finding == Finding::StepIgnored ? "die Schrittweite" : "der Rest", rest,
                   state.inList ? "der Eintrag" : "das Feld", marked);
    }
    state.fixable = true;
  }
  merge(state.meant, meantKnown ? meant : clockPart(actual, info));
}

// "Wochentag "1-5" statt "MON-FRI"", only when the rewrite, read by the
// scheduler's own parseField, marks exactly the meant clock values.
void suggestRewrite(const FieldState& state) {
  const FieldInfo& info = *state.info;
  char rewrite[cron::kLineBufferSize] = "";
  fieldText(state.meant, info, rewrite, sizeof rewrite);
  if (rewrite[0] == '\0' || std::strcmp(rewrite, state.text) == 0) return;
  const Marks check = clockPart(parsedMarks(rewrite, info), info);
  if (check.on != clockPart(state.meant, info).on) return;
  appendFormat(state.last->suggestion, sizeof state.last->suggestion, "%s \"%s\" statt \"%s\"", info.name,
               rewrite, state.text);
}

}  // namespace

void describeMarks(const Marks& marks, const FieldInfo& info, char* out, std::size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  if (allClockValues(marks, info)) {
    appendFormat(out, size, "%s", info.every);
    return;
  }
  if (!marksClockValue(marks, info)) {
    appendFormat(out, size, "%s", info.none);
    return;
  }
  const bool weekday = info.field == cron::kDayOfWeekMax;
  bool first = true;
  auto value = [&](int v) {
    if (weekday) {
      appendFormat(out, size, "%s", kWeekdayShort[v]);
    } else {
      appendFormat(out, size, "%d", v);
    }
  };
  // Runs of three and more read best as a range: "8-17", "Mo-Fr"; two
  // values are a list: "0,1".
  forEachRun(marks, info, [&](int from, int to) {
    if (!first) appendFormat(out, size, ",");
    first = false;
    value(from);
    if (to - from >= 2) {
      appendFormat(out, size, "-");
      value(to);
    } else if (to > from) {
      appendFormat(out, size, ",");
      value(to);
    }
  });
}

void fieldText(const Marks& marks, const FieldInfo& info, char* out, std::size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  if (allClockValues(marks, info)) {
    appendFormat(out, size, "*");
    return;
  }
  bool first = true;
  forEachRun(marks, info, [&](int from, int to) {
    appendFormat(out, size, first ? "%d" : ",%d", from);
    first = false;
    if (to > from) appendFormat(out, size, "-%d", to);
  });
}

// item = base ["/" step]
// base = "*" | value ["-" value]
// A range across the end of the field ("22-2", "FRI-MON") wraps; an end
// above the maximum is cut to it; a single value with a step runs to the
// maximum ("5/10" is 5,15,...); 7 of the weekday is Sunday.
bool intendedMarks(const char* text, const FieldInfo& info, Marks& marks) {
  marks = Marks{};
  const bool weekday = info.field == cron::kDayOfWeekMax;
  const int rawLast = weekday ? 7 : info.last;
  const char* p = text;
  int start = 0;
  int end = 0;
  bool single = false;
  if (*p == '*') {
    start = info.first;
    end = info.last;
    ++p;
  } else {
    p = readValue(p, info, start);
    if (p == nullptr) return false;
    if (*p == '-') {
      p = readValue(p + 1, info, end);
      if (p == nullptr) return false;
    } else {
      end = start;
      single = true;
    }
  }
  int step = 1;
  if (*p == '/') {
    ++p;
    if (!isDigit(*p)) return false;
    step = 0;
    for (int digits = 0; isDigit(*p); ++p) {
      if (++digits > 3) return false;
      step = step * 10 + (*p - '0');
    }
    if (step < 1) return false;
    if (single) end = rawLast;
  }
  if (*p != '\0') return false;
  if (start < info.first || start > rawLast || end < info.first) return false;
  if (end > rawLast) end = rawLast;

  auto mark = [&](int v) { marks.on[static_cast<std::size_t>(weekday && v == 7 ? 0 : v)] = true; };
  int index = 0;
  auto walk = [&](int from, int to) {
    for (int v = from; v <= to; ++v) {
      if (index++ % step == 0) mark(v);
    }
  };
  if (start <= end) {
    walk(start, end);
  } else {
    walk(start, rawLast);
    walk(info.first, end);
  }
  return true;
}

void checkField(const char* text, const FieldInfo& info, const Marks& fieldMarks, FindingList& findings) {
  // Cut at commas in a copy, skipping empty items, as the scheduler does.
  char copy[cron::kLineBufferSize];
  if (!platform::copyText(copy, sizeof copy, text)) return;
  FieldState state;
  state.text = text;
  state.info = &info;
  state.inList = std::strchr(copy, ',') != nullptr;
  for (char* item = copy;;) {
    char* comma = std::strchr(item, ',');
    if (comma != nullptr) *comma = '\0';
    if (*item != '\0') checkItem(item, state, findings);
    if (comma == nullptr) break;
    item = comma + 1;
  }

  // Flags the masks hold but the clock never shows. "*" sets flag 7 of the
  // weekday as well, harmlessly: only a 7 written out is a mistake.
  if (info.field == cron::kDayOfWeekMax && fieldMarks.on[7] && std::strcmp(text, "*") != 0) {
    if (Report* report = addFinding(findings, Finding::SundayAsSeven)) {
      appendFormat(report->message, sizeof report->message,
                   "%s \"%s\": 7 ist hier nicht Sonntag (Sonntag ist 0, Samstag 6); 7 passt nie", info.name,
                   text);
      state.last = report;
    }
    state.fixable = true;
  } else if (!marksClockValue(fieldMarks, info) && fieldMarks.on[0] &&
             (info.field == cron::kDayOfMonthMax || info.field == cron::kMonthMax)) {
    const bool day = info.field == cron::kDayOfMonthMax;
    if (Report* report = addFinding(findings, day ? Finding::NoDayZero : Finding::NoMonthZero)) {
      appendFormat(report->message, sizeof report->message, "%s \"%s\": %s; das Feld passt nie", info.name,
                   text, day ? "einen Tag 0 gibt es nicht" : "einen Monat 0 gibt es nicht (Januar ist 1)");
    }
  }

  if (state.fixable && state.sure && state.last != nullptr) suggestRewrite(state);
}

}  // namespace checker
