// A private "WINZELRW" data source for a test: the sample company (db/README.md)
// freshly loaded on SQLite (a new file) or on the PostgreSQL server of
// scripts/pg.sh (a database of this process, reloaded), found through ODBCINI,
// ODBCSYSINI and ODBCSEARCH set for the object's lifetime. unixODBC caches
// odbc.ini entries for 20 seconds; the object works around that (see the .cpp),
// so sources may follow one another, and nest, in one process.
// Failures to set it up throw std::runtime_error with the reason, which fails the
// test; nothing is ever skipped.
//
//   testenv::DataSource ds(testenv::Backend::SQLite, testenv::Schema::V5);
//   ds.exec("INSERT INTO Company (CompanyID, BusnStart) VALUES (900, NULL)");
//   ... the library now reads that database through WINZELRW ...
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "test_env.h"

namespace testenv {

enum class Backend { SQLite, PostgreSQL };
enum class Schema { V4 = 4, V5 = 5 };

// What is wrong with the data source, on purpose.
enum class Fault {
  None,
  Absent,         // no data source named WINZELRW is defined at all
  // PostgreSQL only: the server expects another password for WINZEL. The role is
  // shared by the whole server, so no other test program may use the server
  // meanwhile (ctest runs them one after another).
  WrongPassword,
};

const char* backendName(Backend backend);

class DataSource {
 public:
  explicit DataSource(Backend backend, Schema schema = Schema::V4, Fault fault = Fault::None);
  ~DataSource();
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  Backend backend() const { return backend_; }
  Schema schema() const { return schema_; }
  // The SQLite file, or the PostgreSQL database name.
  const std::string& database() const { return database_; }
  // The odbc.ini in force.
  std::string odbcIni() const;

  // Runs SQL (one or more statements) directly against the database as a user who
  // may write, bypassing ODBC: sqlite3 or psql. Throws with the tool's output on failure.
  void exec(const std::string& sql) const;
  // The command line of that tool for this database, reading SQL from its input.
  std::string toolCommand() const;
  // Runs a query the same way; one string per row, columns joined by '|', NULL empty.
  std::vector<std::string> rows(const std::string& sql) const;

  // Sets "key = value" in the WINZELRW section (a driver option; replaces the
  // default of that name, e.g. the PostgreSQL source's ReadOnly = 1). Takes effect
  // for connections made afterwards. The Driver cannot be changed this way.
  void setOption(const std::string& key, const std::string& value);

 private:
  void writeIni();
  std::string section() const;
  const char* searchMode() const;
  std::string runTool(const std::string& sql, bool query) const;

  Backend backend_;
  Schema schema_;
  Fault fault_;
  TempDir dir_;
  std::string database_;
  std::vector<std::pair<std::string, std::string>> options_;
  int iniGeneration_ = 0;
  std::string savedVerifier_;  // WINZEL's password verifier while it is spoiled
  std::unique_ptr<ScopedEnv> odbcIni_;
  std::unique_ptr<ScopedEnv> odbcSysIni_;
  std::unique_ptr<ScopedEnv> odbcSearch_;
};

// The connection facts that scripts/pg.sh exports; throws a clear message when
// the server is not running.
struct PostgresFacts {
  std::string host, port, socketDir, admin;
  static PostgresFacts fromEnvironment();
};

// The calendar engine, registered by its own DllRegisterServer in a class
// registry of the object's own (U2LVOST_COM_REGISTRY, which child processes
// inherit). The engine stays loaded, as CoCreateInstance keeps its servers.
class EngineRegistry {
 public:
  EngineRegistry();

 private:
  TempDir dir_;
  ScopedEnv env_;
};

// Stops the PostgreSQL server of scripts/pg.sh (fast shutdown: open connections
// are cut) and starts it again on the same port and folder, as an operator would.
// Throws with the server's log on failure.
void stopPostgresServer();
void startPostgresServer();

}  // namespace testenv
