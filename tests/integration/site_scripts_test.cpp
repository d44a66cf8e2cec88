// The set-up scripts a site runs: scripts/odbc-dsn.sh (install into the user's or
// the system's odbc.ini with odbcinst, the private folder), db/pg_role.sh and
// db/make_sample.sh on the PostgreSQL server of scripts/pg.sh.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "odbc_env.h"
#include "site_run.h"

namespace {

using sitetest::contains;
using sitetest::count;
using sitetest::shellQuote;

const std::string kOdbcDsn = shellQuote(U2LVOST_SOURCE_DIR "/scripts/odbc-dsn.sh");

// A private user's odbc.ini, system folder (with another data source) and driver list.
class OdbcFiles {
 public:
  OdbcFiles() {
    dir_.write("odbc.ini", "[Other]\nDriver = SQLite3\nDatabase = /srv/other.db\n");
    dir_.write("odbcinst.ini",
               "[SQLite3]\nDriver = libsqlite3odbc.so\n\n[PostgreSQL Unicode]\nDriver = psqlodbcw.so\n");
  }
  std::string env() const {
    return "ODBCINI=" + shellQuote(dir_.file("user.ini")) + " ODBCSYSINI=" + shellQuote(dir_.path()) + " ";
  }
  sitetest::Outcome run(const std::string& args) const {
    return sitetest::runCommand(dir_, env() + "bash " + kOdbcDsn + " " + args);
  }
  std::string user() const { return testenv::readFile(dir_.file("user.ini")); }
  std::string system() const { return testenv::readFile(dir_.file("odbc.ini")); }
  const testenv::TempDir& dir() const { return dir_; }

