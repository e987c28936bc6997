// Files, through the C library's streams.
#pragma once
#include <cstdio>

namespace platform {

// fopen with the system's text-mode rules: shared for reading and writing
// with other processes, handle inheritable. Paths are Windows-style; the
// stand-in reads "\" as "/".
std::FILE* openFile(const char* path, const char* mode);

// fgets for a text-mode stream: reads at most size-1 characters, stops
// after a newline. A CR directly before a LF is dropped, as Windows text
// mode does, so a table written on Windows reads the same everywhere.
char* readLine(char* buffer, int size, std::FILE* file);

}  // namespace platform
