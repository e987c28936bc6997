// file_probe replace <from> <to>: an editor's safe save, renaming from
// over to. file_probe unshared <path>: whether path opens shared with
// nobody. file_probe hold <path> <seconds>: holds path open shared with
// nobody, printing "held" once it does. Prints the system's error code
// (0 for success) and exits 0 when it is 0, 1 otherwise, 2 on a wrong
// call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/file_probe.h"

namespace {
void sayHeld() {
  std::printf("held\n");
  std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
  std::uint32_t error = 0;
  if (argc == 4 && std::strcmp(argv[1], "replace") == 0) {
    error = testsupport::replaceFile(argv[2], argv[3]);
  } else if (argc == 3 && std::strcmp(argv[1], "unshared") == 0) {
    error = testsupport::openUnshared(argv[2]);
  } else if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
    error = testsupport::holdUnshared(argv[2], static_cast<std::uint32_t>(std::atoi(argv[3])), sayHeld);
  } else {
    return 2;
  }
  std::printf("%lu\n", static_cast<unsigned long>(error));
  return error == 0 ? 0 : 1;
}
