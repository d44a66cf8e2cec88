#include "odbc_env.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "comtypes.h"
#include "test_paths.h"

namespace testenv {

namespace {

// The role the library connects as (fixed in the library).
const char kLibraryRole[] = "WINZEL";
// Any verifier but the library's: an md5 verifier PostgreSQL accepts as given.
const char kForeignVerifier[] = "md50123456789abcdef0123456789abcdef";

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string sqlQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

const char* requireEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v)
    throw std::runtime_error(std::string("PostgreSQL test server not available: ") + name +
                             " is not set. Run the tests through scripts/test.sh, or start a server "
                             "first: eval \"$(bash scripts/pg.sh start)\"");
  return v;
}

// Runs a shell command; returns its exit status (-1 when it did not exit normally).
int run(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

std::string driverLibrary(const char* file) {
  namespace fs = std::filesystem;
  const char* dirs[] = {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                        "/usr/lib/i386-linux-gnu/odbc", "/usr/lib/odbc", "/usr/lib64", "/usr/local/lib"};
  for (const char* d : dirs) {
    std::error_code ec;
    fs::path p = fs::path(d) / file;
    if (fs::exists(p, ec)) return p.string();
  }
  throw std::runtime_error(std::string("ODBC driver ") + file +
                           " not found (install libsqliteodbc and odbc-postgresql: scripts/setup.sh)");
}

// unixODBC keeps every odbc.ini entry it has read for 20 seconds, keyed by the
// logical file name and not by the file ODBCINI names, so a data source defined
// a moment ago would still be served. Writing an entry through the installer
// library empties that cache; it is looked up at run time so that the test
// programs need no link to it.
bool forgetCachedOdbcIni(const std::string& iniPath, const std::string& section) {
  typedef int (*WriteProfileFn)(const char*, const char*, const char*, const char*);
  void* lib = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (!lib) lib = dlopen("libodbcinst.so.2", RTLD_NOW);
  if (!lib) return false;
  auto write = reinterpret_cast<WriteProfileFn>(dlsym(lib, "SQLWritePrivateProfileString"));
  bool ok = write && write(section.c_str(), "Description", "u2lvost test data source", iniPath.c_str());
  dlclose(lib);
  return ok;
}

std::string makeSampleScript() { return std::string(U2LVOST_SOURCE_DIR) + "/db/make_sample.sh"; }

std::string psqlCommand(const PostgresFacts& pg, const std::string& db) {
  return "psql -X -q -v ON_ERROR_STOP=1 -h " + shellQuote(pg.socketDir) + " -p " + shellQuote(pg.port) +
         " -U " + shellQuote(pg.admin) + " -d " + shellQuote(db);
}

// The PostgreSQL databases of this process: one per schema for each source alive
// at the same time, reloaded for every new source (much faster than creating a
// database) and dropped when the process ends.
class PostgresDatabases {
 public:
  std::string take(int schema) {
    for (auto& e : entries_)
      if (e.schema == schema && !e.busy) {
        e.busy = true;
        return e.name;
      }
    std::string name = "u2lvost_p" + std::to_string(getpid()) + "_s" + std::to_string(schema) + "_" +
                       std::to_string(entries_.size());
    entries_.push_back({name, schema, true});
    return name;
  }
  void give(const std::string& name) {
    for (auto& e : entries_)
      if (e.name == name) e.busy = false;
  }
  ~PostgresDatabases() {
    if (entries_.empty()) return;
    try {
      PostgresFacts pg = PostgresFacts::fromEnvironment();
      std::string sql;
      for (const auto& e : entries_) sql += " -c 'DROP DATABASE IF EXISTS " + e.name + " WITH (FORCE)'";
      run(psqlCommand(pg, "postgres") + sql + " > /dev/null 2>&1");
    } catch (...) {
    }
  }

 private:
  struct Entry {
    std::string name;
    int schema;
    bool busy;
  };
  std::vector<Entry> entries_;
};

PostgresDatabases& postgresDatabases() {
  static PostgresDatabases databases;
  return databases;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

const char* backendName(Backend backend) { return backend == Backend::SQLite ? "SQLite" : "PostgreSQL"; }

PostgresFacts PostgresFacts::fromEnvironment() {
  PostgresFacts f;
  f.host = requireEnv("U2LVOST_PG_HOST");
  f.port = requireEnv("U2LVOST_PG_PORT");
  f.socketDir = requireEnv("U2LVOST_PG_SOCKET");
  f.admin = requireEnv("U2LVOST_PG_ADMIN");
  return f;
}

DataSource::DataSource(Backend backend, Schema schema, Fault fault)
    : backend_(backend), schema_(schema), fault_(fault) {
  if (fault == Fault::WrongPassword && backend != Backend::PostgreSQL)
    throw std::runtime_error("a wrong password needs PostgreSQL: the SQLite driver ignores passwords");
  const std::string schemaArg = std::to_string(static_cast<int>(schema));
  const bool pooled = backend == Backend::PostgreSQL && fault != Fault::Absent;
  if (fault != Fault::Absent) {
    if (backend == Backend::SQLite) {
      database_ = dir_.file("company.db");
    } else {
      PostgresFacts::fromEnvironment();  // fails loudly before anything is taken
      database_ = postgresDatabases().take(static_cast<int>(schema));
    }
  }
  try {
    // The configuration first: it is what can fail for want of a driver or of the
    // server's facts, before anything is changed on the server.
    writeIni();

    if (fault != Fault::Absent) {
      std::string cmd;
      if (backend == Backend::SQLite) {
        cmd = "bash " + shellQuote(makeSampleScript()) + " sqlite " + schemaArg + " " + shellQuote(database_);
      } else {
        PostgresFacts pg = PostgresFacts::fromEnvironment();
        cmd = "PGHOST=" + shellQuote(pg.socketDir) + " PGPORT=" + shellQuote(pg.port) + " PGUSER=" +
              shellQuote(pg.admin) + " bash " + shellQuote(makeSampleScript()) + " postgres " + schemaArg + " " +
              database_;
      }
      if (run(cmd + " > " + shellQuote(dir_.file("make.log")) + " 2>&1") != 0)
        throw std::runtime_error(std::string("cannot create the ") + backendName(backend) + " sample " +
                                 database_ + ": " + readFile(dir_.file("make.log")));
    }

    odbcIni_.reset(new ScopedEnv("ODBCINI", odbcIni().c_str()));
    odbcSysIni_.reset(new ScopedEnv("ODBCSYSINI", dir_.path().c_str()));
    odbcSearch_.reset(new ScopedEnv("ODBCSEARCH", searchMode()));
    if (!forgetCachedOdbcIni(odbcIni(), section()))
      throw std::runtime_error("cannot reset unixODBC's configuration cache (libodbcinst.so.2)");

    // Last, so that nothing after it can fail and leave the role spoiled.
    if (fault == Fault::WrongPassword) {
      std::vector<std::string> v =
          rows(std::string("SELECT rolpassword FROM pg_authid WHERE rolname = ") + sqlQuote(kLibraryRole));
      if (v.size() != 1 || v[0].empty()) throw std::runtime_error("role WINZEL has no password on the test server");
      exec(std::string("ALTER ROLE \"") + kLibraryRole + "\" PASSWORD " + sqlQuote(kForeignVerifier));
      savedVerifier_ = v[0];  // from here on the destructor puts it back
    }
  } catch (...) {
    if (pooled) postgresDatabases().give(database_);
    throw;
  }
}

DataSource::~DataSource() {
  // Put the environment back first; then undo what the server holds. Never throws.
  odbcSearch_.reset();
  odbcSysIni_.reset();
  odbcIni_.reset();
  forgetCachedOdbcIni(odbcIni(), section());
  if (backend_ != Backend::PostgreSQL || fault_ == Fault::Absent) return;
  postgresDatabases().give(database_);
  try {
    PostgresFacts pg = PostgresFacts::fromEnvironment();
    if (!savedVerifier_.empty()) {
      std::string sql = std::string("ALTER ROLE \"") + kLibraryRole + "\" PASSWORD " + sqlQuote(savedVerifier_);
      std::string file = dir_.write("restore.sql", sql + ";\n");
      run(psqlCommand(pg, "postgres") + " -f " + shellQuote(file) + " > /dev/null 2>&1");
    }
  } catch (...) {
  }
}

std::string DataSource::odbcIni() const { return dir_.file("odbc-" + std::to_string(iniGeneration_) + ".ini"); }

// The driver manager keeps its own copy of every odbc.ini entry it reads (above
// all the data source's Driver) for 20 seconds, out of reach of the installer
// library's reset. Its cache is keyed by the search mode, so each kind of data
// source reads in a mode of its own, in which the Driver it finds never changes:
// the SQLite file in the user's odbc.ini, the PostgreSQL database in the user's
// and the system's, and the absent source in the system's (our folder, which has
// no odbc.ini). The drivers' own settings come through the installer library,
// whose cache is emptied on every change.
const char* DataSource::searchMode() const {
  if (fault_ == Fault::Absent) return "ODBC_SYSTEM_DSN";
  return backend_ == Backend::SQLite ? "ODBC_USER_DSN" : "ODBC_BOTH_DSN";
}

std::string DataSource::section() const { return fault_ == Fault::Absent ? "WINZELRO" : "WINZELRW"; }

void DataSource::writeIni() {
  const std::string section = this->section();
  // Drivers by their library's path, so that no driver list (odbcinst.ini) is
  // consulted: the driver manager's cached copy of it could not be refreshed either.
  std::vector<std::pair<std::string, std::string>> settings;
  if (fault_ == Fault::Absent) {
    // Another data source only: the driver manager has nothing called WINZELRW.
    settings = {{"Driver", driverLibrary("libsqlite3odbc.so")}, {"Database", dir_.file("none.db")}, {"NoCreat", "1"}};
  } else if (backend_ == Backend::SQLite) {
    settings = {{"Driver", driverLibrary("libsqlite3odbc.so")}, {"Database", database_}, {"Timeout", "5000"},
                {"NoCreat", "1"}};
  } else {
    PostgresFacts pg = PostgresFacts::fromEnvironment();
    settings = {{"Driver", driverLibrary("psqlodbcw.so")}, {"Servername", pg.host}, {"Port", pg.port},
                {"Database", database_}, {"SSLmode", "disable"}, {"ReadOnly", "1"}};
  }
  // Options given by the test replace the defaults of the same name.
  for (const auto& kv : options_) {
    bool replaced = false;
    for (auto& s : settings)
      if (s.first == kv.first) {
        s.second = kv.second;
        replaced = true;
      }
    if (!replaced) settings.push_back(kv);
  }
  std::ostringstream ini;
  ini << "[" << section << "]\n";
  for (const auto& kv : settings) ini << kv.first << " = " << kv.second << "\n";
  ++iniGeneration_;
  dir_.write("odbc-" + std::to_string(iniGeneration_) + ".ini", ini.str());
  dir_.write("odbcinst.ini", "");  // no system-wide driver list either
}

void DataSource::setOption(const std::string& key, const std::string& value) {
  options_.emplace_back(key, value);
  writeIni();
  setenv("ODBCINI", odbcIni().c_str(), 1);  // the ScopedEnv still restores the original
  if (!forgetCachedOdbcIni(odbcIni(), section()))
    throw std::runtime_error("cannot reset unixODBC's configuration cache (libodbcinst.so.2)");
}

std::string DataSource::runTool(const std::string& sql, bool query) const {
  if (fault_ == Fault::Absent) throw std::runtime_error("an absent data source has no database");
  static std::atomic<int> counter{0};
  const std::string n = std::to_string(++counter);
  const std::string input = dir_.write("stmt-" + n + ".sql", sql + "\n");
  const std::string out = dir_.file("stmt-" + n + ".out");
  const std::string err = dir_.file("stmt-" + n + ".err");
  std::string cmd = toolCommand() + (query && backend_ == Backend::PostgreSQL ? " -A -t -F '|'" : "");
  cmd += " < " + shellQuote(input) + " > " + shellQuote(out) + " 2> " + shellQuote(err);
  if (run(cmd) != 0)
    throw std::runtime_error(std::string(backendName(backend_)) + " statement failed: " + sql + "\n" +
                             readFile(err) + readFile(out));
  return readFile(out);
}

std::string DataSource::toolCommand() const {
  if (backend_ == Backend::SQLite)
    return "sqlite3 -bail -batch -noheader -separator '|' -nullvalue '' " + shellQuote(database_);
  return psqlCommand(PostgresFacts::fromEnvironment(), database_);
}

void DataSource::exec(const std::string& sql) const { runTool(sql, false); }

std::vector<std::string> DataSource::rows(const std::string& sql) const { return splitLines(runTool(sql, true)); }

namespace {

// pg_ctl of the newest installed server, run as the server's owner when we are root.
std::string pgCtl(const std::string& args) {
  namespace fs = std::filesystem;
  std::string bin;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    fs::path p = e.path() / "bin" / "pg_ctl";
    if (fs::exists(p, ec) && p.string() > bin) bin = p.string();
  }
  if (bin.empty()) throw std::runtime_error("pg_ctl not found (install postgresql)");
  const std::string dir = requireEnv("U2LVOST_PG_DIR");
  std::string cmd = shellQuote(bin) + " -D " + shellQuote(dir + "/data") + " " + args;
  if (getuid() == 0) cmd = "runuser -u postgres -- " + cmd;
  return cmd + " >> " + shellQuote(dir + "/control.log") + " 2>&1";
}

void controlServer(const std::string& args, const char* what) {
  if (run(pgCtl(args)) != 0)
    throw std::runtime_error(std::string("cannot ") + what + " the PostgreSQL test server: " +
                             readFile(std::string(requireEnv("U2LVOST_PG_DIR")) + "/control.log"));
}

}  // namespace

EngineRegistry::EngineRegistry() : env_("U2LVOST_COM_REGISTRY", dir_.file("classes.reg").c_str()) {
  void* engine = dlopen(VRZELCAL_LIBRARY, RTLD_NOW);
  if (!engine) throw std::runtime_error(std::string("cannot load the engine: ") + dlerror());
  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(engine, "DllRegisterServer"));
  if (!reg || reg() != 0) throw std::runtime_error("the engine did not register");
}

void stopPostgresServer() { controlServer("-m fast -w -t 60 stop", "stop"); }

void startPostgresServer() {
  const std::string dir = requireEnv("U2LVOST_PG_DIR");
  controlServer("-l " + shellQuote(dir + "/server.log") + " -w -t 60 -o " +
                    shellQuote("-p " + std::string(requireEnv("U2LVOST_PG_PORT"))) + " start",
                "start");
}

}  // namespace testenv
