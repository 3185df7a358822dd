// A fresh temporary directory for one test, removed with everything in it
// when the object goes away. Also moves the process into it on request, for
// code that writes to the current directory (the trace log does).
#pragma once

#include <filesystem>
#include <string>

namespace kw_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes `text` to the file `name` in the directory and returns its path.
  std::string write(const std::string& name, const std::string& text) const;
  // Makes the directory the current one until this object goes away.
  void enter();

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  bool entered_ = false;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace kw_test
