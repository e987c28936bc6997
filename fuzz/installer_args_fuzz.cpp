// The installer's command line: installerMain with any arguments, against
// a scratch stand-in root whose settings name installation folders
// without a Zyklant.exe. "i" therefore always ends with report 0 before
// the Service Control Manager is asked for anything, and "d" with warning
// 9, so no service is ever registered or started from here; a registration
// that appears all the same ends the run at once.
//
// Input: one byte choosing the installation folder, then the arguments,
// separated by NUL bytes (at most eight of them).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "installer/installer_cli.h"
#include "platform/registry_admin.h"
#include "platform/service_client.h"
#include "settings/install_settings.h"

namespace {

constexpr std::size_t kMaxArguments = 8;
constexpr std::size_t kArgumentSize = 256;

std::vector<std::string> gInstallPaths;

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether the installer left a registration behind.
bool registered() {
  platform::ScHandle manager = platform::openServiceManager(platform::kScManagerConnect);
  platform::ScHandle service =
      manager != nullptr ? platform::openService(manager, "Horamat", platform::kServiceQueryConfig) : nullptr;
  if (service != nullptr) platform::closeServiceHandle(service);
  if (manager != nullptr) platform::closeServiceHandle(manager);
  return service != nullptr;
}

void setPath(const std::string& path) {
  platform::regWriteValue(settings::kSettingsKey, "Path", path.c_str(), static_cast<std::uint32_t>(path.size() + 1));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = fuzzsupport::makeScratchDir("installer");
  setenv("HORAMAT_PLATFORM_ROOT", (dir + "/root").c_str(), 1);
  platform::regWriteValue(settings::kSettingsKey, "Version", "1.0.0", 6);

  gInstallPaths.push_back(dir + "/inst");
  gInstallPaths.push_back(dir + "/mit Leer %s%n zeichen");
  std::string longest = dir + "/";
  longest.resize(settings::kMaxInstallPathLength, 'L');
  gInstallPaths.push_back(longest);
  gInstallPaths.push_back(dir + "/nicht_da");
  fuzzsupport::makeDir(gInstallPaths[0]);
  fuzzsupport::makeDir(gInstallPaths[1]);
  for (const auto& path : gInstallPaths) {
    if (exists(path + "/Zyklant.exe")) {
      std::fprintf(stderr, "%s/Zyklant.exe must not exist\n", path.c_str());
      std::abort();
    }
  }
  fuzzsupport::catchStdout(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string& path = gInstallPaths[data[0] % gInstallPaths.size()];
  setPath(path);

  std::vector<std::string> arguments;
  if (size > 1) {
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t start = 0;
    for (;;) {
      const std::size_t nul = rest.find('\0', start);
      arguments.push_back(rest.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
      if (nul == std::string::npos || arguments.size() == kMaxArguments) break;
      start = nul + 1;
    }
  }
  // argv as main gets it: writable strings, a null at the end.
  std::vector<std::vector<char>> storage;
  storage.emplace_back(std::vector<char>{'H', 'o', 'r', 'a', 'm', 'a', 't', '\0'});
  for (const auto& argument : arguments) {
    storage.emplace_back(argument.begin(), argument.end());
    storage.back().push_back('\0');
  }
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  const int rc = installer::installerMain(static_cast<int>(argv.size() - 1), argv.data());
  const std::string out = fuzzsupport::takeStdout();
  if (registered()) {
    std::fprintf(stderr, "a service was registered from the fuzz target\n");
    std::abort();
  }

  FUZZ_CHECK(rc == 0);
  const std::string diagnostic =
      "0 " + path + " 256 " + std::to_string(path.size() + 1) + "\n";
  FUZZ_CHECK(out.compare(0, diagnostic.size(), diagnostic) == 0);
  const std::size_t n = arguments.size();
  const bool credentialsFit =
      n != 3 || (arguments[1].size() < kArgumentSize && arguments[2].size() < kArgumentSize);
  const std::string command = n > 0 ? arguments[0] : "";
  const std::string usageEnd = "Ohne Benutzername und Passwort wird der Dienst unter dem Systemkonto eingerichtet.\n";
  if ((n != 1 && n != 3) || !credentialsFit || (command != "i" && command != "d")) {
    FUZZ_CHECK(contains(out, "Aufruf: Horamat <Kommando>"));
    FUZZ_CHECK(endsWith(out, usageEnd));
    FUZZ_CHECK(!contains(out, "Es wird versucht"));
  } else if (command == "i") {
    FUZZ_CHECK(contains(out, "\nEs wird versucht, Horamat zu installieren...\n"
                             "\nFehlertext: Der Dienst konnte nicht gestartet werden (" +
                                 path + "\\Zyklant.exe).\nFehlercode: 0\n"
                                        "\nBitte melden Sie den aufgetretenen Fehler.\nmailto:"));
    FUZZ_CHECK(!contains(out, "Horamat wurde installiert."));
  } else {
    FUZZ_CHECK(endsWith(out, "\nEs wird versucht, Horamat zu deinstallieren...\n"
                             "\nWarnung: Der Dienst existiert nicht.\nNummer: 9\n"));
  }
  return 0;
}
