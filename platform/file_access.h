// Who, besides the machine's administrators, may change a file or folder.
// Whatever the service starts runs under its account (the system account
// unless an administrator chose another), so whoever may change the job
// table, a job's program or the folders that hold them may run code with
// the service's rights. CronCheck asks this of each of them.
#pragma once
#include <array>
#include <cstddef>

namespace platform {

// One who may change a file: a name an administrator recognises, with the
// SID or the user or group id behind it.
constexpr std::size_t kWriterSize = 160;
constexpr int kMaxWriters = 6;

struct Writers {
  int count = 0;
  int more = 0;  // found beyond the list: counted, not named
  std::array<std::array<char, kWriterSize>, kMaxWriters> names{};
};

enum class AccessCheck { Checked, Missing, Unreadable };

// Fills writers with everyone who may write, append to, delete, or change
// the permissions or the owner of path (for a folder also: add or delete
// what is in it) and is none of the trusted: Administrators, SYSTEM,
// TrustedInstaller, CREATOR OWNER, a member of Administrators, or
// serviceAccount, the account the service runs under as the Service
// Control Manager names it ("" or "LocalSystem": the system account).
// Windows reads the access list and the owner; the stand-in, which knows
// no access lists, the mode bits and the owner: a file or folder that its
// group (other than root's) or everyone may write, or whose owner is not
// root, as cron daemons judge their tables. Missing when path does not
// exist, Unreadable (lastError tells why) when its rights cannot be read.
AccessCheck otherWriters(const char* path, const char* serviceAccount, Writers& writers);

// The same evaluation of a security descriptor given in SDDL, for the
// access lists that Wine does not keep. Windows only: the stand-in has no
// descriptors and does not define it.
AccessCheck otherWritersOfSddl(const char* sddl, bool folder, const char* serviceAccount,
                               Writers& writers);

// The commands that leave path changeable by administrators and the
// system only, as one line for the console. False when they do not fit.
bool accessFix(const char* path, bool folder, char* out, std::size_t size);

}  // namespace platform
