#include "drive/drive_object.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/zolt_syslog.h"
#include "drive/drive_access.h"
#include "drive/drive_error.h"
#include "drive/drive_fs.h"
#include "drive/drive_store.h"
#include "json/json_text.h"

namespace zoltdrive {
namespace {

bool IsTrue(const Json::Value& v) { return v.isBool() && v.asBool(); }

bool ParseKeySet(const Json::Value& v, const char* what, bool& all, std::set<std::string>& keys) {
  keys.clear();
  if (v.isNull() || v.isBool()) {
    all = IsTrue(v);
    return true;
  }
  if (!v.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                           std::string("\"field\" \"") + what + "\" must be a bool or an object");
  }
  all = false;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (IsTrue(*it)) keys.insert(it.name());
  }
  return true;
}

// An optional time member; false (1006) when present but not an integer.
bool ParseTime(const Json::Value& request, const char* name, int64_t& out, bool& given) {
  const Json::Value& v = request[name];
  given = !v.isNull();
  if (!given) return true;
  if (!v.isIntegral()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                           std::string("\"") + name + "\" must be an integer");
  }
  out = v.asInt64();
  return true;
}

bool ParseOptionalString(const Json::Value& request, const char* name, std::string& out,
                         bool& given) {
  const Json::Value& v = request[name];
  given = !v.isNull();
  if (!given) return true;
  if (!v.isString()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                           std::string("\"") + name + "\" must be a string");
  }
  out = v.asString();
  return true;
}

bool CheckPermEntry(const Json::Value& entry) {
  if (!entry.isObject()) return false;
  if (!entry["perm"].isNull() && !entry["perm"].isString()) return false;
  return entry["inherit"].isNull() || entry["inherit"].isBool();
}

// An acl as drive_object.h describes it.
bool CheckAcl(const Json::Value& acl) {
  if (!acl.isObject()) return false;
  if (!acl["enabled"].isNull() && !acl["enabled"].isBool()) return false;
  if (!acl["public"].isNull() &&
      !(acl["public"].isObject() && (acl["public"].empty() || CheckPermEntry(acl["public"])))) {
    return false;
  }
  for (const char* member : {"vexo_user", "vexo_group"}) {
    const Json::Value& map = acl[member];
    if (map.isNull()) continue;
    if (!map.isObject()) return false;
    for (auto it = map.begin(); it != map.end(); ++it) {
      unsigned id = 0;
      if (!ParseUid(Json::Value(it.name()), id) || !CheckPermEntry(*it)) return false;
    }
  }
  return true;
}

// Applies the request's "metatext" (null removes a key) to `metatext`.
bool ApplyMetatext(const Json::Value& request, Json::Value& metatext) {
  const Json::Value& given = request["metatext"];
  if (!metatext.isObject()) metatext = Json::Value(Json::objectValue);
  if (!given.isNull() && !given.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"metatext\" must be an object");
  }
  for (auto it = given.begin(); it != given.end(); ++it) {
    if (it->isNull()) {
      metatext.removeMember(it.name());
    } else {
      metatext[it.name()] = *it;
    }
  }
  return true;
}

bool CheckText(const Json::Value& request) {
  const Json::Value& text = request["text"];
  if (!text.isNull() && !text.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"text\" must be an object");
  }
  return true;
}

bool CheckArray(const Json::Value& request, const char* name) {
  const Json::Value& v = request[name];
  if (!v.isNull() && !v.isArray()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST,
                           std::string("\"") + name + "\" must be an array");
  }
  return true;
}

bool CommitMsgOf(const Json::Value& request, Json::Value& out) {
  const Json::Value& v = request["commit_msg"];
  if (v.isNull()) {
    out = Json::Value(Json::objectValue);
    return true;
  }
  if (!v.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"commit_msg\" must be an object");
  }
  out = v;
  return true;
}

// Makes the namespace's lock directory and takes the lock of `id`.
bool LockObject(const std::string& ns, const std::string& id, FileLock& lock) {
  const std::string dir = NsDir(ns) + "/locks";
  if (!MakeDirs(dir) || !lock.Acquire(LockPath(ns, id))) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                           "cannot lock \"" + id + "\": " + std::string(std::strerror(errno)));
  }
  return true;
}

bool ObjectExists(const std::string& ns, const std::string& id) {
  return ::access((ObjectDir(ns, id) + "/HEAD").c_str(), F_OK) == 0;
}

