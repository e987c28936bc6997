// The contract of the platform basics: process start and sleep, files,
// registry reads. One suite, run against the POSIX stand-in natively and
// against the Win32 layer under Wine; where the two must differ, the test
// says so and checks each side's answer.
//
// putenv is the one call both C libraries know for setting the stand-in's
// root; MinGW marks it deprecated unless told otherwise.
#define _CRT_NONSTDC_NO_DEPRECATE 1

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_admin.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Which layer this build tests, without a preprocessor switch.
constexpr bool kWindows = fs::path::preferred_separator == '\\';

constexpr std::size_t kLineBufferSize = 256;   // the scheduler's table buffer
constexpr std::uint32_t kValueCapacity = 256;  // the settings' registry buffer
constexpr int kPollIntervalMs = 20;
constexpr int kPollRounds = 1000;  // 20 seconds: a process start under Wine is slow

std::string uniqueTag() {
  std::random_device random;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char tag[64];
  const int n = std::snprintf(tag, sizeof tag, "%08x%08llx", random(),
                              static_cast<unsigned long long>(ticks) & 0xFFFFFFFFull);
  return (n > 0 && static_cast<std::size_t>(n) < sizeof tag) ? tag : "fallback";
}

// Paths in Windows form, as the programs build them; the stand-in reads
// "\" as "/".
std::string windowsStyle(std::string text) {
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

// The folder of the built programs. Under Wine the Unix root is drive Z:.
std::string binDir() {
  std::string dir = HORAMAT_TEST_BIN_DIR;
  if (kWindows && !dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return windowsStyle(dir);
}

std::string markerJobFile() { return binDir() + "\\marker_job" + (kWindows ? ".exe" : ""); }

// The stand-in's registry lives under the test's scratch folder. putenv
// keeps the pointer, so the text stays here for the whole run.
void setStandInRoot(const fs::path& root) {
  static std::array<char, 4096> assignment{};
  const int n = std::snprintf(assignment.data(), assignment.size(), "HORAMAT_PLATFORM_ROOT=%s",
                              root.string().c_str());
  ASSERT_TRUE(n > 0 && static_cast<std::size_t>(n) < assignment.size());
  ASSERT_EQ(putenv(assignment.data()), 0);
}

bool writeBytes(const fs::path& file, const std::string& bytes) {
  std::FILE* out = std::fopen(file.string().c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

// Every piece readLine gives, with a buffer of `size` bytes.
std::vector<std::string> readPieces(const std::string& file, int size) {
  std::vector<std::string> pieces;
  std::FILE* in = platform::openFile(file.c_str(), "r");
  if (in == nullptr) return pieces;
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
  while (platform::readLine(buffer.data(), size, in) != nullptr) pieces.emplace_back(buffer.data());
  std::fclose(in);
  return pieces;
}

// The lines of a marker file, without their newlines.
std::vector<std::string> markerLines(const std::string& marker) {
  std::vector<std::string> lines;
  for (std::string piece : readPieces(marker, 8192)) {
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    lines.push_back(piece);
  }
  return lines;
}

// Waits, bounded, until the marker holds `count` lines; what it holds then.
std::vector<std::string> waitForMarker(const std::string& marker, std::size_t count) {
  std::vector<std::string> lines;
  for (int round = 0; round < kPollRounds; ++round) {
    lines = markerLines(marker);
    if (lines.size() >= count) break;
    platform::sleepMs(kPollIntervalMs);
  }
  return lines;
}

// Processes whose parent is this one, from /proc (stand-in only).
int childProcesses() {
  std::error_code error;
  const std::string self = fs::read_symlink("/proc/self", error).string();
  if (error) return -1;
  const long selfPid = std::strtol(self.c_str(), nullptr, 10);
  int children = 0;
  fs::directory_iterator entry("/proc", error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::FILE* stat = std::fopen((entry->path() / "stat").string().c_str(), "r");
    if (stat == nullptr) continue;  // gone meanwhile
    char text[1024] = {};
    const bool read = std::fgets(text, sizeof text, stat) != nullptr;
    std::fclose(stat);
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    const char* end = read ? std::strrchr(text, ')') : nullptr;
    char state = 0;
    long parent = 0;
    if (end != nullptr && std::sscanf(end + 1, " %c %ld", &state, &parent) == 2 && parent == selfPid) {
      ++children;
    }
  }
  return error ? -1 : children;
}

using KeyOpener = long (*)(const char*, platform::RegKey*);

struct Opener {
  const char* name;
  KeyOpener open;
};

constexpr std::array<Opener, 2> kOpeners = {{
    {"full access (scheduler)", platform::regOpenKeyFullAccess},
    {"plain (installer)", platform::regOpenKeyPlain},
}};

constexpr unsigned char kGuard = '#';

struct QueryResult {
  long result = -1;
  std::uint32_t size = 0;
  std::array<unsigned char, 512> data{};
};

// Opens the key, queries one value with the given capacity into a buffer
// filled with guard bytes, closes the key.
QueryResult queryValue(KeyOpener open, const std::string& subKey, const char* name,
                       std::uint32_t capacity = kValueCapacity) {
  QueryResult query;
  query.data.fill(kGuard);
  platform::RegKey key = nullptr;
  query.result = open(subKey.c_str(), &key);
  if (query.result != 0) return query;
  query.size = capacity;
  query.result = platform::regQueryValue(key, name, query.data.data(), &query.size);
  platform::regCloseKey(key);
  return query;
}

bool guardsIntactFrom(const QueryResult& query, std::size_t from) {
  for (std::size_t i = from; i < query.data.size(); ++i) {
    if (query.data[i] != kGuard) return false;
  }
  return true;
}

long writeString(const std::string& subKey, const char* name, const std::string& text,
                 bool withTerminator = true) {
  return platform::regWriteValue(subKey.c_str(), name, text.c_str(),
                                 static_cast<std::uint32_t>(text.size() + (withTerminator ? 1 : 0)));
}

class PlatformBasics : public testing::Test {
 protected:
  void SetUp() override {
    std::error_code error;
    home_ = fs::current_path(error);
    ASSERT_FALSE(error) << error.message();
    scratch_ = fs::temp_directory_path(error) / ("horamat-basics-" + uniqueTag());
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(fs::create_directories(scratch_, error)) << error.message();
    // Native: a registry of our own. Windows: the real one, under a key of
    // our own that TearDown removes.
    setStandInRoot(scratch_ / "root");
    subKey_ = "Software\\HoramatContractTest-" + uniqueTag();
  }

  void TearDown() override {
    std::error_code error;
    fs::current_path(home_, error);
    platform::regDeleteKey(subKey_.c_str());
    fs::remove_all(scratch_, error);
  }

  // For the platform layer: Windows form.
  std::string path(const std::string& name) const { return windowsStyle(nativePath(name)); }
  // For a job's arguments, which nobody translates: the system's own form.
  std::string nativePath(const std::string& name) const { return (scratch_ / name).string(); }

  void enter(const fs::path& folder) {
    std::error_code error;
    fs::current_path(folder, error);
    ASSERT_FALSE(error) << error.message();
  }

  fs::path home_;
  fs::path scratch_;
  std::string subKey_;
};

// ---------------------------------------------------------------- sleep

// Catches a sleep that returns early (a lost EINTR restart, seconds taken
// for milliseconds): the scheduler's minute alignment polls with it.
TEST_F(PlatformBasics, SleepLastsAtLeastTheTimeAsked) {
  const auto before = std::chrono::steady_clock::now();
  platform::sleepMs(120);
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_GE(took, std::chrono::milliseconds(115));  // Windows' timer may round a tick down
  EXPECT_LT(took, std::chrono::seconds(5));
}

// ---------------------------------------------------------------- fileExists

// Catches a fileExists that looks only for regular files (the suffix trial
// treats a folder as found) or that does not read "\" on the stand-in.
TEST_F(PlatformBasics, FileExistsSeesFilesAndFoldersButNotMissingNames) {
  ASSERT_TRUE(writeBytes(scratch_ / "job.exe", "x"));
  std::error_code error;
  ASSERT_TRUE(fs::create_directory(scratch_ / "folder", error));
  const struct {
    std::string path;
    bool exists;
  } kCases[] = {
      {path("job.exe"), true},
      {path("folder"), true},                 // a directory counts
      {path("job.com"), false},
      {path("missing\\job.exe"), false},      // missing folder on the way
      {path("job.exe\\inside"), false},       // a file is no folder
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(platform::fileExists(c.path.c_str()), c.exists);
  }
}

// ---------------------------------------------------------------- startProcess

// Catches argv[0] replaced by the resolved file, arguments lost or
// re-split, and a job started elsewhere than the caller's current
// directory (the scheduler's jobs find their files there).
TEST_F(PlatformBasics, StartProcessRunsTheFileWithItsArgumentsInTheCurrentDirectory) {
  std::error_code error;
  ASSERT_TRUE(fs::create_directory(scratch_ / "work", error));
  enter(scratch_ / "work");
  const std::string here = fs::current_path(error).string();
  const std::string marker = nativePath("marker.txt");
  ASSERT_EQ(marker.find(' '), std::string::npos) << "the command line is not quoted";
  const std::string program = markerJobFile();
  ASSERT_TRUE(platform::fileExists(program.c_str())) << program;

  const char* argv[] = {"marker_job", marker.c_str(), "one", "two", nullptr};
  const std::string commandLine = "marker_job " + marker + " one two";
  ASSERT_TRUE(platform::startProcess(program.c_str(), commandLine.c_str(), argv))
      << "error " << platform::lastError();

  const std::vector<std::string> lines = waitForMarker(marker, 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], commandLine + "\t" + here);
}

// Catches a start reported as done though nothing runs: on the stand-in
// the fork succeeds even when the exec does not.
TEST_F(PlatformBasics, StartProcessOfAMissingFileFails) {
  const std::string missing = path("no_such_job.exe");
  const char* argv[] = {"no_such_job", "x", nullptr};
  platform::setLastError(platform::kErrorSuccess);
  EXPECT_FALSE(platform::startProcess(missing.c_str(), "no_such_job x", argv));
  EXPECT_EQ(platform::lastError(), platform::kErrorFileNotFound);
}

// Catches batch files and shell scripts without "#!" that never run: exec
// refuses them (ENOEXEC), Windows hands a ".bat" to its interpreter and the
// stand-in must hand them to the shell. Each job appends its arguments
// after the marker name to the marker.
TEST_F(PlatformBasics, StartProcessRunsBatchFilesAndScriptsWithoutInterpreterLine) {
  constexpr const char* kShellText = "printf '%s\\n' \"$*\" >> \"$1\"\n";
  const struct {
    const char* file;
    const char* nativeText;
    const char* windowsText;  // null: not a Windows case
  } kCases[] = {
      {"job.bat", kShellText, "@echo %*>>%1\r\n"},
      {"job_script", kShellText, nullptr},
  };
  enter(scratch_);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    if (kWindows && c.windowsText == nullptr) continue;
    ASSERT_TRUE(writeBytes(scratch_ / c.file, kWindows ? c.windowsText : c.nativeText));
    std::error_code error;
    fs::permissions(scratch_ / c.file, fs::perms::owner_all | fs::perms::group_read |
                                           fs::perms::group_exec, error);
    ASSERT_FALSE(error) << error.message();

    const std::string marker = nativePath(std::string(c.file) + ".marker");
    const std::string file = path(c.file);
    const char* argv[] = {c.file, marker.c_str(), "one", "two", nullptr};
    const std::string commandLine = std::string(c.file) + " " + marker + " one two";
    ASSERT_TRUE(platform::startProcess(file.c_str(), commandLine.c_str(), argv))
        << "error " << platform::lastError();
    const std::vector<std::string> lines = waitForMarker(marker, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], marker + " one two");
  }
}

// Catches a start that waits for the job: the scheduler's scan would stall
// behind every long job. (CreateProcess never waits; the stand-in could,
// if it waited for the job instead of its exec.)
TEST_F(PlatformBasics, StartProcessDoesNotWaitForTheJob) {
  if (kWindows) GTEST_SKIP() << "a shell script job is the stand-in's case";
  ASSERT_TRUE(writeBytes(scratch_ / "slow_job", "sleep 2; printf 'done\\n' >> \"$1\"\n"));
  std::error_code error;
  fs::permissions(scratch_ / "slow_job", fs::perms::owner_all, error);
  ASSERT_FALSE(error) << error.message();
  const std::string marker = nativePath("slow.marker");
  const std::string file = path("slow_job");
  const char* argv[] = {"slow_job", marker.c_str(), nullptr};

  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(platform::startProcess(file.c_str(), "slow_job", argv));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
  EXPECT_TRUE(markerLines(marker).empty()) << "the job had finished already";
  EXPECT_EQ(waitForMarker(marker, 1), (std::vector<std::string>{"done"}));
}

// Catches jobs left as zombies of the scheduler, which never waits for
// them: a month of minutely jobs would fill the process table. Failed
// starts count as well. A job runs as a child of the caller; once it has
// ended nothing of it may remain.
TEST_F(PlatformBasics, StartProcessLeavesNoChildOfTheCallerBehind) {
  if (kWindows) GTEST_SKIP() << "Windows has no zombies; the handles are closed at once";
  ASSERT_EQ(childProcesses(), 0);
  constexpr int kStarts = 25;
  const std::string program = markerJobFile();
  const std::string missing = path("no_such_job");
  std::vector<std::string> markers;
  for (int i = 0; i < kStarts; ++i) {
    markers.push_back(nativePath("marker" + std::to_string(i)));
    const char* argv[] = {"marker_job", markers.back().c_str(), nullptr};
    ASSERT_TRUE(platform::startProcess(program.c_str(), "marker_job", argv));
    const char* missingArgv[] = {"no_such_job", nullptr};
    ASSERT_FALSE(platform::startProcess(missing.c_str(), "no_such_job", missingArgv));
  }
  for (const std::string& marker : markers) EXPECT_EQ(waitForMarker(marker, 1).size(), 1u) << marker;
  // Each job ends right after its marker line; a zombie would stay.
  int children = childProcesses();
  for (int round = 0; round < kPollRounds && children != 0; ++round) {
    platform::sleepMs(kPollIntervalMs);
    children = childProcesses();
  }
  EXPECT_EQ(children, 0);
}

// ---------------------------------------------------------------- files

struct LineCase {
  const char* fault;  // what the row catches
  std::string content;
  int size;
  std::vector<std::string> pieces;
};

std::vector<LineCase> lineCases() {
  const std::string x254(254, 'x');
  const std::string x255(255, 'x');
  const std::string x4095(4095, 'y');
  std::vector<LineCase> cases = {
      {"CR left at the end of a CRLF line", "one\r\ntwo\r\n", 256, {"one\n", "two\n"}},
      {"LF lines changed", "one\ntwo\n", 256, {"one\n", "two\n"}},
      {"lone CR dropped", "a\rb\r\n", 256, {"a\rb\n"}},
      {"CR before CRLF dropped too", "a\r\r\n", 256, {"a\r\n"}},
      {"CR at the end of the file dropped", "a\r", 256, {"a\r"}},
      {"final line without newline lost", "one\r\nlast", 256, {"one\n", "last"}},
      {"empty file gives a piece", "", 256, {}},
      {"empty line lost", "\r\n\r\n", 256, {"\n", "\n"}},
      {"254 characters + CRLF not whole", x254 + "\r\n", 256, {x254 + "\n"}},
      {"255 characters + CRLF: the CR takes a place", x255 + "\r\n", 256, {x255, "\n"}},
      {"256 characters: wrong cut", x255 + "z\r\n", 256, {x255, "z\n"}},
      {"600 characters: wrong cut", std::string(600, 'x') + "\r\n", 256,
       {x255, x255, std::string(90, 'x') + "\n"}},
      // 16 pieces of 255 take 4080 characters; the CRLF straddles the
      // stream's 4096-byte buffer.
      {"CRLF split across the stream buffer", x4095 + "\r\nnext\r\n", 256, {}},
      {"CRLF split across a tiny buffer", "ab\r\ncd", 2, {"a", "b", "\n", "c", "d"}},
  };
  LineCase& straddling = cases[cases.size() - 2];
  for (int i = 0; i < 16; ++i) straddling.pieces.push_back(std::string(255, 'y'));
  straddling.pieces.push_back(std::string(15, 'y') + "\n");
  straddling.pieces.push_back("next\n");
  return cases;
}

// Catches a table written on Windows (CRLF) read differently on the
// stand-in than Windows text mode reads it, and wrong cuts of long lines.
TEST_F(PlatformBasics, ReadLineReadsLikeWindowsTextMode) {
  int row = 0;
  for (const LineCase& c : lineCases()) {
    SCOPED_TRACE(c.fault);
    const fs::path file = scratch_ / ("lines" + std::to_string(row++) + ".txt");
    ASSERT_TRUE(writeBytes(file, c.content));
    EXPECT_EQ(readPieces(windowsStyle(file.string()), c.size), c.pieces);
  }
}

// Catches a buffer overrun: readLine writes at most size bytes, the
// terminator included.
TEST_F(PlatformBasics, ReadLineStaysInsideTheBuffer) {
  ASSERT_TRUE(writeBytes(scratch_ / "long.txt", std::string(600, 'x') + "\r\n"));
  std::FILE* in = platform::openFile(path("long.txt").c_str(), "r");
  ASSERT_NE(in, nullptr);
  std::array<char, kLineBufferSize + 16> buffer{};
  buffer.fill('#');
  ASSERT_NE(platform::readLine(buffer.data(), kLineBufferSize, in), nullptr);
  std::fclose(in);
  EXPECT_EQ(buffer[kLineBufferSize - 1], '\0');
  for (std::size_t i = kLineBufferSize; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << i;
}

// Catches files opened for the scheduler alone: an editor rewrites the
// table and a viewer reads the log while the scheduler holds them open.
TEST_F(PlatformBasics, OpenFileSharesReadingAndWritingWithOthers) {
  const std::string log = path("Horamat.log");
  std::FILE* held = platform::openFile(log.c_str(), "a+");
  ASSERT_NE(held, nullptr);
  ASSERT_GE(std::fputs("held\n", held), 0);
  ASSERT_EQ(std::fflush(held), 0);

  std::FILE* viewer = platform::openFile(log.c_str(), "r");
  EXPECT_NE(viewer, nullptr) << "reading refused while open";
  std::FILE* editor = platform::openFile(log.c_str(), "a");
  EXPECT_NE(editor, nullptr) << "writing refused while open";
  if (editor != nullptr) {
    EXPECT_GE(std::fputs("edited\n", editor), 0);
    std::fclose(editor);
  }
  if (viewer != nullptr) {
    std::array<char, kLineBufferSize> line{};
    ASSERT_NE(platform::readLine(line.data(), static_cast<int>(line.size()), viewer), nullptr);
    EXPECT_STREQ(line.data(), "held\n");
    std::fclose(viewer);
  }
  std::fclose(held);
  EXPECT_EQ(markerLines(log), (std::vector<std::string>{"held", "edited"}));
}

// Catches a missing file that opens: the scheduler skips a scan when the
// table does not open.
TEST_F(PlatformBasics, OpenFileOfAMissingFileForReadingFails) {
  EXPECT_EQ(platform::openFile(path("CronTab.txt").c_str(), "r"), nullptr);
}

// ---------------------------------------------------------------- registry

// Catches a data size without the terminator, or data without one: the
// settings take the value as a terminated string of *size bytes.
TEST_F(PlatformBasics, RegistryReadsBackAStringWithItsTerminatorCounted) {
  ASSERT_EQ(writeString(subKey_, "Path", "C:\\Horamat"), 0);
  for (const Opener& opener : kOpeners) {
    SCOPED_TRACE(opener.name);
    const QueryResult query = queryValue(opener.open, subKey_, "Path");
    ASSERT_EQ(query.result, 0);
    EXPECT_EQ(query.size, 11u);
    EXPECT_EQ(std::memcmp(query.data.data(), "C:\\Horamat", 11), 0);  // with the terminator
    EXPECT_TRUE(guardsIntactFrom(query, 11));
  }
}

// Catches a missing key that opens, or fails with another code: the
// installer's report depends on the open failing.
TEST_F(PlatformBasics, RegistryMissingKeyIs2) {
  for (const Opener& opener : kOpeners) {
    SCOPED_TRACE(opener.name);
    platform::RegKey key = &key;  // must come back null
    EXPECT_EQ(opener.open(subKey_.c_str(), &key), 2);
    EXPECT_EQ(key, nullptr);
  }
}

// Catches a missing value read as an empty one.
TEST_F(PlatformBasics, RegistryMissingValueIs2) {
  ASSERT_EQ(writeString(subKey_, "Version", "1.0"), 0);
  for (const Opener& opener : kOpeners) {
    SCOPED_TRACE(opener.name);
    EXPECT_EQ(queryValue(opener.open, subKey_, "Path").result, 2);
  }
}

// Catches an off-by-one at the 256-byte limit and writes past the
// capacity: 255 characters and the terminator fit, 256 do not, and the
// needed size is reported.
TEST_F(PlatformBasics, RegistryValueLengthsAroundTheCapacity) {
  const struct {
    std::size_t length;
    long result;
    std::uint32_t size;
  } kCases[] = {
      {0, 0, 1},      // the empty string is its terminator
      {254, 0, 255},
      {255, 0, 256},  // fills the buffer exactly
      {256, 234, 257},
      {300, 234, 301},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'p');
    ASSERT_EQ(writeString(subKey_, "Path", text), 0);
    for (const Opener& opener : kOpeners) {
      SCOPED_TRACE(opener.name);
      const QueryResult query = queryValue(opener.open, subKey_, "Path");
      EXPECT_EQ(query.result, c.result);
      EXPECT_EQ(query.size, c.size);
      EXPECT_TRUE(guardsIntactFrom(query, kValueCapacity)) << "written past the capacity";
      if (c.result == 0) {
        EXPECT_EQ(std::memcmp(query.data.data(), text.c_str(), c.length + 1), 0);
      }
    }
  }
}

// Records what the settings code must survive: a string stored without a
// terminator that fills the 256 bytes. Windows answers success, 256 bytes,
// no terminator; the stand-in, whose values always get one, answers 234
// with 257 needed. Either way nothing lands past the capacity.
TEST_F(PlatformBasics, RegistryUnterminatedValueFillingTheBuffer) {
  const std::string text(256, 'q');
  ASSERT_EQ(writeString(subKey_, "Path", text, false), 0);
  for (const Opener& opener : kOpeners) {
    SCOPED_TRACE(opener.name);
    const QueryResult query = queryValue(opener.open, subKey_, "Path");
    EXPECT_TRUE(guardsIntactFrom(query, kValueCapacity));
    if (kWindows) {
      EXPECT_EQ(query.result, 0);
      EXPECT_EQ(query.size, 256u);
      EXPECT_EQ(std::memcmp(query.data.data(), text.data(), 256), 0);
    } else {
      EXPECT_EQ(query.result, 234);
      EXPECT_EQ(query.size, 257u);
    }
  }
}

// Catches a value that is still readable after deletion, and a deleted
// key that still opens (the tests' own clean-up relies on both).
TEST_F(PlatformBasics, RegistryDeletedValueAndKeyAreGone) {
  ASSERT_EQ(writeString(subKey_, "Path", "C:\\Horamat"), 0);
  ASSERT_EQ(writeString(subKey_, "Version", "1.0"), 0);
  EXPECT_EQ(platform::regDeleteValue(subKey_.c_str(), "Path"), 0);
  EXPECT_EQ(queryValue(platform::regOpenKeyPlain, subKey_, "Path").result, 2);
  EXPECT_EQ(queryValue(platform::regOpenKeyPlain, subKey_, "Version").result, 0);
  EXPECT_EQ(platform::regDeleteValue(subKey_.c_str(), "Path"), 2);
  EXPECT_EQ(platform::regDeleteKey(subKey_.c_str()), 0);
  platform::RegKey key = nullptr;
  EXPECT_EQ(platform::regOpenKeyPlain(subKey_.c_str(), &key), 2);
}

// Catches a stand-in value file written by hand (echo adds a newline) that
// reads with the newline, and more than one newline dropped.
TEST_F(PlatformBasics, StandInDropsOneTrailingNewline) {
  if (kWindows) GTEST_SKIP() << "stand-in storage rule";
  const struct {
    std::string stored;
    std::string value;
  } kCases[] = {
      {"/opt/horamat\n", "/opt/horamat"},
      {"/opt/horamat", "/opt/horamat"},
      {"a\n\n", "a\n"},
      {"\n", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stored);
    ASSERT_EQ(writeString(subKey_, "Path", c.stored, false), 0);
    const QueryResult query = queryValue(platform::regOpenKeyFullAccess, subKey_, "Path");
    ASSERT_EQ(query.result, 0);
    EXPECT_EQ(query.size, c.value.size() + 1);
    EXPECT_EQ(std::memcmp(query.data.data(), c.value.c_str(), c.value.size() + 1), 0);
  }
}

// Catches the scheduler's full-access open succeeding for an account that
// may only read the key: it must fail with 5, while the installer's plain
// open still reads.
TEST_F(PlatformBasics, StandInFullAccessNeedsWritePermission) {
  if (kWindows) GTEST_SKIP() << "Wine grants every access; the stand-in's folders model it";
  ASSERT_EQ(writeString(subKey_, "Path", "/opt/horamat"), 0);
  const fs::path folder = testsupport::standInKeyFolder(subKey_.c_str());
  std::error_code error;
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, error);
  ASSERT_FALSE(error) << error.message();
  // Whoever may write a read-only folder all the same (root) cannot be
  // refused: nothing to test then.
  const bool privileged = writeBytes(folder / "probe", "x");
  if (!privileged) {
    platform::RegKey key = nullptr;
    EXPECT_EQ(platform::regOpenKeyFullAccess(subKey_.c_str(), &key), 5);
    EXPECT_EQ(key, nullptr);
    const QueryResult query = queryValue(platform::regOpenKeyPlain, subKey_, "Path");
    EXPECT_EQ(query.result, 0);
    EXPECT_EQ(query.size, 13u);
  }
  fs::permissions(folder, fs::perms::owner_all, error);
  if (privileged) GTEST_SKIP() << "running privileged: a read-only folder is writable";
}

}  // namespace