 private:
  testenv::TempDir dir_;
};

TEST(OdbcDsnScript, InstallsIntoTheChosenOdbcIniAndKeepsTheOthers) {
  struct Case {
    const char* args;
    bool system;
    std::vector<const char*> entries;
  } cases[] = {
      {"install --user sqlite /srv/assets/company.db", false,
       {"Driver=SQLite3", "Database=/srv/assets/company.db", "NoCreat=1"}},
      {"install --system postgres db.example.com 5432 assets", true,
       {"Driver=PostgreSQL Unicode", "Servername=db.example.com", "Port=5432", "Database=assets", "SSLmode=prefer",
        "ReadOnly=1"}},
      {"install --user --sslmode require postgres db.example.com 5433 assets", false,
       {"SSLmode=require", "Port=5433"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    OdbcFiles files;
    sitetest::Outcome o = files.run(c.args);
    ASSERT_EQ(o.code, 0) << o.err;
    const std::string target = c.system ? files.dir().file("odbc.ini") : files.dir().file("user.ini");
    EXPECT_TRUE(contains(o.out, "WINZELRW installed into " + target)) << o.out;
    // Again: the earlier definition is replaced, not doubled.
    ASSERT_EQ(files.run(c.args).code, 0);
    const std::string ini = c.system ? files.system() : files.user();
    EXPECT_EQ(count(ini, "[WINZELRW]"), 1u) << ini;
    for (const char* e : c.entries) EXPECT_TRUE(contains(ini, e)) << e << "\n" << ini;
    EXPECT_FALSE(contains(ini, "UID") || contains(ini, "PWD") || contains(ini, "Password")) << ini;
    EXPECT_TRUE(contains(files.system(), "[Other]")) << files.system();  // the others stay
  }
}

TEST(OdbcDsnScript, RefusesWhatItCannotInstall) {
  struct Case {
    const char* args;
    int code;
    const char* err;
  } cases[] = {
      {"install --user sqlite", 2, "usage:"},
      {"install --user mysql h 1 d", 2, "usage:"},
      {"sqlite /tmp/x.db", 2, "usage:"},
      {"wine", 2, "usage:"},
      // A line break would start another line, or another data source's section,
      // of odbc.ini.
      {"install --system postgres 'db.example.com\n[Other]\nDatabase=/tmp/x.db' 5432 assets", 2, "line break"},
      {"install --system --sslmode 'require\nServername=x.example.com' postgres db 5432 assets", 2, "line break"},
      {"install --user sqlite '/srv/a\r\n[Other]\nDriver=x'", 2, "line break"},
      {"sqlite '/srv/a.db\nUID=x' @private", 2, "line break"},
      // A data source that could never connect is not installed as if it could.
      {"install --user postgres db.example.com 54x2 assets", 2, "not a port"},
      {"install --user postgres db.example.com 65536 assets", 2, "not a port"},
      {"install --user postgres '' 5432 assets", 2, "empty"},
      {"install --user postgres db.example.com 5432 ''", 2, "empty"},
      {"install --user sqlite ''", 2, "empty"},
      {"install --user --sslmode requre postgres db.example.com 5432 assets", 2, "SSL mode"},
      {"--sslmode verify postgres 127.0.0.1 5432 assets @private", 2, "SSL mode"},
  };
  for (const Case& c : cases) {
    OdbcFiles files;
    const std::string system = files.system();
    std::string args = c.args;
    if (args.find('@') != std::string::npos) args.replace(args.find('@'), 1, files.dir().path() + "/");
    sitetest::Outcome o = files.run(args);
    EXPECT_EQ(o.code, c.code) << c.args;
    EXPECT_TRUE(contains(o.err, c.err)) << c.args << ": " << o.err;
    EXPECT_EQ(files.system(), system) << c.args;
    EXPECT_FALSE(contains(files.user(), "WINZELRW")) << c.args;
    EXPECT_NE(access(files.dir().file("private/odbc.ini").c_str(), F_OK), 0) << c.args;
  }
  OdbcFiles files;
  files.dir().write("odbcinst.ini", "[PostgreSQL Unicode]\nDriver = psqlodbcw.so\n");
  sitetest::Outcome o = files.run("install --user sqlite /srv/a.db");
  EXPECT_EQ(o.code, 1);
  EXPECT_TRUE(contains(o.err, "the driver \"SQLite3\" is not registered in odbcinst.ini")) << o.err;
  EXPECT_FALSE(contains(files.user(), "WINZELRW"));
}

TEST(OdbcDsnScript, PrivateFolderKeepsItsInterface) {
  OdbcFiles files;
  const std::string dir = files.dir().file("private");
  sitetest::Outcome o = files.run("postgres 127.0.0.1 5432 assets " + shellQuote(dir));
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "export ODBCINI=" + dir + "/odbc.ini\nexport ODBCSYSINI=" + dir + "\n");
  const std::string ini = testenv::readFile(dir + "/odbc.ini");
  EXPECT_TRUE(contains(ini, "SSLmode     = prefer")) << ini;
  EXPECT_TRUE(contains(testenv::readFile(dir + "/odbcinst.ini"), "psqlodbcw.so"));
  o = files.run("--sslmode disable postgres 127.0.0.1 5432 assets " + shellQuote(dir));
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(testenv::readFile(dir + "/odbc.ini"), "SSLmode     = disable"));
}

// The private folder's two files are the script's own: a folder whose files define
// other data sources or drivers (the system's, a user's) is left as it was.
TEST(OdbcDsnScript, PrivateFolderLeavesOtherDefinitionsAlone) {
  struct Case {
    const char* name;
    const char* odbcIni;      // already in the folder, or null
    const char* odbcinstIni;  // already in the folder, or null
    const char* args;         // then the folder
    int code;
  } cases[] = {
      {"another data source", "[Other]\nDriver = SQLite3\nDatabase = /srv/other.db\n", nullptr,
       "sqlite /srv/a.db", 2},
      {"the system's drivers", nullptr, "[SQLite]\nDriver = libsqliteodbc.so\n\n[SQLite3]\nDriver = libsqlite3odbc.so\n",
       "postgres 127.0.0.1 5432 assets", 2},
      {"the Wine form too", "[WINZELRW]\nDriver = SQLite3\n\n[Other]\nDriver = SQLite3\n", nullptr,
       "wine /dev/null/prefix sqlite /srv/a.db", 2},
      // Its own files of an earlier run, of either backend, are replaced.
      {"an earlier run", "[WINZELRW]\nDescription = u2lvost company database (PostgreSQL)\nDriver = PostgreSQL Unicode\n",
       "[PostgreSQL Unicode]\nDescription = PostgreSQL Unicode ODBC driver\nDriver = /x/psqlodbcw.so\n", "sqlite /srv/a.db",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testenv::TempDir dir;
    if (c.odbcIni != nullptr) dir.write("odbc.ini", c.odbcIni);
    if (c.odbcinstIni != nullptr) dir.write("odbcinst.ini", c.odbcinstIni);
    sitetest::Outcome o = sitetest::runCommand(dir, "bash " + kOdbcDsn + " " + c.args + " " + shellQuote(dir.path()));
    EXPECT_EQ(o.code, c.code) << o.err;
    if (c.code != 0) {
      EXPECT_TRUE(contains(o.err, "odbc-dsn.sh: " + dir.path() + "/odbc")) << o.err;
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(testenv::readFile(dir.file("odbc.ini")), c.odbcIni ? c.odbcIni : "");
      EXPECT_EQ(testenv::readFile(dir.file("odbcinst.ini")), c.odbcinstIni ? c.odbcinstIni : "");
    } else {
      EXPECT_TRUE(contains(testenv::readFile(dir.file("odbc.ini")), "Database    = /srv/a.db"));
      EXPECT_TRUE(contains(testenv::readFile(dir.file("odbcinst.ini")), "[SQLite3]"));
    }
  }
}

// The README's steps on the report host: install the data source, then --check.
TEST(OdbcDsnScript, AnInstalledDataSourcePassesTheCheck) {
  OdbcFiles files;
  const std::string db = files.dir().file("company.db");
  ASSERT_EQ(std::system(("bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/make_sample.sh") + " sqlite 4 " +
                         shellQuote(db))
                            .c_str()),
            0);
  ASSERT_EQ(files.run("install --user sqlite " + shellQuote(db)).code, 0);
  testenv::ScopedEnv ini("ODBCINI", files.dir().file("user.ini").c_str());
  testenv::ScopedEnv sys("ODBCSYSINI", files.dir().path().c_str());
  testenv::ScopedEnv search("ODBCSEARCH", nullptr);
  sitetest::Site site;
  sitetest::Outcome o = site.ufhost({"--check"});
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(contains(o.out, "ok    data source       WINZELRW in " + files.dir().file("user.ini") +
                                  ", driver \"SQLite3\" (libsqlite3odbc.so) at /"))
      << o.out;
}

// A sample that cannot be made leaves the file that was there: a site without the
// sqlite3 program (the ODBC driver does not bring it), a target that is a folder.
TEST(MakeSampleScript, AFailedSqliteBuildLeavesWhatWasThere) {
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/make_sample.sh") + " sqlite 4 ";
  struct Case {
    const char* name;
    bool withoutSqlite3;
    bool folder;
    const char* err;
  } cases[] = {
      {"no sqlite3 program", true, false, "sqlite3"},
      {"a folder", false, true, "company.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testenv::TempDir dir;
    const std::string target = dir.file("company.db");
    std::string path = "PATH=" + shellQuote(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin") + " ";
    if (c.withoutSqlite3) {
      // Every program of the system but sqlite3.
      ASSERT_EQ(std::system(("mkdir " + shellQuote(dir.file("bin")) + " && find /usr/bin/ /bin/ -maxdepth 1 ! -name sqlite3 " +
                             "! -type d -exec ln -sf -t " + shellQuote(dir.file("bin")) + " {} +")
                                .c_str()),
                0);
      path = "PATH=" + shellQuote(dir.file("bin")) + " ";
    }
    if (c.folder) {
      ASSERT_EQ(std::system(("mkdir " + shellQuote(target) + " && echo kept > " + shellQuote(target + "/inside")).c_str()),
                0);
    } else {
      dir.write("company.db", "the site's company database\n");
    }
    sitetest::Outcome o = sitetest::runCommand(dir, path + script + shellQuote(target));
    EXPECT_NE(o.code, 0);
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
    if (c.folder) {
      EXPECT_EQ(testenv::readFile(target + "/inside"), "kept\n");
    } else {
      EXPECT_EQ(testenv::readFile(target), "the site's company database\n");
    }
    // Nothing half made is left beside it.
    sitetest::Outcome left = sitetest::runCommand(dir, "ls -A " + shellQuote(dir.path()));
    EXPECT_EQ(left.out, c.withoutSqlite3 ? "bin\ncmd.err\ncmd.out\ncompany.db\n" : "cmd.err\ncmd.out\ncompany.db\n");
  }
  // A run that succeeds replaces the file with one the report engine's account can
  // read, as a new file of the user's umask.
  testenv::TempDir dir;
  const std::string target = dir.write("company.db", "old\n");
  sitetest::Outcome o = sitetest::runCommand(dir, "(umask 027 && " + script + shellQuote(target) + " && stat -c %a " +
                                                      shellQuote(target) + " && sqlite3 " + shellQuote(target) +
                                                      " 'SELECT Info FROM VersionTable WHERE AppID = 0 AND ItemNumber = 0')");
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "Sample company database (schema 4) written to " + target + ".\n640\n4.1\n");
}

// Arguments that name nothing to make are refused, never answered with success.
TEST(MakeSampleScript, RefusesWhatItCannotMake) {
  struct Case {
    const char* args;
    const char* err;
  } cases[] = {
      {"sqlite 4 ''", "usage:"},
      {"sqlite 6 company.db", "usage:"},
      {"sqlite 4", "usage:"},
      {"postgres 4 ''", "usage:"},
      {"postgres 5 'company; DROP DATABASE postgres'", "database name"},
  };
  for (const Case& c : cases) {
    testenv::TempDir dir;
    sitetest::Outcome o = sitetest::runCommand(
        dir, "cd " + shellQuote(dir.path()) + " && bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/make_sample.sh") + " " + c.args);
    EXPECT_EQ(o.code, 2) << c.args << ": " << o.err;
    EXPECT_TRUE(contains(o.err, c.err)) << c.args << ": " << o.err;
    EXPECT_EQ(access(dir.file("company.db").c_str(), F_OK), -1) << c.args;
  }
}

// psql and the scripts as the server's owner, over the private socket.
std::string adminEnv() {
  testenv::PostgresFacts pg = testenv::PostgresFacts::fromEnvironment();
  return "PGHOST=" + shellQuote(pg.socketDir) + " PGPORT=" + shellQuote(pg.port) + " PGUSER=" + shellQuote(pg.admin) +
         " ";
}

TEST(PgRoleScriptPostgreSQL, PrintsTheLineOrAppliesItOnce) {
  const std::string env = adminEnv();
  testenv::TempDir dir;
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " ";
  sitetest::Outcome o = sitetest::runCommand(dir, env + script + "u2lvost_s4 --hosts 10.1.2.0/24,192.168.7.0/24");
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(o.out, "Role WINZEL: md5 verifier set, read only, may connect to u2lvost_s4")) << o.out;
  EXPECT_TRUE(contains(o.out, "    host    u2lvost_s4    WINZEL    10.1.2.0/24    md5\n")) << o.out;
  EXPECT_TRUE(contains(o.out, "    host    u2lvost_s4    WINZEL    192.168.7.0/24    md5\n")) << o.out;
  EXPECT_TRUE(contains(o.out, "pg_hba.conf above its first 'host ... scram-sha-256' line")) << o.out;
  EXPECT_TRUE(contains(o.out, "SELECT pg_reload_conf()")) << o.out;

