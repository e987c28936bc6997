// The console of a command-line program.
#pragma once

namespace platform {

// Clears the console window. On Windows "CLS" through the command
// interpreter (system), result ignored; elsewhere the terminal's clear
// sequence when standard output is a terminal, nothing when it is not.
void clearConsole();

}  // namespace platform
