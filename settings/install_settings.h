// Where the system is installed, and which version it is: two registry
// values that the setup step writes and nothing here ever writes.
#pragma once
#include <cstddef>

#include "platform/registry.h"

namespace settings {

// The service's name: the contract between the installer, which registers
// it, and the scheduler, which registers its control handler under it.
constexpr const char* kServiceName = "Horamat";

constexpr const char* kSettingsKey = "Software\\Pexa\\Horamat";
constexpr std::size_t kValueSize = 256;
// A file of the installation: the path and one appended name
// ("\CronTab.txt", "\Horamat.log", "\Zyklant.exe", 12 characters each).
constexpr std::size_t kInstalledPathSize = 256;
constexpr std::size_t kAppendedNameLength = 12;
constexpr std::size_t kMaxInstallPathLength = kInstalledPathSize - 1 - kAppendedNameLength;  // 243

enum class Variant { Scheduler, Installer };

struct InstallSettingsRecord {
  char path[kValueSize];
  char version[kValueSize];
};

// Filled once at start-up by readInstallSettings, read-only afterwards.
extern InstallSettingsRecord InstallSettings;

// The installer's variant prints a diagnostic line; CronCheck reads the
// way the installer does, but its report must start with its own first
// line, so it suppresses it. The scheduler prints nothing either way.
enum class DiagnosticLine { AsVariant, Suppressed };

// Reads Path and Version. 1 on success, 0 on failure; the installer's
// variant prints its diagnostic line first unless it is suppressed.
int readInstallSettings(Variant variant, DiagnosticLine diagnostic = DiagnosticLine::AsVariant);

// The registry query readInstallSettings asks, as platform::regQueryValue
// has it. readInstallSettingsWith lets a test hand in a query that answers
// as no registry at hand can be made to: a value without terminator that
// gets none added even where the buffer has room.
using ValueQuery = decltype(&platform::regQueryValue);
int readInstallSettingsWith(ValueQuery query, Variant variant, DiagnosticLine diagnostic);

}  // namespace settings
