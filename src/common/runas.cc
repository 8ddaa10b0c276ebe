#include "common/runas.h"

#include <grp.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "account/account.h"
#include "common/zoltsh_log.h"

namespace {

constexpr uid_t kNoUid = static_cast<uid_t>(-1);
constexpr gid_t kNoGid = static_cast<gid_t>(-1);
constexpr int kAuthErr = LOG_AUTH | LOG_ERR;

std::vector<gid_t> CurrentGroups() {
  int n = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(n > 0 ? n : 0);
  if (n > 0) {
    n = ::getgroups(n, groups.data());
    groups.resize(n > 0 ? n : 0);
  }
  std::sort(groups.begin(), groups.end());
  return groups;
}

bool SameGroups(const std::vector<gid_t>& sortedSaved) { return CurrentGroups() == sortedSaved; }

// The supplementary groups of the account `name` with primary group `gid`: its groups in the
// system's account database when it is there, else those of the appliance's account files; `gid`
// is always one of them.
std::vector<gid_t> AccountGroups(const char* name, gid_t gid) {
  std::vector<gid_t> groups;
  if (name != nullptr && *name != '\0') {
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwnam_r(name, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
      int n = 32;
      for (int attempt = 0; attempt < 4; ++attempt) {
        groups.resize(n);
        int want = n;
        if (::getgrouplist(name, gid, groups.data(), &want) >= 0) {
          groups.resize(want);
          break;
        }
        n = want > n ? want : n * 2;
        groups.clear();
      }
    } else {
      for (const ZOLT::Account::Group& g : ZOLT::Account::GetUserGroups(name)) {
        groups.push_back(static_cast<gid_t>(g.gid));
      }
    }
  }
  if (gid != kNoGid && std::find(groups.begin(), groups.end(), gid) == groups.end()) {
    groups.push_back(gid);
  }
  return groups;
}

std::string NameOfUid(uid_t uid) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  if (auto user = ZOLT::Account::GetUserByUid(uid)) return user->name;
  return {};
}

// Restores the effective uid, gid and supplementary groups (sorted) saved earlier. Root is regained
// first when needed, since only root may set the groups or another gid. True on success.
bool RestoreIdentity(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
  const uid_t curUid = ::geteuid();
  const gid_t curGid = ::getegid();
  const bool groupsDiffer = !SameGroups(groups);
  if ((uid == kNoUid || uid == curUid) && (gid == kNoGid || gid == curGid) && !groupsDiffer) {
    return true;
  }
  const uid_t finalUid = uid != kNoUid ? uid : curUid;
  bool ok = true;
  if (curUid != 0 && ::setresuid(kNoUid, 0, kNoUid) < 0) ok = false;
  if (groupsDiffer && ::setgroups(groups.size(), groups.data()) != 0) ok = false;
  if (gid != kNoGid && gid != ::getegid() && ::setresgid(kNoGid, gid, kNoGid) != 0) ok = false;
  if (::geteuid() != finalUid && ::setresuid(kNoUid, finalUid, kNoUid) != 0) ok = false;
  return ok && ::geteuid() == finalUid && (gid == kNoGid || ::getegid() == gid);
}

}  // namespace

namespace zoltsh::internal {

RootSection::RootSection(const char* file, int line)
    : file_(file), line_(line), uid_(::geteuid()), gid_(::getegid()), groups_(CurrentGroups()) {
  bool ok = true;
  if (gid_ != 0 && ::setresgid(kNoGid, 0, kNoGid) != 0) ok = false;
  if (uid_ != 0 && ::setresuid(kNoUid, 0, kNoUid) != 0) ok = false;
  // Without a saved gid of 0 the gid can only change once the uid is root.
  if (ok == false && ::geteuid() == 0 && ::getegid() != 0) {
    ok = ::setresgid(kNoGid, 0, kNoGid) == 0;
  }
  if (!ok) {
    errno = EPERM;
    ZOLTSyslog(kAuthErr, "%s:%d ERROR: ENTERCriticalSection", file, line);
  } else {
    errno = 0;
  }
}

RootSection::~RootSection() {
  if (left_) return;
  const int savedErrno = errno;
  if (!Restore()) {
    ZOLTSyslog(LOG_AUTH | LOG_CRIT, "%s:%d ERROR: LEAVECriticalSection", file_, line_);
  }
  errno = savedErrno;
}

void RootSection::Leave(const char* file, int line) {
  left_ = true;
  if (!Restore()) {
    errno = EPERM;
    ZOLTSyslog(kAuthErr, "%s:%d ERROR: LEAVECriticalSection", file, line);
  } else {
    errno = 0;
  }
}

bool RootSection::Restore() { return RestoreIdentity(uid_, gid_, groups_); }

}  // namespace zoltsh::internal

