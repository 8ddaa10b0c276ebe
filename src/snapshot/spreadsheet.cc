#include "snapshot/spreadsheet.h"

#include <string>
#include <unordered_set>
#include <utility>

#include "common/runas.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"

namespace zoltsh {
namespace {
constexpr const char* kNamespace = "Tabvale";
}  // namespace

// Helpers shared by SpreadSheet and the free functions below.

static bool IsDeleted(const Json::Value& entry) {
  const Json::Value& deleted = entry["deleted"];
  return deleted.isBool() && deleted.asBool();
}

// The encrypted, base64 form of value's JSON text; false when the encryption failed.
static bool EncryptValue(const Json::Value& value, const std::string& sysPass, Json::Value& out) {
  return ZOLT_SH_ENCRYPT::EncryptStringToBase64(Json::toString(value), sysPass, out);
}

static bool DecryptValue(const Json::Value& cipher, const std::string& sysPass, Json::Value& out) {
  if (!cipher.isString()) return false;
  return ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher.asString(), sysPass, out);
}

SpreadSheet::SpreadSheet() { Init(); }

void SpreadSheet::Init() {
  Json::Value fresh(Json::objectValue);
  fresh["maxIndex"] = 0;
  fresh["order"] = Json::Value(Json::arrayValue);
  fresh["sheets"] = Json::Value(Json::objectValue);
  fresh["editors"] = Json::Value(Json::arrayValue);
  fresh["schemaVersion"] = 1;
  index.swap(fresh);
}

const Json::Value& SpreadSheet::GetOrder() const { return index["order"]; }
const Json::Value& SpreadSheet::GetEditors() const { return index["editors"]; }

