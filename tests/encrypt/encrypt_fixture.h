// Test support of the encryption suite: a private appliance root with its own key for the
// string encryption, captured log lines, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace zoltsh::testing {

class EncryptTest : public ::testing::Test {
 protected:
  void SetUp() override { ZOLTSHErrSetEx(1, "setup", 0, "reset"); }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  // n bytes of every value, in a pattern that differs between blocks.
  static std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return s;
  }
  // Whether some captured line contains `part`.
  bool Logged(const std::string& part) const {
    for (const std::string& line : log_.lines()) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::string AllLines() const {
    std::string all;
    for (const std::string& line : log_.lines()) all += line + "\n";
    return all;
  }

  TempRoot root_;
  LogCapture log_;
};

}  // namespace zoltsh::testing
