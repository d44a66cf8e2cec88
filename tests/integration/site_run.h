// The ufhost command run by a site administrator: a private class registry with
// the real calendar engine (or a broken one), a private profile, and whatever
// data source the test has set up in the environment (testenv::DataSource).
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "comregistry.h"
#include "test_env.h"
#include "test_paths.h"
#include "vrzelcal.h"

namespace sitetest {

struct Outcome {
  int code = -1;  // -1: did not exit normally (a crash)
  std::string out, err;
};

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line with standard output and error in files of dir.
inline Outcome runCommand(const testenv::TempDir& dir, const std::string& command) {
  const std::string out = dir.file("cmd.out"), err = dir.file("cmd.err");
  int status = std::system((command + " </dev/null >" + shellQuote(out) + " 2>" + shellQuote(err)).c_str());
  Outcome o;
  if (status != -1 && WIFEXITED(status)) o.code = WEXITSTATUS(status);
  o.out = testenv::readFile(out);
  o.err = testenv::readFile(err);
  return o;
}

class Site {
 public:
  Site() : registry_(dir_.file("classes.reg")) { registerEngine(VRZELCAL_LIBRARY); }

  // Both engine classes point at this file (which need not exist).
  void registerEngine(const std::string& server) {
    std::string text = "# calendar engine\n";
    for (const CLSID* c : {&CLSID_VRZELCalendarFactory, &CLSID_ktEnumDispatch}) {
      char guid[kGuidTextLength + 1];
      ComGuidToText(*c, guid, sizeof guid);
      text += std::string(guid) + " = " + server + "\n";
    }
    dir_.write("classes.reg", text);
  }
  void unregisterEngine() { dir_.write("classes.reg", "# nothing registered\n"); }
  const std::string& registry() const { return registry_; }
  const testenv::TempDir& dir() const { return dir_; }

  Outcome ufhost(const std::vector<std::string>& args) { return ufhostOn(U2LVOST_LIBRARY, args); }

  // The library left out: ufhost takes the one beside it.
  Outcome ufhostBesideIt(const std::vector<std::string>& args) { return ufhostOn("", args); }

  Outcome ufhostOn(const std::string& library, const std::vector<std::string>& args) {
    testenv::ScopedEnv reg("U2LVOST_COM_REGISTRY", registry_.c_str());
    testenv::ScopedEnv noSystemFile("U2LVOST_COM_SYSTEM_REGISTRY", "");
    testenv::ScopedEnv profile("U2LVOST_PROFILE", dir_.file("win.ini").c_str());
    std::string cmd = shellQuote(UFHOST_PROGRAM) + (library.empty() ? "" : " " + shellQuote(library));
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    return runCommand(dir_, cmd);
  }

 private:
  testenv::TempDir dir_;
  std::string registry_;
};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// How often part occurs in text (overlapping occurrences counted).
inline size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace sitetest
