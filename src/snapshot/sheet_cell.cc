// The sheet view: the cell grid ("cells"), cell values and cell meta (style, border, comment).
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/zoltsh_error.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::toString;

namespace {

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// The stored cell, or nullptr when it or its row is missing.
const Json::Value* FindCell(const Json::Value& content, int row, int col) {
  const Json::Value* cells = L::Find(content, L::kCells);
  if (cells == nullptr) return nullptr;
  const Json::Value* rowObject = L::Find(*cells, toString(row));
  if (rowObject == nullptr) return nullptr;
  return L::Find(*rowObject, toString(col));
}

// Member key of the cell's meta object, or nullptr.
const Json::Value* FindMetaMember(const Json::Value& content, int row, int col, const char* key) {
  const Json::Value* cell = FindCell(content, row, col);
  if (cell == nullptr) return nullptr;
  const Json::Value* meta = L::Find(*cell, L::kMeta);
  if (meta == nullptr) return nullptr;
  return L::Find(*meta, key);
}

const Json::Value& OrNull(const Json::Value* v) {
  return v != nullptr ? *v : Json::Value::nullSingleton();
}

}  // namespace

bool Sheet::HasCell(int row, int col) const {
  const Json::Value* cell = FindCell(*content_, row, col);
  return cell != nullptr && !cell->isNull();
}

const Json::Value& Sheet::GetCell(int row, int col) const {
  return OrNull(FindCell(*content_, row, col));
}

Json::Value& Sheet::GetCellMutable(int row, int col) {
  CheckRow(row);
  CheckCol(col);
  CheckCellPath(row, col, false);
  Json::Value& cells = MutableMember(L::kCells, Json::objectValue);
  Json::Value& rowObject = cells[toString(row)];
  if (rowObject.isNull()) rowObject = Json::Value(Json::objectValue);
  return rowObject[toString(col)];
}

Json::Value Sheet::GetValue(int row, int col) const {
  const Json::Value* cell = FindCell(*content_, row, col);
  const Json::Value* v = cell != nullptr ? L::Find(*cell, L::kValue) : nullptr;
  return v != nullptr ? *v : Json::Value("");
}

const Json::Value& Sheet::GetMeta(int row, int col) const {
  const Json::Value* cell = FindCell(*content_, row, col);
  return OrNull(cell != nullptr ? L::Find(*cell, L::kMeta) : nullptr);
}

const Json::Value& Sheet::GetStyle(int row, int col) const {
  return OrNull(FindMetaMember(*content_, row, col, L::kStyle));
}

const Json::Value& Sheet::GetBorder(int row, int col) const {
  return OrNull(FindMetaMember(*content_, row, col, L::kBorder));
}

const Json::Value& Sheet::GetComment(int row, int col) const {
  return OrNull(FindMetaMember(*content_, row, col, L::kComment));
}

void Sheet::EnsureRowColExists(int row, int col) {
  CheckRow(row);
  CheckCol(col);
  CheckMember(L::kRowCount, Json::intValue);
  CheckMember(L::kColCount, Json::intValue);
  GrowToRow(row);
  GrowToCol(col);
}

void Sheet::GrowToRow(int row) {
  CheckRow(row);
  CheckMember(L::kRowCount, Json::intValue);
  if (row >= rowCount_) CreateRow(rowCount_, row - rowCount_ + 1);
}

void Sheet::GrowToCol(int col) {
  CheckCol(col);
  CheckMember(L::kColCount, Json::intValue);
  if (col >= colCount_) CreateColumn(colCount_, col - colCount_ + 1);
}

void Sheet::SetValue(int row, int col, const Json::Value& value) {
  CheckRow(row);
  CheckCol(col);
  // A value is a string, number or boolean; null or "" clears it.
  if (value.isObject() || value.isArray()) ThrowInvalid(__LINE__);
  CheckCellPath(row, col, false);
  CheckMember(L::kRowCount, Json::intValue);
  CheckMember(L::kColCount, Json::intValue);
  EnsureRowColExists(row, col);
  if (value.isNull() || (value.isString() && value.asString().empty())) {
    if (Json::Value* cell = ExistingCell(row, col)) cell->removeMember(L::kValue);
    return;
  }
  Json::Value& cell = GetCellMutable(row, col);
  if (cell.isNull()) cell = Json::Value(Json::objectValue);
  cell[L::kValue] = value;
}

void Sheet::SetMeta(int row, int col, const std::string& key, const Json::Value& value) {
  CheckRow(row);
  CheckCol(col);
  CheckCellPath(row, col, true);
  if (value.isNull()) {
    Json::Value* cell = ExistingCell(row, col);
    Json::Value* meta = cell != nullptr ? L::Find(*cell, L::kMeta) : nullptr;
    if (meta != nullptr && meta->isObject()) meta->removeMember(key);
    return;
  }
  MutableMetaOf(row, col)[key] = value;
}

