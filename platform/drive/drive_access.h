// What the object, list and version classes of the Drive store share (internal, not exported):
// the parsed field selection and the filling of a ZOLT_DRIVE_OBJECT from a stored record.
#pragma once

#include <json/value.h>

#include <set>
#include <string>

#include "drive/drive_object.h"

namespace zoltdrive {

// Which parts of an object a request fetches ("field", see drive_object.h).
struct FieldSelection {
  bool allText = true;
  std::set<std::string> textKeys;
  bool allMetatext = true;
  std::set<std::string> metatextKeys;
  bool metabinaryInfo = true;
};

// Parses "field"; `byDefault` is what fetching means when "field" is absent: everything, or only
// the record (no text, no metatext, no metabinary info). False with code 1006 for a malformed one.
bool ParseFieldSelection(const Json::Value& field, bool byDefault, FieldSelection& out);

// Equality of stored JSON values, with numbers compared by value whatever their JSON type.
bool JsonSame(const Json::Value& a, const Json::Value& b);
// A filter value matches a stored value: equal, or both arrays and every filter element is in the
// stored array.
bool JsonMatches(const Json::Value& stored, const Json::Value& wanted);

struct ObjectAccess {
  // Fills `obj` from the record `meta` of the version in `versionDir`, with the parts `sel`
  // selects and the requester's right `level`. False (code 1000) when a text file cannot be read.
  static bool Fill(ZOLT_DRIVE_OBJECT& obj, const Json::Value& meta, const std::string& versionDir,
                   const FieldSelection& sel, int level);
  // After a write: the record now, the text loaded on first access.
  static void FillWritten(ZOLT_DRIVE_OBJECT& obj, const Json::Value& meta,
                          const std::string& versionDir, int level);
  // An object that only names an id (the entry of a failed batch item).
  static void FillId(ZOLT_DRIVE_OBJECT& obj, const std::string& ns, const std::string& id);
};

}  // namespace zoltdrive
