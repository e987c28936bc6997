#include "settings/install_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"

namespace settings {

InstallSettingsRecord InstallSettings{};

namespace {

// The work buffer is zero-filled before the query, and the value is taken
// as the string it then holds. The data size the query reports plays no
// part. A script that writes Path with the text's length, without its
// zero, gets one stored all the same (Windows and Wine alike); a value
// really stored without one is reported at its exact length and, shorter
// than the buffer, still ends at the zeros behind it. Only a value that
// fills all 256 bytes without a zero has no end; every string function
// after this would read past the buffer.
bool holdsString(const char* buffer) { return std::memchr(buffer, '\0', kValueSize) != nullptr; }

}  // namespace

int readInstallSettings(Variant variant, DiagnosticLine diagnostic) {
  return readInstallSettingsWith(platform::regQueryValue, variant, diagnostic);
}

int readInstallSettingsWith(ValueQuery query, Variant variant, DiagnosticLine diagnostic) {
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
  long result = query(key, "Path", reinterpret_cast<unsigned char*>(buffer), &size);
  if (variant == Variant::Installer && diagnostic == DiagnosticLine::AsVariant) {
    // The buffer may hold no terminator after a failed query or a value of
    // exactly 256 bytes; print at most what it holds.
    std::printf("%ld %.*s %d %lu\n", result, static_cast<int>(kValueSize), buffer,
                static_cast<int>(kValueSize), static_cast<unsigned long>(size));
    std::fflush(stdout);
  }
  if (result != 0 || !holdsString(buffer)) {
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

  // Version lands in the same buffer, not cleared again: a value stored
  // with its terminator brings it along. One really stored without is
  // reported at the text's length; Windows and Wine add a zero behind it
  // when the buffer has room, and so does this for a query that does not,
  // so that it never runs on into the rest of the path behind it.
  size = kValueSize;
  result = query(key, "Version", reinterpret_cast<unsigned char*>(buffer), &size);
  if (result == 0 && size < kValueSize) buffer[size] = '\0';
  if (result != 0 || !holdsString(buffer)) {
    platform::regCloseKey(key);
    return 0;
  }
  std::memcpy(InstallSettings.version, buffer, std::strlen(buffer) + 1);
  platform::regCloseKey(key);
  return 1;
}

}  // namespace settings
