// The registry, HKEY_LOCAL_MACHINE only. Results are Windows error codes
// (0 on success), as RegOpenKeyExA and friends return them.
#pragma once
#include <cstdint>

namespace platform {

using RegKey = void*;

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, key).
long regOpenKeyFullAccess(const char* subKey, RegKey* key);
// RegOpenKeyA(HKEY_LOCAL_MACHINE, subKey, key): no access mask of its own.
long regOpenKeyPlain(const char* subKey, RegKey* key);
// RegQueryValueExA(key, name, 0, no type wanted, data, size). On entry
// *size is the capacity of data; on return the data size, terminator
// included for strings stored with one (every string a script writes,
// even with the text's length). A value larger than the capacity gives 234.
long regQueryValue(RegKey key, const char* name, unsigned char* data, std::uint32_t* size);
void regCloseKey(RegKey key);

}  // namespace platform
