// Files, through the C library's streams.
#pragma once
#include <cstddef>
#include <cstdio>

namespace platform {

// fopen with the system's text-mode rules: shared with other processes
// for reading, writing and deletion (the table may be deleted or renamed
// away during a scan), and never inherited by a started process (the
// stand-in: close-on-exec), so that no job holds the table or the log and
// an editor can rename a new table over it between scans. On failure
// null, with errno as fopen leaves it and lastError() the system's reason.
// Paths are Windows-style; the stand-in reads "\" as "/".
std::FILE* openFile(const char* path, const char* mode);

// fgets for a text-mode stream: reads at most size-1 characters, stops
// after a newline. A CR directly before a LF is dropped, as Windows text
// mode does, so a table written on Windows reads the same everywhere.
char* readLine(char* buffer, int size, std::FILE* file);

// The path as a process whose current folder is folder sees it, for a
// question asked on behalf of another process (where would the service
// find this program?). A relative path is put below folder; any other is
// left as it is. Windows: "C:\x" and "\\server\x" stay, "\x" gets the
// drive of folder, "C:x" is put below folder when folder lies on drive C
// (the current folder of another drive is not known here, so it stays).
// The stand-in: a path that begins with "\" or "/" stays, everything else
// is relative, "C:\x" too. False when the result does not fit.
bool pathFromFolder(const char* folder, const char* path, char* out, std::size_t size);

}  // namespace platform
