// Test support: captures the lines the code under test logs, for the lifetime of the object.
#pragma once

#include <gtest/gtest.h>
#include <syslog.h>

#include <regex>
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
  // The lines as "file message" (the line number left out), each expected at error priority.
  std::vector<std::string> ErrorLines() const {
    static const std::regex kLine(R"(^([a-z_/]+):([0-9]+) (.*)$)");
    std::vector<std::string> out;
    for (size_t i = 0; i < lines_.size(); ++i) {
      EXPECT_EQ(LOG_PRI(priorities_[i]), LOG_ERR) << lines_[i];
      std::smatch m;
      out.push_back(std::regex_match(lines_[i], m, kLine) ? m[1].str() + " " + m[3].str()
                                                          : "<no file:line prefix> " + lines_[i]);
    }
    return out;
  }
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
