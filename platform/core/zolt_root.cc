#include "core/zolt_root.h"

#include <cstdlib>

std::string ZOLTRootDir() {
  const char* root = std::getenv("ZOLT_ROOT");
  if (root == nullptr) return {};
  std::string dir(root);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir == "/") dir.clear();
  return dir;
}

std::string ZOLTRootPath(std::string_view path) {
  std::string out = ZOLTRootDir();
  if (!path.empty() && path.front() != '/') out.push_back('/');
  out.append(path);
  return out;
}
