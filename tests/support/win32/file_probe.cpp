#include "tests/support/file_probe.h"

#include <windows.h>

namespace testsupport {

std::uint32_t replaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

std::uint32_t openUnshared(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

std::uint32_t holdUnshared(const char* path, std::uint32_t seconds, void (*ready)()) {
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  ready();
  Sleep(seconds * 1000);
  CloseHandle(handle);
  return 0;
}

}  // namespace testsupport
