// idle_floor: the floor of Zyklant's idle cost in bench/run. It does what
// the scheduler's loop does between scans and nothing else: read the
// platform's clock, sleep until the next second begins, forever. Zyklant
// idling costs this plus its one table read a minute.
#include "platform/process.h"

int main() {
  constexpr std::uint32_t kMsPerSecond = 1000;
  for (;;) platform::sleepMs(kMsPerSecond - platform::readClock().ms);
}
