// The stored layout of one sheet's content, and lookups that tolerate any stored JSON.
//
// A sheet content is one JSON object (rows and columns 0-based; a four-number range is
// [top row, left column, bottom row, right column], inclusive):
//   "rowCount", "colCount"          ints; 100 and 30 when absent
//   "fixedRowTop", "fixedColumnLeft" frozen rows and columns as the client sent them; 0 when absent
//   "mergeCells"                     array of four-number ranges
//   "rowHeights", "colWidths"        element i: an int size, or null for the default
//   "hiddenRows", "hiddenCols"       element i: true when hidden, else null
//   "cells"                          {"<row>": {"<col>": cell}}, keys in decimal ("%d")
//   "filter"                         {} or {"id", "enabled", "range", "filters"}
//   "validation"                     {validId: {"validId", "type", "operator", "ranges", "f1",
//   ...}} "cfs"                            [{"cfId", "ranges", "f1", "f2", ...}] "drawing"
//   [{"type": "img", "id", "pos"}]
// The per-row and per-column arrays are only as long as their highest set index; missing and null
// elements mean the default. Rows and cells holding nothing are normally absent; null ones mean
// the same.
//
// A cell is {"v": value (string, number or boolean; absent when empty), "m": meta}, where meta is
// {"s": style object, "b": [four border sides], "c": {"c": text, "t": time, "e": editor uid}, and
// further opaque keys}.
//
// Content comes from storage and from clients, so every lookup here accepts any JSON: a member
// that is missing, or whose holder is not an object, is reported as missing and never throws.
#pragma once

#include <json/value.h>

#include <string>

#include "snapshot/range.h"

namespace zoltsh::sheet_layout {

inline constexpr char kRowCount[] = "rowCount";
inline constexpr char kColCount[] = "colCount";
inline constexpr char kFixedRowTop[] = "fixedRowTop";
inline constexpr char kFixedColumnLeft[] = "fixedColumnLeft";
inline constexpr char kMergeCells[] = "mergeCells";
inline constexpr char kRowHeights[] = "rowHeights";
inline constexpr char kColWidths[] = "colWidths";
inline constexpr char kHiddenRows[] = "hiddenRows";
inline constexpr char kHiddenCols[] = "hiddenCols";
inline constexpr char kCells[] = "cells";
inline constexpr char kFilter[] = "filter";
inline constexpr char kValidation[] = "validation";
inline constexpr char kCfs[] = "cfs";
inline constexpr char kDrawing[] = "drawing";

inline constexpr char kValue[] = "v";
inline constexpr char kMeta[] = "m";
inline constexpr char kStyle[] = "s";
inline constexpr char kBorder[] = "b";
inline constexpr char kComment[] = "c";

// Members of the features: the filter ("id", "enabled", "range", "filters"), validations
// ("validId", "type", "ranges", "f1"/"f2"), conditional formats ("cfId", "ranges") and the repair
// data of an undone removal ("dir", "repairList").
inline constexpr char kId[] = "id";
inline constexpr char kEnabled[] = "enabled";
inline constexpr char kRange[] = "range";
inline constexpr char kFilters[] = "filters";
inline constexpr char kValidId[] = "validId";
inline constexpr char kType[] = "type";
inline constexpr char kList[] = "list";
inline constexpr char kRanges[] = "ranges";
inline constexpr char kCfId[] = "cfId";
inline constexpr char kDir[] = "dir";
inline constexpr char kRepairList[] = "repairList";
// The formula text of a reference whose cells were all removed.
inline constexpr char kRefError[] = "#REF!";

inline constexpr int kDefaultRowCount = 100;
inline constexpr int kDefaultColCount = 30;

// The member `key` of `holder`, or nullptr when holder is not an object or has no such member.
inline const Json::Value* Find(const Json::Value& holder, const std::string& key) {
  if (!holder.isObject()) return nullptr;
  return holder.find(key.data(), key.data() + key.size());
}
inline Json::Value* Find(Json::Value& holder, const std::string& key) {
  return const_cast<Json::Value*>(Find(static_cast<const Json::Value&>(holder), key));
}

// True when the slot may be written as `type`: missing, null, or already of that type.
inline bool WritableAs(const Json::Value* slot, Json::ValueType type) {
  return slot == nullptr || slot->isNull() || slot->type() == type;
}

// The index a member key names: its canonical decimal text ("0", "17"; no sign, no leading zero),
// within the int range. False for any other key.
inline bool ParseIndexKey(const char* begin, const char* end, int& index) {
  const long long size = end - begin;
  if (size <= 0 || size > 10 || (size > 1 && *begin == '0')) return false;
  long long n = 0;
  for (const char* p = begin; p != end; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
  }
  if (n > 2147483647LL) return false;
  index = static_cast<int>(n);
  return true;
}

// Calls f(index, member) for every member of `object` (the cell grid or one row object) whose key
// is the decimal text of an index in lo..hi. Looks the keys up one by one when the span is much
// smaller than the object, else walks the object reading each key in place, so the cost is
// O(min(span log members, members)). f may change the members it is given but must not add or
// remove members of `object`.
template <typename F>
void ForEachIndexedMember(Json::Value& object, int lo, int hi, F&& f) {
  if (!object.isObject() || hi < lo) return;
  if ((static_cast<long long>(hi) - lo + 1) * 8 <= static_cast<long long>(object.size())) {
    for (long long i = lo; i <= hi; ++i) {
      if (Json::Value* member = Find(object, utils::toString(static_cast<int>(i)))) {
        f(static_cast<int>(i), *member);
      }
    }
    return;
  }
  for (auto it = object.begin(); it != object.end(); ++it) {
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    int i = 0;
    if (begin != nullptr && ParseIndexKey(begin, end, i) && i >= lo && i <= hi) f(i, *it);
  }
}

}  // namespace zoltsh::sheet_layout
