#include "host/session_store.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "account/account.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "json/json_text.h"

namespace ZOLT::Host {
namespace {

bool ValidSid(const std::string& sid) {
  if (sid.size() != 64) return false;
  for (char c : sid) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool MakeDir(const std::string& path, mode_t mode) {
  return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

}  // namespace

std::string SessionDir() { return ZOLTRootPath("/var/run/zolt-webapi/sessions"); }

bool PrepareSessionDir() {
  std::string dir = SessionDir();
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = dir.find('/', pos + 1);
    if (!MakeDir(dir.substr(0, pos), pos == std::string::npos ? 0700 : 0755)) return false;
  }
  return ::chmod(dir.c_str(), 0700) == 0;
}

std::string CreateSession(unsigned uid, const std::string& name) {
  std::array<unsigned char, 32> rnd{};
  if (RAND_bytes(rnd.data(), static_cast<int>(rnd.size())) != 1) return "";
  std::string sid;
  for (unsigned char c : rnd) {
    sid += "0123456789abcdef"[c >> 4];
    sid += "0123456789abcdef"[c & 15];
  }
  Json::Value record(Json::objectValue);
  record["uid"] = uid;
  record["name"] = name;
  record["created"] = static_cast<Json::Int64>(::time(nullptr));
  std::string text = Json::toString(record);
  std::string path = SessionDir() + "/" + sid;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    ZOLTSyslog(LOG_ERR, "host/session_store:%d cannot create a session file [%m]", __LINE__);
    return "";
  }
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    return "";
  }
  return sid;
}

std::optional<Session> LookupSession(const std::string& sid) {
  if (!ValidSid(sid)) return std::nullopt;
  std::string path = SessionDir() + "/" + sid;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  Json::Value record;
  if (!Json::fromFile(record, path) || !record.isObject() || !record["uid"].isUInt() ||
      !record["name"].isString() || !record["created"].isInt64()) {
    return std::nullopt;
  }
  time_t created = static_cast<time_t>(record["created"].asInt64());
  if (::time(nullptr) - created > kSessionLifetime) {
    ::unlink(path.c_str());
    return std::nullopt;
  }
  Session session{record["uid"].asUInt(), record["name"].asString()};
  std::optional<Account::User> user = Account::GetUserByUid(session.uid);
  if (!user || user->name != session.name) return std::nullopt;
  return session;
}

bool RemoveSession(const std::string& sid) {
  if (!ValidSid(sid)) return false;
  return ::unlink((SessionDir() + "/" + sid).c_str()) == 0;
}

}  // namespace ZOLT::Host
