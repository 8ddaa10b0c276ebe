// Users and groups kept in root-only JSON files under the appliance root (format in account.h).
#include "account/account.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "core/zolt_fd.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "json/json_text.h"

namespace ZOLT::Account {
namespace {

constexpr int kIterations = 100000;
constexpr size_t kSaltLen = 16;
constexpr size_t kHashLen = 32;
constexpr unsigned kFirstGid = 1000;

std::string EtcDir() { return ZOLTRootPath("/etc/zolt"); }

bool EnsureEtcDir() {
  std::string dir = EtcDir();
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = dir.find('/', pos + 1);
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Exclusive lock over a change of the account files, across processes.
class ChangeLock {
 public:
  ChangeLock() {
    if (!EnsureEtcDir()) return;
    std::string path = EtcDir() + "/.accounts.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ChangeLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::string Hex(const unsigned char* data, size_t len) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

bool Unhex(const std::string& text, std::string& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[i + k];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return true;
}

bool Pbkdf2(const std::string& password, const std::string& salt, int iterations,
            std::array<unsigned char, kHashLen>& out) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt.data()),
                           static_cast<int>(salt.size()), iterations, EVP_sha256(),
                           static_cast<int>(out.size()), out.data()) == 1;
}

bool MakePasswordRecord(const std::string& password, Json::Value& record) {
  std::array<unsigned char, kSaltLen> salt{};
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) return false;
  std::array<unsigned char, kHashLen> hash{};
  if (!Pbkdf2(password, std::string(reinterpret_cast<char*>(salt.data()), salt.size()), kIterations,
              hash)) {
    return false;
  }
  record = Json::Value(Json::objectValue);
  record["algo"] = "pbkdf2-sha256";
  record["iter"] = kIterations;
  record["salt"] = Hex(salt.data(), salt.size());
  record["hash"] = Hex(hash.data(), hash.size());
  return true;
}

// Reads {"<member>": [...]}; a missing file is an empty list, a malformed one is an error.
bool ReadList(const std::string& path, const char* member, Json::Value& list) {
  list = Json::Value(Json::arrayValue);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) return false;
  Json::Value doc;
  std::string error;
  if (!Json::fromFile(doc, path, &error) || !doc.isObject() || !doc[member].isArray()) {
    ZOLTSyslog(LOG_ERR, "account/account:%d %s is malformed: %s", __LINE__, path.c_str(),
               error.c_str());
    return false;
  }
  list = doc[member];
  return true;
}

bool WriteAtomically(const std::string& path, const std::string& text, std::string* error) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::array<unsigned char, 8> rnd{};
  RAND_bytes(rnd.data(), static_cast<int>(rnd.size()));
  std::string tmp = path + ".tmp-" + Hex(rnd.data(), rnd.size());
  {
    ZOLTUniqueFd fd(
        ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
      if (error) *error = "cannot create " + tmp + ": " + std::strerror(errno);
      return false;
    }
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != text.size() || ::fchmod(fd.get(), 0600) != 0 || ::fsync(fd.get()) != 0) {
      if (error) *error = "cannot write " + tmp + ": " + std::strerror(errno);
      ::unlink(tmp.c_str());
      return false;
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot rename " + tmp + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  ZOLTUniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return true;
}

bool WriteList(const std::string& path, const char* member, const Json::Value& list,
               std::string* error) {
  Json::Value doc(Json::objectValue);
  doc[member] = list;
  return WriteAtomically(path, Json::toString(doc) + "\n", error);
}

std::optional<User> UserFromJson(const Json::Value& v) {
  if (!v.isObject() || !v["name"].isString() || !v["uid"].isUInt()) return std::nullopt;
  User user;
  user.name = v["name"].asString();
  user.uid = v["uid"].asUInt();
  user.admin = v["admin"].isBool() && v["admin"].asBool();
  for (const Json::Value& g : v["groups"]) {
    if (g.isString()) user.groups.push_back(g.asString());
  }
  return user;
}

