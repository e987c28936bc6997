// The POSIX side of what tests need from the system itself.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace testsupport {

bool setTimeZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
  return true;
}

void setEnvironment(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

std::string useScratchPlatformRoot() {
  std::string root = makeTempDir("root");
  setEnvironment("HORAMAT_PLATFORM_ROOT", root.c_str());
  return root;
}

int forwardCall(const char* program, char** argv) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    argv[0] = const_cast<char*>(program);
    ::execv(program, argv);
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
}

// The stand-in keeps the service's pid in its folder.
void endServiceProcess(const char* serviceName) {
  const char* root = std::getenv("HORAMAT_PLATFORM_ROOT");
  if (root == nullptr) return;
  const std::string pidFile = std::string(root) + "/services/" + serviceName + "/pid";
  std::FILE* file = std::fopen(pidFile.c_str(), "r");
  if (file == nullptr) return;
  long pid = 0;
  if (std::fscanf(file, "%ld", &pid) == 1 && pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
  std::fclose(file);
}

}  // namespace testsupport
