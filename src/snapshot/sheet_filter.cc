// The sheet view: the sheet's single filter ("filter").
#include <algorithm>
#include <string>
#include <utility>

#include "common/zoltsh_error.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;

namespace {

using sheet_layout::kEnabled;
using sheet_layout::kFilters;
using sheet_layout::kId;
using sheet_layout::kRange;

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// A range argument: exactly four integers, rows and columns inside the sheet bounds.
void CheckRangeArgument(const Json::Value& range) {
  if (!range.isArray() || range.size() != 4) ThrowInvalid(__LINE__);
  for (Json::ArrayIndex i = 0; i < 4; ++i) {
    if (!range[i].isInt()) ThrowInvalid(__LINE__);
    const int n = range[i].asInt();
    if (n < 0 || n >= (i % 2 == 0 ? kMaxRows : kMaxCols)) ThrowInvalid(__LINE__);
  }
}

// The stored filter when it is an object whose "id" is the string id.
Json::Value* FindFilter(Json::Value& content, const std::string& id) {
  Json::Value* filter = L::Find(content, L::kFilter);
  if (filter == nullptr) return nullptr;
  const Json::Value* stored = L::Find(*filter, kId);
  if (stored == nullptr || !stored->isString() || stored->asString() != id) return nullptr;
  return filter;
}

// A whole number stored in the int range, read into out; false for anything else.
bool ReadInt(const Json::Value& v, int& out) {
  if (v.isBool() || !v.isNumeric() || !v.isConvertibleTo(Json::intValue)) return false;
  const double d = v.asDouble();
  if (d != static_cast<double>(static_cast<long long>(d))) return false;
  out = v.asInt();
  return true;
}

void SetEnabled(Json::Value& content, const std::string& id, bool enabled) {
  if (Json::Value* filter = FindFilter(content, id)) (*filter)[kEnabled] = enabled;
}

}  // namespace

void Sheet::CreateFilter(const std::string& id, const Json::Value& range) {
  CheckRangeArgument(range);
  CheckMember(L::kFilter, Json::objectValue);
  // Stored with its corners in order, inside the sheet.
  utils::Range target(range);
  target.Normalize();
  EnsureRowColExists(target.end.row, target.end.col);
  Json::Value& filter = MutableMember(L::kFilter, Json::objectValue);
  filter[kId] = id;
  filter[kEnabled] = true;
  Json::Value& stored = filter[kRange] = Json::Value(Json::arrayValue);
  for (int n : {target.start.row, target.start.col, target.end.row, target.end.col}) {
    stored.append(n);
  }
  filter[kFilters] = Json::Value(Json::arrayValue);
}

void Sheet::EnableFilter(const std::string& id) { SetEnabled(*content_, id, true); }

void Sheet::DisableFilter(const std::string& id) { SetEnabled(*content_, id, false); }

void Sheet::SetFilter(const std::string& id, int col, const Json::Value& condition) {
  Json::Value* filter = FindFilter(*content_, id);
  if (filter == nullptr) return;
  const Json::Value* enabled = L::Find(*filter, kEnabled);
  if (enabled == nullptr || !enabled->isBool() || !enabled->asBool()) return;
  // The range as stored; one removed by row or column removal (null) or damaged selects no column.
  const Json::Value* range = L::Find(*filter, kRange);
  if (range == nullptr || !range->isArray() || range->size() != 4) return;
  int c1 = 0, c2 = 0;
  if (!ReadInt((*range)[1], c1) || !ReadInt((*range)[3], c2)) return;
  const int left = std::min(c1, c2), right = std::max(c1, c2);
  if (col < left || col > right || left < 0 || right >= kMaxCols) return;

  Json::Value* filters = L::Find(*filter, kFilters);
  if (!L::WritableAs(filters, Json::arrayValue)) ThrowInvalid(__LINE__);
  Json::Value& array = (*filter)[kFilters];
  if (array.isNull()) array = Json::Value(Json::arrayValue);
  const auto at = static_cast<Json::ArrayIndex>(col - left);
  while (array.size() < at) array.append(Json::Value());
  array[at] = condition;
}

}  // namespace zoltsh
