// idle_wait <seconds>: does nothing for that long. Under Wine a service is
// ended as soon as no ordinary program of the session runs any more (the
// session shuts its system processes down), so the end-to-end scripts keep
// one of these running while they watch a service.
#include <cstdlib>

#include "platform/process.h"

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 600;
  for (long i = 0; i < seconds; ++i) platform::sleepMs(1000);
  return 0;
}
