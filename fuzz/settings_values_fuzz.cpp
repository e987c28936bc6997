// The settings as the registry hands them over: any bytes, any length,
// NULs inside, a value missing or a folder in its place, the key missing
// or a file. Natively the stand-in's value files are written under a
// scratch root and readInstallSettings reads them in both variants; what
// it returns, keeps and prints is held against the registry's own rules.
//
// Input: one byte of layout (bits 0-1: Path missing, a file, a folder, a
// file; bits 2-3: the same for Version; bit 4: no key at all; bit 5: the
// key is a file), two bytes of Path length (little-endian, cut to what is
// there), the Path bytes, then the Version bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/install_settings.h"

namespace {

constexpr std::size_t kHeader = 3;
constexpr long kFileNotFound = 2;
constexpr long kMoreData = 234;

std::string gKeyFolder;

enum class Kind { missing, file, folder };

Kind kindOf(unsigned bits) {
  switch (bits & 3U) {
    case 0: return Kind::missing;
    case 2: return Kind::folder;
    default: return Kind::file;
  }
}

// What a query of the value gives, by the registry's rules: the code, the
// bytes that land in a 256-byte buffer (without the terminator the query
// adds), and the size it reports.
struct Query {
  long code;
  std::string value;
  unsigned long size;
};

Query expectedQuery(Kind kind, const std::string& content) {
  if (kind != Kind::file) return {kFileNotFound, "", settings::kValueSize};
  std::string value = content;
  // One newline at the end of the file is no part of the value.
  if (!value.empty() && value.back() == '\n') value.pop_back();
  const unsigned long needed = value.size() + 1;
  if (needed > settings::kValueSize) return {kMoreData, "", needed};
  return {0, value, needed};
}

// The value as a C string sees it.
std::string upToNul(const std::string& value) { return value.substr(0, value.find('\0')); }

void place(const std::string& name, Kind kind, const std::string& content) {
  const std::string path = gKeyFolder + "/" + name;
  if (kind == Kind::file) fuzzsupport::writeText(path, content);
  if (kind == Kind::folder) fuzzsupport::makeDir(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = fuzzsupport::makeScratchDir("settings");
  setenv("HORAMAT_PLATFORM_ROOT", (dir + "/root").c_str(), 1);
  // The stand-in keeps a key as a folder of value files (see its README
  // section): the target places files, folders and a file for the key.
  gKeyFolder = dir + "/root/registry/HKEY_LOCAL_MACHINE/" + settings::kSettingsKey;
  std::replace(gKeyFolder.begin(), gKeyFolder.end(), '\\', '/');
  fuzzsupport::catchStdout(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const unsigned layout = data[0];
  std::size_t pathLength = static_cast<std::size_t>(data[1]) | (static_cast<std::size_t>(data[2]) << 8);
  const char* rest = reinterpret_cast<const char*>(data + kHeader);
  const std::size_t restSize = size - kHeader;
  if (pathLength > restSize) pathLength = restSize;
  const std::string pathContent(rest, pathLength);
  const std::string versionContent(rest + pathLength, restSize - pathLength);
  const Kind pathKind = kindOf(layout);
  const Kind versionKind = kindOf(layout >> 2);
  const bool noKey = (layout & 0x10U) != 0;
  const bool keyIsFile = (layout & 0x20U) != 0;

  fuzzsupport::removeTree(gKeyFolder);
  if (keyIsFile) {
    fuzzsupport::makeDir(gKeyFolder.substr(0, gKeyFolder.rfind('/')));
    fuzzsupport::writeText(gKeyFolder, pathContent);
  } else if (!noKey) {
    fuzzsupport::makeDir(gKeyFolder);
    place("Path", pathKind, pathContent);
    place("Version", versionKind, versionContent);
  }

  const bool keyOpens = !noKey && !keyIsFile;
  const Query path = expectedQuery(pathKind, pathContent);
  const Query version = expectedQuery(versionKind, versionContent);
  const bool pathUsable = keyOpens && path.code == 0 &&
                          upToNul(path.value).size() <= settings::kMaxInstallPathLength;
  const int expected = pathUsable && version.code == 0 ? 1 : 0;

  // The installer's diagnostic line: the code, the buffer (a blank when
  // the query put nothing there), the capacity and the reported size.
  std::string line;
  if (keyOpens) {
    line = std::to_string(path.code) + " " + (path.code == 0 ? upToNul(path.value) : " ") + " " +
           std::to_string(settings::kValueSize) + " " + std::to_string(path.size) + "\n";
  }

  for (settings::Variant variant : {settings::Variant::Scheduler, settings::Variant::Installer}) {
    std::memset(&settings::InstallSettings, 0, sizeof settings::InstallSettings);
    const int result = settings::readInstallSettings(variant);
    const std::string printed = fuzzsupport::takeStdout();
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(printed == (variant == settings::Variant::Installer ? line : std::string()));
    const auto& record = settings::InstallSettings;
    FUZZ_CHECK(strnlen(record.path, sizeof record.path) < sizeof record.path);
    FUZZ_CHECK(strnlen(record.version, sizeof record.version) < sizeof record.version);
    FUZZ_CHECK(record.path == (pathUsable ? upToNul(path.value) : std::string()));
    FUZZ_CHECK(record.version == (expected == 1 ? upToNul(version.value) : std::string()));
  }
  return 0;
}
