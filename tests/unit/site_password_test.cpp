// The site password file: which files are accepted, what is read from them, and
// what the connection is given (the site's password, the built-in one, or none
// after a box naming the file).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "box_log.h"
#include "credentials.h"
#include "persistCalendar.h"
#include "site_password.h"
#include "test_env.h"

namespace {

using testenv::ScopedEnv;
using testenv::TempDir;

struct ModeCase {
  const char* name;
  uint32_t mode;
  uint32_t owner;
  uint32_t self;
  const char* problem;  // a word the reason must hold; null: accepted
};

class SitePasswordModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SitePasswordModes, AcceptsOnlyPrivateFilesOfRootOrThisAccount) {
  const ModeCase& c = GetParam();
  const char* problem = sitePasswordFileProblem(c.mode, c.owner, c.self);
  if (c.problem == nullptr) {
    EXPECT_EQ(problem, nullptr) << problem;
  } else {
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SitePasswordModes,
    ::testing::Values(ModeCase{"RootOwner0600", S_IFREG | 0600, 0, 1000, nullptr},
                      ModeCase{"RootOwnerGroupReads0640", S_IFREG | 0640, 0, 1000, nullptr},
                      ModeCase{"OwnAccount0600", S_IFREG | 0600, 1000, 1000, nullptr},
                      ModeCase{"OwnAccountReadOnly0400", S_IFREG | 0400, 1000, 1000, nullptr},
                      ModeCase{"OthersRead0644", S_IFREG | 0644, 0, 1000, "others can read"},
                      ModeCase{"OthersReadOnly0604", S_IFREG | 0604, 0, 0, "others can read"},
                      ModeCase{"OthersWrite0602", S_IFREG | 0602, 0, 0, "others can write"},
                      ModeCase{"GroupWrite0660", S_IFREG | 0660, 0, 0, "others can write"},
                      ModeCase{"AnotherUsersFile", S_IFREG | 0600, 1001, 1000, "another user"},
                      ModeCase{"AnotherUsersFileSeenByRoot", S_IFREG | 0600, 1001, 0, "another user"},
                      ModeCase{"Directory", S_IFDIR | 0700, 0, 0, "not a regular file"},
                      ModeCase{"Fifo", S_IFIFO | 0600, 0, 0, "not a regular file"}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

// A file of the test's own account with the given mode and content.
std::string writeFile(const TempDir& dir, const std::string& name, const std::string& content, mode_t mode) {
  std::string path = dir.write(name, content);
  EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
  return path;
}

struct ReadCase {
  const char* name;
  std::string content;
  mode_t mode;
  SitePasswordState state;
  const char* expected;  // Read: the password; Refused: a word of the reason
};

class SitePasswordRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SitePasswordRead, TakesTheFirstLineOfASoundFile) {
  const ReadCase& c = GetParam();
  TempDir dir;
  const std::string path = writeFile(dir, "winzel.password", c.content, c.mode);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  SitePasswordFile file = readSitePasswordAt(path.c_str(), true, buffer, sizeof buffer);
  EXPECT_EQ(std::string(file.path), path);
  ASSERT_EQ(static_cast<int>(file.state), static_cast<int>(c.state)) << file.reason;
  if (c.state == SitePasswordState::Read) {
    EXPECT_EQ(std::string(buffer), c.expected);
  } else {
    EXPECT_EQ(buffer[0], '\0') << "nothing of a refused file is handed on";
    EXPECT_NE(std::string(file.reason).find(c.expected), std::string::npos) << file.reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SitePasswordRead,
    ::testing::Values(
        ReadCase{"OneLine", "s3cret-1\n", 0600, SitePasswordState::Read, "s3cret-1"},
        ReadCase{"NoLineEnd", "s3cret-1", 0600, SitePasswordState::Read, "s3cret-1"},
        ReadCase{"CarriageReturn", "s3cret-1\r\n", 0600, SitePasswordState::Read, "s3cret-1"},
        ReadCase{"OnlyTheFirstLine", "first\nsecond\n", 0640, SitePasswordState::Read, "first"},
        ReadCase{"BlanksBelongToIt", " a b \n", 0600, SitePasswordState::Read, " a b "},
        ReadCase{"LongestThatFits", std::string(15, 'p'), 0600, SitePasswordState::Read, "ppppppppppppppp"},
        ReadCase{"TooLong", std::string(16, 'p'), 0600, SitePasswordState::Refused, "longer than 15"},
        ReadCase{"Empty", "", 0600, SitePasswordState::Refused, "empty"},
        ReadCase{"EmptyFirstLine", "\nsecret\n", 0600, SitePasswordState::Refused, "empty"},
        ReadCase{"NulInside", std::string("ab\0cd\n", 6), 0600, SitePasswordState::Refused, "NUL"},
        ReadCase{"Huge", std::string(5000, 'p'), 0600, SitePasswordState::Refused, "too big"},
        ReadCase{"WorldReadable", "s3cret\n", 0644, SitePasswordState::Refused, "others can read"},
        ReadCase{"WorldWritable", "s3cret\n", 0602, SitePasswordState::Refused, "others can write"},
        ReadCase{"GroupWritable", "s3cret\n", 0620, SitePasswordState::Refused, "others can write"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

// Windows: the file's owner and access list. Rights: 0x1 read data, 0x2 write
// data, 0x4 append, 0x100 write attributes, 0x10000 delete, 0x40000 write the
// access list, 0x80000 take ownership, 0x10000000 generic all, 0x40000000
// generic write, 0x80000000 generic read, 0x1200a9 read and execute.
struct AclCase {
  const char* name;
  bool hasDacl;
  std::vector<SiteAce> aces;
  AceTrustee owner;
  const char* problem;  // a word the reason must hold; null: accepted
};

TEST(SitePasswordAcl, LetsOnlyAdministratorsSystemAndThisAccountChangeTheFile) {
  using T = AceTrustee;
  const SiteAce adminsFull{true, false, 0x1f01ff, T::Administrators};
  const SiteAce systemFull{true, false, 0x1f01ff, T::System};
  const SiteAce usersRead{true, false, 0x1200a9, T::Other};
  const std::vector<AclCase> cases = {
      {"the folder's permissions, inherited", true, {adminsFull, systemFull, usersRead}, T::Administrators, nullptr},
      {"owned by SYSTEM", true, {adminsFull, systemFull}, T::System, nullptr},
      {"owned by this account, which may write", true, {{true, false, 0x1f01ff, T::Self}, usersRead}, T::Self, nullptr},
      {"generic read for others", true, {adminsFull, {true, false, 0x80000000u, T::Other}}, T::Administrators, nullptr},
      {"others' write only passed on to new files", true, {adminsFull, {true, true, 0x40000000u, T::Other}},
       T::Administrators, nullptr},
      {"a deny entry is no grant", true, {adminsFull, {false, false, 0x1f01ff, T::Other}}, T::Administrators, nullptr},
      {"no access list", false, {}, T::Administrators, "no access list"},
      {"owned by another account", true, {adminsFull}, T::Other, "owned by another account"},
      {"others may write data", true, {adminsFull, {true, false, 0x2, T::Other}}, T::Administrators, "can change"},
      {"others may append", true, {adminsFull, {true, false, 0x4, T::Other}}, T::Administrators, "can change"},
      {"others may write attributes", true, {adminsFull, {true, false, 0x100, T::Other}}, T::Administrators,
       "can change"},
      {"others may delete", true, {adminsFull, {true, false, 0x10000, T::Other}}, T::Administrators, "can change"},
      {"others may rewrite the access list", true, {adminsFull, {true, false, 0x40000, T::Other}}, T::Administrators,
       "can change"},
      {"others may take ownership", true, {adminsFull, {true, false, 0x80000, T::Other}}, T::Administrators,
       "can change"},
      {"others have generic write", true, {adminsFull, {true, false, 0x40000000u, T::Other}}, T::Administrators,
       "can change"},
      {"others have generic all", true, {{true, false, 0x10000000u, T::Other}}, T::Administrators, "can change"},
      // Deny entries are not weighed: a later allow entry still refuses the file.
      {"a deny entry before an allow entry", true,
       {{false, false, 0x2, T::Other}, {true, false, 0x2, T::Other}}, T::Administrators, "can change"},
  };
  for (const AclCase& c : cases) {
    SCOPED_TRACE(c.name);
    const char* problem = sitePasswordAclProblem(c.hasDacl, c.aces.data(), c.aces.size(), c.owner);
    if (c.problem == nullptr) {
      EXPECT_EQ(problem, nullptr) << problem;
    } else {
      ASSERT_NE(problem, nullptr);
      EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
    }
  }
}

TEST(SitePasswordFile, MissingAtTheDefaultPlaceIsNoSitePassword) {
  TempDir dir;
  char buffer[16] = "left over";
  SitePasswordFile file = readSitePasswordAt(dir.file("none").c_str(), false, buffer, sizeof buffer);
  EXPECT_EQ(static_cast<int>(file.state), static_cast<int>(SitePasswordState::Absent));
  EXPECT_EQ(buffer[0], '\0');
}

TEST(SitePasswordFile, MissingWhenNamedIsRefused) {
  TempDir dir;
  char buffer[16];
  SitePasswordFile file = readSitePasswordAt(dir.file("none").c_str(), true, buffer, sizeof buffer);
  EXPECT_EQ(static_cast<int>(file.state), static_cast<int>(SitePasswordState::Refused));
  EXPECT_NE(std::string(file.reason).find("cannot be opened"), std::string::npos) << file.reason;
}

TEST(SitePasswordFile, FolderAndFifoAreRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.path(), fifo}) {
    char buffer[16];
    SitePasswordFile file = readSitePasswordAt(path.c_str(), true, buffer, sizeof buffer);
    EXPECT_EQ(static_cast<int>(file.state), static_cast<int>(SitePasswordState::Refused)) << path;
    EXPECT_NE(std::string(file.reason).find("not a regular file"), std::string::npos) << file.reason;
  }
}

TEST(SitePasswordFile, ALinkIsJudgedByTheFileItLeadsTo) {
  TempDir dir;
  const std::string open = writeFile(dir, "open", "s3cret\n", 0644);
  const std::string link = dir.file("link");
  ASSERT_EQ(symlink(open.c_str(), link.c_str()), 0);
  char buffer[16];
  SitePasswordFile file = readSitePasswordAt(link.c_str(), true, buffer, sizeof buffer);
  EXPECT_EQ(static_cast<int>(file.state), static_cast<int>(SitePasswordState::Refused));
  EXPECT_EQ(buffer[0], '\0');
}

class DataSourcePassword : public ::testing::Test {
 protected:
  testenv::BoxLog boxes;
  TempDir dir;
};

TEST_F(DataSourcePassword, ASoundSiteFileGivesItsPassword) {
  const std::string path = writeFile(dir, "winzel.password", "site-pass-42\n", 0600);
  ScopedEnv env("U2LVOST_PASSWORD_FILE", path.c_str());
  const char* pw = dataSourcePassword();
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(std::string(pw), "site-pass-42");
  EXPECT_TRUE(boxes.texts.empty());
  // A changed file counts at the next connect.
  writeFile(dir, "winzel.password", "site-pass-43\n", 0600);
  pw = dataSourcePassword();
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(std::string(pw), "site-pass-43");
}

TEST_F(DataSourcePassword, ARefusedFileGivesNoPasswordAndOneBoxNamingIt) {
  struct Case {
    const char* file;
    const char* content;
    mode_t mode;
    const char* reason;
  };
  const Case cases[] = {{"readable", "site-pass\n", 0644, "others can read"},
                        {"writable", "site-pass\n", 0622, "others can write"},
                        {"empty", "", 0600, "empty"}};
  for (const Case& c : cases) {
    boxes.clear();
    const std::string path = writeFile(dir, c.file, c.content, c.mode);
    ScopedEnv env("U2LVOST_PASSWORD_FILE", path.c_str());
    EXPECT_EQ(dataSourcePassword(), nullptr) << c.file << ": never the built-in password instead";
    testenv::expectOneBox(boxes, kSitePasswordCaption, {path, c.reason});
    for (const std::string& text : boxes.texts)
      EXPECT_EQ(text.find("site-pass"), std::string::npos) << "the box never shows the password";
  }
}

TEST_F(DataSourcePassword, WithoutASiteFileTheBuiltInPasswordIsUsed) {
  // No override: the default place decides, and test machines have no site file there.
  ScopedEnv env("U2LVOST_PASSWORD_FILE", nullptr);
  char expected[128];
  SitePasswordFile atDefault = readSitePasswordAt("/etc/u2lvost/winzel.password", false, expected, sizeof expected);
  ASSERT_EQ(static_cast<int>(atDefault.state), static_cast<int>(SitePasswordState::Absent))
      << "this machine has a site password file at /etc/u2lvost/winzel.password";
  const char* pw = dataSourcePassword();
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(pw, passbuff);
  EXPECT_EQ(std::string(pw), std::string(getPassword()));
  EXPECT_TRUE(boxes.texts.empty());
  // An empty override is no override.
  ScopedEnv empty("U2LVOST_PASSWORD_FILE", "");
  EXPECT_EQ(dataSourcePassword(), passbuff);
  EXPECT_TRUE(boxes.texts.empty());
}

}  // namespace
