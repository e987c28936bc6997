// Stands in for a system command (icacls.exe, sc.exe) under Wine, to see
// what the setup calls: copied over the command in system32 and loaded in
// its place with WINEDLLOVERRIDES=<name>.exe=n.
//   HORAMAT_CALL_LOG      file to which one line per call is appended:
//                         the command's name, then each argument, quoted
//                         when it holds a blank or is empty
//   HORAMAT_CALL_FAIL     a command name: that command fails with 5
//   HORAMAT_CALL_FORWARD  a folder: the call goes on to
//                         <folder>\<name>_builtin.exe (a copy of the real
//                         command), whose exit code is returned
// Without HORAMAT_CALL_FAIL and HORAMAT_CALL_FORWARD a call succeeds.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace {

constexpr int kAccessDenied = 5;

// "icacls" of "C:\windows\system32\ICACLS.EXE"
std::string commandName(const char* argv0) {
  std::string name(argv0);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = commandName(argv[0]);
  if (const char* log = std::getenv("HORAMAT_CALL_LOG")) {
    std::string line = name;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      line += arg.empty() || arg.find(' ') != std::string::npos ? " \"" + arg + "\"" : " " + arg;
    }
    line += "\n";
    if (std::FILE* file = std::fopen(log, "a")) {
      std::fputs(line.c_str(), file);
      std::fclose(file);
    }
  }
  const char* fail = std::getenv("HORAMAT_CALL_FAIL");
  if (fail != nullptr && name == fail) return kAccessDenied;
  if (const char* folder = std::getenv("HORAMAT_CALL_FORWARD")) {
    const std::string builtin = testsupport::joinPath(folder, name + "_builtin.exe");
    if (testsupport::pathExists(builtin)) return testsupport::forwardCall(builtin.c_str(), argv);
  }
  return 0;
}
