// What a job meets as the service's child that the table does not show:
// the service's environment, whose TZ the C runtime prefers to the
// system's time zone, and a session without a screen, where a program
// with windows is seen by no one.
#include <array>
#include <cstdint>
#include <cstring>

#include "checker/cron_check.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "settings/install_settings.h"

namespace checker {

namespace {

// The PE header, as the loader reads it: "MZ" at 0, at 0x3C the offset of
// "PE\0\0", then the 20 bytes of the file header (the optional header's
// size at 16), then the optional header, whose subsystem field lies at 68
// in PE32 and PE32+ alike.
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kOptionalSizeAt = 4 + 16;
constexpr std::size_t kOptionalHeaderAt = 4 + kFileHeaderSize;
constexpr std::size_t kSubsystemAt = 68;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
// An offset beyond this is no header a loader would find.
constexpr std::uint32_t kMaxNewHeaderOffset = 0x10000000;

std::uint16_t little16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t little32(const unsigned char* p) {
  return static_cast<std::uint32_t>(little16(p)) | static_cast<std::uint32_t>(little16(p + 2)) << 16;
}

ImageKind kindOfOpen(std::FILE* file) {
  std::array<unsigned char, kDosHeaderSize> dos{};
  if (std::fread(dos.data(), 1, dos.size(), file) != dos.size() || dos[0] != 'M' || dos[1] != 'Z')
    return ImageKind::NoImage;
  const std::uint32_t at = little32(&dos[kNewHeaderOffsetAt]);
  std::array<unsigned char, kOptionalHeaderAt + kSubsystemAt + 2> nt{};
  if (at > kMaxNewHeaderOffset || std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
      std::fread(nt.data(), 1, nt.size(), file) != nt.size() || std::memcmp(nt.data(), "PE\0\0", 4) != 0)
    return ImageKind::NoImage;
  const std::uint16_t magic = little16(&nt[kOptionalHeaderAt]);
  if ((magic != kPe32Magic && magic != kPe32PlusMagic) || little16(&nt[kOptionalSizeAt]) < kSubsystemAt + 2)
    return ImageKind::NoImage;
  return little16(&nt[kOptionalHeaderAt + kSubsystemAt]) == kSubsystemWindowsGui ? ImageKind::Window
                                                                                  : ImageKind::NoWindow;
}

// Every process gets the machine's environment; the Service Control
// Manager adds the service's own entries to it.
constexpr const char* kMachineEnvironmentKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

constexpr const char* kTzEffect =
    "mit TZ rechnet die C-Laufzeit des Dienstes die Ortszeit nach TZ statt nach der Zeitzone von Windows, die "
    "Sommerzeit immer nach den Regeln der USA; Auftraege starten dann einige Wochen im Jahr (bei einem TZ, das sie "
    "nicht versteht, immer) zur falschen Stunde";
constexpr const char* kTzFollows = "der Dienst folgt dann der Zeitzone des Systems";

// An environment's whole block is at most 32767 characters; in the ANSI
// code page of a double-byte language each may take two bytes.
constexpr std::size_t kEnvironmentSize = 2 * 32768;

// "TZ=" in any case, as the C runtime's getenv finds it. An empty TZ is as
// good as none: the runtime then asks the system.
const char* tzValue(const char* entry) {
  const bool named = (entry[0] | 0x20) == 't' && (entry[1] | 0x20) == 'z' && entry[2] == '=';
  return named && entry[3] != '\0' ? entry + 3 : nullptr;
}

Report* addTzFinding(FindingList& findings, const char* value) {
  char shown[cron::kLineBufferSize];
  copyForDisplay(shown, value);
  return addFinding(findings, Finding::TimeZoneVariable, "Umgebungsvariable TZ=%s ", shown);
}

void checkMachineTimeZone(FindingList& findings) {
  platform::RegKey key = nullptr;
  if (platform::regOpenKeyPlain(kMachineEnvironmentKey, &key) != 0) return;
  std::array<char, cron::kLineBufferSize + 1> value{};
  std::uint32_t size = cron::kLineBufferSize;
  const long result = platform::regQueryValue(key, "TZ", reinterpret_cast<unsigned char*>(value.data()), &size);
  platform::regCloseKey(key);
  // Longer than any zone: set all the same, and not shown.
  const bool tooLong = result == static_cast<long>(platform::kErrorMoreData);
  if ((result != 0 && !tooLong) || (result == 0 && value[0] == '\0')) return;
  Report* r = addTzFinding(findings, tooLong ? "..." : value.data());
  if (r == nullptr) return;
  appendFormat(r->message, sizeof r->message, "ist fuer den ganzen Rechner gesetzt (HKEY_LOCAL_MACHINE\\%s, Wert TZ): %s",
               kMachineEnvironmentKey, kTzEffect);
  suggest(r, "TZ entfernen: reg delete \"HKLM\\%s\" /v TZ /f, dann Windows neu starten; %s", kMachineEnvironmentKey,
          kTzFollows);
}

// Environment (REG_MULTI_SZ): "NAME=value" strings, each with its zero,
// and one zero more at the end.
void checkOwnTimeZone(FindingList& findings) {
  char subKey[cron::kLineBufferSize] = "";
  appendFormat(subKey, sizeof subKey, "%s%s", kServicesKey, settings::kServiceName);
  platform::RegKey key = nullptr;
  if (platform::regOpenKeyPlain(subKey, &key) != 0) return;
  // Two zeros behind the capacity end the last entry, whatever the value.
  static std::array<char, kEnvironmentSize + 2> block;
  block.fill('\0');
  std::uint32_t size = kEnvironmentSize;
  const long result = platform::regQueryValue(key, "Environment", reinterpret_cast<unsigned char*>(block.data()), &size);
  platform::regCloseKey(key);
  if (result != 0) return;
  const char* end = block.data() + (size < kEnvironmentSize ? size : kEnvironmentSize);
  for (const char* entry = block.data(); entry < end && *entry != '\0'; entry += std::strlen(entry) + 1) {
    const char* value = tzValue(entry);
    if (value == nullptr) continue;
    Report* r = addTzFinding(findings, value);
    if (r == nullptr) return;
    appendFormat(r->message, sizeof r->message,
                 "ist in der Umgebung des Dienstes gesetzt (HKEY_LOCAL_MACHINE\\%s, Wert Environment): %s", subKey,
                 kTzEffect);
    suggest(r,
            "den Eintrag aus dem Wert Environment entfernen (regedit), dann den Dienst neu starten (net stop %s, "
            "net start %s); %s",
            settings::kServiceName, settings::kServiceName, kTzFollows);
  }
}

}  // namespace

ImageKind imageKind(const char* path) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) return ImageKind::NoImage;
  const ImageKind kind = kindOfOpen(file);
  std::fclose(file);
  return kind;
}

void checkServiceTimeZone(FindingList& findings) {
  checkMachineTimeZone(findings);
  checkOwnTimeZone(findings);
}

}  // namespace checker
