// Who, besides the machine's administrators, may change what runs with the
// service's rights: the table, the folder that holds it, each job's
// program and the folder it lies in.
#include "checker/cron_check.h"

#include <algorithm>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/file_access.h"

namespace checker {

namespace {

// What each judged thing is, and what its being changeable means.
struct Subject {
  Finding finding;
  const char* noun;   // before the path
  const char* owner;  // after it
  const char* risk;
  bool folder;
};
constexpr Subject kTable = {Finding::WritableTable, "Tabelle", "",
                            "wer sie aendert, startet Programme mit den Rechten des Dienstes", false};
constexpr Subject kTableFolder = {Finding::WritableTableFolder, "Ordner", " der Tabelle",
                                  "wer darin schreibt, kann die Tabelle ersetzen", true};
constexpr Subject kProgram = {Finding::WritableProgram, "Programm", "",
                              "wer es aendert, laesst eigenen Code mit den Rechten des Dienstes laufen", false};
constexpr Subject kProgramFolder = {Finding::WritableProgramFolder, "Ordner", " des Programms",
                                    "wer darin schreibt, kann das Programm ersetzen oder unterschieben", true};

bool firstTime(Audit& audit, const char* path) {
  const int kept = static_cast<int>(audit.judged.size());
  for (int i = 0; i < audit.count && i < kept; ++i) {
    if (std::strcmp(audit.judged[i].data(), path) == 0) return false;
  }
  if (audit.count < kept) platform::copyText(audit.judged[audit.count].data(), kAuditPathSize, path);
  ++audit.count;
  return true;
}

// The folder of a path: up to its last "\" or "/", which stays for a
// drive's root ("C:\") and for "/"; "." for a name without a folder.
bool folderOf(const char* path, char* folder, std::size_t size) {
  const char* last = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
  if (last == nullptr) return platform::copyText(folder, size, ".");
  std::size_t n = static_cast<std::size_t>(last - path);
  if (n == 0 || (n == 2 && path[1] == ':')) ++n;
  if (n >= size) return false;
  std::memcpy(folder, path, n);
  folder[n] = '\0';
  return true;
}

void judge(Audit& audit, const char* path, const Subject& subject, FindingList& findings) {
  if (!firstTime(audit, path)) return;
  platform::Writers writers;
  const platform::AccessCheck check = platform::otherWriters(path, audit.serviceAccount, writers);
  if (check == platform::AccessCheck::Missing) return;
  if (check == platform::AccessCheck::Unreadable) {
    addFinding(findings, Finding::AccessUnknown,
               "Rechte von \"%s\" nicht lesbar (Fehler %u); ob andere es aendern koennen, bleibt offen", path,
               static_cast<unsigned>(platform::lastError()));
    return;
  }
  if (writers.count == 0) return;
  Report* r = addFinding(findings, subject.finding, "%s \"%s\"%s kann geaendert werden von: ", subject.noun, path,
                         subject.owner);
  if (r == nullptr) return;
  for (int i = 0; i < writers.count; ++i)
    appendFormat(r->message, sizeof r->message, "%s%s", i > 0 ? ", " : "", writers.names[i].data());
  if (writers.more > 0) appendFormat(r->message, sizeof r->message, " und %d weiteren", writers.more);
  appendFormat(r->message, sizeof r->message, "; %s", subject.risk);

  char fix[kMessageSize];
  const bool fixable = platform::accessFix(path, subject.folder, fix, sizeof fix);
  if (subject.finding == Finding::WritableProgramFolder) {
    // A folder the job shares with others (a temporary folder, a user's
    // own) is not the administrator's to lock; the job can move.
    appendFormat(r->suggestion, sizeof r->suggestion,
                 "das Programm in einen Ordner legen, den nur Administratoren aendern duerfen%s%s",
                 fixable ? ", oder diesen Ordner schuetzen, wenn er allein den Auftraegen dient: " : "",
                 fixable ? fix : "");
  } else if (fixable) {
    appendFormat(r->suggestion, sizeof r->suggestion, "%s", fix);
  }
}

// "folder\.\name", as a bare name resolves, is "folder\name" to a reader.
void tidy(const char* path, char* out, std::size_t size) {
  platform::copyText(out, size, path);
  for (const char* dot : {"\\.\\", "/./"}) {
    for (char* p = std::strstr(out, dot); p != nullptr; p = std::strstr(p, dot)) {
      std::memmove(p + 1, p + 3, std::strlen(p + 3) + 1);
    }
  }
}

}  // namespace

void auditTable(Audit& audit, const char* tablePath, FindingList& findings) {
  char folder[kAuditPathSize];
  judge(audit, tablePath, kTable, findings);
  if (folderOf(tablePath, folder, sizeof folder)) judge(audit, folder, kTableFolder, findings);
}

void auditProgram(Audit& audit, const char* programPath, bool found, FindingList& findings) {
  char path[kAuditPathSize];
  char folder[kAuditPathSize];
  tidy(programPath, path, sizeof path);
  if (found) judge(audit, path, kProgram, findings);
  if (folderOf(path, folder, sizeof folder)) judge(audit, folder, kProgramFolder, findings);
}

}  // namespace checker
