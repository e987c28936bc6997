// Who may change a file on Windows: its owner and its access list, read
// with GetNamedSecurityInfoA and judged entry by entry.
#include "platform/file_access.h"

#include <windows.h>

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"

namespace platform {

namespace {

// What changes what runs: the content (write, append), the file itself
// (delete), who may do all that (permissions, owner), also in their
// generic forms; in a folder also deleting what is in it, which replaces
// it. FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the bits of write and
// append: a folder that takes a new file or folder under a program's
// name, or under the name the suffix trial looks for first, is no better.
constexpr DWORD kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr DWORD kFolderChangeRights = kChangeRights | FILE_DELETE_CHILD;

constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kOwnerRights = "S-1-3-4";

// Who may change what runs as the service anyway.
constexpr const char* kTrustedSids[] = {
    "S-1-5-32-544",  // Administrators
    "S-1-5-18",      // SYSTEM
    "S-1-3-0",       // CREATOR OWNER: stands for the owner in inherited entries
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};

// The names a German Windows shows for the well-known SIDs that may turn
// up in an access list; LookupAccountSid would answer in the language of
// the machine, these are ours.
struct KnownName {
  const char* sid;
  const char* name;
};
constexpr KnownName kKnownNames[] = {
    {"S-1-1-0", "Jeder"},
    {"S-1-5-11", "Authentifizierte Benutzer"},
    {"S-1-5-32-545", "Benutzer"},
    {"S-1-5-4", "INTERAKTIV"},
    {"S-1-5-32-546", "Gaeste"},
    {"S-1-5-32-547", "Hauptbenutzer"},
    {"S-1-5-2", "NETZWERK"},
    {"S-1-5-7", "ANONYMOUS-ANMELDUNG"},
    {"S-1-5-6", "DIENST"},
    {"S-1-5-19", "LOKALER DIENST"},
    {"S-1-5-20", "NETZWERKDIENST"},
    {"S-1-3-4", "BESITZERRECHTE"},
    {"S-1-15-2-1", "ALLE ANWENDUNGSPAKETE"},
};

constexpr int kMaxTrusted = 64;
constexpr int kMaxDenied = 16;

struct SidBuffer {
  BYTE bytes[SECURITY_MAX_SID_SIZE];
};

// The trusted SIDs of this machine: the fixed ones and the members of
// Administrators, read once per process.
struct TrustedSids {
  bool ready = false;
  int count = 0;
  SidBuffer sids[kMaxTrusted];
};
TrustedSids gTrusted;

bool addSid(TrustedSids& set, PSID sid) {
  if (set.count >= kMaxTrusted || !IsValidSid(sid)) return false;
  return CopySid(SECURITY_MAX_SID_SIZE, set.sids[set.count++].bytes, sid) != FALSE;
}

void addSidText(TrustedSids& set, const char* text) {
  PSID sid = nullptr;
  if (ConvertStringSidToSidA(text, &sid)) {
    addSid(set, sid);
    LocalFree(sid);
  }
}

// Members of Administrators: the direct members the local group lists,
// and the user of this process when its token holds the group, enabled
// or, in a prompt that is not elevated, for deny only. Wine lists no
// members, but its user holds the group.
void addAdministrators(TrustedSids& set) {
  BYTE adminSid[SECURITY_MAX_SID_SIZE];
  DWORD adminSize = sizeof adminSid;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminSid, &adminSize)) return;

  WCHAR group[256];
  WCHAR domain[256];
  DWORD groupSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, adminSid, group, &groupSize, domain, &domainSize, &use)) {
    LOCALGROUP_MEMBERS_INFO_0* members = nullptr;
    DWORD read = 0, total = 0;
    if (NetLocalGroupGetMembers(nullptr, group, 0, reinterpret_cast<BYTE**>(&members), MAX_PREFERRED_LENGTH,
                                &read, &total, nullptr) == NERR_Success) {
      for (DWORD i = 0; i < read; ++i) addSid(set, members[i].lgrmi0_sid);
    }
    if (members != nullptr) NetApiBufferFree(members);
  }

  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  alignas(TOKEN_GROUPS) BYTE groups[16384];
  DWORD size = 0;
  if (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
      GetTokenInformation(token, TokenGroups, groups, sizeof groups, &size)) {
    const TOKEN_GROUPS* held = reinterpret_cast<const TOKEN_GROUPS*>(groups);
    for (DWORD i = 0; i < held->GroupCount; ++i) {
      if (EqualSid(held->Groups[i].Sid, adminSid)) {
        addSid(set, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        break;
      }
    }
  }
  CloseHandle(token);
}

