// The sheet view: inserting and removing rows and columns. This file moves the cell grid and the
// per-row and per-column arrays and keeps the counts; the features that name rows and columns
// (merges, filter, validations, conditional formats) follow in sheet_rowcol_features.cc.
//
// Rows or columns inserted at or after the sheet's end only raise the count: the server learns of
// rows from writes, so what is stored beyond its count (a height, a merge) already sits where the
// client put it and must not move when a write grows the sheet.
//
// Cells are renumbered by swapping each moved row (or cell) out of its old key and into its new
// one, so no cell is ever copied; only the keys inside the sheet (0..count - 1) are visited, which
// makes growing a sheet at its end independent of its size.
#include <string>
#include <utility>
#include <vector>

#include "common/json_utils.h"
#include "common/zoltsh_error.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::Axis;
using utils::Coord;
using utils::toString;

namespace {

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// An insertion of amount before index on an axis holding count of at most max.
void CheckInsertion(int index, int amount, int count, int max) {
  if (index < 0 || amount < 1) ThrowInvalid(__LINE__);
  if (amount > max - count) ThrowInvalid(__LINE__);  // the count would pass the bound
  if (index > max - amount) ThrowInvalid(__LINE__);  // index + amount overflows or passes it
}

// A removal of amount from index: every removed row or column lies inside the sheet.
void CheckRemoval(int index, int amount, int count) {
  if (index < 0 || amount < 1) ThrowInvalid(__LINE__);
  if (index > count - amount) ThrowInvalid(__LINE__);
}

// Moves the members of object whose keys are the indexes lo..hi to index + delta, by swapping:
// every old key is left holding null, then every new key receives its value.
void RenumberKeys(Json::Value& object, int lo, int hi, int delta) {
  std::vector<int> keys;
  std::vector<Json::Value> aside;
  L::ForEachIndexedMember(object, lo, hi, [&](int i, Json::Value& member) {
    keys.push_back(i);
    aside.emplace_back();
    aside.back().swap(member);
  });
  for (size_t k = 0; k < keys.size(); ++k) object[toString(keys[k] + delta)].swap(aside[k]);
}

// Removes the members of object whose keys are the indexes lo..hi.
void RemoveKeys(Json::Value& object, int lo, int hi) {
  std::vector<int> keys;
  L::ForEachIndexedMember(object, lo, hi, [&](int i, Json::Value&) { keys.push_back(i); });
  for (int k : keys) object.removeMember(toString(k));
}

// Removing amount from index in an object keyed by indexes of a sheet of count: the removed keys
// go, the later ones close up. The nulls their old keys would keep at the end (now outside the
// sheet) are dropped with them.
void RemoveIndexedMembers(Json::Value& object, int index, int amount, int count) {
  const int last = index + amount - 1;
  RemoveKeys(object, index, last);
  RenumberKeys(object, last + 1, count - 1, -amount);
  std::vector<int> stale;
  L::ForEachIndexedMember(object, count - amount, count - 1, [&](int i, Json::Value& member) {
    if (member.isNull()) stale.push_back(i);
  });
  for (int k : stale) object.removeMember(toString(k));
}

// amount nulls spliced into the array member key at index, when index lies inside it.
void SpliceNulls(Json::Value& content, const char* key, int index, int amount) {
  Json::Value* array = L::Find(content, key);
  if (array == nullptr || !array->isArray() || static_cast<unsigned>(index) >= array->size()) {
    return;
  }
  Json::Value nulls(Json::arrayValue);
  nulls.resize(static_cast<Json::ArrayIndex>(amount));
  utils::SpliceJsonArray(*array, static_cast<unsigned>(index), 0, nulls);
}

// amount elements removed from the array member key at index, when index lies inside it. Trailing
// nulls left behind are dropped, so the array stays no longer than its highest set element.
void SpliceOut(Json::Value& content, const char* key, int index, int amount) {
  Json::Value* array = L::Find(content, key);
  if (array == nullptr || !array->isArray() || static_cast<unsigned>(index) >= array->size()) {
    return;
  }
  utils::SpliceJsonArray(*array, static_cast<unsigned>(index), static_cast<unsigned>(amount),
                         Json::Value());
  Json::ArrayIndex size = array->size();
  while (size > 0 && (*array)[size - 1].isNull()) --size;
  array->resize(size);
}

Json::Value* Grid(Json::Value& content) {
  Json::Value* cells = L::Find(content, L::kCells);
  return cells != nullptr && cells->isObject() ? cells : nullptr;
}

}  // namespace

