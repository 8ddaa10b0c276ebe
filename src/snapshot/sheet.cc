// The sheet view: construction, counts, the default layout, sizes, freezing and hiding.
#include "snapshot/sheet.h"

#include <algorithm>
#include <utility>

#include "common/zoltsh_error.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;

namespace {

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// A stored count: its default when missing or not a number, else clamped to 0..max.
int ReadCount(const Json::Value& content, const char* key, int fallback, int max) {
  const Json::Value* v = L::Find(content, key);
  if (v == nullptr || !v->isNumeric() || v->isBool()) return fallback;
  double d = v->asDouble();
  if (!(d >= 0)) return 0;  // also NaN
  if (d >= max) return max;
  return static_cast<int>(d);
}

// A stored int setting: 0 when missing or not a number in the int range.
int ReadSetting(const Json::Value& content, const char* key) {
  const Json::Value* v = L::Find(content, key);
  if (v == nullptr || v->isBool() || !v->isConvertibleTo(Json::intValue)) return 0;
  return v->asInt();
}

const Json::Value& MemberOrNull(const Json::Value& content, const char* key) {
  const Json::Value* v = L::Find(content, key);
  return v != nullptr ? *v : Json::Value::nullSingleton();
}

}  // namespace

Sheet::Sheet(Json::Value& content)
    : content_(&content),
      rowCount_(ReadCount(content, L::kRowCount, L::kDefaultRowCount, kMaxRows)),
      colCount_(ReadCount(content, L::kColCount, L::kDefaultColCount, kMaxCols)) {}

void Sheet::Init() {
  if (!content_->isNull() && !content_->isObject()) ThrowInvalid(__LINE__);
  Json::Value& c = *content_;
  c[L::kRowCount] = L::kDefaultRowCount;
  c[L::kColCount] = L::kDefaultColCount;
  rowCount_ = L::kDefaultRowCount;
  colCount_ = L::kDefaultColCount;
  c[L::kFixedRowTop] = 0;
  c[L::kFixedColumnLeft] = 0;
  for (const char* key : {L::kMergeCells, L::kRowHeights, L::kColWidths, L::kHiddenRows,
                          L::kHiddenCols, L::kCfs, L::kDrawing}) {
    c[key] = Json::Value(Json::arrayValue);
  }
  for (const char* key : {L::kCells, L::kFilter, L::kValidation}) {
    c[key] = Json::Value(Json::objectValue);
  }
}

void Sheet::SetRowCount(int n) {
  if (n < 0 || n > kMaxRows) ThrowInvalid(__LINE__);
  CheckMember(L::kRowCount, Json::intValue);
  (*content_)[L::kRowCount] = n;
  rowCount_ = n;
}

void Sheet::SetColCount(int n) {
  if (n < 0 || n > kMaxCols) ThrowInvalid(__LINE__);
  CheckMember(L::kColCount, Json::intValue);
  (*content_)[L::kColCount] = n;
  colCount_ = n;
}

const Json::Value& Sheet::GetRowHeights() const { return MemberOrNull(*content_, L::kRowHeights); }
const Json::Value& Sheet::GetColWidths() const { return MemberOrNull(*content_, L::kColWidths); }
const Json::Value& Sheet::GetHiddenRows() const { return MemberOrNull(*content_, L::kHiddenRows); }
const Json::Value& Sheet::GetHiddenCols() const { return MemberOrNull(*content_, L::kHiddenCols); }
const Json::Value& Sheet::GetMergeCells() const { return MemberOrNull(*content_, L::kMergeCells); }

void Sheet::SetRowHeight(int row, const Json::Value& value) {
  CheckRow(row);
  SetRowElement(L::kRowHeights, row, value.isInt() ? Json::Value(value.asInt()) : Json::Value());
}

void Sheet::SetColWidth(int col, const Json::Value& value) {
  CheckCol(col);
  SetColElement(L::kColWidths, col, value.isInt() ? Json::Value(value.asInt()) : Json::Value());
}

void Sheet::SetRowHidden(int row, bool hidden) {
  CheckRow(row);
  SetRowElement(L::kHiddenRows, row, hidden ? Json::Value(true) : Json::Value());
}

void Sheet::SetColHidden(int col, bool hidden) {
  CheckCol(col);
  SetColElement(L::kHiddenCols, col, hidden ? Json::Value(true) : Json::Value());
}

void Sheet::SetRowElement(const char* key, int row, Json::Value&& value) {
  CheckMember(key, Json::arrayValue);
  if (!value.isNull()) GrowToRow(row);
  SetArrayElement(key, row, std::move(value));
}

void Sheet::SetColElement(const char* key, int col, Json::Value&& value) {
  CheckMember(key, Json::arrayValue);
  if (!value.isNull()) GrowToCol(col);
  SetArrayElement(key, col, std::move(value));
}

int Sheet::GetFixedRowTop() const { return ReadSetting(*content_, L::kFixedRowTop); }
int Sheet::GetFixedColLeft() const { return ReadSetting(*content_, L::kFixedColumnLeft); }

void Sheet::FixRowTop(int n) {
  if (n < 0 || n > kMaxRows) ThrowInvalid(__LINE__);
  MutableMember(L::kFixedRowTop, Json::intValue) = n;
}

void Sheet::FixColLeft(int n) {
  if (n < 0 || n > kMaxCols) ThrowInvalid(__LINE__);
  MutableMember(L::kFixedColumnLeft, Json::intValue) = n;
}

void Sheet::CheckMember(const char* key, Json::ValueType type) const {
  if (!content_->isNull() && !content_->isObject()) ThrowInvalid(__LINE__);
  const Json::Value* slot = L::Find(*content_, key);
  if (slot == nullptr || slot->isNull() || slot->type() == type) return;
  // An int setting replaces any other scalar; containers are never overwritten by a setting.
  if (type == Json::intValue && !slot->isObject() && !slot->isArray()) return;
  ThrowInvalid(__LINE__);
}

Json::Value& Sheet::MutableMember(const char* key, Json::ValueType type) {
  CheckMember(key, type);
  Json::Value& slot = (*content_)[key];
  if (slot.isNull()) slot = Json::Value(type);
  return slot;
}

void Sheet::SetArrayElement(const char* key, int index, Json::Value&& value) {
  CheckMember(key, Json::arrayValue);
  const auto at = static_cast<Json::ArrayIndex>(index);
  if (value.isNull()) {
    Json::Value* array = L::Find(*content_, key);
    if (array == nullptr || !array->isArray() || at >= array->size()) return;
    (*array)[at] = Json::Value();
    // The array stays only as long as its last set element.
    Json::ArrayIndex size = array->size();
    while (size > 0 && (*array)[size - 1].isNull()) --size;
    if (size < array->size()) array->resize(size);
    return;
  }
  Json::Value& array = MutableMember(key, Json::arrayValue);
  while (array.size() < at) array.append(Json::Value());
  array[at] = std::move(value);
}

void Sheet::CheckRow(int row) {
  if (row < 0 || row >= kMaxRows) ThrowInvalid(__LINE__);
}

void Sheet::CheckCol(int col) {
  if (col < 0 || col >= kMaxCols) ThrowInvalid(__LINE__);
}

}  // namespace zoltsh
