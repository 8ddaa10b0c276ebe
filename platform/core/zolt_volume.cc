#include "core/zolt_volume.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fstream>

#include "core/zolt_root.h"

std::vector<std::string> ZOLTVolumeList() {
  std::vector<std::string> out;
  std::ifstream in(ZOLTRootPath(kZOLTVolumeListPath));
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line[b] == '#') continue;
    line.erase(0, b);
    if (line.front() != '/') continue;
    std::string real = ZOLTRootPath(line);
    struct stat st;
    if (::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    out.push_back(real);
  }
  return out;
}

bool ZOLTVolumeFindWithFreeSpace(unsigned long long minFree, std::string* mountPath) {
  for (const std::string& vol : ZOLTVolumeList()) {
    struct statvfs vfs;
    if (::statvfs(vol.c_str(), &vfs) != 0) continue;
    unsigned long long avail = static_cast<unsigned long long>(vfs.f_frsize) *
                               static_cast<unsigned long long>(vfs.f_bavail);
    if (avail < minFree) continue;
    if (mountPath != nullptr) *mountPath = vol;
    return true;
  }
  return false;
}
