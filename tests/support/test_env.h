// Test scaffolding: private temporary folders and environment variables that are
// put back when the test ends, so no test depends on the user's own settings.
#pragma once

#include <string>
#include <vector>

namespace testenv {

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes text to a file in the folder and returns the file's path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Sets (or, with a null value, unsets) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_;
};

std::string readFile(const std::string& path);

}  // namespace testenv
