// The registry on Windows. A 64-bit program sees the 64-bit view of
// HKEY_LOCAL_MACHINE\Software without asking, which is where setup writes
// the key; a 32-bit build would be redirected to Wow6432Node.
#include "platform/registry.h"

#include <windows.h>

namespace platform {

long regOpenKeyFullAccess(const char* subKey, RegKey* key) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, &opened);
  *key = (result == ERROR_SUCCESS) ? opened : nullptr;
  return result;
}

// RegOpenKeyA asks for the default access: read access is enough.
long regOpenKeyPlain(const char* subKey, RegKey* key) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyA(HKEY_LOCAL_MACHINE, subKey, &opened);
  *key = (result == ERROR_SUCCESS) ? opened : nullptr;
  return result;
}

// A string really stored without terminator is reported at its exact
// length; with a byte to spare in the buffer one is added behind it (not
// counted), but when it fills the buffer exactly none: success, and the
// caller must not read past *size bytes.
long regQueryValue(RegKey key, const char* name, unsigned char* data, std::uint32_t* size) {
  DWORD capacity = (size != nullptr) ? *size : 0;
  LONG result = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, nullptr, data,
                                 size != nullptr ? &capacity : nullptr);
  if (size != nullptr) *size = capacity;
  return result;
}

void regCloseKey(RegKey key) {
  if (key != nullptr) RegCloseKey(static_cast<HKEY>(key));
}

}  // namespace platform
