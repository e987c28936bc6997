// Two questions about files that only the system can answer, for the
// end-to-end tests of the job table while jobs run.
#pragma once
#include <cstdint>

namespace testsupport {

// What an editor's safe save does: renames from over to, replacing it
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING on Windows, rename on the
// stand-in). 0, or the system's error code.
std::uint32_t replaceFile(const char* from, const char* to);

// Opens path shared with nobody and closes it again: 0, or the system's
// error code, 32 (sharing violation) while any process holds it open.
// The stand-in has no share modes: there it only says whether it opens.
std::uint32_t openUnshared(const char* path);

// What an editor does that shares a file with nobody: opens path (made
// if missing) shared with nobody, calls ready, and holds it for seconds.
// 0, or the system's error code of the open. The stand-in only opens it.
std::uint32_t holdUnshared(const char* path, std::uint32_t seconds, void (*ready)());

}  // namespace testsupport