const TrustedSids& trustedSids() {
  if (!gTrusted.ready) {
    for (const char* text : kTrustedSids) addSidText(gTrusted, text);
    addAdministrators(gTrusted);
    gTrusted.ready = true;
  }
  return gTrusted;
}

bool sidIs(PSID sid, const char* text) {
  PSID other = nullptr;
  if (!ConvertStringSidToSidA(text, &other)) return false;
  const bool same = EqualSid(sid, other) != FALSE;
  LocalFree(other);
  return same;
}

// The service's account as a SID: "LocalSystem" is SYSTEM, trusted
// anyway; ".\name" is a local account, which LookupAccountName knows
// without the ".\".
bool serviceSid(const char* account, SidBuffer& out) {
  if (account == nullptr || account[0] == '\0' || _stricmp(account, "LocalSystem") == 0) return false;
  const char* name = std::strncmp(account, ".\\", 2) == 0 ? account + 2 : account;
  DWORD sidSize = sizeof out.bytes;
  char domain[256];
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  return LookupAccountNameA(nullptr, name, out.bytes, &sidSize, domain, &domainSize, &use) != FALSE;
}

bool trusted(PSID sid, const SidBuffer* service) {
  const TrustedSids& set = trustedSids();
  for (int i = 0; i < set.count; ++i) {
    if (EqualSid(sid, const_cast<BYTE*>(set.sids[i].bytes))) return true;
  }
  return service != nullptr && EqualSid(sid, const_cast<BYTE*>(service->bytes));
}

// "Benutzer (S-1-5-32-545)", "PC\anna (S-1-5-21-...)", or the SID alone.
void describeSid(PSID sid, const char* prefix, char* out, std::size_t size) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) {
    std::snprintf(out, size, "%s(unbekannte SID)", prefix);
    return;
  }
  const char* known = nullptr;
  for (const KnownName& entry : kKnownNames) {
    if (std::strcmp(entry.sid, text) == 0) known = entry.name;
  }
  char name[128];
  char domain[128];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (known != nullptr) {
    std::snprintf(out, size, "%s%s (%s)", prefix, known, text);
  } else if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    std::snprintf(out, size, "%s%s%s%s (%s)", prefix, domain, domain[0] != '\0' ? "\\" : "", name, text);
  } else {
    std::snprintf(out, size, "%s%s", prefix, text);
  }
  LocalFree(text);
}

void addWriter(Writers& writers, PSID sid, const char* prefix) {
  char name[kWriterSize];
  describeSid(sid, prefix, name, sizeof name);
  for (int i = 0; i < writers.count; ++i) {
    if (std::strcmp(writers.names[static_cast<std::size_t>(i)].data(), name) == 0) return;
  }
  if (writers.count >= kMaxWriters) {
    ++writers.more;
    return;
  }
  copyText(writers.names[static_cast<std::size_t>(writers.count++)].data(), kWriterSize, name);
}

struct Denied {
  PSID sid;
  DWORD mask;
};