  // The server's own pg_hba.conf, as the script found it.
  sitetest::Outcome hba = sitetest::runCommand(dir, env + "psql -X -q -A -t -d postgres -c 'SHOW hba_file'");
  ASSERT_EQ(hba.code, 0) << hba.err;
  const std::string file = hba.out.substr(0, hba.out.find('\n'));
  // A range of this run's own, so that a second run on the same server adds its line too.
  const int pid = static_cast<int>(getpid());
  const std::string range = "10." + std::to_string(pid / 256 % 256) + "." + std::to_string(pid % 256) + ".0/24";
  for (int round = 0; round < 2; ++round) {
    o = sitetest::runCommand(dir, env + script + "u2lvost_s4 --hosts " + range + " --apply");
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_TRUE(contains(o.out, round == 0 ? "Added to " + file : file + " already has the lines.")) << o.out;
    EXPECT_TRUE(contains(o.out, "Server reloaded.")) << o.out;
  }
  const std::string text = testenv::readFile(file);
  const std::string line = "host    u2lvost_s4    WINZEL    " + range + "    md5";
  EXPECT_EQ(count(text, line), 1u) << text;
  // Above every other host line, so no scram-sha-256 (or other) line matches first.
  size_t firstHost = text.find("\nhost");
  EXPECT_EQ(text.find("\n" + line), firstHost) << text;
}

