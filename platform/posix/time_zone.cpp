// The time zone on the stand-in: glibc rereads TZ and /etc/localtime
// whenever it changed; the call only makes that explicit.
#include "platform/time_zone.h"

#include <ctime>

namespace platform {

void refreshTimeZone() { tzset(); }

}  // namespace platform
