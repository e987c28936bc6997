// Files on the stand-in, read the way Windows text mode reads them.
//
// Sharing needs nothing here: POSIX has no share modes, an editor may
// rewrite the table and a viewer read the log while the scheduler holds
// them. Every file is opened close-on-exec, as Windows' openFile makes
// its handles non-inheritable: a job must not hold the table or the log
// for as long as it runs.
#include "platform/files.h"

#include <cerrno>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"

namespace platform {

using posix::kPathSize;

std::FILE* openFile(const char* path, const char* mode) {
  char posixPath[kPathSize];
  char closeOnExec[8];  // the mode and glibc's "e"
  if (!copyText(closeOnExec, sizeof closeOnExec, mode) || !appendText(closeOnExec, sizeof closeOnExec, "e")) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::FILE* file =
      posix::toPosixPath(path, posixPath, sizeof posixPath) ? std::fopen(posixPath, closeOnExec) : nullptr;
  if (file == nullptr) setLastError(posix::errorFromErrno(errno));
  return file;
}

// fgets, plus the one translation of Windows text mode that matters for
// a table written on Windows: CR directly before LF is dropped (a lone CR
// is kept). The CR never takes a place of its own in the buffer: a
// 255-character line ending in CRLF, read with 256 bytes, gives its 255
// characters and then a piece "\n", as on Windows. Text mode's end at a
// Ctrl-Z is not copied: a table has no business holding one.
// The file is locked once a line, not once a character: in the scheduler,
// a process of two threads, getc's own lock made a scan several times as
// dear as the reading itself.
char* readLine(char* buffer, int size, std::FILE* file) {
  int count = 0;
  flockfile(file);
  for (int c = 0; count < size - 1 && c != '\n' && (c = getc_unlocked(file)) != EOF;) {
    const int next = c == '\r' ? getc_unlocked(file) : EOF;
    if (next == '\n') c = '\n';
    else if (next != EOF) std::ungetc(next, file);
    buffer[count++] = static_cast<char>(c);
  }
  funlockfile(file);
  // As fgets: a read error, or the end of the file with nothing read, is a
  // null pointer; a buffer of one byte gets the empty string.
  if (size <= 0 || std::ferror(file) != 0 || (count == 0 && size > 1)) return nullptr;
  buffer[count] = '\0';
  return buffer;
}

// The stand-in has no drives: "C:\x" is a relative name like any other
// (a service standing in "/" finds it as "/C:/x"), and only a leading "\"
// or "/" makes a path absolute. The result stays Windows-style.
bool pathFromFolder(const char* folder, const char* path, char* out, std::size_t size) {
  if (path[0] == '\\' || path[0] == '/') return copyText(out, size, path);
  const std::size_t n = std::strlen(folder);
  const bool separate = n == 0 || (folder[n - 1] != '\\' && folder[n - 1] != '/');
  return copyText(out, size, folder) && (!separate || appendText(out, size, "\\")) && appendText(out, size, path);
}

}  // namespace platform