// Stock Debian has no sudo: root runs the script, which runs psql as postgres and
// names the reload command as root can run it.
TEST(PgRoleScriptPostgreSQL, RootWorksThroughThePostgresAccount) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  testenv::PostgresFacts pg = testenv::PostgresFacts::fromEnvironment();
  testenv::TempDir dir;
  sitetest::Outcome o = sitetest::runCommand(
      dir, "env -u PGUSER PGHOST=" + shellQuote(pg.socketDir) + " PGPORT=" + shellQuote(pg.port) + " bash " +
               shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " u2lvost_s4 --hosts 10.1.2.0/24");
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(o.out, "Running psql as the postgres account (runuser -u postgres).\n")) << o.out;
  EXPECT_TRUE(contains(o.out, "Role WINZEL: ")) << o.out;
  EXPECT_TRUE(contains(o.out, "    runuser -u postgres -- psql -c 'SELECT pg_reload_conf()'\n")) << o.out;
  EXPECT_FALSE(contains(o.out, "VERSION")) << o.out;
}

// A site that gave WINZEL its own password keeps it when the script runs again
// (for a second database, say): the library logs in with the site's password file.
TEST(PgRoleScriptPostgreSQL, KeepsASitesOwnPasswordUnlessAskedToReset) {
  const std::string env = adminEnv();
  testenv::TempDir dir;
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " u2lvost_s4";
  auto stored = [&] {
    return sitetest::runCommand(dir, env + "psql -X -q -A -t -d postgres -c "
                                           "\"SELECT rolpassword FROM pg_authid WHERE rolname = 'WINZEL'\"")
        .out;
  };
  // The other tests log in with the built-in password: it is put back whatever happens here.
  struct BuiltInAgain {
    std::function<void()> reset;
    ~BuiltInAgain() { reset(); }
  } builtIn{[&] { sitetest::runCommand(dir, env + script + " --reset-password"); }};
  ASSERT_EQ(sitetest::runCommand(dir, env + script).code, 0);
  const std::string builtInVerifier = stored();
  ASSERT_EQ(builtInVerifier, "md57e5348df058a94bd5f0c16ebe6293965\n");

  ASSERT_EQ(sitetest::runCommand(dir, env + "psql -X -q -d postgres -c \"ALTER ROLE \\\"WINZEL\\\" PASSWORD 'the-sites-own'\"")
                .code,
            0);
  const std::string own = stored();
  ASSERT_NE(own, builtInVerifier);
  struct Case {
    const char* args;
    const char* said;
    bool keeps;
  } cases[] = {
      {"", "Role WINZEL: its own password kept", true},
      {" --hosts 10.1.2.0/24", "Role WINZEL: its own password kept", true},
      {" --reset-password", "Role WINZEL: md5 verifier set", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    sitetest::Outcome o = sitetest::runCommand(dir, env + script + c.args);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_TRUE(contains(o.out, c.said)) << o.out;
    EXPECT_EQ(stored(), c.keeps ? own : builtInVerifier);
  }
}

TEST(PgRoleScriptPostgreSQL, RefusesBadArguments) {
  testenv::TempDir dir;
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " ";
  struct Case {
    const char* args;
    const char* err;
  } cases[] = {
      {"", "usage:"},
      {"a b", "usage:"},
      {"assets --hosts", "usage:"},
      {"assets --bogus", "usage:"},
      {"'bad name'", "letters, digits"},
      {"assets --hosts 10.1.2.0", "with its mask"},
      {"assets --hosts '10.1.2.0/24;x'", "not an address range"},
      // PostgreSQL reads 10.1.2/24 as 10.1.0.2/24 and 010.1.2.0 as octal 8.1.2.0:
      // other hosts than the ones meant.
      {"assets --hosts 10.1.2/24", "not an address range"},
      {"assets --hosts 010.1.2.0/24", "not an address range"},
      {"assets --hosts 10.1.256.0/24", "not an address range"},
      {"assets --hosts 10.1.2.0/33", "not an address range"},
      {"assets --hosts abc/24", "not an address range"},
      {"assets --hosts 10.1.2.0/24/8", "not an address range"},
      {"assets --hosts fe80::/129", "not an address range"},
  };
  for (const Case& c : cases) {
    sitetest::Outcome o = sitetest::runCommand(dir, adminEnv() + script + c.args);
    EXPECT_EQ(o.code, 2) << c.args;
    EXPECT_TRUE(contains(o.err, c.err)) << c.args << ": " << o.err;
    EXPECT_EQ(o.out, "");
  }
}

// The test server's pg_hba.conf, put back as it was (and the server reloaded) at
// the end of the test.
class HbaFile {
 public:
  HbaFile() {
    sitetest::Outcome o = sitetest::runCommand(dir_, adminEnv() + "psql -X -q -A -t -d postgres -c 'SHOW hba_file'");
    path_ = o.out.substr(0, o.out.find('\n'));
    original_ = testenv::readFile(path_);
  }
  ~HbaFile() {
    if (text() != original_) write(original_);
    sitetest::runCommand(dir_, adminEnv() + "psql -X -q -d postgres -c 'SELECT pg_reload_conf()'");
  }
  HbaFile(const HbaFile&) = delete;
  HbaFile& operator=(const HbaFile&) = delete;
  bool found() const { return !path_.empty() && !original_.empty(); }
  std::string text() const { return testenv::readFile(path_); }
  void write(const std::string& text) const { std::ofstream(path_, std::ios::trunc) << text; }
  // The lines of the file the server cannot read.
  std::string errors() const {
    return sitetest::runCommand(dir_, adminEnv() + "psql -X -q -A -t -d postgres -c "
                                                   "'SELECT line_number, error FROM pg_hba_file_rules WHERE error IS NOT NULL'")
        .out;
  }

 private:
  testenv::TempDir dir_;
  std::string path_, original_;
};

// A pg_hba.conf line the server cannot read keeps it from reloading the file (and
// from starting): --apply leaves the file as it was and says so, it never reports
// the server reloaded.
TEST(PgRoleScriptPostgreSQL, AppliesNothingTheServerCannotRead) {
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " u2lvost_s4 --apply ";
  struct Case {
    const char* hosts;
    const char* brokenLine;  // already in the file, or null
    int code;
    const char* err;
  } cases[] = {
      {"abc/24", nullptr, 2, "not an address range"},
      {"", nullptr, 2, "not an address range"},
      {"10.1.2/24", nullptr, 2, "not an address range"},
      {"10.1.2.0/24,10.1.300.0/24", nullptr, 2, "not an address range"},
      // Passes the script's own look at the text; the server refuses it.
      {"1:2:3:4:5:6:7:8:9/64", nullptr, 1, "1:2:3:4:5:6:7:8:9/64"},
      // A line of the site's that the server cannot read: no reload takes ours either.
      {"10.1.3.0/24", "host all all 10.9.9.9/99 md5", 1, "invalid CIDR mask in address \"10.9.9.9/99\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hosts);
    HbaFile hba;
    ASSERT_TRUE(hba.found());
    if (c.brokenLine != nullptr) hba.write(hba.text() + c.brokenLine + "\n");
    const std::string before = hba.text();
    testenv::TempDir dir;
    sitetest::Outcome o = sitetest::runCommand(dir, adminEnv() + script + "--hosts " + shellQuote(c.hosts));
    EXPECT_EQ(o.code, c.code) << o.out << o.err;
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
    EXPECT_FALSE(contains(o.out, "Server reloaded.")) << o.out;
    EXPECT_EQ(hba.text(), before);
    if (c.brokenLine == nullptr) {
      EXPECT_EQ(hba.errors(), "");
    }
  }
}

// A range named twice, or twice in another spelling of the list, is one line.
TEST(PgRoleScriptPostgreSQL, ARangeNamedTwiceIsOneLine) {
  HbaFile hba;
  ASSERT_TRUE(hba.found());
  testenv::TempDir dir;
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/pg_role.sh") + " u2lvost_s4 --hosts ";
  const std::string line = "host    u2lvost_s4    WINZEL    10.7.7.0/24    md5";
  for (const char* apply : {"", " --apply"}) {
    SCOPED_TRACE(apply);
    sitetest::Outcome o = sitetest::runCommand(dir, adminEnv() + script + "10.7.7.0/24,10.7.8.0/24,10.7.7.0/24" + apply);
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(count(o.out, line), 1u) << o.out;
  }
  EXPECT_EQ(count(hba.text(), line), 1u) << hba.text();
  EXPECT_EQ(count(hba.text(), "10.7.8.0/24"), 1u) << hba.text();
}

TEST(MakeSamplePostgreSQL, RootWithoutARoleWorksThroughPostgres) {
  testenv::PostgresFacts pg = testenv::PostgresFacts::fromEnvironment();
  testenv::TempDir dir;
  const std::string db = "u2lvost_mk" + std::to_string(getpid());
  const std::string script = "bash " + shellQuote(U2LVOST_SOURCE_DIR "/db/make_sample.sh") + " postgres 4 " + db;
  // root has no role on the server: the script runs psql as postgres. Another
  // user names the server's owner, as the script's comment says.
  const std::string who = geteuid() == 0 ? "env -u PGUSER " : "PGUSER=" + shellQuote(pg.admin) + " ";
  sitetest::Outcome o = sitetest::runCommand(
      dir, who + "PGHOST=" + shellQuote(pg.socketDir) + " PGPORT=" + shellQuote(pg.port) + " " + script);
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_FALSE(contains(o.err, "does not exist")) << o.err;
  EXPECT_TRUE(contains(o.out, "PostgreSQL database " + db + " created with the sample company (schema 4), as ")) << o.out;
  EXPECT_EQ(contains(o.out, "(runuser -u postgres)"), geteuid() == 0) << o.out;
  sitetest::Outcome rows = sitetest::runCommand(dir, adminEnv() + "psql -X -q -A -t -d " + db +
                                                         " -c 'SELECT Info FROM VersionTable WHERE AppID = 0 AND ItemNumber = 0'");
  EXPECT_EQ(rows.out, "4.1\n") << rows.err;
  sitetest::runCommand(dir, adminEnv() + "psql -X -q -d postgres -c 'DROP DATABASE IF EXISTS " + db + "'");

  // A server that cannot be reached: one clear message, not the same error twice.
  o = sitetest::runCommand(dir, "PGUSER=" + shellQuote(pg.admin) + " PGHOST=" + shellQuote(dir.file("nosocket")) +
                                    " PGPORT=1 " + script);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(count(o.err, "cannot reach the server"), 1u) << o.err;
  EXPECT_LE(count(o.err, "psql:"), 1u) << o.err;
}

// cmake --install of the build tree into prefix.
sitetest::Outcome installInto(const testenv::TempDir& dir, const std::string& prefix) {
  return sitetest::runCommand(dir, shellQuote(U2LVOST_CMAKE) + " --install " + shellQuote(U2LVOST_BINARY_DIR) +
                                       " --prefix " + shellQuote(prefix));
}

// The db folder as installed: every file its own README lists is there, and its
// scripts can be run. A site on PostgreSQL is sent to pg_role.sh by that README
// and by ufhost --check.
TEST(InstalledLayout, TheDbFolderHoldsEveryFileItsReadmeNames) {
  testenv::TempDir dir;
  const std::string prefix = dir.file("prefix with space");
  sitetest::Outcome o = installInto(dir, prefix);
  ASSERT_EQ(o.code, 0) << o.out << o.err;
  const std::string db = prefix + "/share/u2lvost/db/";
  const std::string readme = testenv::readFile(db + "README.md");
  ASSERT_FALSE(readme.empty()) << "no " << db << "README.md";
  // The rows of its table of files: "| `name` | what it is |".
  std::vector<std::string> named;
  for (size_t at = readme.find("\n| `"); at != std::string::npos; at = readme.find("\n| `", at + 1)) {
    const size_t begin = at + 4, end = readme.find('`', begin);
    if (end != std::string::npos) named.push_back(readme.substr(begin, end - begin));
  }
  ASSERT_GE(named.size(), 5u) << readme;
  for (const std::string& name : named) {
    SCOPED_TRACE(name);
    EXPECT_EQ(access((db + name).c_str(), R_OK), 0) << db + name << " is not installed";
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".sh") == 0) {
      EXPECT_EQ(access((db + name).c_str(), X_OK), 0) << db + name << " cannot be run";
    }
  }
}

