#include "sio/sio_token.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/zoltsh_log.h"

namespace zoltsh {

namespace {

// Root section around the read: gains effective root (gid first, then uid) and gives the saved
// identity back on every path. Every id change is logged, as this is a credential read.
class TokenRootSection {
 public:
  TokenRootSection() : uid_(::geteuid()), gid_(::getegid()) {
    bool ok = true;
    if (gid_ != 0) ok = SetGid(0) && ok;
    if (ok && uid_ != 0) ok = SetUid(0) && ok;
    if (!ok) {
      errno = EPERM;
      ZOLTSH_LOG(LOG_AUTH | LOG_ERR, "ERROR: ENTERCriticalSection");
    } else {
      errno = 0;
    }
  }

  ~TokenRootSection() {
    bool ok = true;
    if (::geteuid() == uid_) {
      if (::getegid() != gid_) ok = SetGid(gid_);
    } else {
      ok = SetUid(0);
      if (ok && ::getegid() != gid_) ok = SetGid(gid_);
      if (ok) ok = SetUid(uid_);
    }
    if (!ok) {
      errno = EPERM;
      ZOLTSH_LOG(LOG_AUTH | LOG_ERR, "ERROR: LEAVECriticalSection");
    } else {
      errno = 0;
    }
  }

  TokenRootSection(const TokenRootSection&) = delete;
  TokenRootSection& operator=(const TokenRootSection&) = delete;

 private:
  static bool Report(const char* name, int target, int rc) {
    if (rc == 0) {
      ZOLTSH_LOG(LOG_AUTH | LOG_INFO, "WARNING: set%s(%d, %d, %d)", name, -1, target, -1);
      return true;
    }
    char buffer[256];
    const char* text = ::strerror_r(errno, buffer, sizeof(buffer));
    ZOLTSH_LOG(LOG_AUTH | LOG_ERR, "ERROR: set%s(%d, %d, %d) [%s]", name, -1, target, -1, text);
    return false;
  }
  static bool SetGid(gid_t gid) {
    return Report("resgid", static_cast<int>(gid), ::setresgid(-1, gid, -1));
  }
  static bool SetUid(uid_t uid) {
    return Report("resuid", static_cast<int>(uid), ::setresuid(-1, uid, -1));
  }

  uid_t uid_;
  gid_t gid_;
};

}  // namespace

std::string SioReadToken(const std::string& path) {
  std::string token;
  TokenRootSection root;
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) {
    char buffer[256];
    ZOLTSH_LOG_ERR("Failed to get access toekn: %s", ::strerror_r(errno, buffer, sizeof(buffer)));
    return token;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    ZOLTSH_LOG_ERR("Failed to get access toekn: %s", "read error");
    return token;
  }
  token = content.str();
  return token;
}

}  // namespace zoltsh
