// late_marker <seconds> <markerfile>: a long job. Waits that long, then
// appends "spaet" and a newline to the marker file. Started by the
// scheduler, it holds whatever it inherited (the job table among it) for
// the whole wait; the marker shows that it outlived whatever ended meanwhile.
#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const long seconds = std::strtol(argv[1], nullptr, 10);
  for (long i = 0; i < seconds; ++i) platform::sleepMs(1000);
  std::FILE* marker = std::fopen(argv[2], "a");
  if (marker == nullptr) return 3;
  const bool written = std::fputs("spaet\n", marker) >= 0;
  return (std::fclose(marker) == 0 && written) ? 0 : 3;
}
