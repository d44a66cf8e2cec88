// The site's own password on real data sources: a sound file lets WINZEL in with
// a password the library does not know; a refused file means no connection even
// when its password is right. And the shipped library names nothing that leads
// to the password.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "box_log.h"
#include "credentials.h"
#include "odbc_env.h"
#include "persistCalendar.h"
#include "test_paths.h"

namespace {

using testenv::Backend;
using testenv::DataSource;
using testenv::ScopedEnv;
using testenv::Schema;
using testenv::TempDir;

const char kVersionQuery[] = "SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0";

std::string siteFile(const TempDir& dir, const std::string& password, mode_t mode) {
  std::string path = dir.write("winzel.password", password + "\n");
  EXPECT_EQ(chmod(path.c_str(), mode), 0);
  return path;
}

// Gives WINZEL another password for its lifetime, then puts the verifier back.
class RolePassword {
 public:
  RolePassword(const DataSource& ds, const std::string& password) : ds_(ds) {
    std::vector<std::string> v = ds.rows("SELECT rolpassword FROM pg_authid WHERE rolname = 'WINZEL'");
    if (v.size() != 1 || v[0].empty()) throw std::runtime_error("role WINZEL has no password on the test server");
    saved_ = v[0];
    ds.exec("ALTER ROLE \"WINZEL\" PASSWORD '" + password + "'");
  }
  ~RolePassword() {
    try {
      ds_.exec("ALTER ROLE \"WINZEL\" PASSWORD '" + saved_ + "'");
    } catch (...) {
    }
  }
  RolePassword(const RolePassword&) = delete;
  RolePassword& operator=(const RolePassword&) = delete;

 private:
  const DataSource& ds_;
  std::string saved_;
};

class SitePassword : public ::testing::Test {
 protected:
  testenv::BoxLog boxes;
  TempDir dir;
};

TEST_F(SitePassword, PostgresRoleWithTheSitesPasswordConnectsOnlyThroughTheFile) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  const std::string password = "site-only-Pw-7341";
  RolePassword role(ds, password);

  {  // the built-in password no longer fits
    ScopedEnv none("U2LVOST_PASSWORD_FILE", nullptr);
    CPersistCalendar pc;
    EXPECT_FALSE(pc.prepareHSTMT(kVersionQuery));
    ASSERT_FALSE(boxes.texts.empty());
    EXPECT_EQ(boxes.captions[0], "SQL Error");
    EXPECT_EQ(boxes.texts[0].rfind("SQLConnect (openHDBC)", 0), 0u) << boxes.texts[0];
  }
  {  // the site's file, owned by this account, mode 0600
    boxes.clear();
    ScopedEnv file("U2LVOST_PASSWORD_FILE", siteFile(dir, password, 0600).c_str());
    CPersistCalendar pc;
    ASSERT_TRUE(pc.prepareHSTMT(kVersionQuery)) << (boxes.texts.empty() ? "" : boxes.texts[0]);
    char info[64];
    ASSERT_NE(pc.getString(1, info, sizeof info), nullptr);
    EXPECT_EQ(std::string(info), ds.rows("SELECT Info FROM VersionTable WHERE AppID = 0 AND ItemNumber = 0").at(0));
    EXPECT_TRUE(boxes.texts.empty());
  }
  {  // the same right password in a file others can read: refused, no connection
    boxes.clear();
    const std::string path = siteFile(dir, password, 0644);
    ScopedEnv file("U2LVOST_PASSWORD_FILE", path.c_str());
    CPersistCalendar pc;
    EXPECT_FALSE(pc.prepareHSTMT(kVersionQuery));
    testenv::expectOneBox(boxes, kSitePasswordCaption, {path, "others can read"});
  }
}

TEST_F(SitePassword, RefusedFileOnSqliteMeansNoConnectionAndOneBox) {
  // The SQLite driver takes any password: a statement that ran would show that a
  // connection was made despite the refusal.
  DataSource ds(Backend::SQLite, Schema::V4);
  const std::string path = siteFile(dir, "whatever", 0666);
  ScopedEnv file("U2LVOST_PASSWORD_FILE", path.c_str());
  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT(kVersionQuery));
  testenv::expectOneBox(boxes, kSitePasswordCaption, {path, "others can"});

  // With the file made private the same object connects once terminated.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  pc.terminate();
  boxes.clear();
  EXPECT_TRUE(pc.prepareHSTMT(kVersionQuery));
  EXPECT_TRUE(boxes.texts.empty());
}

// After the refusal the job's further statements are failures without a box of
// their own: no statement goes out on a connection that was never made.
TEST_F(SitePassword, RefusedFileIsOneBoxForTheWholeJob) {
  DataSource ds(Backend::SQLite, Schema::V4);
  const std::string path = siteFile(dir, "whatever", 0644);
  ScopedEnv file("U2LVOST_PASSWORD_FILE", path.c_str());
  CPersistCalendar pc;
  const char* const statements[] = {kVersionQuery, "SELECT CompanyID FROM Company", kVersionQuery};
  for (const char* sql : statements) EXPECT_FALSE(pc.prepareHSTMT(sql)) << sql;
  for (size_t i = 0; i < boxes.texts.size(); ++i)
    EXPECT_EQ(boxes.captions[i], kSitePasswordCaption) << boxes.texts[i];
  testenv::expectOneBox(boxes, kSitePasswordCaption, {path, "others can read"});

  // Through the library: no date, and still only the one box.
  boxes.clear();
  pc.terminate();
  pc.startJob();
  EXPECT_EQ(pc.getFiscalYearEndInMonths(1, 1, 2000, 3, 15), 0.0);
  EXPECT_EQ(pc.getFiscalYearEndInMonths(2, 1, 2000, 3, 15), 0.0);
  testenv::expectOneBox(boxes, kSitePasswordCaption, {path});
}

std::string runCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(SitePasswordSymbols, TheLibraryNamesOnlyItsExports) {
  const std::string lib = U2LVOST_LIBRARY;
  const std::string all = runCommand("nm '" + lib + "' 2>&1; nm -D --defined-only '" + lib + "' 2>&1");
  // The exports are there, so nm did read the library.
  for (const char* name : {"ZelFYEnd", "ZelNum", "UFInitialize", "DllGetClassObject"})
    EXPECT_NE(all.find(name), std::string::npos) << name << " missing from:\n" << all;
  std::string lower = all;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* word : {"pass", "scrambl", "credential", "sitebuff"})
    EXPECT_EQ(lower.find(word), std::string::npos) << "'" << word << "' in the symbols of " << lib << ":\n" << all;
}

}  // namespace