std::optional<Group> GroupFromJson(const Json::Value& v) {
  if (!v.isObject() || !v["name"].isString() || !v["gid"].isUInt()) return std::nullopt;
  return Group{v["name"].asString(), v["gid"].asUInt()};
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return c == '/' || c == ':' || c == ' ' || u < 0x20 || u == 0x7f;
  });
}

// Appends groups named but missing to `groups` (under the change lock).
void AddMissingGroups(const std::vector<std::string>& names, Json::Value& groups) {
  std::set<unsigned> used;
  std::set<std::string> known;
  for (const Json::Value& g : groups) {
    if (auto group = GroupFromJson(g)) {
      used.insert(group->gid);
      known.insert(group->name);
    }
  }
  unsigned next = kFirstGid;
  for (const std::string& name : names) {
    if (known.count(name)) continue;
    while (used.count(next)) ++next;
    Json::Value row(Json::objectValue);
    row["name"] = name;
    row["gid"] = next;
    groups.append(row);
    used.insert(next);
    known.insert(name);
  }
}

}  // namespace

std::string UsersPath() { return ZOLTRootPath("/etc/zolt/users.json"); }
std::string GroupsPath() { return ZOLTRootPath("/etc/zolt/groups.json"); }

std::vector<User> ListUsers() {
  std::vector<User> out;
  Json::Value list;
  if (!ReadList(UsersPath(), "users", list)) return out;
  for (const Json::Value& v : list) {
    if (auto user = UserFromJson(v)) out.push_back(std::move(*user));
  }
  return out;
}

std::vector<Group> ListGroups() {
  std::vector<Group> out;
  Json::Value list;
  if (!ReadList(GroupsPath(), "groups", list)) return out;
  for (const Json::Value& v : list) {
    if (auto group = GroupFromJson(v)) out.push_back(std::move(*group));
  }
  return out;
}

std::optional<User> GetUserByName(const std::string& name) {
  for (User& user : ListUsers()) {
    if (user.name == name) return std::move(user);
  }
  return std::nullopt;
}

std::optional<User> GetUserByUid(unsigned uid) {
  for (User& user : ListUsers()) {
    if (user.uid == uid) return std::move(user);
  }
  return std::nullopt;
}

std::optional<Group> GetGroupByName(const std::string& name) {
  for (Group& group : ListGroups()) {
    if (group.name == name) return std::move(group);
  }
  return std::nullopt;
}

std::optional<Group> GetGroupByGid(unsigned gid) {
  for (Group& group : ListGroups()) {
    if (group.gid == gid) return std::move(group);
  }
  return std::nullopt;
}

std::vector<Group> GetUserGroups(const std::string& name) {
  std::vector<Group> out;
  std::optional<User> user = GetUserByName(name);
  if (!user) return out;
  std::vector<Group> all = ListGroups();
  for (const std::string& groupName : user->groups) {
    for (const Group& group : all) {
      if (group.name == groupName) out.push_back(group);
    }
  }
  return out;
}

std::optional<User> CheckPassword(const std::string& name, const std::string& password) {
  Json::Value list;
  const Json::Value* record = nullptr;
  if (ReadList(UsersPath(), "users", list)) {
    for (const Json::Value& v : list) {
      if (v.isObject() && v["name"].isString() && v["name"].asString() == name) record = &v;
    }
  }
  // An unknown name still costs one derivation, so timing does not reveal which names exist.
  std::string salt(kSaltLen, '\0');
  std::string expected(kHashLen, '\1');
  int iterations = kIterations;
  bool usable = false;
  if (record != nullptr) {
    const Json::Value& pw = (*record)["password"];
    usable = pw.isObject() && pw["algo"].asString() == "pbkdf2-sha256" && pw["iter"].isInt() &&
             pw["iter"].asInt() > 0 && Unhex(pw["salt"].asString(), salt) &&
             Unhex(pw["hash"].asString(), expected) && expected.size() == kHashLen;
    if (usable) iterations = pw["iter"].asInt();
  }
  std::array<unsigned char, kHashLen> hash{};
  if (!Pbkdf2(password, salt, iterations, hash)) return std::nullopt;
  bool same = CRYPTO_memcmp(hash.data(), expected.data(), kHashLen) == 0;
  if (!usable || !same) return std::nullopt;
  return UserFromJson(*record);
}