namespace _________ {

__::__(uid_t uid, gid_t gid, const char* file, int line, const char* name)
    : savedUid_(::geteuid()),
      savedGid_(::getegid()),
      file_(file),
      line_(line),
      name_(name),
      targetUid_(uid),
      targetGid_(gid),
      savedGroups_(CurrentGroups()) {
  Switch(uid, gid, nullptr);
  if (!switched_ && std::strcmp(name_, "RUN_AS") != 0) {
    ZOLTSyslog(kAuthErr, "%s:%d ERROR: %s(%d, %d)", file_, line_, name_, static_cast<int>(uid),
               static_cast<int>(gid));
  }
}

__::__(const char* account, const char* file, int line, const char* name)
    : savedUid_(::geteuid()),
      savedGid_(::getegid()),
      file_(file),
      line_(line),
      name_(name),
      targetUid_(kNoUid),
      targetGid_(kNoGid),
      savedGroups_(CurrentGroups()) {
  uid_t uid;
  gid_t gid;
  if (account != nullptr && getugid(account, &uid, &gid)) {
    targetUid_ = uid;
    targetGid_ = gid;
    Switch(uid, gid, account);
  }
  if (!switched_) {
    ZOLTSyslog(kAuthErr, "%s:%d ERROR: %s(\"%s\")", file_, line_, name_,
               account != nullptr ? account : "");
  }
}

void __::Switch(uid_t uid, gid_t gid, const char* account) {
  const uid_t u = savedUid_;
  const gid_t g = savedGid_;
  if (gid == g && uid == u) {
    switched_ = true;
    return;
  }
  bool ok = true;
  if (u != 0 && uid != u && ::setresuid(kNoUid, 0, kNoUid) < 0) ok = false;
  // A switch to another non-root user takes that user's groups, so none of the previous
  // identity's groups (root's included) stays in force inside the block.
  if (ok && uid != u && uid != kNoUid && uid != 0) {
    std::string name = account != nullptr ? std::string(account) : NameOfUid(uid);
    std::vector<gid_t> groups = AccountGroups(name.c_str(), gid != kNoGid ? gid : g);
    if (::setgroups(groups.size(), groups.data()) != 0) ok = false;
  }
  if (ok && gid != g && gid != kNoGid && ::setresgid(kNoGid, gid, kNoGid) != 0) ok = false;
  if (ok && uid != u && uid != kNoUid && ::setresuid(kNoUid, uid, kNoUid) != 0) ok = false;
  if (ok) {
    switched_ = true;
    return;
  }
  // Undo a half-done switch at once: the alternative block must not run with it.
  const int savedErrno = errno;
  if (!RestoreIdentity(savedUid_, savedGid_, savedGroups_)) {
    ZOLTSyslog(LOG_AUTH | LOG_CRIT, "%s:%d ERROR: ~%s(%d, %d)", file_, line_, name_,
               static_cast<int>(savedUid_), static_cast<int>(savedGid_));
  }
  errno = savedErrno;
}

__::~__() {
  const int savedErrno = errno;
  if (!RestoreIdentity(savedUid_, savedGid_, savedGroups_)) {
    ZOLTSyslog(LOG_AUTH | LOG_CRIT, "%s:%d ERROR: ~%s(%d, %d)", file_, line_, name_,
               static_cast<int>(savedUid_), static_cast<int>(savedGid_));
  }
  errno = savedErrno;
}

bool __::OrThrow() const {
  if (switched_) return true;
  std::string text = std::string(name_) + "(" + std::to_string(static_cast<int>(targetUid_)) +
                     ", " + std::to_string(static_cast<int>(targetGid_)) + ")";
  ZOLTSyslog(kAuthErr, "%s:%d ERROR: %s", file_, line_, text.c_str());
  throw runas_error(text);
}

bool __::getugid(const char* name, uid_t* uid, gid_t* gid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size == -1) size = 16384;
  for (int attempt = 0; attempt < 6; ++attempt) {
    std::unique_ptr<char, decltype(&std::free)> buf(static_cast<char*>(std::malloc(size)),
                                                    &std::free);
    if (!buf) {
      char text[256];
      const char* msg = strerror_r(errno, text, sizeof(text));
      ZOLTSH_LOG(kAuthErr, "ERROR: malloc(%ld) [%s]", size, msg);
      return false;
    }
    struct passwd pw;
    struct passwd* found = nullptr;
    int rc = ::getpwnam_r(name, &pw, buf.get(), size, &found);
    if (rc == ERANGE) {
      size *= 2;
      continue;
    }
    if (rc == 0 && found != nullptr) {
      *uid = found->pw_uid;
      *gid = static_cast<gid_t>(found->pw_uid);
      return true;
    }
    if (rc == 0) {
      // Not a system account: the appliance's own accounts are the other place users live.
      if (auto user = ZOLT::Account::GetUserByName(name)) {
        *uid = static_cast<uid_t>(user->uid);
        *gid = static_cast<gid_t>(user->uid);
        return true;
      }
      ZOLTSH_LOG(kAuthErr, "ERROR: getpwnam(%s) [%s]", name, "Name not found");
      return false;
    }
    char text[256];
    const char* msg = strerror_r(rc, text, sizeof(text));
    ZOLTSH_LOG(kAuthErr, "ERROR: getpwnam(%s) [%s]", name, msg);
    return false;
  }
  ZOLTSH_LOG(kAuthErr, "ERROR: getpwnam(%s) [%s]", name, "Numerical result out of range");
  return false;
}

}  // namespace _________

bool ZOLTSHSetEUGID(const std::string& userName, uid_t uid, gid_t gid) {
  if (::geteuid() != 0 && ::setresuid(kNoUid, 0, kNoUid) < 0) {
    uid_t r, e, s;
    ::getresuid(&r, &e, &s);
    ZOLTSH_LOG_ERR("Failed to seteuid to root, real uid:%u, euid:%u , %m", r, e);
    return false;
  }
  std::vector<gid_t> groups = AccountGroups(userName.c_str(), gid);
  if (::setgroups(groups.size(), groups.data()) != 0) {
    ZOLTSH_LOG_ERR("Failed to initgroup for user=%u, %m", uid);
  }
  if (::setresgid(kNoGid, gid, kNoGid) != 0) {
    ZOLTSH_LOG_ERR("Failed to setresgid(-1, %u, -1), %m", gid);
    return false;
  }
  if (::setresuid(kNoUid, uid, kNoUid) != 0) {
    ZOLTSH_LOG_ERR("Failed to setresuid(-1, %u, -1), %m", uid);
    return false;
  }
  return true;
}
