#include "drive/drive_store.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>

#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "drive/drive_error.h"
#include "drive/drive_fs.h"
#include "json/json_text.h"

namespace zoltdrive {
namespace {

constexpr size_t kMaxEncodedName = 240;  // below NAME_MAX with room for ".json" and ".lock"
constexpr size_t kMaxVersionDigits = 18;

bool IsPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseVersionNumber(const std::string& text, uint64_t& n) {
  if (text.empty() || text.size() > kMaxVersionDigits) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size() && n > 0 && text[0] != '0';
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Entry names of `dir`; names starting with '.' only when `hidden`.
std::vector<std::string> DirNames(const std::string& dir, bool hidden = false) {
  std::vector<std::string> names;
  DirPtr d(::opendir(dir.c_str()));
  if (!d) return names;
  while (dirent* e = ::readdir(d.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (e->d_name[0] == '.' && !hidden) continue;
    names.emplace_back(e->d_name);
  }
  return names;
}

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

bool FailAt(const char* file, int line, int code, const std::string& message) {
  ZOLTDriveErrSet(code, message);
  ZOLTSyslog(LOG_ERR, "%s:%d %s", file, line, message.c_str());
  return false;
}

std::string EncodeName(std::string_view raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size());
  for (unsigned char c : raw) {
    if (IsPlain(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

bool DecodeName(std::string_view encoded, std::string& raw) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c != '%') {
      if (!IsPlain(static_cast<unsigned char>(c))) return false;
      out.push_back(c);
      continue;
    }
    if (i + 2 >= encoded.size()) return false;
    int hi = HexValue(encoded[i + 1]);
    int lo = HexValue(encoded[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  raw.swap(out);
  return true;
}

std::string StoreDir() { return ZOLTRootPath("/var/packages/ZoltDrive/target/store"); }
std::string NsDir(const std::string& ns) { return StoreDir() + "/" + EncodeName(ns); }
std::string ObjectsDir(const std::string& ns) { return NsDir(ns) + "/objects"; }
std::string ObjectDir(const std::string& ns, const std::string& id) {
  return ObjectsDir(ns) + "/" + EncodeName(id);
}
std::string LockPath(const std::string& ns, const std::string& id) {
  return NsDir(ns) + "/locks/" + EncodeName(id) + ".lock";
}
std::string VersionsDir(const std::string& ns, const std::string& id) {
  return ObjectDir(ns, id) + "/versions";
}
std::string VersionDir(const std::string& ns, const std::string& id, const std::string& version) {
  return VersionsDir(ns, id) + "/" + version;
}
std::string TextFile(const std::string& versionDir, const std::string& key) {
  return versionDir + "/text/" + EncodeName(key) + ".json";
}
std::string MetaBinaryFile(const std::string& versionDir, const std::string& name) {
  return versionDir + "/metabinary/" + EncodeName(name);
}

bool ParseName(const Json::Value& value, const char* what, std::string& out) {
  if (!value.isString() || value.asString().empty()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                           std::string("\"") + what + "\" must be a non-empty string");
  }
  std::string text = value.asString();
  if (EncodeName(text).size() > kMaxEncodedName) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, std::string("\"") + what + "\" is too long");
  }
  out.swap(text);
  return true;
}

bool ParseNs(const Json::Value& request, std::string& ns) {
  if (!request.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "request must be a JSON object");
  }
  return ParseName(request["ns"], "ns", ns);
}

bool ParseUid(const Json::Value& value, unsigned& uid) {
  if (value.isUInt()) {
    uid = value.asUInt();
    return true;
  }
  if (value.isIntegral() && value.asInt64() == -1) {
    uid = kAnonymousUid;
    return true;
  }
  if (value.isString()) {
    const std::string text = value.asString();
    uint32_t n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (!text.empty() && ec == std::errc() && end == text.data() + text.size()) {
      uid = n;
      return true;
    }
  }
  return false;
}

bool ParseRequester(const Json::Value& request, unsigned& uid) {
  const Json::Value& value = request["requester"];
  if (value.isNull()) {
    uid = kSystemUid;
    return true;
  }
  if (!ParseUid(value, uid)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"requester\" must be a uid");
  }
  return true;
}

bool ParseVersion(const Json::Value& request, std::string& version) {
  const Json::Value* value = &request["version"];
  if (value->isNull() || (value->isString() && value->asString().empty())) value = &request["ver"];
  version.clear();
  if (value->isNull() || (value->isString() && value->asString().empty())) return true;
  std::string text;
  if (value->isString()) {
    text = value->asString();
  } else if (value->isUInt64()) {
    text = std::to_string(value->asUInt64());
  } else {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"version\" must be a version name");
  }
  uint64_t n = 0;
  if (!ParseVersionNumber(text, n)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND, "no version \"" + text + "\"");
  }
  version.swap(text);
  return true;
}

