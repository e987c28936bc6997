// The local time zone of the C library.
#pragma once

namespace platform {

// Makes the next localtime use the time zone in force now. Windows' C
// library reads the system's zone once per process, at its first
// localtime, so a service started before the administrator changed the
// zone (or before an update of its daylight-saving rules) would keep the
// old one until it is restarted; _tzset reads it afresh. The stand-in:
// tzset, which the C library's localtime does on its own as well.
void refreshTimeZone();

}  // namespace platform