void Sheet::CreateRow(int index, int amount) {
  CheckInsertion(index, amount, rowCount_, kMaxRows);
  CheckMember(L::kRowCount, Json::intValue);
  // Rows added at the end only make rows known that the client may already use: sizes, merges
  // or rules stored for them stay on their rows.
  if (index < rowCount_) {
    if (Json::Value* cells = Grid(*content_)) RenumberKeys(*cells, index, rowCount_ - 1, amount);
    SpliceNulls(*content_, L::kRowHeights, index, amount);
    SpliceNulls(*content_, L::kHiddenRows, index, amount);
    CreateMergeCellRowCol(&Coord::row, index, amount);
    CreateFilterRow(index, amount);
    CreateValidRowCol(&Coord::row, index, amount);
    CreateCfRowCol(&Coord::row, index, amount);
  }
  SetRowCount(rowCount_ + amount);
}

void Sheet::CreateColumn(int index, int amount) {
  CheckInsertion(index, amount, colCount_, kMaxCols);
  CheckMember(L::kColCount, Json::intValue);
  if (index < colCount_) {  // as for rows: columns added at the end move nothing
    if (Json::Value* cells = Grid(*content_)) {
      for (Json::Value& row : *cells) {
        if (row.isObject()) RenumberKeys(row, index, colCount_ - 1, amount);
      }
    }
    SpliceNulls(*content_, L::kColWidths, index, amount);
    SpliceNulls(*content_, L::kHiddenCols, index, amount);
    CreateMergeCellRowCol(&Coord::col, index, amount);
    CreateFilterColumn(index, amount);
    CreateValidRowCol(&Coord::col, index, amount);
    CreateCfRowCol(&Coord::col, index, amount);
  }
  SetColCount(colCount_ + amount);
}

void Sheet::RemoveRow(int index, int amount) {
  CheckRemoval(index, amount, rowCount_);
  CheckMember(L::kRowCount, Json::intValue);
  if (Json::Value* cells = Grid(*content_)) {
    RemoveIndexedMembers(*cells, index, amount, rowCount_);
  }
  SpliceOut(*content_, L::kRowHeights, index, amount);
  SpliceOut(*content_, L::kHiddenRows, index, amount);
  RemoveMergeCellRowCol(&Coord::row, index, amount);
  RemoveFilterRow(index, amount);
  RemoveValidRowCol(&Coord::row, index, amount);
  RemoveCfRowCol(&Coord::row, index, amount);
  SetRowCount(rowCount_ - amount);
}

void Sheet::RemoveColumn(int index, int amount) {
  CheckRemoval(index, amount, colCount_);
  CheckMember(L::kColCount, Json::intValue);
  if (Json::Value* cells = Grid(*content_)) {
    for (Json::Value& row : *cells) {
      if (row.isObject()) RemoveIndexedMembers(row, index, amount, colCount_);
    }
  }
  SpliceOut(*content_, L::kColWidths, index, amount);
  SpliceOut(*content_, L::kHiddenCols, index, amount);
  RemoveMergeCellRowCol(&Coord::col, index, amount);
  RemoveFilterColumn(index, amount);
  RemoveValidRowCol(&Coord::col, index, amount);
  RemoveCfRowCol(&Coord::col, index, amount);
  SetColCount(colCount_ - amount);
}

}  // namespace zoltsh
