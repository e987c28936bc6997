// Writing the registry on Windows, for tests and setup only.
#include "platform/registry_admin.h"

#include <array>
#include <cstring>

#include <windows.h>

namespace platform {

namespace {
// Values of this system hold at most 256 bytes; tests go somewhat beyond.
constexpr std::size_t kMaxValueSize = 4096;
}  // namespace

long regWriteValue(const char* subKey, const char* name, const void* data, std::uint32_t size) {
  if (size > kMaxValueSize) return ERROR_INVALID_PARAMETER;
  // RegSetValueExA "helps" with strings, on Windows as on Wine (and
  // RegSetValueExW alike): when the byte after the given size is 0 and the
  // last one is not, it stores that terminator too, and reads past the
  // caller's data to find out. A copy with a non-zero byte behind the data
  // keeps the value exactly `size` bytes long.
  std::array<unsigned char, kMaxValueSize + 1> copy{};
  if (size > 0) std::memcpy(copy.data(), data, size);
  copy[size] = 0xFF;

  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExA(key, name, 0, REG_SZ, copy.data(), size);
  RegCloseKey(key);
  return result;
}

long regDeleteValue(const char* subKey, const char* name) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (result != ERROR_SUCCESS) return result;
  result = RegDeleteValueA(key, name);
  RegCloseKey(key);
  return result;
}

long regDeleteKey(const char* subKey) {
  return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, KEY_WOW64_64KEY, 0);
}

}  // namespace platform