// The id for a new object: the request's member `name`, or a fresh random one.
bool NewId(const Json::Value& request, const char* name, const std::string& ns, std::string& id) {
  if (!request[name].isNull()) return ParseName(request[name], name, id);
  do {
    id = RandomHex(8);
  } while (ObjectExists(ns, id));
  return true;
}

// Reads the current record and the requester's right, checking it against `needed`.
bool ReadCurrent(const std::string& ns, const std::string& id, unsigned requester, int needed,
                 std::string& head, Json::Value& meta, int& level) {
  if (!ReadHead(ns, id, head) || !ReadMeta(ns, id, head, head, meta)) return false;
  level = PermLevel(meta, requester);
  if (level < needed) {
    if (level < kPermRo) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION,
                             "uid " + std::to_string(requester) + " may not access \"" + id + "\"");
    }
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION,
                           "uid " + std::to_string(requester) + " may not change \"" + id + "\"");
  }
  return true;
}

const char* MimeTypeOf(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {{".png", "image/png"},     {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"},
                {".gif", "image/gif"},     {".bmp", "image/bmp"},         {".webp", "image/webp"},
                {".svg", "image/svg+xml"}, {".json", "application/json"}, {".txt", "text/plain"}};
  for (const auto& t : kTypes) {
    size_t n = std::strlen(t.ext);
    if (name.size() >= n && strcasecmp(name.c_str() + name.size() - n, t.ext) == 0) return t.type;
  }
  return "application/octet-stream";
}

bool WriteFd(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool ParseFieldSelection(const Json::Value& field, bool byDefault, FieldSelection& out) {
  FieldSelection sel;
  if (field.isNull()) {
    sel.allText = sel.allMetatext = sel.metabinaryInfo = byDefault;
    out = sel;
    return true;
  }
  if (!field.isObject()) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"field\" must be an object");
  }
  if (!ParseKeySet(field["text"], "text", sel.allText, sel.textKeys) ||
      !ParseKeySet(field["metatext"], "metatext", sel.allMetatext, sel.metatextKeys)) {
    return false;
  }
  sel.metabinaryInfo = IsTrue(field["metabinary_info"]);
  out = sel;
  return true;
}

