// Test support: an environment variable set for the lifetime of an object (and inherited by the
// processes started meanwhile, such as a host's workers), then restored.
#pragma once

#include <cstdlib>
#include <string>

namespace zoltsh::testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace zoltsh::testing
