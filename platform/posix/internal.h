// What the pieces of the POSIX stand-in share. Nothing above the platform
// layer includes this.
#pragma once
#include <cstddef>
#include <cstdint>

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

}  // namespace platform::posix
