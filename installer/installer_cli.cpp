#include "installer/installer_cli.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "installer/service_install.h"
#include "platform/bounded_text.h"
#include "platform/console.h"
#include "settings/install_settings.h"

namespace installer {

namespace {

// Account name and password: 255 characters and a terminator each.
constexpr std::size_t kArgumentSize = 256;

constexpr const char* kFreewareBeforeUsage = "Horamat ist Freeware.\n\n";
constexpr const char* kFreewareBeforeWork = "Horamat ist Freeware.\n";

// Every piece of output is flushed at once: the next clearing of the
// console runs in another process (the command interpreter), and whatever
// still sits in our buffer would land on the screen after it was wiped.
[[gnu::format(printf, 1, 2)]] void say(const char* format, ...);

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void sayText(const char* text) { say("%s", text); }

}  // namespace

void printBanner(const char* freewareLine) {
  platform::clearConsole();
  say("Horamat %s - %s\n", settings::InstallSettings.version, HORAMAT_MAKER_NOTICE);
  sayText(freewareLine);
}

void printUsage() {
  printBanner(kFreewareBeforeUsage);
  sayText("Aufruf: Horamat <Kommando> [<Benutzername> <Passwort>]\n");
  sayText("\n");
  sayText("Kommandos:\n");
  sayText("  i  Horamat als Dienst installieren und starten\n");
  sayText("  d  Dienst Horamat stoppen und deinstallieren\n");
  sayText("\n");
  sayText("Ohne Benutzername und Passwort wird der Dienst unter dem Systemkonto eingerichtet.\n");
}

// The report texts may carry a path or a name from outside: they go
// through "%s", never as a format of their own.
void printErrorReport(const char* text, int number) {
  say("\nFehlertext: %s\n", text);
  say("Fehlercode: %d\n", number);
  sayText("\nBitte melden Sie den aufgetretenen Fehler.\n");
  sayText("mailto:" HORAMAT_SUPPORT_MAIL "\n");
  sayText(HORAMAT_WEB_ADDRESS "\n");
}

void printWarningReport(const char* text, int number) {
  say("\nWarnung: %s\n", text);
  say("Nummer: %d\n", number);
}

int installerMain(int argc, char** argv) {
  // Both stay empty strings unless the command line gives them: empty
  // means the system account.
  char account[kArgumentSize] = {};
  char password[kArgumentSize] = {};

  // The settings come before everything, whatever the command line says:
  // without the installation folder there is nothing to register.
  if (settings::readInstallSettings(settings::Variant::Installer) == 0) {
    printBanner(kFreewareBeforeUsage);
    printErrorReport("Horamat ist fehlerhaft installiert.", 1);
    return 1;
  }

  const int arguments = argc - 1;
  if (arguments != 1 && arguments != 3) {
    printUsage();
    return 0;
  }

  printBanner(kFreewareBeforeWork);
  if (arguments == 3) {
    // A name or password cut to fit would register a credential nobody
    // typed; an overlong one is refused like any other malformed line.
    if (!platform::copyText(account, sizeof account, argv[2]) ||
        !platform::copyText(password, sizeof password, argv[3])) {
      printUsage();
      return 0;
    }
  }

  // The command is compared exactly: "I" or "install" is no command.
  const char* command = argv[1];
  if (std::strcmp(command, "i") == 0) {
    sayText("\nEs wird versucht, Horamat zu installieren...\n");
    if (installService(account, password) != 0) sayText("Horamat wurde installiert.\n");
  } else if (std::strcmp(command, "d") == 0) {
    // Account and password mean nothing to the removal.
    sayText("\nEs wird versucht, Horamat zu deinstallieren...\n");
    if (removeService() != 0) sayText("Horamat wurde deinstalliert.\n");
  } else {
    printUsage();
  }
  // Failures of the operations are shown as reports, not as exit codes.
  return 0;
}

}  // namespace installer
