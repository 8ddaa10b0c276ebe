// Sheet management inside a spreadsheet's index: create, duplicate, delete (hide), recover and
// rename sheets, and the look-ups of a sheet's title and stored file. See spreadsheet.h.
#include <ctime>
#include <string>

#include "common/json_utils.h"
#include "common/runas.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "drive/zolt_drive.h"
#include "snapshot/range.h"
#include "snapshot/spreadsheet.h"

namespace zoltsh {
namespace {

// Entries that are not objects (damaged indexes) read as visible and untitled.
bool EntryDeleted(const Json::Value& entry) {
  if (!entry.isObject()) return false;
  const Json::Value& deleted = entry["deleted"];
  return deleted.isBool() && deleted.asBool();
}

std::string EntryTitle(const Json::Value& entry) {
  if (!entry.isObject()) return std::string();
  const Json::Value& title = entry["title"];
  return title.isString() ? title.asString() : std::string();
}

// "sh_" followed by one or more decimal digits and nothing else: the only form of sheet id this
// system makes. Anything else (other text fields, path or header characters) is not a sheet.
bool IsSheetIdForm(const std::string& id) {
  if (id.size() <= 3 || id.compare(0, 3, "sh_") != 0) return false;
  for (size_t i = 3; i < id.size(); ++i) {
    if (id[i] < '0' || id[i] > '9') return false;
  }
  return true;
}

[[noreturn]] void ThrowSheetNotFound(int line) {
  throw SheetNotFound(line, ZOLTSH_FILE, "sheet not found", ZOLTSH_ERR_SHEET_NOT_FOUND);
}

}  // namespace

std::string SpreadSheet::NextSheetId() {
  const int next = GetMaxIndex() + 1;
  SetMaxIndex(next);
  return "sh_" + utils::toString(next);
}

bool SpreadSheet::IsValidSheetTitle(const std::string& title) const {
  if (title.empty()) return true;
  const Json::Value& all = index["sheets"];
  if (!all.isObject()) return true;
  for (const Json::Value& entry : all) {
    if (EntryDeleted(entry)) continue;
    if (EntryTitle(entry) == title) return false;
  }
  return true;
}

std::string SpreadSheet::CreateSheet(const std::string& title, bool initialize) {
  if (!IsValidSheetTitle(title)) {
    ZOLTSH_THROW(InvalidParameter, "sheet title is duplicated", ZOLTSH_ERR_USER_INPUT);
  }
  const std::string id = NextSheetId();
  Json::Value entry(Json::objectValue);
  entry["deleted"] = false;
  entry["title"] = title;
  index["sheets"][id].swap(entry);
  index["order"].append(id);
  if (initialize && sheets.find(id) == sheets.end()) {
    Json::Value& content = sheets[id];
    Sheet(content).Init();
  }
  return id;
}

std::string SpreadSheet::DupSheet(const std::string& sourceId, const std::string& title) {
  if (!IsValidSheetTitle(title)) {
    ZOLTSH_THROW(InvalidParameter, "sheet title is duplicated", ZOLTSH_ERR_USER_INPUT);
  }
  GetSheetById(sourceId);  // visible and loaded, or SheetNotFound
  const std::string id = CreateSheet(title, false);
  auto source = sheets.find(sourceId);
  Json::Value content;
  content.swap(source->second);
  sheets.erase(source);
  sheets[id].swap(content);
  return id;
}

void SpreadSheet::DeleteSheet(const std::string& id) {
  if (!HasSheet(id)) ThrowSheetNotFound(__LINE__);
  Json::Value& order = index["order"];
  if (order.size() <= 1) {
    ZOLTSH_THROW(InvalidParameter, "Can't delete sheet from spreadsheet which contains only one.",
                 ZOLTSH_ERR_USER_INPUT);
  }
  index["sheets"][id]["deleted"] = true;
  Json::Value kept(Json::arrayValue);
  for (Json::Value& entry : order) {
    if (entry.isString() && entry.asString() != id) kept.append(std::move(entry));
  }
  order.swap(kept);
}

void SpreadSheet::RecoverSheet(const std::string& id, unsigned position) {
  Json::Value& all = index["sheets"];
  if (!all.isObject() || !all.isMember(id)) ThrowSheetNotFound(__LINE__);
  Json::Value& entry = all[id];
  if (!EntryDeleted(entry)) {
    ZOLTSH_LOG_ERR("sheet[%s] is not deleted", id.c_str());
    ZOLTSH_THROW(InvalidParameter, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
  }
  std::string title = EntryTitle(entry);
  if (!IsValidSheetTitle(title)) {
    title += "_conflict_" + std::to_string(static_cast<long long>(::time(nullptr)));
  }
  entry["title"] = title;
  entry["deleted"] = false;
  utils::InsertToJsonArray(index["order"], Json::Value(id), position);
}

void SpreadSheet::SetSheetTitle(const std::string& id, const std::string& title) {
  if (!HasSheet(id)) ThrowSheetNotFound(__LINE__);
  if (!IsValidSheetTitle(title)) {
    ZOLTSH_THROW(InvalidParameter, "sheet title is duplicated", ZOLTSH_ERR_USER_INPUT);
  }
  index["sheets"][id]["title"] = title;
}

std::string SpreadSheet::GetSheetTitle(const std::string& id) const {
  if (!HasSheet(id)) ThrowSheetNotFound(__LINE__);
  return EntryTitle(index["sheets"][id]);
}

std::string SpreadSheet::GetSheetPath(const std::string& objectId, const std::string& sheetId) {
  if (!IsSheetIdForm(sheetId)) ThrowSheetNotFound(__LINE__);
  std::string path;
  bool found;
  {
    ENTERCriticalSection;
    found = ZOLTDriveGetTextPath("Tabvale", objectId, sheetId, path);
    LEAVECriticalSection;
  }
  if (!found) ThrowSheetNotFound(__LINE__);
  return path;
}

}  // namespace zoltsh
