#include "common/named_mutex.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/runas.h"
#include "common/zoltsh_log.h"
#include "core/zolt_file_lock.h"
#include "core/zolt_root.h"

namespace {

constexpr const char* kLockDir = "/tmp/.zoltsh_lock";
constexpr const char* kLockSuffix = ".mutex";

// Whether this process may regain root (it started as root and only its effective ids changed).
bool CanBecomeRoot() {
  uid_t r, e, s;
  return ::getresuid(&r, &e, &s) == 0 && (r == 0 || e == 0 || s == 0);
}

}  // namespace

namespace zoltsh::utils {

std::string NamedMutex::EncodeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

NamedMutex::NamedMutex(const std::string& name) {
  const std::string dir = ZOLTRootPath(kLockDir);
  path_ = dir + "/" + EncodeName(name) + kLockSuffix;
  struct stat st;
  if (::lstat(dir.c_str(), &st) == 0) return;
  auto makeDir = [&dir]() {
    errno = 0;
    if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) {
      errno = 0;
      return;
    }
    if (errno != 0) {
      ZOLTSH_LOG_ERR("Failed to create folder: %s [err: %m]", dir.c_str());
      errno = 0;
    } else {
      ZOLTSH_LOG_ERR("Failed to create folder: %s", dir.c_str());
    }
  };
  // Made by root when possible, so that every user's process can create lock files in it.
  if (CanBecomeRoot()) {
    IF_RUN_AS(0, 0) { makeDir(); }
  } else {
    makeDir();
  }
}

NamedMutex::~NamedMutex() {
  if (held_) Release();
}

bool NamedMutex::Acquire(int timeout) {
  if (held_) return true;
  const std::string dir = ZOLTRootPath(kLockDir);
  struct stat st;
  // The directory itself must not be a link planted where it should be.
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    ZOLTSH_LOG_ERR("Failed to use lock folder: %s", dir.c_str());
    return false;
  }
  int fd = -1;
  if (CanBecomeRoot()) {
    IF_RUN_AS(0, 0) { fd = ZOLTFileLockOpen(path_); }
  } else {
    fd = ZOLTFileLockOpen(path_);
  }
  if (fd < 0) {
    ZOLTSH_LOG_ERR("Failed to open lock file %s, %m", path_.c_str());
    return false;
  }
  // The wait happens as the caller: the identity is switched only around the open.
  if (!ZOLTFileLockWait(fd, timeout)) {
    ::close(fd);
    held_ = false;
    return false;
  }
  fd_ = fd;
  held_ = true;
  return true;
}

void NamedMutex::Release() {
  if (!held_ || fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  held_ = false;
  fd_ = -1;
}

}  // namespace zoltsh::utils