bool AddUser(const User& user, const std::string& password, std::string* error) {
  auto fail = [error](const std::string& message) {
    if (error) *error = message;
    return false;
  };
  if (!ValidName(user.name)) return fail("invalid user name");
  if (password.empty()) return fail("empty password");
  for (const std::string& group : user.groups) {
    if (!ValidName(group)) return fail("invalid group name: " + group);
  }
  ChangeLock lock;
  if (!lock.ok()) return fail("cannot lock the account files");
  Json::Value users;
  Json::Value groups;
  if (!ReadList(UsersPath(), "users", users)) return fail("cannot read " + UsersPath());
  if (!ReadList(GroupsPath(), "groups", groups)) return fail("cannot read " + GroupsPath());
  for (const Json::Value& v : users) {
    std::optional<User> other = UserFromJson(v);
    if (!other) continue;
    if (other->name == user.name) return fail("user exists: " + user.name);
    if (other->uid == user.uid) return fail("uid taken: " + std::to_string(user.uid));
  }
  Json::Value row(Json::objectValue);
  row["name"] = user.name;
  row["uid"] = user.uid;
  row["admin"] = user.admin;
  row["groups"] = Json::Value(Json::arrayValue);
  for (const std::string& group : user.groups) row["groups"].append(group);
  if (!MakePasswordRecord(password, row["password"])) return fail("cannot hash the password");
  users.append(row);
  Json::ArrayIndex before = groups.size();
  AddMissingGroups(user.groups, groups);
  if (groups.size() != before && !WriteList(GroupsPath(), "groups", groups, error)) return false;
  if (!WriteList(UsersPath(), "users", users, error)) return false;
  ZOLTSyslog(LOG_INFO, "account/account:%d added user %s (uid %u)", __LINE__, user.name.c_str(),
             user.uid);
  return true;
}

bool SetPassword(const std::string& name, const std::string& password, std::string* error) {
  if (password.empty()) {
    if (error) *error = "empty password";
    return false;
  }
  ChangeLock lock;
  Json::Value users;
  if (!lock.ok() || !ReadList(UsersPath(), "users", users)) {
    if (error) *error = "cannot read " + UsersPath();
    return false;
  }
  for (Json::Value& v : users) {
    if (v.isObject() && v["name"].isString() && v["name"].asString() == name) {
      if (!MakePasswordRecord(password, v["password"])) {
        if (error) *error = "cannot hash the password";
        return false;
      }
      return WriteList(UsersPath(), "users", users, error);
    }
  }
  if (error) *error = "no such user: " + name;
  return false;
}

bool AddGroup(const std::string& name, std::optional<unsigned> gid, std::string* error) {
  auto fail = [error](const std::string& message) {
    if (error) *error = message;
    return false;
  };
  if (!ValidName(name)) return fail("invalid group name");
  ChangeLock lock;
  Json::Value groups;
  if (!lock.ok() || !ReadList(GroupsPath(), "groups", groups)) {
    return fail("cannot read " + GroupsPath());
  }
  for (const Json::Value& v : groups) {
    std::optional<Group> other = GroupFromJson(v);
    if (!other) continue;
    if (other->name == name) return fail("group exists: " + name);
    if (gid && other->gid == *gid) return fail("gid taken: " + std::to_string(*gid));
  }
  if (gid) {
    Json::Value row(Json::objectValue);
    row["name"] = name;
    row["gid"] = *gid;
    groups.append(row);
  } else {
    AddMissingGroups({name}, groups);
  }
  return WriteList(GroupsPath(), "groups", groups, error);
}

}  // namespace ZOLT::Account
