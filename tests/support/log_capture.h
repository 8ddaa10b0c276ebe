// Test support: captures the lines the code under test logs, for the lifetime of the object.
#pragma once

#include <string>
#include <vector>

#include "core/zolt_syslog.h"

namespace zoltsh::testing {

class LogCapture {
 public:
  LogCapture() {
    previous_ = ZOLTSyslogSetHook([this](int priority, const std::string& line) {
      priorities_.push_back(priority);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { ZOLTSyslogSetHook(std::move(previous_)); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<int>& priorities() const { return priorities_; }
  void clear() {
    lines_.clear();
    priorities_.clear();
  }

 private:
  ZOLTSyslogHook previous_;
  std::vector<std::string> lines_;
  std::vector<int> priorities_;
};

}  // namespace zoltsh::testing
