// The console on Windows.
#include "platform/console.h"

#include <cstdlib>

namespace platform {

// "CLS" is a command of the interpreter, not a program: system() finds the
// interpreter through COMSPEC. Whether it worked is of no interest.
void clearConsole() {
  int ignored = std::system("CLS");
  (void)ignored;
}

}  // namespace platform
