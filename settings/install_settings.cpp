#include "settings/install_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"

namespace settings {

InstallSettingsRecord InstallSettings{};

namespace {

// A value the query returned is usable only when its terminator lies inside
// the bytes it reported: a value that fills the whole buffer without one
// would be read past its end by every string function after this.
bool terminatedWithin(const char* buffer, std::uint32_t dataSize) {
  std::uint32_t limit = dataSize < kValueSize ? dataSize : kValueSize;
  return std::memchr(buffer, '\0', limit) != nullptr;
}

}  // namespace

int readInstallSettings(Variant variant, DiagnosticLine diagnostic) {
  platform::RegKey key = nullptr;
  long opened = (variant == Variant::Scheduler)
                    ? platform::regOpenKeyFullAccess(kSettingsKey, &key)
                    : platform::regOpenKeyPlain(kSettingsKey, &key);
  if (opened != 0) return 0;

  // The installer's work buffer starts with a blank, so that its diagnostic
  // line shows " " in place of a path that could not be read.
  char buffer[kValueSize] = {};
  if (variant == Variant::Installer) buffer[0] = ' ';

  std::uint32_t size = kValueSize;
  long result = platform::regQueryValue(key, "Path", reinterpret_cast<unsigned char*>(buffer), &size);
  if (variant == Variant::Installer && diagnostic == DiagnosticLine::AsVariant) {
    // The buffer may hold no terminator after a failed query or a value of
    // exactly 256 bytes; print at most what it holds.
    std::printf("%ld %.*s %d %lu\n", result, static_cast<int>(kValueSize), buffer,
                static_cast<int>(kValueSize), static_cast<unsigned long>(size));
    std::fflush(stdout);
  }
  if (result != 0 || !terminatedWithin(buffer, size)) {
    platform::regCloseKey(key);
    return 0;
  }
  // A path of 244 to 255 characters reads, but leaves no room for the
  // names appended to it: as broken as a missing value.
  if (std::strlen(buffer) > kMaxInstallPathLength) {
    platform::regCloseKey(key);
    return 0;
  }
  std::memcpy(InstallSettings.path, buffer, std::strlen(buffer) + 1);

  // Version lands in the same buffer, not cleared again: the value brings
  // its own terminator.
  size = kValueSize;
  result = platform::regQueryValue(key, "Version", reinterpret_cast<unsigned char*>(buffer), &size);
  if (result != 0 || !terminatedWithin(buffer, size)) {
    platform::regCloseKey(key);
    return 0;
  }
  std::memcpy(InstallSettings.version, buffer, std::strlen(buffer) + 1);
  platform::regCloseKey(key);
  return 1;
}

}  // namespace settings
