// Who else may change a file, judged on Windows from its security
// descriptor: the owner and the access list, entry by entry. Wine keeps no
// access lists on files (every file reads back as SYSTEM and the Wine user
// with full control, Everyone reading), so the descriptors are built from
// SDDL. Built for the Windows target only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_access.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> writersOf(const char* sddl, bool folder, const char* serviceAccount = "") {
  platform::Writers writers;
  EXPECT_EQ(platform::otherWritersOfSddl(sddl, folder, serviceAccount, writers), platform::AccessCheck::Checked)
      << sddl;
  std::vector<std::string> names;
  for (int i = 0; i < writers.count; ++i) names.emplace_back(writers.names[static_cast<std::size_t>(i)].data());
  return names;
}

constexpr const char* kUser = "S-1-5-21-1-2-3-1001";  // an account no machine has

}  // namespace

TEST(AccessList, WhoMayChange) {
  const struct {
    const char* sddl;
    bool folder;
    std::vector<std::string> writers;
  } cases[] = {
      // what the setup leaves: Administrators own it, they and SYSTEM have
      // full control, Users read and run, nothing inherited
      {"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true, {}},
      // a folder below C:\ as it inherits: Authenticated Users may modify
      {"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)(A;OICIID;0x1200a9;;;BU)",
       true,
       {"Authentifizierte Benutzer (S-1-5-11)"}},
      {"O:BAD:(A;;FA;;;WD)", false, {"Jeder (S-1-1-0)"}},
      {"O:BAD:(A;;0x2;;;IU)", false, {"INTERAKTIV (S-1-5-4)"}},          // write data only
      {"O:BAD:(A;;0x4;;;BU)", false, {"Benutzer (S-1-5-32-545)"}},        // append only
      {"O:BAD:(A;;GW;;;BU)", false, {"Benutzer (S-1-5-32-545)"}},         // generic write
      {"O:BAD:(A;;0x10000;;;BG)", false, {"Gaeste (S-1-5-32-546)"}},      // delete
      {"O:BAD:(A;;0x40000;;;BU)", false, {"Benutzer (S-1-5-32-545)"}},    // change permissions
      {"O:BAD:(A;;0x80000;;;BU)", false, {"Benutzer (S-1-5-32-545)"}},    // take ownership
      {"O:BAD:(A;;0x1200a9;;;WD)", false, {}},                            // read and run
      // deleting what a folder holds replaces it; a file holds nothing
      {"O:BAD:(A;;0x40;;;BU)", true, {"Benutzer (S-1-5-32-545)"}},
      {"O:BAD:(A;;0x40;;;BU)", false, {}},
      // an account without a name here shows as its SID
      {"O:BAD:(A;;FA;;;S-1-5-21-1-2-3-1001)", false, {kUser}},
      // no access list at all: everyone may do everything (Wine reads
      // "D:NO_ACCESS_CONTROL" as an empty list, so the list is left out)
      {"O:BA", false, {"Jeder (S-1-1-0)"}},
      // handed down to children only, not for this folder
      {"O:BAD:(A;OICIIO;FA;;;BU)", true, {}},
      // denied first, to them or to everyone, then allowed: not granted
      {"O:BAD:(D;;0xd0046;;;BU)(A;;FA;;;BU)", true, {}},
      {"O:BAD:(D;;0xd0046;;;WD)(A;;FA;;;AU)", true, {}},
      // denied after the allowance: Windows has already granted it
      {"O:BAD:(A;;FA;;;BU)(D;;0xd0046;;;BU)", true, {"Benutzer (S-1-5-32-545)"}},
      // the trusted: TrustedInstaller, CREATOR OWNER
      {"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:"
       "(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;;FA;;;CO)",
       false,
       {}},
      // an owner may change the permissions, unless OWNER RIGHTS limit that
      {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", false, {std::string("Besitzer ") + kUser}},
      {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)(A;;0x1200a9;;;OW)", false, {}},
      // one name for a SID that several entries allow
      {"O:BAD:(A;;0x2;;;BU)(A;;0x4;;;BU)", false, {"Benutzer (S-1-5-32-545)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sddl);
    EXPECT_EQ(writersOf(c.sddl, c.folder), c.writers);
  }
}

// The service's own account may change what it runs: it runs it anyway.
TEST(AccessList, TheServiceAccountIsTrusted) {
  const char* sddl = "O:BAD:(A;;FA;;;LS)";  // LOCAL SERVICE
  EXPECT_EQ(writersOf(sddl, false), std::vector<std::string>{"LOKALER DIENST (S-1-5-19)"});
  EXPECT_EQ(writersOf(sddl, false, "NT AUTHORITY\\LocalService"), std::vector<std::string>{});
  EXPECT_EQ(writersOf(sddl, false, "LocalSystem"), std::vector<std::string>{"LOKALER DIENST (S-1-5-19)"});
}

// More writers than the list holds are counted, not lost.
TEST(AccessList, WritersBeyondTheListAreCounted) {
  platform::Writers writers;
  ASSERT_EQ(platform::otherWritersOfSddl("O:BAD:(A;;FA;;;WD)(A;;FA;;;AU)(A;;FA;;;BU)(A;;FA;;;IU)(A;;FA;;;BG)"
                                         "(A;;FA;;;NU)(A;;FA;;;AN)(A;;FA;;;S-1-5-21-1-2-3-1001)",
                                         false, "", writers),
            platform::AccessCheck::Checked);
  EXPECT_EQ(writers.count, platform::kMaxWriters);
  EXPECT_EQ(writers.more, 8 - platform::kMaxWriters);
}

// A real file under Wine: the default list names SYSTEM and the Wine
// user, a member of Administrators, so nobody else. A file that is not
// there is no finding. The fix for a folder is the setup's own icacls
// lines; a drive's root gets none, its rights are Windows'.
TEST(AccessList, RealFilesAndTheFix) {
  const std::string dir = testsupport::makeTempDir("access");
  const std::string file = testsupport::joinPath(dir, "CronTab.txt");
  testsupport::writeFile(file, "0 12 * * * notepad\r\n");
  platform::Writers writers;
  EXPECT_EQ(platform::otherWriters(file.c_str(), "", writers), platform::AccessCheck::Checked);
  EXPECT_EQ(writers.count, 0) << writers.names[0].data();
  EXPECT_EQ(platform::otherWriters(dir.c_str(), "", writers), platform::AccessCheck::Checked);
  EXPECT_EQ(writers.count, 0) << writers.names[0].data();
  EXPECT_EQ(platform::otherWriters((dir + "\\fehlt.exe").c_str(), "", writers), platform::AccessCheck::Missing);
  testsupport::removeTree(dir);

  char fix[1024];
  ASSERT_TRUE(platform::accessFix("C:\\Horamat", true, fix, sizeof fix));
  EXPECT_STREQ(fix,
               "icacls \"C:\\Horamat\" /setowner *S-1-5-32-544 /T /L && icacls \"C:\\Horamat\" /inheritance:r "
               "/grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX && icacls "
               "\"C:\\Horamat\\*\" /reset /T /C /L /Q");
  ASSERT_TRUE(platform::accessFix("C:\\Horamat\\CronTab.txt", false, fix, sizeof fix));
  EXPECT_STREQ(fix,
               "icacls \"C:\\Horamat\\CronTab.txt\" /setowner *S-1-5-32-544 && icacls "
               "\"C:\\Horamat\\CronTab.txt\" /reset");
  EXPECT_FALSE(platform::accessFix("C:\\", true, fix, sizeof fix));
  EXPECT_FALSE(platform::accessFix("C:\\Horamat", true, fix, 40));  // does not fit: no half command
}
