#include "platform/errors.h"

namespace platform {

namespace {
thread_local std::uint32_t tLastError = kErrorSuccess;
}

std::uint32_t lastError() { return tLastError; }
void setLastError(std::uint32_t code) { tLastError = code; }

}  // namespace platform
