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

namespace {
// The layout is the stand-in's own: see platform/posix/internal.h.
std::string standInRoot() {
  const char* root = std::getenv("HORAMAT_PLATFORM_ROOT");
  return root != nullptr && root[0] != '\0' ? root : "/var/lib/horamat";
}

std::string serviceFile(const char* serviceName, const char* leaf) {
  return standInRoot() + "/services/" + serviceName + "/" + leaf;
}
}  // namespace

// The service's dispatcher notes its process id in the run folder; it is
// the service's while the service answers.
long serviceProcessId(const char* serviceName) {
  std::FILE* file = std::fopen(serviceFile(serviceName, "run/pid").c_str(), "r");
  if (file == nullptr) return 0;
  long pid = 0;
  if (std::fscanf(file, "%ld", &pid) != 1) pid = 0;
  std::fclose(file);
  return pid;
}

void endServiceProcess(const char* serviceName) {
  const long pid = serviceProcessId(serviceName);
  if (pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
}

std::string standInRegistration(const char* serviceName) {
  const std::string config = serviceFile(serviceName, "config");
  return pathExists(config) ? readFile(config) : std::string();
}

std::string standInKeyFolder(const char* subKey) {
  std::string folder = standInRoot() + "/registry/HKEY_LOCAL_MACHINE/" + subKey;
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  return folder;
}

}  // namespace testsupport
