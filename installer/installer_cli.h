// Horamat, the installer: command line, banner, usage and report blocks.
#pragma once

namespace installer {

constexpr const char* kServiceName = "Horamat";

void printBanner(const char* freewareLine);
void printUsage();
void printErrorReport(const char* text, int number);
void printWarningReport(const char* text, int number);

// The program's entry: 1 when the settings are missing, 0 otherwise.
int installerMain(int argc, char** argv);

}  // namespace installer
