// Writing HKEY_LOCAL_MACHINE, for tests and setup steps only: the
// programs themselves never write the registry. Results are Windows error
// codes (0 on success).
#pragma once
#include <cstdint>

namespace platform {

// Creates the key if needed (64-bit view) and stores a string value
// (REG_SZ) of exactly `size` bytes from `data`: a terminator is stored
// only when it is among them. On the stand-in the value is a file holding
// the string, and a terminator at the end of the data is left out (the
// reader adds it), so there data with and without one read the same; it
// keeps no type, and the strings of a REG_MULTI_SZ (each with its zero,
// one zero more at the end) are written and read back the same way.
long regWriteValue(const char* subKey, const char* name, const void* data, std::uint32_t size);

// Removes one value; 2 when it is not there.
long regDeleteValue(const char* subKey, const char* name);

// Removes the key with its values. A key that still has subkeys is not
// removed (5), as on Windows; 2 when it is not there.
long regDeleteKey(const char* subKey);

}  // namespace platform