bool ReadHead(const std::string& ns, const std::string& id, std::string& version) {
  Json::Value head;
  std::string path = ObjectDir(ns, id) + "/HEAD";
  std::string error;
  if (!Json::fromFile(head, path, &error)) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND,
                             "no object \"" + id + "\" in \"" + ns + "\"");
    }
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot read " + path + ": " + error);
  }
  uint64_t n = 0;
  if (!head["version"].isString() || !ParseVersionNumber(head["version"].asString(), n)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "damaged " + path);
  }
  version = head["version"].asString();
  return true;
}

bool ReadMeta(const std::string& ns, const std::string& id, const std::string& version,
              const std::string& head, Json::Value& meta) {
  uint64_t n = 0, h = 0;
  if (!ParseVersionNumber(version, n) || !ParseVersionNumber(head, h) || n > h) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND,
                           "no version \"" + version + "\" of \"" + id + "\"");
  }
  std::string path = VersionDir(ns, id, version) + "/meta.json";
  std::string error;
  if (!Json::fromFile(meta, path, &error)) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND,
                             "no version \"" + version + "\" of \"" + id + "\"");
    }
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot read " + path + ": " + error);
  }
  if (!meta.isObject()) return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "damaged " + path);
  return true;
}

std::vector<std::string> ListVersionNames(const std::string& ns, const std::string& id,
                                          const std::string& head) {
  uint64_t h = 0;
  std::vector<uint64_t> numbers;
  if (!ParseVersionNumber(head, h)) return {};
  for (const std::string& name : DirNames(VersionsDir(ns, id))) {
    uint64_t n = 0;
    if (ParseVersionNumber(name, n) && n <= h) numbers.push_back(n);
  }
  std::sort(numbers.rbegin(), numbers.rend());
  std::vector<std::string> names;
  names.reserve(numbers.size());
  for (uint64_t n : numbers) names.push_back(std::to_string(n));
  return names;
}