bool JsonSame(const Json::Value& a, const Json::Value& b) {
  if (a.isNumeric() && b.isNumeric() && !a.isBool() && !b.isBool()) {
    if (a.isIntegral() && b.isIntegral()) {
      bool aNeg = a.isInt64() && a.asInt64() < 0;
      bool bNeg = b.isInt64() && b.asInt64() < 0;
      if (aNeg || bNeg) return aNeg && bNeg && a.asInt64() == b.asInt64();
      return a.asUInt64() == b.asUInt64();
    }
    return a.asDouble() == b.asDouble();
  }
  if (a.type() != b.type()) return false;
  if (a.isArray()) {
    if (a.size() != b.size()) return false;
    for (Json::ArrayIndex i = 0; i < a.size(); ++i) {
      if (!JsonSame(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.isObject()) {
    if (a.size() != b.size()) return false;
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (!b.isMember(it.name()) || !JsonSame(*it, b[it.name()])) return false;
    }
    return true;
  }
  return a == b;
}

bool JsonMatches(const Json::Value& stored, const Json::Value& wanted) {
  if (wanted.isArray() && stored.isArray()) {
    for (const Json::Value& w : wanted) {
      bool found = false;
      for (const Json::Value& s : stored) {
        if (JsonSame(s, w)) {
          found = true;
          break;
        }
      }
      if (!found) return false;
    }
    return true;
  }
  return JsonSame(stored, wanted);
}

bool ObjectAccess::Fill(ZOLT_DRIVE_OBJECT& obj, const Json::Value& meta,
                        const std::string& versionDir, const FieldSelection& sel, int level) {
  ZOLT_DRIVE_OBJECT out;
  FillWritten(out, meta, versionDir, level);
  out.pendingTextDir_.clear();
  out.pendingTextKeys_ = Json::Value();
  out.text_ = Json::Value(Json::objectValue);
  for (const Json::Value& k : meta["text_keys"]) {
    if (!k.isString()) continue;
    const std::string key = k.asString();
    if (!sel.allText && sel.textKeys.count(key) == 0) continue;
    if (!ReadText(versionDir, key, out.text_[key])) return false;
  }
  if (!sel.allMetatext) {
    Json::Value picked(Json::objectValue);
    for (const std::string& key : sel.metatextKeys) {
      if (out.metatext_.isMember(key)) picked[key] = out.metatext_[key];
    }
    out.metatext_.swap(picked);
  }
  if (!sel.metabinaryInfo) out.metabinaryInfo_ = Json::Value(Json::objectValue);
  obj = std::move(out);
  return true;
}

void ObjectAccess::FillWritten(ZOLT_DRIVE_OBJECT& obj, const Json::Value& meta,
                               const std::string& versionDir, int level) {
  obj.ns_ = meta["ns"].asString();
  obj.id_ = meta["id"].asString();
  obj.version_ = meta["version"].asString();
  obj.category_ = meta["category"].isString() ? meta["category"].asString() : std::string();
  obj.parentId_ = meta["parent_id"].isString() ? meta["parent_id"].asString() : std::string();
  obj.owner_ = kAnonymousUid;
  ParseUid(meta["owner"], obj.owner_);
  obj.ctime_ = meta["ctime"].asInt64();
  obj.mtime_ = meta["mtime"].asInt64();
  obj.acl_ = meta["acl"].isObject() ? meta["acl"] : Json::Value(Json::objectValue);
  obj.commitMsg_ =
      meta["commit_msg"].isObject() ? meta["commit_msg"] : Json::Value(Json::objectValue);
  obj.metatext_ = meta["metatext"].isObject() ? meta["metatext"] : Json::Value(Json::objectValue);
  obj.metabinaryInfo_ =
      meta["metabinary_info"].isObject() ? meta["metabinary_info"] : Json::Value(Json::objectValue);
  obj.permLevel_ = level;
  obj.perm_ = PermWord(level);
  obj.text_ = Json::Value(Json::objectValue);
  obj.pendingTextDir_ = versionDir;
  obj.pendingTextKeys_ = meta["text_keys"];
}

void ObjectAccess::FillId(ZOLT_DRIVE_OBJECT& obj, const std::string& ns, const std::string& id) {
  obj.clear();
  obj.ns_ = ns;
  obj.id_ = id;
}

}  // namespace zoltdrive

using namespace zoltdrive;

ZOLT_DRIVE_OBJECT::ZOLT_DRIVE_OBJECT() { clear(); }

void ZOLT_DRIVE_OBJECT::clear() {
  ns_.clear();
  id_.clear();
  version_.clear();
  category_.clear();
  parentId_.clear();
  perm_ = PermWord(kPermDeny);
  permLevel_ = kPermDeny;
  owner_ = kAnonymousUid;
  ctime_ = mtime_ = 0;
  acl_ = Json::Value(Json::objectValue);
  commitMsg_ = Json::Value(Json::objectValue);
  metatext_ = Json::Value(Json::objectValue);
  metabinaryInfo_ = Json::Value(Json::objectValue);
  text_ = Json::Value(Json::objectValue);
  pendingTextDir_.clear();
  pendingTextKeys_ = Json::Value();
}

void ZOLT_DRIVE_OBJECT::LoadPendingText() const {
  if (pendingTextDir_.empty()) return;
  RootSection root;
  Json::Value text(Json::objectValue);
  for (const Json::Value& k : pendingTextKeys_) {
    if (!k.isString()) continue;
    if (!ReadText(pendingTextDir_, k.asString(), text[k.asString()])) {
      // The version was deleted meanwhile: the text stays as far as it could be read.
      text.removeMember(k.asString());
    }
  }
  text_.swap(text);
  pendingTextDir_.clear();
  pendingTextKeys_ = Json::Value();
}

const Json::Value& ZOLT_DRIVE_OBJECT::get_ref_text() const {
  LoadPendingText();
  return text_;
}

Json::Value& ZOLT_DRIVE_OBJECT::get_ref_text() {
  LoadPendingText();
  return text_;
}

bool ZOLT_DRIVE_OBJECT::toJson(const Json::Value& field, Json::Value& out, bool withText) const {
  auto wanted = [&field](const char* name) {
    return !(field.isObject() && field[name].isBool() && !field[name].asBool());
  };
  Json::Value json(Json::objectValue);
  if (wanted("id")) json["id"] = id_;
  if (wanted("ns")) json["ns"] = ns_;
  if (wanted("version")) json["version"] = version_;
  if (wanted("category")) json["category"] = category_;
  if (wanted("owner")) json["owner"] = owner_;
  if (wanted("ctime")) json["ctime"] = static_cast<Json::Int64>(ctime_);
  if (wanted("mtime")) json["mtime"] = static_cast<Json::Int64>(mtime_);
  if (wanted("parent_id")) json["parent_id"] = parentId_;
  if (wanted("acl")) json["acl"] = acl_;
  if (wanted("perm")) json["perm"] = perm_;
  if (wanted("perm_level")) json["perm_level"] = permLevel_;
  if (wanted("commit_msg")) json["commit_msg"] = commitMsg_;
  if (wanted("metatext")) json["metatext"] = metatext_;
  if (wanted("metabinary_info")) json["metabinary_info"] = metabinaryInfo_;
  if (withText && wanted("text")) json["text"] = get_ref_text();
  out.swap(json);
  return true;
}

bool ZOLT_DRIVE_OBJECT::Get(const Json::Value& request) {
  RootSection root;
  std::string ns, id, version, head;
  unsigned requester = 0;
  FieldSelection sel;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester) || !ParseVersion(request, version) ||
      !ParseFieldSelection(request["field"], true, sel)) {
    return false;
  }
  Json::Value meta;
  int level = 0;
  if (!ReadCurrent(ns, id, requester, kPermRo, head, meta, level)) return false;
  if (!version.empty() && version != head) {
    if (!ReadMeta(ns, id, version, head, meta)) return false;
  } else {
    version = head;
  }
  return ObjectAccess::Fill(*this, meta, VersionDir(ns, id, version), sel, level);
}

