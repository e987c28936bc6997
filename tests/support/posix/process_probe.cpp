#include "tests/support/process_probe.h"

#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace testsupport {

long ownProcessId() { return static_cast<long>(::getpid()); }

bool processRunning(long pid) {
  if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) return false;
  // A killed process whose parent has not reaped it yet is a zombie: ended.
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  std::FILE* f = std::fopen(stat.c_str(), "r");
  if (f == nullptr) return false;
  char state = '?';
  const int read = std::fscanf(f, "%*d (%*[^)]) %c", &state);
  std::fclose(f);
  return read == 1 && state != 'Z' && state != 'X';
}

void endProcess(long pid) {
  if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
}

}  // namespace testsupport
