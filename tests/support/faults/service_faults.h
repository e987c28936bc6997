// The Service Control Manager failing one chosen call, for tests of the
// installer's failure reports that no real manager can be made to give.
// Linked only into installer_test, whose link redirects every call of
// these platform functions here (GNU ld --wrap, see tests/tests.cmake);
// a call that is not chosen goes on to the platform unchanged.
#pragma once
#include <cstdint>

namespace testsupport {

enum class ServiceCall { OpenManager, Create, Open, Start, Query, Control, Delete };

// Counting from now, calls number first to first + times - 1 of call
// (1 is the next one) fail with code as the system's last error. Another
// fault of the same call replaces this one. With made, a stop control goes
// to the service all the same and only its answer is lost, as when the
// service ends before it answers.
void failServiceCall(ServiceCall call, int first, int times, std::uint32_t code, bool made = false);
// Every call goes through again; the counts start afresh.
void clearServiceFaults();

}  // namespace testsupport
