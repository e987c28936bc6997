#include "platform/errors.h"

#include <windows.h>

namespace platform {

std::uint32_t lastError() { return GetLastError(); }
void setLastError(std::uint32_t code) { SetLastError(code); }

}  // namespace platform
