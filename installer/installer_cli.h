// Horamat, the installer: command line, banner, usage and report blocks.
#pragma once
#include "settings/install_settings.h"

namespace installer {

using settings::kServiceName;

void printBanner(const char* freewareLine);
void printUsage();
void printErrorReport(const char* text, int number);
void printWarningReport(const char* text, int number);

// The program's entry: 1 when the settings are missing, 0 otherwise.
int installerMain(int argc, char** argv);

}  // namespace installer
