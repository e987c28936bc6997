// What the pieces of the POSIX stand-in share. Nothing above the platform
// layer includes this.
#pragma once
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::posix {

// The one folder under which the stand-in keeps its registry and its
// services: $HORAMAT_PLATFORM_ROOT, or /var/lib/horamat.
const char* standInRoot();

// A Windows-style path as the stand-in reads it: every "\" becomes "/".
// False when it does not fit.
bool toPosixPath(const char* path, char* out, std::size_t size);

// errno of a failed call, as the Windows error code of the same condition.
std::uint32_t errorFromErrno(int err);

// setLastError(errorFromErrno(errno)).
void setLastErrorFromErrno();

// ".\name" and "DOMAIN\name" of a service account mean the local user
// "name".
inline const char* userOfAccount(const char* account) {
  const char* backslash = std::strrchr(account, '\\');
  return backslash != nullptr ? backslash + 1 : account;
}

// LocalSystem is the account the stand-in's caller already has.
inline bool isSystemAccount(const char* account) {
  return account == nullptr || account[0] == '\0' || ::strcasecmp(userOfAccount(account), "LocalSystem") == 0;
}

}  // namespace platform::posix
