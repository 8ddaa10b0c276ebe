// A spreadsheet document in memory: its index and the sheets that were loaded.
//
// Stored form. A document is one object of the Drive store in the namespace "Tabvale". Its text
// part holds "index" (the index object below), one "sh_<n>" key per sheet ever created (deleted
// ones included) holding that sheet's JSON content, and "title", written by the catalogue. A
// protected document (metatext "encrypt" true) stores every one of these fields as a JSON string:
// the base64 form of the salted AES container of the field's JSON text, encrypted with the
// document's random system password; metatext "password" holds that system password encrypted
// under the user's document password.
//
// Index object: {"maxIndex": highest n ever used in "sh_<n>", "order": [visible sheet ids in tab
// order], "sheets": {id: {"deleted": bool, "title": text}}, "editors": [uids], "schemaVersion": 1}.
// "order" lists exactly the sheets whose "deleted" is not true.
//
// Ownership and lifetime: a SpreadSheet lives on the stack of one operation, owns its index and
// sheets, and is never copied. Content moves between it and the Drive object by swapping JSON
// values; a save writes only the index and the loaded sheets, so sheets that were not loaded keep
// their stored content. A save leaves the object as it was, also when the write fails.
//
// Failures throw zoltsh::ZoltError subclasses (1016 read, 1015 write, 1033 password, 1031 no index,
// 1032 sheet not found, 1006 bad order); the object is not used again after one.
//
// Thread safety: one thread at a time. Writers of the same document are serialised by the callers'
// named lock, not here.
#pragma once

#include <json/value.h>

#include <string>
#include <unordered_map>

#include "common/zoltsh_export.h"
#include "snapshot/sheet.h"

namespace zoltsh {

class ZOLTSH_API SpreadSheet {
 public:
  SpreadSheet();
  SpreadSheet(const SpreadSheet&) = delete;
  SpreadSheet& operator=(const SpreadSheet&) = delete;

  // Replaces the index with an empty one.
  void Init();

  const Json::Value& GetOrder() const;
  const Json::Value& GetEditors() const;
  // Replaces the order of the visible sheets. Throws InvalidParameter (1006) and changes nothing
  // when the count differs ("jOrder size not consistent") or the ids are not those of the current
  // order ("invalid parameter").
  void SetOrder(const Json::Value& order);
  template <typename It>
  void SetEditors(It first, It last) {
    Json::Value editors(Json::arrayValue);
    for (; first != last; ++first) editors.append(static_cast<Json::UInt>(*first));
    index["editors"].swap(editors);
  }
  int GetMaxIndex() const;
  void SetMaxIndex(int maxIndex);
  int GetSchemaVersion() const;
  void SetSchemaVersion(int version);
  const std::string& GetTitle() const { return title; }
  bool IsEncrypt() const { return encrypt; }
  std::string GetSysPass() const { return sysPass; }

  // The sheet entry exists and is not deleted.
  bool HasSheet(const std::string& id) const;
  // A view over the loaded sheet; throws SheetNotFound (1032) for an unknown, deleted or unloaded
  // sheet.
  Sheet GetSheetById(const std::string& id);
  // The system password from a Drive object's metatext and the document password.
  bool GetSysPassFromMetaText(const Json::Value& metatext, const std::string& password);

  // Loads the index and the sheets `request` selects ("field": {"text": {"index": true, id:
  // true...}}) from the Drive store.
  void LoadFromDrive(const Json::Value& request, const std::string& password);
  // Loads the index and every visible sheet of a plain document.
  void LoadAllFromDrive(unsigned requester, const std::string& objectId, bool encrypted);
  // Writes the index and every loaded sheet as a new version (request carries "commit_msg").
  void SaveToDrive(const Json::Value& request, const std::string& password);

  void fromDriveText(Json::Value& text, const std::string& sysPass);
  void toDriveText(Json::Value& text, const std::string& sysPass);

  // ---- Sheet management (spreadsheet_sheets.cc) -------------------------------------------
  // Changes of the list of sheets in the index. Sheet ids are "sh_<n>" with n taken from
  // "maxIndex", never reused; an entry is {"deleted": bool, "title": text}. Deleting only hides a
  // sheet (its entry and stored content stay) so it can be recovered. Titles are unique among
  // the visible sheets; the empty title is always allowed. Every failure throws before anything
  // changes (NextSheetId excepted: a number it hands out stays used).

  // Consumes the next sheet number: "sh_" + (maxIndex + 1).
  std::string NextSheetId();
  // False when a visible sheet already has this title; the empty title is always valid.
  bool IsValidSheetTitle(const std::string& title) const;
  // Appends a new visible sheet; with initialize, also an empty, initialised loaded content.
  // InvalidParameter (1006, "sheet title is duplicated").
  std::string CreateSheet(const std::string& title, bool initialize);
  // A new sheet (last in the order) that takes over the loaded content of sourceId; the source
  // leaves the loaded sheets, so a save writes the copy and leaves the stored source alone.
  // InvalidParameter (1006) for a duplicated title, SheetNotFound (1032) when the source is not
  // visible or not loaded.
  std::string DupSheet(const std::string& sourceId, const std::string& title);
  // Hides a visible sheet. SheetNotFound (1032); InvalidParameter (1006, "Can't delete sheet from
  // spreadsheet which contains only one.") for the last visible sheet.
  void DeleteSheet(const std::string& id);
  // Makes a deleted sheet visible again at `position` of the order (the end when beyond it); a
  // title taken meanwhile gets "_conflict_<seconds since the epoch>" appended. SheetNotFound
  // (1032) for an unknown id, InvalidParameter (1006, "invalid parameter") for a visible one.
  void RecoverSheet(const std::string& id, unsigned position);
  // SheetNotFound (1032); InvalidParameter (1006) when a visible sheet (this one included) has
  // the title.
  void SetSheetTitle(const std::string& id, const std::string& title);
  // SheetNotFound (1032) unless the sheet is visible.
  std::string GetSheetTitle(const std::string& id) const;
  // The store's file of text field sheetId of objectId (read as root); deleted sheets that are
  // still stored have one. SheetNotFound (1032) when the store has no such field or sheetId is
  // not of the form "sh_<digits>".
  static std::string GetSheetPath(const std::string& objectId, const std::string& sheetId);
  // ---- end of sheet management ------------------------------------------------------------

  Json::Value index;
  std::unordered_map<std::string, Json::Value> sheets;
  bool encrypt = false;
  std::string title;
  std::string sysPass;
};

}  // namespace zoltsh

// Moves every "sh_" member and "index" of src into dst by swapping. Always true.
ZOLTSH_API bool ZOLTSHSwapAllSheetContent(Json::Value& src, Json::Value& dst);
// Moves (plain) or decrypts (protected) the index and the visible sheets of src into dst.
ZOLTSH_API bool ZOLTSHSwapAllSheetContentWithoutDeleted(Json::Value& src,
                                                        const std::string& sysPass,
                                                        Json::Value& dst);