void Sheet::SetStyle(int row, int col, const Json::Value& style, bool overwrite) {
  CheckRow(row);
  CheckCol(col);
  if (!style.isNull() && !style.isObject()) return;
  CheckCellPath(row, col, true);
  if (overwrite) {
    if (style.isNull()) {
      Json::Value* cell = ExistingCell(row, col);
      Json::Value* meta = cell != nullptr ? L::Find(*cell, L::kMeta) : nullptr;
      if (meta != nullptr && meta->isObject()) meta->removeMember(L::kStyle);
    } else {
      MutableMetaOf(row, col)[L::kStyle] = style;
    }
    return;
  }
  Json::Value& stored = MutableMetaOf(row, col)[L::kStyle];
  if (!stored.isObject()) stored = Json::Value(Json::objectValue);
  if (style.isNull()) return;
  for (auto it = style.begin(); it != style.end(); ++it) {
    const std::string name = it.name();
    if (it->isNull()) {
      stored.removeMember(name);
    } else {
      stored[name] = *it;
    }
  }
}

void Sheet::SetBorder(int row, int col, const Json::Value& border, bool overwrite) {
  CheckRow(row);
  CheckCol(col);
  if (!border.isNull() && !(border.isArray() && border.size() >= 4)) return;
  CheckCellPath(row, col, true);
  if (overwrite) {
    if (border.isNull()) {
      Json::Value* cell = ExistingCell(row, col);
      Json::Value* meta = cell != nullptr ? L::Find(*cell, L::kMeta) : nullptr;
      if (meta != nullptr && meta->isObject()) meta->removeMember(L::kBorder);
    } else {
      MutableMetaOf(row, col)[L::kBorder] = border;
    }
    return;
  }
  Json::Value& stored = MutableMetaOf(row, col)[L::kBorder];
  if (!stored.isArray()) {
    stored = Json::Value(Json::arrayValue);
    for (int i = 0; i < 4; ++i) stored.append(Json::Value());
  }
  if (border.isNull()) return;
  for (Json::ArrayIndex i = 0; i < 4; ++i) {
    if (!border[i].isNull()) stored[i] = border[i];
  }
}

void Sheet::SetComment(int row, int col, const std::string& text, uint64_t time, uint32_t editor) {
  CheckRow(row);
  CheckCol(col);
  CheckCellPath(row, col, true);
  if (text.empty()) {
    Json::Value* cell = ExistingCell(row, col);
    Json::Value* meta = cell != nullptr ? L::Find(*cell, L::kMeta) : nullptr;
    if (meta != nullptr && meta->isObject()) meta->removeMember(L::kComment);
    return;
  }
  Json::Value comment(Json::objectValue);
  comment["c"] = text;
  comment["t"] = Json::Value(static_cast<Json::UInt64>(time));
  comment["e"] = Json::Value(static_cast<Json::UInt>(editor));
  MutableMetaOf(row, col)[L::kComment] = std::move(comment);
}

void Sheet::Compact(int fromRow, int toRow) {
  Json::Value* cells = L::Find(*content_, L::kCells);
  if (cells == nullptr || !cells->isObject()) return;
  const int from = fromRow == -1 ? 0 : fromRow;
  const int to = toRow == -1 ? rowCount_ : toRow;
  std::vector<std::string> nullRows;
  for (auto it = cells->begin(); it != cells->end(); ++it) {
    const std::string key = it.name();
    const int r = utils::toInt(key.c_str());
    if (r < from || r > to) continue;
    if (it->isNull()) {
      nullRows.push_back(key);
    } else if (it->isObject()) {
      std::vector<std::string> nullCells;
      for (auto c = it->begin(); c != it->end(); ++c) {
        if (c->isNull()) nullCells.push_back(c.name());
      }
      for (const std::string& k : nullCells) it->removeMember(k);
    }
  }
  for (const std::string& k : nullRows) cells->removeMember(k);
}

void Sheet::CheckCellPath(int row, int col, bool withMeta) const {
  if (!content_->isNull() && !content_->isObject()) ThrowInvalid(__LINE__);
  const Json::Value* cells = L::Find(*content_, L::kCells);
  if (!L::WritableAs(cells, Json::objectValue)) ThrowInvalid(__LINE__);
  if (cells == nullptr) return;
  const Json::Value* rowObject = L::Find(*cells, toString(row));
  if (!L::WritableAs(rowObject, Json::objectValue)) ThrowInvalid(__LINE__);
  if (rowObject == nullptr) return;
  const Json::Value* cell = L::Find(*rowObject, toString(col));
  if (!L::WritableAs(cell, Json::objectValue)) ThrowInvalid(__LINE__);
  if (cell == nullptr || !withMeta) return;
  if (!L::WritableAs(L::Find(*cell, L::kMeta), Json::objectValue)) ThrowInvalid(__LINE__);
}

Json::Value& Sheet::MutableMetaOf(int row, int col) {
  // The first change of every meta write: the checks of the counts come before the growth.
  EnsureRowColExists(row, col);
  Json::Value& cell = GetCellMutable(row, col);
  if (cell.isNull()) cell = Json::Value(Json::objectValue);
  Json::Value& meta = cell[L::kMeta];
  if (meta.isNull()) meta = Json::Value(Json::objectValue);
  return meta;
}

Json::Value* Sheet::ExistingCell(int row, int col) {
  auto* cell = const_cast<Json::Value*>(FindCell(*content_, row, col));
  return cell != nullptr && cell->isObject() ? cell : nullptr;
}

}  // namespace zoltsh
