// Test support: a private appliance root for one test. Creates a fresh directory, points ZOLT_ROOT
// at it, and on destruction restores ZOLT_ROOT and removes the directory with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zoltsh::testing {

class TempRoot {
 public:
  TempRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zoltsh-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir_ = tmpl;
    if (const char* old = std::getenv("ZOLT_ROOT")) {
      hadOld_ = true;
      old_ = old;
    }
    ::setenv("ZOLT_ROOT", dir_.c_str(), 1);
  }
  ~TempRoot() {
    if (hadOld_) {
      ::setenv("ZOLT_ROOT", old_.c_str(), 1);
    } else {
      ::unsetenv("ZOLT_ROOT");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& rel) const { return dir_ + "/" + rel; }

 private:
  std::string dir_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace zoltsh::testing
