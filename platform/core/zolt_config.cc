#include "core/zolt_config.h"

#include <fstream>

namespace {

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

}  // namespace

bool ZOLTConfigGetKeyValue(const std::string& path, const std::string& key, std::string* value) {
  std::ifstream in(path);
  if (!in) return false;
  bool found = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos || Trim(t.substr(0, eq)) != key) continue;
    std::string v = Trim(t.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (value != nullptr) *value = v;
    found = true;
  }
  return found;
}

bool ZOLTConfigKeyValueIs(const std::string& path, const std::string& key,
                          const std::string& value) {
  std::string v;
  return ZOLTConfigGetKeyValue(path, key, &v) && v == value;
}
