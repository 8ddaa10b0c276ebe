// The sheet view: inserting and removing rows and columns. This file moves the cell grid and the
// per-row and per-column arrays and keeps the counts; the features that name rows and columns
// (merges, filter, validations, conditional formats) follow in sheet_rowcol_features.cc.
//
// Rows or columns inserted at or after the sheet's end only raise the count: the server learns of
// rows from writes, so what is stored beyond its count (a height, a merge) already sits where the
// client put it and must not move when a write grows the sheet.
//
// Cells are renumbered by swapping each moved row (or cell) out of its old key and into its new
// one, so no cell is ever copied and no key is left behind empty; only the keys inside the sheet
// (0..count - 1) are visited, which makes growing a sheet at its end independent of its size.
#include <algorithm>
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

// Shifts the members of object whose keys are the indexes lo..hi: the first `drop` indexes
// (lo..lo + drop - 1) are removed, the others move to index + delta. Values move by swapping, in
// the order that empties each new key before it is filled: into the slot of a member that moved
// on or was dropped (found without a key lookup) or into a new key. What a new key held before (a
// member outside lo..hi) is dropped, and the keys left empty are removed. One walk over the object;
// a dense row costs one swap per cell and a key insertion or removal per index of |delta|.
void ShiftMembers(Json::Value& object, int lo, int hi, int delta, int drop) {
  if (!object.isObject() || hi < lo) return;
  const long long span = static_cast<long long>(hi) - lo + 1;
  const long long firstMoved = static_cast<long long>(lo) + drop;
  // The members by index: a table over lo..hi for objects that fill much of it (a row of cells),
  // else a sorted list (the sparse row keys of a large grid).
  const bool dense = span <= 4 * static_cast<long long>(object.size()) + 64;
  std::vector<Json::Value*> table;
  std::vector<std::pair<int, Json::Value*>> list;
  if (dense) {
    table.assign(static_cast<size_t>(span), nullptr);
    L::ForEachIndexedMember(object, lo, hi,
                            [&](int i, Json::Value& member) { table[i - lo] = &member; });
  } else {
    L::ForEachIndexedMember(object, lo, hi,
                            [&](int i, Json::Value& member) { list.emplace_back(i, &member); });
    std::sort(list.begin(), list.end());
  }
  auto slotAt = [&](long long index) -> Json::Value* {
    if (index < lo || index > hi) return nullptr;
    if (dense) return table[index - lo];
    auto found = std::lower_bound(list.begin(), list.end(),
                                  std::pair<int, Json::Value*>(static_cast<int>(index), nullptr));
    return found != list.end() && found->first == index ? found->second : nullptr;
  };
  auto visit = [&](auto&& f) {
    if (dense) {
      for (long long i = lo; i <= hi; ++i) {
        if (table[i - lo] != nullptr) f(static_cast<int>(i), table[i - lo]);
      }
    } else {
      for (const auto& [index, value] : list) f(index, value);
    }
  };
  auto visitMovingDown = [&](auto&& f) {  // highest index first
    if (dense) {
      for (long long i = hi; i >= lo; --i) {
        if (table[i - lo] != nullptr) f(static_cast<int>(i), table[i - lo]);
      }
    } else {
      for (auto it = list.rbegin(); it != list.rend(); ++it) f(it->first, it->second);
    }
  };

  visit([&](int index, Json::Value* value) {
    if (index < firstMoved) *value = Json::Value();
  });
  auto moveOne = [&](int index, Json::Value* value) {
    if (index < firstMoved || delta == 0) return;
    const long long target = static_cast<long long>(index) + delta;
    Json::Value* slot = slotAt(target);
    if (slot == nullptr) slot = &object[toString(static_cast<int>(target))];
    slot->swap(*value);
    *value = Json::Value();
  };
  if (delta > 0) {
    visitMovingDown(moveOne);
  } else {
    visit(moveOne);
  }
  // A member slot keeps a value only when a moved member went into it.
  visit([&](int index, Json::Value*) {
    const long long source = static_cast<long long>(index) - delta;
    if (source < firstMoved || source > hi || slotAt(source) == nullptr || delta == 0) {
      if (delta != 0 || index < firstMoved) object.removeMember(toString(index));
    }
  });
}

// Inserting amount before index in an object keyed by indexes of a sheet of count: the keys from
// index on move up.
void InsertIndexedMembers(Json::Value& object, int index, int amount, int count) {
  ShiftMembers(object, index, count - 1, amount, 0);
}

// Removing amount from index in an object keyed by indexes of a sheet of count: the removed keys
// go, the later ones close up, and no key is left behind at the end (now outside the sheet).
void RemoveIndexedMembers(Json::Value& object, int index, int amount, int count) {
  ShiftMembers(object, index, count - 1, -amount, amount);
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
    if (Json::Value* cells = Grid(*content_))
      InsertIndexedMembers(*cells, index, amount, rowCount_);
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
        if (row.isObject()) InsertIndexedMembers(row, index, amount, colCount_);
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
