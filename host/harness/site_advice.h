// What went wrong between the library and the company database, told from the
// boxes' SQL states and the driver's words together with the facts of the site
// (the data source's entries, its database file), and what to do about it in
// the terms of the layout this ufhost runs from.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace ufhost {

// One "SQL Error" box as the library shows it.
struct SqlErrorBox {
  std::string call;      // "SQLConnect (openHDBC)"
  std::string sqlState;  // "IM002"
  std::string message;   // the driver's text
};

// The boxes in text the library wrote to standard error (caption line, the
// text's lines, an empty line); other lines are ignored.
std::vector<SqlErrorBox> parseSqlErrorBoxes(const std::string& text);

namespace site {

// The texts (lines joined) of the boxes with this caption, read as parseSqlErrorBoxes reads.
std::vector<std::string> boxTexts(const std::string& text, const char* caption);

// Where the site's tools are, so that advice names real paths.
struct Layout {
  enum Kind { BuildTree, Installed, Windows } kind = BuildTree;
  std::string dbScripts;       // folder of schema.sql and pg_role.sh
  std::string dsnScript;       // odbc-dsn.sh; winzelrw.cmd on Windows
  std::string passwordFolderScript;  // site-folder.cmd on Windows; empty elsewhere
  std::string engineFile;      // the calendar engine's real file
  std::string registerEngine;  // the command that registers it again
};

// A database file as the check found it.
struct FileState {
  bool exists = false;
  bool readable = false;  // by this account
  std::string permission;  // "mode 0600, owner root" when it exists
};

// What the check knows of the data source besides the boxes.
struct SourceSetting {
  std::string driverEntry;  // the Driver entry of the data source
  std::string database;     // its Database entry (SQLite: the file; PostgreSQL: the name)
  bool sqlite = false;      // the driver is SQLite's
  FileState file;           // the SQLite file, when sqlite
};

struct Diagnosis {
  std::string cause;   // one line, for a summary; empty when nothing is known
  std::string advice;  // what to do; empty when nothing is known
  bool generic = false;  // no cause was recognised: the advice only points at the driver's words
};

// The first box whose state or text is understood decides; a box nothing is
// known of still gives a cause (its text) but the advice points at it.
Diagnosis diagnoseBoxes(const std::vector<SqlErrorBox>& boxes, const SourceSetting& setting, const Layout& layout);

// The data source names a driver that the driver list does not have.
Diagnosis driverNotRegistered(const std::string& driver, const Layout& layout);
// The driver's library file is not where its entry says.
Diagnosis driverFileMissing(const std::string& driver, const std::string& file, const Layout& layout);
// The data source is not defined at all.
Diagnosis dataSourceUndefined(const Layout& layout);
// The library refused the site password file (its own box says why).
Diagnosis passwordFileRefused(const Layout& layout);
// The engine's classes are not registered / registered to a file that is gone.
Diagnosis engineNotRegistered(const std::string& searched, const Layout& layout);
Diagnosis engineFileMissing(const std::string& file, const Layout& layout);
// The data source cannot be opened, by the check's own connection.
Diagnosis sourceRefused(const std::string& state, const std::string& message, const SourceSetting& setting,
                        const Layout& layout);
// A login refusal (the check never gives the password), not a fault.
bool isLoginRefusal(const std::string& state, const std::string& message);

// Whether text holds phrase (lower case), or any of the phrases, in any case:
// drivers word their messages as they like.
bool mentions(const std::string& text, const char* phrase);
bool mentions(const std::string& text, std::initializer_list<const char*> phrases);

}  // namespace site
}  // namespace ufhost