bool ZOLT_DRIVE_OBJECT::Set(const Json::Value& request) {
  RootSection root;
  std::string ns, id, base, head;
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester) || !ParseVersion(request, base) || !CheckText(request) ||
      !CheckArray(request, "metabinary_files") || !CheckArray(request, "remove_metabinary")) {
    return false;
  }
  FileLock lock;
  if (!LockObject(ns, id, lock)) return false;
  Json::Value meta;
  int level = 0;
  if (!ReadCurrent(ns, id, requester, kPermRw, head, meta, level)) return false;
  if (!base.empty() && base != head) {
    Json::Value baseMeta;
    if (!ReadMeta(ns, id, base, head, baseMeta)) return false;
  }

  NewVersion next;
  next.meta = meta;
  std::string text;
  bool given = false;
  if (!ParseOptionalString(request, "category", text, given)) return false;
  if (given) next.meta["category"] = text;
  if (!ParseOptionalString(request, "parent_id", text, given)) return false;
  if (given) next.meta["parent_id"] = text;
  int64_t t = 0;
  if (!ParseTime(request, "ctime", t, given)) return false;
  if (given) next.meta["ctime"] = static_cast<Json::Int64>(t);
  if (!ParseTime(request, "mtime", t, given)) return false;
  next.meta["mtime"] = static_cast<Json::Int64>(given ? t : Now());
  if (!request["acl"].isNull()) {
    if (level < kPermOwner) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION, "only the owner may share \"" + id + "\"");
    }
    if (!CheckAcl(request["acl"])) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "malformed \"acl\"");
    }
    next.meta["acl"] = request["acl"];
  }
  if (!request["owner"].isNull()) {
    unsigned owner = 0;
    if (!ParseUid(request["owner"], owner) || owner == kAnonymousUid) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"owner\" must be a uid");
    }
    if (level < kPermOwner) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION,
                             "only the owner may give \"" + id + "\" away");
    }
    next.meta["owner"] = owner;
  }
  if (!CommitMsgOf(request, next.meta["commit_msg"])) return false;
  if (!ApplyMetatext(request, next.meta["metatext"])) return false;
  const Json::Value& removeTag = request["remove_tag"];
  if (!removeTag.isNull()) {
    if (!removeTag.isString()) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"remove_tag\" must be a string");
    }
    Json::Value kept(Json::arrayValue);
    for (const Json::Value& tag : meta["metatext"]["tag"]) {
      if (!JsonSame(tag, removeTag)) kept.append(tag);
    }
    next.meta["metatext"]["tag"] = kept;
  }

  next.text = request["text"].isObject() ? &request["text"] : nullptr;
  if (IsTrue(request["reset_parent_id"])) {
    const std::string parent = meta["parent_id"].asString();
    if (!parent.empty()) {
      if (next.text == nullptr || !next.text->isMember("parent_id")) {
        next.ownText["parent_id"] = parent;
      }
      next.meta["parent_id"] = "";
    }
  }
  next.baseDir = VersionDir(ns, id, head);
  next.baseTextKeys = meta["text_keys"];
  next.baseMetabinary = meta["metabinary_info"];
  next.metabinaryFiles = request["metabinary_files"];
  next.removeMetabinary = request["remove_metabinary"];

  std::string version;
  if (!CommitVersion(ns, id, head, next, version)) return false;
  ObjectAccess::FillWritten(*this, next.meta, VersionDir(ns, id, version),
                            PermLevel(next.meta, requester));
  return true;
}

