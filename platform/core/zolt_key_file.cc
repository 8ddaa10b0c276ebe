#include "core/zolt_key_file.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/zolt_fd.h"
#include "core/zolt_syslog.h"

namespace {

using Key = std::vector<unsigned char>;

std::mutex gKeyMutex;
std::map<std::string, Key>& KeyCache() {
  static std::map<std::string, Key> cache;
  return cache;
}

// Makes each missing directory of dir; the last one gets lastMode.
bool MakeDirs(const std::string& dir, mode_t lastMode) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    std::string path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (::mkdir(path.c_str(), pos == std::string::npos ? lastMode : 0755) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

bool ReadKey(const std::string& path, Key& key) {
  ZOLTUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 ||
      st.st_size != static_cast<off_t>(key.size())) {
    ZOLTSyslog(LOG_ERR, "core/zolt_key_file:%d key file %s has a wrong type, mode or size",
               __LINE__, path.c_str());
    errno = EINVAL;
    return false;
  }
  return ::pread(fd.get(), key.data(), key.size(), 0) == static_cast<ssize_t>(key.size());
}

bool CreateKey(const std::string& path, Key& key) {
  const std::string dir = path.substr(0, path.rfind('/'));
  if (!MakeDirs(dir, 0700)) return false;
  unsigned char rnd[8];
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1 || RAND_bytes(rnd, 8) != 1) {
    return false;
  }
  std::string tmp = dir + "/.key-";
  for (unsigned char c : rnd) tmp += "0123456789abcdef"[c & 15];
  {
    ZOLTUniqueFd fd(
        ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return false;
    bool ok = ::write(fd.get(), key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
              ::fchmod(fd.get(), 0600) == 0 && ::fsync(fd.get()) == 0;
    if (!ok) {
      ::unlink(tmp.c_str());
      return false;
    }
  }
  int rc = ::link(tmp.c_str(), path.c_str());
  int linkErrno = errno;
  ::unlink(tmp.c_str());
  if (rc != 0) {
    if (linkErrno == EEXIST) return ReadKey(path, key);  // another process made it first
    errno = linkErrno;
    return false;
  }
  ZOLTUniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return true;
}

}  // namespace

bool ZOLTKeyFileGet(const std::string& path, unsigned char* out, size_t len) {
  const int savedErrno = errno;
  std::lock_guard<std::mutex> lock(gKeyMutex);
  auto it = KeyCache().find(path);
  if (it == KeyCache().end() || it->second.size() != len) {
    Key key(len);
    errno = 0;
    bool ok = ReadKey(path, key);
    if (!ok && errno == ENOENT) ok = CreateKey(path, key);
    if (!ok) {
      ZOLTSyslog(LOG_ERR, "core/zolt_key_file:%d cannot read or make the key %s [%m]", __LINE__,
                 path.c_str());
      OPENSSL_cleanse(key.data(), key.size());
      errno = savedErrno;
      return false;
    }
    it = KeyCache().insert_or_assign(path, std::move(key)).first;
  }
  std::copy(it->second.begin(), it->second.end(), out);
  errno = savedErrno;
  return true;
}