// The scripts the installed ufhost --check sends a site to are installed under
// the same names in the data folder, and can be run from there.
TEST(InstalledLayout, TheScriptsTheSiteCheckNamesAreInstalled) {
  testenv::TempDir dir;
  const std::string prefix = dir.file("prefix with space");
  sitetest::Outcome o = installInto(dir, prefix);
  ASSERT_EQ(o.code, 0) << o.out << o.err;
  std::string library;
  // The package's own library folder, under whichever library folder the platform uses.
  for (const char* libdir : {"/lib/u2lvost", "/lib64/u2lvost", "/lib/x86_64-linux-gnu/u2lvost"})
    if (access((prefix + libdir + "/libu2lvost.so").c_str(), R_OK) == 0) library = prefix + libdir + "/libu2lvost.so";
  ASSERT_FALSE(library.empty()) << "no installed libu2lvost.so under " << prefix;
  // No data source and no engine: the check advises what to run.
  dir.write("odbcinst.ini", "");
  o = sitetest::runCommand(dir, "ODBCINI=" + shellQuote(dir.file("none.ini")) + " ODBCSYSINI=" +
                                    shellQuote(dir.path()) + " U2LVOST_COM_REGISTRY=" + shellQuote(dir.file("none.reg")) +
                                    " U2LVOST_COM_SYSTEM_REGISTRY= " + shellQuote(prefix + "/bin/ufhost") + " " +
                                    shellQuote(library) + " --check");
  ASSERT_TRUE(contains(o.out, "WINZELRW is not defined")) << o.out << o.err;
  // Without a library named, the installed ufhost loads the one installed with it.
  const sitetest::Outcome listed = sitetest::runCommand(dir, shellQuote(prefix + "/bin/ufhost") + " --list");
  EXPECT_EQ(listed.code, 0) << listed.err;
  EXPECT_TRUE(contains(listed.out, "Library: " + library + " (interface version")) << listed.out << listed.err;
  // The advice names the scripts by their installed paths.
  std::vector<std::string> named;
  for (size_t at = 0; (at = o.out.find(".sh", at)) != std::string::npos; at += 3) {
    const size_t begin = o.out.rfind(prefix, at);
    ASSERT_NE(begin, std::string::npos) << "a script not named by its installed path: " << o.out;
    named.push_back(o.out.substr(begin, at + 3 - begin));
  }
  ASSERT_FALSE(named.empty()) << o.out;
  for (const std::string& installed : named) {
    EXPECT_EQ(installed.compare(0, prefix.size() + 15, prefix + "/share/u2lvost/"), 0) << installed;
    EXPECT_EQ(access(installed.c_str(), X_OK), 0) << installed << " is not installed as a program";
  }
  // The installed data source script works on its own, away from the source tree.
  o = sitetest::runCommand(dir, "bash " + shellQuote(prefix + "/share/u2lvost/scripts/odbc-dsn.sh") + " sqlite " +
                                    shellQuote(dir.file("company.db")) + " " + shellQuote(dir.file("odbc")));
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(testenv::readFile(dir.file("odbc/odbc.ini")), "[WINZELRW]"));
}

}  // namespace
