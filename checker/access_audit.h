// Who, besides the machine's administrators, may change what runs with the
// service's rights: the table, the folder that holds it, each job's
// program and the folder it lies in. Each file and folder is judged once
// per table, at its first use.
#pragma once
#include <array>
#include <cstddef>

#include "checker/findings.h"

namespace checker {

// ".\" and a suffix around a 255-character program, below a folder.
constexpr std::size_t kAuditPathSize = 2 * 256 + 16;
constexpr int kMaxAudited = 64;

struct Audit {
  // The account the service runs under, as the Service Control Manager
  // names it; "" when the service is not installed (the setup's choice is
  // the system account).
  const char* serviceAccount = "";
  int count = 0;  // paths judged so far; beyond the list they are judged again
  std::array<std::array<char, kAuditPathSize>, kMaxAudited> judged{};
};

// The table and its folder.
void auditTable(Audit& audit, const char* tablePath, FindingList& findings);

// A job's program as the service resolves it and the folder it lies in;
// found false: no such file yet, and only its folder is judged, where
// someone could still put it.
void auditProgram(Audit& audit, const char* programPath, bool found, FindingList& findings);

}  // namespace checker