std::vector<std::string> ListObjectIds(const std::string& ns) {
  std::vector<std::string> ids;
  const std::string dir = ObjectsDir(ns);
  for (const std::string& name : DirNames(dir)) {
    std::string id;
    if (!DecodeName(name, id)) continue;
    if (::access((dir + "/" + name + "/HEAD").c_str(), F_OK) != 0) continue;
    ids.push_back(std::move(id));
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool ReadText(const std::string& versionDir, const std::string& key, Json::Value& value) {
  std::string error;
  std::string path = TextFile(versionDir, key);
  if (!Json::fromFile(value, path, &error)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot read " + path + ": " + error);
  }
  return true;
}

int LevelOfWord(const Json::Value& word) {
  if (!word.isString()) return kPermDeny;
  const std::string w = word.asString();
  if (w == "owner") return kPermOwner;
  if (w == "rw") return kPermRw;
  if (w == "ro") return kPermRo;
  return kPermDeny;
}

const char* PermWord(int level) {
  if (level >= kPermOwner) return "owner";
  if (level >= kPermRw) return "rw";
  if (level >= kPermRo) return "ro";
  return "deny";
}

int PermLevel(const Json::Value& meta, unsigned requester) {
  if (requester == kSystemUid) return kPermOwner;
  unsigned owner = kAnonymousUid;
  ParseUid(meta["owner"], owner);
  if (requester != kAnonymousUid && requester == owner) return kPermOwner;
  const Json::Value& acl = meta["acl"];
  if (!acl.isObject() || !acl["enabled"].isBool() || !acl["enabled"].asBool()) return kPermDeny;
  int level = LevelOfWord(acl["public"]["perm"]);
  level = std::min(level, kPermRw);  // the public never owns an object
  if (requester == kAnonymousUid) return level;
  const Json::Value& users = acl["vexo_user"];
  if (users.isObject()) {
    level = std::max(level, LevelOfWord(users[std::to_string(requester)]["perm"]));
  }
  const Json::Value& groups = acl["vexo_group"];
  if (groups.isObject() && !groups.empty()) {
    for (unsigned gid : GroupsForRights(requester)) {
      level = std::max(level, LevelOfWord(groups[std::to_string(gid)]["perm"]));
    }
  }
  return level;
}

int64_t Now() { return static_cast<int64_t>(::time(nullptr)); }

bool CommitVersion(const std::string& ns, const std::string& id, const std::string& head,
                   NewVersion& next, std::string& version) {
  uint64_t h = 0;
  if (!head.empty() && !ParseVersionNumber(head, h)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "damaged HEAD of \"" + id + "\"");
  }
  const std::string name = std::to_string(h + 1);
  const std::string versionsDir = VersionsDir(ns, id);
  if (!MakeDirs(versionsDir)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot create " + versionsDir + ": " + ErrnoText());
  }
  // Leftovers of crashed writes: staging directories and versions above HEAD.
  for (const std::string& entry : DirNames(versionsDir, true)) {
    uint64_t n = 0;
    if ((ParseVersionNumber(entry, n) && n > h) || entry.rfind(".staging-", 0) == 0) {
      RemoveTree(versionsDir + "/" + entry);
    }
  }

  TempPath staging(versionsDir + "/.staging-" + name + "-" + RandomHex(6));
  const std::string& dir = staging.path();
  if (::mkdir(dir.c_str(), 0700) != 0 || ::mkdir((dir + "/text").c_str(), 0700) != 0 ||
      ::mkdir((dir + "/metabinary").c_str(), 0700) != 0) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot create " + dir + ": " + ErrnoText());
  }

  // Text keys: the base version's, with the request's written over them.
  std::set<std::string> keys;
  if (!next.baseDir.empty()) {
    for (const Json::Value& k : next.baseTextKeys) {
      if (!k.isString()) continue;
      const std::string key = k.asString();
      if ((next.text != nullptr && next.text->isMember(key)) || next.ownText.isMember(key))
        continue;
      if (!LinkOrCopy(TextFile(next.baseDir, key), TextFile(dir, key))) {
        return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                               "cannot keep text \"" + key + "\": " + ErrnoText());
      }
      keys.insert(key);
    }
  }
  auto writeKeys = [&](const Json::Value& text, const Json::Value* winner) {
    if (!text.isObject()) return true;
    for (auto it = text.begin(); it != text.end(); ++it) {
      const std::string key = it.name();
      if (it->isNull() || (winner != nullptr && winner->isMember(key))) continue;
      if (key.empty() || EncodeName(key).size() > kMaxEncodedName) {
        return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "bad text key \"" + key + "\"");
      }
      if (!WriteNewFile(TextFile(dir, key), Json::toString(*it)) || !FaultPoint("text-staged")) {
        return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                               "cannot write text \"" + key + "\": " + ErrnoText());
      }
      keys.insert(key);
    }
    return true;
  };
  if (next.text != nullptr && !writeKeys(*next.text, nullptr)) return false;
  if (!writeKeys(next.ownText, next.text)) return false;

  // Metabinary files: the base version's unless removed or replaced, then the new ones.
  Json::Value info(Json::objectValue);
  std::set<std::string> dropped;
  for (const Json::Value& n : next.removeMetabinary) {
    if (n.isString()) dropped.insert(n.asString());
  }
  for (const Json::Value& f : next.metabinaryFiles) {
    if (f.isObject() && f["name"].isString()) dropped.insert(f["name"].asString());
  }
  if (!next.baseDir.empty() && next.baseMetabinary.isObject()) {
    for (auto it = next.baseMetabinary.begin(); it != next.baseMetabinary.end(); ++it) {
      const std::string file = it.name();
      if (dropped.count(file) != 0) continue;
      if (!LinkOrCopy(MetaBinaryFile(next.baseDir, file), MetaBinaryFile(dir, file))) {
        return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                               "cannot keep metabinary \"" + file + "\": " + ErrnoText());
      }
      info[file] = *it;
    }
  }
  for (const Json::Value& f : next.metabinaryFiles) {
    if (!f.isObject() || !f["name"].isString() || !f["path"].isString() ||
        f["name"].asString().empty() || EncodeName(f["name"].asString()).size() > kMaxEncodedName) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                             "\"metabinary_files\" entries need \"name\" and \"path\"");
    }
    const std::string file = f["name"].asString();
    const std::string target = MetaBinaryFile(dir, file);
    if (!CopyNewFile(f["path"].asString(), target) || !FaultPoint("text-staged")) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot store metabinary \"" + file + "\" from " +
                                                    f["path"].asString() + ": " + ErrnoText());
    }
    struct stat st {};
    ::stat(target.c_str(), &st);
    Json::Value entry(Json::objectValue);
    entry["format"] = f["format"].isString() ? f["format"].asString() : std::string("raw");
    entry["size"] = static_cast<Json::Int64>(st.st_size);
    info[file] = entry;
  }

  Json::Value textKeys(Json::arrayValue);
  for (const std::string& key : keys) textKeys.append(key);
  next.meta["version"] = name;
  next.meta["time"] = static_cast<Json::Int64>(Now());
  next.meta["text_keys"] = std::move(textKeys);
  next.meta["metabinary_info"] = std::move(info);
  if (!WriteNewFile(dir + "/meta.json", Json::toString(next.meta)) || !SyncDir(dir + "/text") ||
      !SyncDir(dir + "/metabinary") || !SyncDir(dir)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot write version record: " + ErrnoText());
  }
  if (!FaultPoint("version-staged")) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot publish version: " + ErrnoText());
  }
  const std::string published = versionsDir + "/" + name;
  if (::rename(dir.c_str(), published.c_str()) != 0) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot publish version: " + ErrnoText());
  }
  staging.keep();
  TempPath undo(published);  // above HEAD until HEAD names it
  if (!SyncDir(versionsDir) || !FaultPoint("version-published")) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot publish version: " + ErrnoText());
  }
  Json::Value headValue(Json::objectValue);
  headValue["version"] = name;
  if (!ReplaceFile(ObjectDir(ns, id), "HEAD", Json::toString(headValue), "head-staged")) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot update HEAD: " + ErrnoText());
  }
  undo.keep();
  version = name;
  return true;
}

}  // namespace zoltdrive