namespace {

// Writes `next` as the first version of a new object ns/id under `lock`, refusing an id that is
// taken; on failure nothing of the object is left behind.
bool CommitNewObject(ZOLT_DRIVE_OBJECT& object, const std::string& ns, const std::string& id,
                     NewVersion& next, unsigned requester, FileLock& lock) {
  if (!LockObject(ns, id, lock)) return false;
  if (ObjectExists(ns, id)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_EXISTS, "object \"" + id + "\" exists already");
  }
  RemoveTree(ObjectDir(ns, id));  // leftovers of a create that crashed before its HEAD
  if (!MakeDirs(ObjectDir(ns, id))) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot create the directory of \"" + id +
                                                  "\": " + std::string(std::strerror(errno)));
  }
  std::string version;
  if (!CommitVersion(ns, id, "", next, version)) {
    RemoveTree(ObjectDir(ns, id));
    return false;
  }
  ObjectAccess::FillWritten(object, next.meta, VersionDir(ns, id, version),
                            PermLevel(next.meta, requester));
  return true;
}

}  // namespace

bool ZOLT_DRIVE_OBJECT::Create(const Json::Value& request) {
  RootSection root;
  std::string ns, id;
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseRequester(request, requester) ||
      !NewId(request, "id", ns, id) || !CheckText(request) ||
      !CheckArray(request, "metabinary_files")) {
    return false;
  }
  if (requester == kAnonymousUid) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION, "the anonymous viewer cannot create objects");
  }
  unsigned owner = requester;
  if (!request["owner"].isNull()) {
    if (!ParseUid(request["owner"], owner) || owner == kAnonymousUid) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"owner\" must be a uid");
    }
    if (requester != kSystemUid && owner != requester) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION, "uid " + std::to_string(requester) +
                                                            " may not create for another uid");
    }
  }
  NewVersion next;
  Json::Value& meta = next.meta;
  meta = Json::Value(Json::objectValue);
  meta["id"] = id;
  meta["ns"] = ns;
  meta["owner"] = owner;
  std::string text;
  bool given = false;
  if (!ParseOptionalString(request, "category", text, given)) return false;
  meta["category"] = given ? text : std::string();
  if (!ParseOptionalString(request, "parent_id", text, given)) return false;
  meta["parent_id"] = given ? text : std::string();
  int64_t ctime = Now(), mtime = 0;
  if (!ParseTime(request, "ctime", ctime, given)) return false;
  if (!ParseTime(request, "mtime", mtime, given)) return false;
  meta["ctime"] = static_cast<Json::Int64>(ctime);
  meta["mtime"] = static_cast<Json::Int64>(given ? mtime : ctime);
  meta["acl"] = Json::Value(Json::objectValue);
  if (!request["acl"].isNull()) {
    if (!CheckAcl(request["acl"])) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "malformed \"acl\"");
    }
    meta["acl"] = request["acl"];
  }
  if (!CommitMsgOf(request, meta["commit_msg"])) return false;
  if (!ApplyMetatext(request, meta["metatext"])) return false;
  next.text = request["text"].isObject() ? &request["text"] : nullptr;
  next.metabinaryFiles = request["metabinary_files"];

  FileLock lock;
  return CommitNewObject(*this, ns, id, next, requester, lock);
}

