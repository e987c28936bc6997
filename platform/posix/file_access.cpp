// Who may change a file on the stand-in (README: "The POSIX stand-in").
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

// "Besitzer anna (uid 1000)"; role nullptr for a name alone.
void addWriter(Writers& writers, const char* role, const char* name, const char* idKind = "", unsigned id = 0) {
  if (writers.count >= kMaxWriters) {
    ++writers.more;
    return;
  }
  char* slot = writers.names[static_cast<std::size_t>(writers.count++)].data();
  if (role == nullptr) copyText(slot, kWriterSize, name);
  else std::snprintf(slot, kWriterSize, "%s %s (%s %u)", role, name, idKind, id);
}

}  // namespace

AccessCheck otherWriters(const char* path, const char* serviceAccount, Writers& writers) {
  writers = Writers{};
  char local[posix::kPathSize];
  struct stat info{};
  if (!posix::toPosixPath(path, local, sizeof local) || ::stat(local, &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return AccessCheck::Missing;
    setLastError(posix::errorFromErrno(errno));
    return AccessCheck::Unreadable;
  }
  std::array<char, 16384> buffer{};
  uid_t serviceUid = 0;  // root for the system account and an unknown one
  gid_t serviceGid = 0;
  posix::lookUpUser(serviceAccount, &serviceUid, &serviceGid);
  if (info.st_uid != 0 && info.st_uid != serviceUid) {
    passwd entry{};
    passwd* found = nullptr;
    ::getpwuid_r(info.st_uid, &entry, buffer.data(), buffer.size(), &found);
    addWriter(writers, "Besitzer", found != nullptr ? found->pw_name : "?", "uid", info.st_uid);
  }
  if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0) {
    group entry{};
    group* found = nullptr;
    ::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found);
    addWriter(writers, "Gruppe", found != nullptr ? found->gr_name : "?", "gid", info.st_gid);
  }
  if ((info.st_mode & S_IWOTH) != 0) addWriter(writers, nullptr, "alle Benutzer (andere)");
  return AccessCheck::Checked;
}

// Mode and owner are the same question for a file and a folder.
bool accessFix(const char* path, bool, char* out, std::size_t size) {
  char local[posix::kPathSize];
  if (!posix::toPosixPath(path, local, sizeof local) || std::strcmp(local, "/") == 0) return false;
  const int n = std::snprintf(out, size, "chown root:root '%s' && chmod go-w '%s'", local, local);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace platform
