// A job for Jobwache's tests, one mode per call:
//   watch_job exit <n>           ends with code n
//   watch_job both               "aus" on standard output, "err" on standard error
//   watch_job big <bytes>        that many bytes on standard output
//   watch_job grandchild <file>  starts "watch_job hold <file>", waits for file, then waits
//   watch_job hold <file>        writes its process id into file, then waits
//   watch_job wait <ready> <go>  creates ready, ends once go exists
// Waiting means ten minutes: longer than any test lets it run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/process.h"
#include "scheduler/job_start.h"
#include "tests/support/process_probe.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kWaitSeconds = 600;

int waitLong() {
  std::this_thread::sleep_for(std::chrono::seconds(kWaitSeconds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kUsageError;
  const std::string mode = argv[1];
  if (mode == "exit" && argc == 3) return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
  if (mode == "both") {
    std::fputs("aus\n", stdout);
    std::fflush(stdout);
    std::fputs("err\n", stderr);
    std::fflush(stderr);
    return 0;
  }
  if (mode == "big" && argc == 3) {
    const std::string line(99, 'x');
    for (unsigned long left = std::strtoul(argv[2], nullptr, 10); left > 0;) {
      const unsigned long n = left < 100 ? left : 100;
      std::fwrite((line + "\n").data(), 1, n, stdout);
      left -= n;
    }
    return 0;
  }
  if (mode == "grandchild" && argc == 3) {
    const char* holdArgv[] = {argv[0], "hold", argv[2], nullptr};
    char line[1024];
    if (!scheduler::joinCommandLine(holdArgv, line, sizeof line)) return kUsageError;
    if (!platform::startProcess(argv[0], line, holdArgv)) return kUsageError;
    // The limit is to find the grandchild running: wait until it says so.
    for (int i = 0; i < kWaitSeconds * 100 && !testsupport::pathExists(argv[2]); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return waitLong();
  }
  if (mode == "hold" && argc == 3) {
    testsupport::writeFile(argv[2] + std::string(".tmp"), std::to_string(testsupport::ownProcessId()));
    std::filesystem::rename(argv[2] + std::string(".tmp"), argv[2]);
    return waitLong();
  }
  if (mode == "wait" && argc == 4) {
    testsupport::writeFile(argv[2], "bereit");
    for (int i = 0; i < kWaitSeconds * 100 && !testsupport::pathExists(argv[3]); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }
  return kUsageError;
}