bool ZOLT_DRIVE_OBJECT::Copy(const Json::Value& request) {
  RootSection root;
  std::string ns, id, version, head, newId;
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester) || !ParseVersion(request, version) ||
      !CheckText(request) || !CheckArray(request, "metabinary_files")) {
    return false;
  }
  if (requester == kAnonymousUid) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION, "the anonymous viewer cannot copy objects");
  }
  Json::Value meta;
  int level = 0;
  if (!ReadCurrent(ns, id, requester, kPermRo, head, meta, level)) return false;
  if (version.empty()) version = head;
  if (version != head && !ReadMeta(ns, id, version, head, meta)) return false;
  if (!NewId(request, "new_id", ns, newId)) return false;

  NewVersion next;
  next.meta = meta;
  next.meta["id"] = newId;
  unsigned owner = requester;
  if (requester == kSystemUid) {
    ParseUid(meta["owner"], owner);
    if (!request["owner"].isNull() && !ParseUid(request["owner"], owner)) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"owner\" must be a uid");
    }
  }
  next.meta["owner"] = owner;
  next.meta["acl"] = Json::Value(Json::objectValue);
  std::string text;
  bool given = false;
  if (!ParseOptionalString(request, "category", text, given)) return false;
  if (given) next.meta["category"] = text;
  if (!ParseOptionalString(request, "parent_id", text, given)) return false;
  if (given) next.meta["parent_id"] = text;
  int64_t ctime = Now(), mtime = 0;
  if (!ParseTime(request, "ctime", ctime, given)) return false;
  if (!ParseTime(request, "mtime", mtime, given)) return false;
  next.meta["ctime"] = static_cast<Json::Int64>(ctime);
  next.meta["mtime"] = static_cast<Json::Int64>(given ? mtime : ctime);
  if (!CommitMsgOf(request, next.meta["commit_msg"])) return false;
  if (!ApplyMetatext(request, next.meta["metatext"])) return false;
  next.text = request["text"].isObject() ? &request["text"] : nullptr;
  next.baseDir = VersionDir(ns, id, version);
  next.baseTextKeys = meta["text_keys"];
  next.baseMetabinary = meta["metabinary_info"];
  next.metabinaryFiles = request["metabinary_files"];

  FileLock lock;
  return CommitNewObject(*this, ns, newId, next, requester, lock);
}

bool ZOLT_DRIVE_OBJECT::Delete(const Json::Value& request) {
  RootSection root;
  std::string ns, id, head;
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester)) {
    return false;
  }
  FileLock lock;
  if (!LockObject(ns, id, lock)) return false;
  Json::Value meta;
  int level = 0;
  if (!ReadCurrent(ns, id, requester, kPermOwner, head, meta, level)) return false;
  const std::string trash = NsDir(ns) + "/trash";
  const std::string doomed = trash + "/" + EncodeName(id) + "." + RandomHex(6);
  if (!MakeDirs(trash) || ::rename(ObjectDir(ns, id).c_str(), doomed.c_str()) != 0) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                           "cannot delete \"" + id + "\": " + std::string(std::strerror(errno)));
  }
  SyncDir(ObjectsDir(ns));
  RemoveTree(doomed);
  return true;
}

bool ZOLT_DRIVE_OBJECT::Download(const Json::Value& request) { return Download(request, 1); }

bool ZOLT_DRIVE_OBJECT::Download(const Json::Value& request, int fd) {
  RootSection root;
  std::string ns, id, version, head, name;
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester) || !ParseVersion(request, version) ||
      !ParseName(request["field"], "field", name)) {
    return false;
  }
  const std::string segment =
      request["segment"].isString() ? request["segment"].asString() : "metabinary";
  if (segment != "metabinary" && segment != "text") {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"segment\" must be metabinary or text");
  }
  Json::Value meta;
  int level = 0;
  if (!ReadCurrent(ns, id, requester, kPermRo, head, meta, level)) return false;
  if (version.empty()) version = head;
  if (version != head && !ReadMeta(ns, id, version, head, meta)) return false;
  const std::string dir = VersionDir(ns, id, version);
  std::string path;
  if (segment == "metabinary") {
    if (!meta["metabinary_info"].isMember(name)) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND, "no metabinary \"" + name + "\"");
    }
    path = MetaBinaryFile(dir, name);
  } else {
    if (Json::searchArrayIndex(meta["text_keys"], Json::Value(name)) == Json::kNotFound) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND, "no text key \"" + name + "\"");
    }
    path = TextFile(dir, name);
  }
  std::string body;
  if (!ReadFile(path, body)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                           "cannot read " + path + ": " + std::string(std::strerror(errno)));
  }
  std::string filename = request["filename"].isString() ? request["filename"].asString() : name;
  std::string safeName;
  for (char c : filename) {
    if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) safeName.push_back(c);
  }
  std::string headers = std::string("Content-Type: ") +
                        (segment == "text" ? "application/json" : MimeTypeOf(filename)) +
                        "\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nContent-Disposition: attachment; filename=\"" + safeName +
                        "\"\r\n\r\n";
  if (!WriteFd(fd, headers) || !WriteFd(fd, body)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO,
                           "cannot send \"" + name + "\": " + std::string(std::strerror(errno)));
  }
  return true;
}