// The entries in their order, as Windows checks them: a right denied
// before it is allowed is not granted, to that SID or to everyone.
// Denials through a group the SID belongs to are not seen here; a writer
// so denied is reported all the same, which errs on the safe side.
void judgeAccessList(PACL dacl, DWORD rights, const SidBuffer* service, Writers& writers, bool& ownerRightsSet) {
  Denied denied[kMaxDenied];
  int deniedCount = 0;
  DWORD deniedToEveryone = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    // An entry only handed down to children says nothing of this object.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    // The allow and deny entries share one layout; the callback kinds
    // (conditions) are taken as if always true. Object entries belong to
    // directory objects, not files.
    const bool allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                       header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    const bool deny = header->AceType == ACCESS_DENIED_ACE_TYPE ||
                      header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
    if (!allow && !deny) continue;
    const ACCESS_ALLOWED_ACE* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&entry->SidStart);
    if (sidIs(sid, kOwnerRights)) ownerRightsSet = true;
    if (deny) {
      if (sidIs(sid, kEveryone)) {
        deniedToEveryone |= entry->Mask;
      } else if (deniedCount < kMaxDenied) {
        denied[deniedCount++] = Denied{sid, entry->Mask};
      }
      continue;
    }
    DWORD granted = entry->Mask & rights & ~deniedToEveryone;
    for (int d = 0; d < deniedCount; ++d) {
      if (EqualSid(denied[d].sid, sid)) granted &= ~denied[d].mask;
    }
    if (granted != 0 && !trusted(sid, service)) addWriter(writers, sid, "");
  }
}

AccessCheck judge(PSECURITY_DESCRIPTOR descriptor, bool folder, const char* serviceAccount, Writers& writers) {
  writers = Writers{};
  SidBuffer service;
  const SidBuffer* servicePtr = serviceSid(serviceAccount, service) ? &service : nullptr;
  const DWORD rights = folder ? kFolderChangeRights : kChangeRights;

  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return AccessCheck::Unreadable;
  bool ownerRightsSet = false;
  if (!present || dacl == nullptr) {
    // No access list at all: everyone may do everything.
    PSID everyone = nullptr;
    if (ConvertStringSidToSidA(kEveryone, &everyone)) {
      addWriter(writers, everyone, "");
      LocalFree(everyone);
    }
  } else {
    judgeAccessList(dacl, rights, servicePtr, writers, ownerRightsSet);
  }

  // The owner may always change the permissions, unless an OWNER RIGHTS
  // entry says what the owner may do; then that entry was judged above.
  PSID owner = nullptr;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr && !ownerRightsSet &&
      !trusted(owner, servicePtr)) {
    addWriter(writers, owner, "Besitzer ");
  }
  return AccessCheck::Checked;
}

bool isDriveRoot(const char* path) {
  const std::size_t n = std::strlen(path);
  return n >= 2 && n <= 3 && path[1] == ':' && (n == 2 || path[2] == '\\' || path[2] == '/');
}

}  // namespace

AccessCheck otherWriters(const char* path, const char* serviceAccount, Writers& writers) {
  writers = Writers{};
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return AccessCheck::Missing;
    return AccessCheck::Unreadable;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  const DWORD result =
      GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    SetLastError(result);
    return AccessCheck::Unreadable;
  }
  const AccessCheck check =
      judge(descriptor, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, serviceAccount, writers);
  LocalFree(descriptor);
  return check;
}

AccessCheck otherWritersOfSddl(const char* sddl, bool folder, const char* serviceAccount, Writers& writers) {
  writers = Writers{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return AccessCheck::Unreadable;
  }
  const AccessCheck check = judge(descriptor, folder, serviceAccount, writers);
  LocalFree(descriptor);
  return check;
}

// A folder gets what the setup does: it goes to Administrators with
// everything in it, gets the setup's access list, and all below it takes
// that list again, without entries of its own; a file goes to
// Administrators and takes its folder's rights again. Never for a drive's
// root, whose rights belong to Windows.
bool accessFix(const char* path, bool folder, char* out, std::size_t size) {
  if (isDriveRoot(path)) return false;
  const int n = folder ? std::snprintf(out, size, "icacls \"%s\" %s && icacls \"%s\" %s && icacls \"%s\\*\" %s", path,
                                       HORAMAT_ICACLS_OWNER_TREE, path, HORAMAT_ICACLS_GRANT, path,
                                       HORAMAT_ICACLS_RESET)
                       : std::snprintf(out, size, "icacls \"%s\" %s && icacls \"%s\" /reset", path,
                                       HORAMAT_ICACLS_OWNER, path);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace platform
