#include "drive/drive_version.h"

#include <algorithm>

#include "drive/drive_access.h"
#include "drive/drive_error.h"
#include "drive/drive_fs.h"
#include "drive/drive_store.h"

using namespace zoltdrive;

namespace {

bool IsListable(const Json::Value& commitMsg) {
  return commitMsg.isObject() && commitMsg["listable"].isBool() && commitMsg["listable"].asBool();
}

// Reads the object's current record and checks that the requester may read it.
bool OpenObject(const Json::Value& request, std::string& ns, std::string& id, std::string& head,
                int& level) {
  unsigned requester = 0;
  if (!ParseNs(request, ns) || !ParseName(request["id"], "id", id) ||
      !ParseRequester(request, requester)) {
    return false;
  }
  Json::Value meta;
  if (!ReadHead(ns, id, head) || !ReadMeta(ns, id, head, head, meta)) return false;
  level = PermLevel(meta, requester);
  if (level < kPermRo) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_PERMISSION,
                           "uid " + std::to_string(requester) + " may not access \"" + id + "\"");
  }
  return true;
}

}  // namespace

bool ZOLT_DRIVE_OBJECT_VERSION::is_listable() const {
  return IsListable(object_.get_ref_commit_msg());
}

bool ZOLT_DRIVE_OBJECT_VERSION::Get(const Json::Value& request) {
  RootSection root;
  std::string ns, id, head, version;
  int level = 0;
  FieldSelection sel;
  if (!OpenObject(request, ns, id, head, level) || !ParseVersion(request, version) ||
      !ParseFieldSelection(request["field"], false, sel)) {
    return false;
  }
  if (version.empty()) version = head;
  Json::Value meta;
  if (!ReadMeta(ns, id, version, head, meta)) return false;
  ZOLT_DRIVE_OBJECT object;
  if (!ObjectAccess::Fill(object, meta, VersionDir(ns, id, version), sel, level)) return false;
  object_ = std::move(object);
  time_ = meta["time"].asInt64();
  fetchedText_ = sel.allText || !sel.textKeys.empty();
  fetchedMetatext_ = sel.allMetatext || !sel.metatextKeys.empty();
  fetchedMetabinary_ = sel.metabinaryInfo;
  return true;
}

bool ZOLT_DRIVE_OBJECT_VERSION::toJson(const Json::Value& field, Json::Value& out) const {
  auto wanted = [&field](const char* name) {
    return !(field.isObject() && field[name].isBool() && !field[name].asBool());
  };
  Json::Value json(Json::objectValue);
  if (wanted("id")) json["id"] = object_.get_ref_version();
  if (wanted("version")) json["version"] = object_.get_ref_version();
  if (wanted("object_id")) json["object_id"] = object_.get_ref_id();
  if (wanted("ns")) json["ns"] = object_.get_ref_ns();
  if (wanted("commit_msg")) json["commit_msg"] = object_.get_ref_commit_msg();
  if (wanted("listable")) json["listable"] = is_listable();
  if (wanted("time")) json["time"] = static_cast<Json::Int64>(time_);
  if (wanted("ctime")) json["ctime"] = static_cast<Json::Int64>(object_.get_ctime());
  if (wanted("mtime")) json["mtime"] = static_cast<Json::Int64>(object_.get_mtime());
  if (wanted("owner")) json["owner"] = object_.get_owner();
  if (wanted("category")) json["category"] = object_.get_ref_category();
  if (wanted("parent_id")) json["parent_id"] = object_.get_ref_parent_id();
  if (wanted("perm")) json["perm"] = object_.get_ref_perm();
  if (fetchedText_ && wanted("text")) json["text"] = object_.get_ref_text();
  if (fetchedMetatext_ && wanted("metatext")) json["metatext"] = object_.get_ref_metatext();
  if (fetchedMetabinary_ && wanted("metabinary_info")) {
    json["metabinary_info"] = object_.get_ref_metabinary_info();
  }
  out.swap(json);
  return true;
}

int ZOLT_DRIVE_OBJECT_VERSION_LIST::ListVersion(const Json::Value& request, int& total) {
  int listable = 0;
  return ListVersion(request, total, listable);
}

int ZOLT_DRIVE_OBJECT_VERSION_LIST::ListVersion(const Json::Value& request, int& total,
                                                int& listableTotal) {
  RootSection root;
  std::string ns, id, head;
  int level = 0;
  if (!OpenObject(request, ns, id, head, level)) return -1;
  const Json::Value& filter = request["filter"];
  const Json::Value& filterNot = request["filter_not"];
  if ((!filter.isNull() && !filter.isObject()) || (!filterNot.isNull() && !filterNot.isObject())) {
    ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"filter\" and \"filter_not\" must be objects");
    return -1;
  }
  FieldSelection none;
  ParseFieldSelection(Json::Value(), false, none);

  std::vector<ZOLT_DRIVE_OBJECT_VERSION> kept;
  int all = 0, listable = 0;
  for (const std::string& name : ListVersionNames(ns, id, head)) {
    Json::Value meta;
    if (!ReadMeta(ns, id, name, head, meta)) return -1;
    const bool isListable = IsListable(meta["commit_msg"]);
    ++all;
    if (isListable) ++listable;
    if (filter["listable"].isBool() && filter["listable"].asBool() != isListable) continue;
    if (filterNot["listable"].isBool() && filterNot["listable"].asBool() == isListable) continue;
    ZOLT_DRIVE_OBJECT_VERSION v;
    if (!ObjectAccess::Fill(v.object_, meta, VersionDir(ns, id, name), none, level)) return -1;
    v.time_ = meta["time"].asInt64();
    kept.push_back(std::move(v));
  }

  const int64_t count = static_cast<int64_t>(kept.size());
  const int64_t offset = std::clamp<int64_t>(
      request["offset"].isIntegral() ? request["offset"].asInt64() : 0, 0, count);
  int64_t limit = request["limit"].isIntegral() ? request["limit"].asInt64() : 0;
  if (limit <= 0 || limit > count - offset) limit = count - offset;
  std::vector<ZOLT_DRIVE_OBJECT_VERSION> page(
      std::make_move_iterator(kept.begin() + offset),
      std::make_move_iterator(kept.begin() + offset + limit));
  versions_.swap(page);
  total = all;
  listableTotal = listable;
  return static_cast<int>(versions_.size());
}
