// The console on the stand-in.
#include "platform/console.h"

#include <cstdio>

#include <unistd.h>

namespace platform {

// Home, then erase the screen. Only for a terminal: escape codes in a file
// or a pipe that a test or a log collects would be noise.
void clearConsole() {
  if (isatty(STDOUT_FILENO) == 0) return;
  std::fputs("\033[H\033[2J", stdout);
  std::fflush(stdout);
}

}  // namespace platform
