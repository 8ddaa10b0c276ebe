#include "drive/drive_object_list.h"

#include <algorithm>
#include <string>

#include "drive/drive_access.h"
#include "drive/drive_error.h"
#include "drive/drive_fs.h"
#include "drive/drive_store.h"
#include "json/json_text.h"

using namespace zoltdrive;

namespace {

struct Match {
  std::string id;
  std::string version;
  Json::Value meta;
  int level = 0;
};

bool MatchesOneOf(const Json::Value& wanted, const std::string& have) {
  if (wanted.isString()) return wanted.asString() == have;
  if (wanted.isArray()) {
    for (const Json::Value& w : wanted) {
      if (w.isString() && w.asString() == have) return true;
    }
  }
  return false;
}

bool MatchesParts(const Json::Value& wanted, const Json::Value& stored) {
  for (auto it = wanted.begin(); it != wanted.end(); ++it) {
    const Json::Value& have = stored.isObject() && stored.isMember(it.name())
                                  ? stored[it.name()]
                                  : Json::Value::nullSingleton();
    if (!JsonMatches(have, *it)) return false;
  }
  return true;
}

// Whether the object passes `filter`; reads the text keys the filter names.
bool Passes(const Json::Value& filter, const std::string& ns, const Match& m) {
  if (!filter.isObject()) return true;
  for (const char* name : {"owner_uid", "owner"}) {
    if (filter[name].isNull()) continue;
    unsigned want = 0, have = kAnonymousUid;
    ParseUid(m.meta["owner"], have);
    if (!ParseUid(filter[name], want) || want != have) return false;
  }
  if (!filter["category"].isNull() &&
      !MatchesOneOf(filter["category"], m.meta["category"].asString())) {
    return false;
  }
  if (!filter["parent_id"].isNull() &&
      !MatchesOneOf(filter["parent_id"], m.meta["parent_id"].asString())) {
    return false;
  }
  if (!filter["id"].isNull() && !MatchesOneOf(filter["id"], m.id)) return false;
  if (filter["metatext"].isObject() && !MatchesParts(filter["metatext"], m.meta["metatext"])) {
    return false;
  }
  const Json::Value& text = filter["text"];
  if (text.isObject() && !text.empty()) {
    const std::string dir = VersionDir(ns, m.id, m.version);
    Json::Value stored(Json::objectValue);
    for (auto it = text.begin(); it != text.end(); ++it) {
      if (Json::searchArrayIndex(m.meta["text_keys"], Json::Value(it.name())) == Json::kNotFound) {
        continue;
      }
      if (!ReadText(dir, it.name(), stored[it.name()])) return false;
    }
    if (!MatchesParts(text, stored)) return false;
  }
  return true;
}

// The ids of a batch request: "id" as a string or an array of strings.
bool BatchIds(const Json::Value& request, std::vector<std::string>& ids) {
  const Json::Value& v = request["id"];
  ids.clear();
  if (v.isString()) {
    ids.push_back(v.asString());
  } else if (v.isArray()) {
    for (const Json::Value& id : v) {
      if (!id.isString()) {
        return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"id\" must hold strings");
      }
      ids.push_back(id.asString());
    }
  } else {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"id\" must be a string or an array");
  }
  std::string ns;
  return ParseNs(request, ns);
}

int64_t OptionalInt(const Json::Value& v, int64_t fallback) {
  return v.isIntegral() ? v.asInt64() : fallback;
}

}  // namespace

int ZOLT_DRIVE_OBJECT_LIST::ListObject(const Json::Value& request, int& total) {
  RootSection root;
  std::string ns;
  unsigned requester = 0;
  FieldSelection sel;
  if (!ParseNs(request, ns) || !ParseRequester(request, requester) ||
      !ParseFieldSelection(request["field"], true, sel)) {
    return -1;
  }
  const Json::Value& filter = request["filter"];
  if (!filter.isNull() && !filter.isObject()) {
    ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"filter\" must be an object");
    return -1;
  }
  const std::string sortBy = request["sort_by"].isString() ? request["sort_by"].asString() : "id";
  if (sortBy != "id" && sortBy != "ctime" && sortBy != "mtime") {
    ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_BAD_REQUEST, "\"sort_by\" must be id, ctime or mtime");
    return -1;
  }
  const bool descending =
      request["sort_direction"].isString() && request["sort_direction"].asString() == "desc";

  // Objects that vanish or change while listing are skipped; a listing is no snapshot.
  const int savedCode = ZOLTDriveErrCodeGet();
  const std::string savedMsg = ZOLTDriveErrMsgGet();
  std::vector<Match> matches;
  for (const std::string& id : ListObjectIds(ns)) {
    Match m;
    m.id = id;
    if (!ReadHead(ns, id, m.version) || !ReadMeta(ns, id, m.version, m.version, m.meta)) continue;
    m.level = PermLevel(m.meta, requester);
    if (m.level < kPermRo || !Passes(filter, ns, m)) continue;
    matches.push_back(std::move(m));
  }
  ZOLTDriveErrSet(savedCode, savedMsg);

  if (sortBy != "id") {
    std::stable_sort(matches.begin(), matches.end(), [&sortBy](const Match& a, const Match& b) {
      return a.meta[sortBy].asInt64() < b.meta[sortBy].asInt64();
    });
  }
  if (descending) std::reverse(matches.begin(), matches.end());

  const int64_t count = static_cast<int64_t>(matches.size());
  const int64_t offset = std::clamp<int64_t>(OptionalInt(request["offset"], 0), 0, count);
  int64_t limit = OptionalInt(request["limit"], 0);
  if (limit <= 0 || limit > count - offset) limit = count - offset;

  std::vector<ZOLT_DRIVE_OBJECT> page(static_cast<size_t>(limit));
  for (int64_t i = 0; i < limit; ++i) {
    const Match& m = matches[static_cast<size_t>(offset + i)];
    if (!ObjectAccess::Fill(page[static_cast<size_t>(i)], m.meta, VersionDir(ns, m.id, m.version),
                            sel, m.level)) {
      return -1;
    }
  }
  objects_.swap(page);
  total = static_cast<int>(count);
  return static_cast<int>(objects_.size());
}

bool ZOLT_DRIVE_OBJECT_LIST::Set(const Json::Value& request, Json::Value& result) {
  std::vector<std::string> ids;
  if (!BatchIds(request, ids)) return false;
  const std::string ns = request["ns"].asString();
  std::vector<ZOLT_DRIVE_OBJECT> written(ids.size());
  Json::Value outcome(Json::objectValue);
  Json::Value one = request;
  for (size_t i = 0; i < ids.size(); ++i) {
    one["id"] = ids[i];
    bool ok = written[i].Set(one);
    if (!ok) ObjectAccess::FillId(written[i], ns, ids[i]);
    outcome[ids[i]] = ok;
  }
  objects_.swap(written);
  result.swap(outcome);
  return true;
}

bool ZOLT_DRIVE_OBJECT_LIST::Delete(const Json::Value& request, Json::Value& result) {
  std::vector<std::string> ids;
  if (!BatchIds(request, ids)) return false;
  Json::Value outcome(Json::objectValue);
  Json::Value one = request;
  for (const std::string& id : ids) {
    one["id"] = id;
    outcome[id] = ZOLT_DRIVE_OBJECT::Delete(one);
  }
  result.swap(outcome);
  return true;
}