void SpreadSheet::SetOrder(const Json::Value& order) {
  const Json::Value& current = index["order"];
  if (!order.isArray() || order.size() != current.size()) {
    ZOLTSH_THROW(InvalidParameter, "jOrder size not consistent", ZOLTSH_ERR_USER_INPUT);
  }
  // The new order must list the same sheets: an unknown or repeated id would drop a visible sheet
  // from the tabs while it is not deleted, out of reach of every sheet operation.
  std::unordered_multiset<std::string> left;
  for (const Json::Value& id : current) left.insert(id.isString() ? id.asString() : std::string());
  for (const Json::Value& id : order) {
    auto it = id.isString() ? left.find(id.asString()) : left.end();
    if (it == left.end()) {
      ZOLTSH_THROW(InvalidParameter, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
    }
    left.erase(it);
  }
  index["order"] = order;
}

int SpreadSheet::GetMaxIndex() const {
  const Json::Value& v = index["maxIndex"];
  return v.isInt() ? v.asInt() : 0;
}
void SpreadSheet::SetMaxIndex(int maxIndex) { index["maxIndex"] = maxIndex; }

int SpreadSheet::GetSchemaVersion() const {
  const Json::Value& v = index["schemaVersion"];
  return v.isInt() ? v.asInt() : 1;
}
void SpreadSheet::SetSchemaVersion(int version) { index["schemaVersion"] = version; }

bool SpreadSheet::HasSheet(const std::string& id) const {
  const Json::Value& all = index["sheets"];
  if (!all.isObject() || !all.isMember(id)) return false;
  return !IsDeleted(all[id]);
}

Sheet SpreadSheet::GetSheetById(const std::string& id) {
  auto it = sheets.find(id);
  if (!HasSheet(id) || it == sheets.end()) {
    ZOLTSH_THROW(SheetNotFound, "sheet not found", ZOLTSH_ERR_SHEET_NOT_FOUND);
  }
  return Sheet(it->second);
}

bool SpreadSheet::GetSysPassFromMetaText(const Json::Value& metatext, const std::string& password) {
  if (!ZOLT_SH_ENCRYPT::GetSysPassFromMetaText(metatext, password, sysPass)) return false;
  encrypt = !sysPass.empty();
  return true;
}

void SpreadSheet::LoadFromDrive(const Json::Value& request, const std::string& password) {
  Json::Value copy = request;
  copy["field"]["metatext"] = true;
  ZOLT_DRIVE_OBJECT object;
  if (!object.Get(copy)) {
    ZOLTSH_LOG_ERR("Failed to load from zoltdrive: %s", Json::toString(copy).c_str());
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  if (!GetSysPassFromMetaText(object.get_ref_metatext(), password)) {
    ZOLTSH_LOG_ERR("Pass error");
    ZOLTSH_THROW(NoPassError, "no Password", ZOLTSH_ERR_PASSWORD);
  }
  fromDriveText(object.get_ref_text(), sysPass);
}

void SpreadSheet::LoadAllFromDrive(unsigned requester, const std::string& objectId,
                                   bool encrypted) {
  std::string path;
  bool havePath;
  {
    ENTERCriticalSection;
    havePath = ZOLTDriveGetTextPath(kNamespace, objectId, "index", path);
    LEAVECriticalSection;
  }
  if (!havePath) {
    ZOLTSH_LOG_ERR("Failed to get index(%s): %s", objectId.c_str(), path.c_str());
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  if (encrypted) {
    ZOLTSH_LOG_ERR("Not support it yet");
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  Json::Value storedIndex;
  bool parsed;
  {
    ENTERCriticalSection;
    parsed = Json::fromFile(storedIndex, path);
    LEAVECriticalSection;
  }
  if (!parsed) {
    ZOLTSH_LOG_ERR("Failed to get index(%s): %s", objectId.c_str(), path.c_str());
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  Json::Value request(Json::objectValue);
  request["id"] = objectId;
  request["requester"] = requester;
  request["ns"] = kNamespace;
  Json::Value& wanted = request["field"]["text"];
  wanted["index"] = true;
  wanted["title"] = true;
  if (storedIndex.isObject() && storedIndex["order"].isArray()) {
    for (const Json::Value& id : storedIndex["order"]) {
      if (id.isString()) wanted[id.asString()] = true;
    }
  }
  ZOLT_DRIVE_OBJECT object;
  if (!object.Get(request)) {
    ZOLTSH_LOG_ERR("Failed to load from zoltdrive: %s", Json::toString(request).c_str());
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  fromDriveText(object.get_ref_text(), "");
}

void SpreadSheet::SaveToDrive(const Json::Value& request, const std::string& /*password*/) {
  Json::Value copy = request;
  Json::Value& text = copy["text"];
  toDriveText(text, sysPass);
  ZOLT_DRIVE_OBJECT object;
  const bool saved = object.Set(copy);
  // A plain save lent the index and the sheets to the request; take them back, so a failed write
  // loses nothing and the content is freed with this object rather than inside the save.
  if (sysPass.empty()) {
    index.swap(text["index"]);
    for (auto& [id, content] : sheets) content.swap(text[id]);
  }
  if (!saved) {
    ZOLTSH_LOG_ERR("Failed to set zoltdrive: %s", Json::toString(request).c_str());
    ZOLTSH_THROW(ZoltDriveSetError, "set zoltdrive error", ZOLTSH_ERR_DRIVE_SET);
  }
}

void SpreadSheet::fromDriveText(Json::Value& text, const std::string& key) {
  if (!text.isObject() || !text.isMember("index")) {
    ZOLTSH_THROW(SpreadSheetNotFound, "spreadSheet not found", ZOLTSH_ERR_INDEX_MISSING);
  }
  if (text.isMember("title") && text["title"].isString()) title = text["title"].asString();
  if (!key.empty()) {
    Json::Value decrypted;
    if (!DecryptValue(text["index"], key, decrypted)) {
      ZOLTSH_LOG_ERR("Failed to load from zoltdrive");
      ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
    }
    index.swap(decrypted);
  } else {
    index.swap(text["index"]);
  }
  if (!index.isObject() || !index.isMember("order") || !index["order"].isArray()) {
    ZOLTSH_LOG_ERR("can't find order key");
    ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
  }
  for (const Json::Value& entry : index["order"]) {
    if (!entry.isString()) continue;
    const std::string id = entry.asString();
    if (!text.isMember(id)) continue;
    Json::Value& slot = sheets[id];
    if (!key.empty()) {
      Json::Value decrypted;
      if (!DecryptValue(text[id], key, decrypted)) {
        sheets.erase(id);
        ZOLTSH_LOG_ERR("Failed to load from zoltdrive");
        ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
      }
      slot.swap(decrypted);
    } else {
      slot.swap(text[id]);
    }
  }
}

void SpreadSheet::toDriveText(Json::Value& text, const std::string& key) {
  if (!key.empty()) {
    if (!EncryptValue(index, key, text["index"])) {
      ZOLTSH_LOG_ERR("Failed to save to zoltdrive");
      ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
    }
  } else {
    text["index"].swap(index);
  }
  for (auto& [id, content] : sheets) {
    if (!key.empty()) {
      if (!EncryptValue(content, key, text[id])) {
        ZOLTSH_LOG_ERR("Failed to save to zoltdrive");
        ZOLTSH_THROW(ZoltDriveGetError, "get zoltdrive error", ZOLTSH_ERR_DRIVE_GET);
      }
    } else {
      text[id].swap(content);
    }
  }
}

}  // namespace zoltsh

bool ZOLTSHSwapAllSheetContent(Json::Value& src, Json::Value& dst) {
  if (src.isObject()) {
    for (const std::string& name : src.getMemberNames()) {
      if (name.rfind("sh_", 0) == 0) src[name].swap(dst[name]);
    }
  }
  src["index"].swap(dst["index"]);
  return true;
}

bool ZOLTSHSwapAllSheetContentWithoutDeleted(Json::Value& src, const std::string& sysPass,
                                             Json::Value& dst) {
  if (!src.isObject() || !src.isMember("index")) {
    ZOLTSH_LOG_ERR("Invalid src: %s", Json::toString(src).c_str());
    return false;
  }
  if (!sysPass.empty()) {
    if (!zoltsh::DecryptValue(src["index"], sysPass, dst["index"])) {
      ZOLTSH_LOG_ERR("Failed to load from zoltdrive");
      return false;
    }
  }
  const Json::Value& index = sysPass.empty() ? src["index"] : dst["index"];
  if (!index.isObject() || !index.isMember("sheets") || !index["sheets"].isObject()) {
    ZOLTSH_LOG_ERR("Invalid src: %s", Json::toString(index).c_str());
    return false;
  }
  const Json::Value& entries = index["sheets"];
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    const std::string name = it.name();
    if (zoltsh::IsDeleted(*it) || !src.isMember(name)) continue;
    if (!sysPass.empty()) {
      if (!zoltsh::DecryptValue(src[name], sysPass, dst[name])) {
        ZOLTSH_LOG_ERR("Failed to load from zoltdrive");
        return false;
      }
    } else {
      src[name].swap(dst[name]);
    }
  }
  if (sysPass.empty()) src["index"].swap(dst["index"]);
  return true;
}
