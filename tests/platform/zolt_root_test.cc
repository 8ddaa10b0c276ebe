#include "core/zolt_root.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ZoltRoot, PrefixesTheRootFromTheEnvironment) {
  struct Case {
    const char* root;  // null: unset
    const char* path;
    const char* expected;
  } cases[] = {
      {nullptr, "/etc/zoltinfo.conf", "/etc/zoltinfo.conf"},
      {"", "/etc/zoltinfo.conf", "/etc/zoltinfo.conf"},
      {"/", "/etc/zoltinfo.conf", "/etc/zoltinfo.conf"},
      {"/tmp/r", "/etc/zoltinfo.conf", "/tmp/r/etc/zoltinfo.conf"},
      {"/tmp/r//", "/tmp/.zoltsh_lock", "/tmp/r/tmp/.zoltsh_lock"},
      {"/tmp/r", "var/x", "/tmp/r/var/x"},
  };
  const char* saved = std::getenv("ZOLT_ROOT");
  std::string savedValue = saved ? saved : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root ? c.root : "(unset)");
    if (c.root) {
      setenv("ZOLT_ROOT", c.root, 1);
    } else {
      unsetenv("ZOLT_ROOT");
    }
    EXPECT_EQ(ZOLTRootPath(c.path), c.expected);
  }
  if (saved) {
    setenv("ZOLT_ROOT", savedValue.c_str(), 1);
  } else {
    unsetenv("ZOLT_ROOT");
  }
}

}  // namespace
