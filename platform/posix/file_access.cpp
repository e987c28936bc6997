// Who may change a file on the stand-in: no access lists, only the mode
// bits and the owner. Root stands for Administrators and SYSTEM, root's
// group for the Administrators group.
#include "platform/file_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

namespace {

using posix::kPathSize;
constexpr std::size_t kNameBufferSize = 16384;

void addWriter(Writers& writers, const char* name) {
  if (writers.count >= kMaxWriters) {
    ++writers.more;
    return;
  }
  copyText(writers.names[static_cast<std::size_t>(writers.count++)].data(), kWriterSize, name);
}

// "Besitzer anna (uid 1000)"
void addIdWriter(Writers& writers, const char* role, const char* name, const char* idKind, unsigned id) {
  char text[kWriterSize];
  std::snprintf(text, sizeof text, "%s %s (%s %u)", role, name, idKind, id);
  addWriter(writers, text);
}

// The uid of the service's account; root for the system account, and for
// an account this machine does not know.
uid_t serviceUid(const char* account) {
  uid_t uid = 0;
  gid_t gid = 0;
  return !posix::isSystemAccount(account) && posix::lookUpUser(posix::userOfAccount(account), &uid, &gid) ? uid : 0;
}

}  // namespace

AccessCheck otherWriters(const char* path, const char* serviceAccount, Writers& writers) {
  writers = Writers{};
  char local[kPathSize];
  struct stat info{};
  if (!posix::toPosixPath(path, local, sizeof local)) {
    setLastError(kErrorInvalidParameter);
    return AccessCheck::Unreadable;
  }
  if (::stat(local, &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return AccessCheck::Missing;
    posix::setLastErrorFromErrno();
    return AccessCheck::Unreadable;
  }
  std::array<char, kNameBufferSize> buffer{};
  if (info.st_uid != 0 && info.st_uid != serviceUid(serviceAccount)) {
    passwd entry{};
    passwd* found = nullptr;
    ::getpwuid_r(info.st_uid, &entry, buffer.data(), buffer.size(), &found);
    addIdWriter(writers, "Besitzer", found != nullptr ? found->pw_name : "?", "uid", info.st_uid);
  }
  if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0) {
    group entry{};
    group* found = nullptr;
    ::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found);
    addIdWriter(writers, "Gruppe", found != nullptr ? found->gr_name : "?", "gid", info.st_gid);
  }
  if ((info.st_mode & S_IWOTH) != 0) addWriter(writers, "alle Benutzer (andere)");
  return AccessCheck::Checked;
}

AccessCheck otherWritersOfSddl(const char*, bool, const char*, Writers& writers) {
  writers = Writers{};
  setLastError(kErrorInvalidParameter);
  return AccessCheck::Unreadable;
}

bool accessFix(const char* path, bool folder, char* out, std::size_t size) {
  (void)folder;  // mode and owner are the same question for both
  char local[kPathSize];
  if (!posix::toPosixPath(path, local, sizeof local) || (local[0] == '/' && local[1] == '\0')) return false;
  const int n = std::snprintf(out, size, "chown root:root '%s' && chmod go-w '%s'", local, local);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace platform
