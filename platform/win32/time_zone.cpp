// The time zone on Windows: msvcrt's _tzset takes TZ when it is set and
// else asks the system (GetTimeZoneInformation) every time it is called;
// localtime only calls it once per process.
#include "platform/time_zone.h"

#include <ctime>

namespace platform {

void refreshTimeZone() { _tzset(); }

}  // namespace platform
