// The sheet view: merged cells ("mergeCells").
#include <string>

#include "common/zoltsh_error.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::Coord;
using utils::Range;

namespace {

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// A range argument: exactly four integers, rows and columns inside the sheet bounds.
Range ArgumentRange(const Json::Value& range) {
  if (!range.isArray() || range.size() != 4) ThrowInvalid(__LINE__);
  for (Json::ArrayIndex i = 0; i < 4; ++i) {
    if (!range[i].isInt()) ThrowInvalid(__LINE__);
  }
  const int r1 = range[0].asInt(), c1 = range[1].asInt();
  const int r2 = range[2].asInt(), c2 = range[3].asInt();
  for (int r : {r1, r2}) {
    if (r < 0 || r >= kMaxRows) ThrowInvalid(__LINE__);
  }
  for (int c : {c1, c2}) {
    if (c < 0 || c >= kMaxCols) ThrowInvalid(__LINE__);
  }
  return Range(r1, c1, r2, c2);
}

// A stored merge that can be read as a range: an array of four numbers in the int range.
bool IsMergeEntry(const Json::Value& entry) {
  if (!entry.isArray() || entry.size() != 4) return false;
  for (const Json::Value& n : entry) {
    if (!n.isNumeric() || n.isBool() || !n.isConvertibleTo(Json::intValue)) return false;
  }
  return true;
}

Range NormalizedRange(const Json::Value& entry) {
  Range r(entry);
  r.Normalize();
  return r;
}

}  // namespace

void Sheet::MergeCells(const Json::Value& range) {
  Range target = ArgumentRange(range);
  target.Normalize();
  CheckMember(L::kMergeCells, Json::arrayValue);
  EnsureRowColExists(target.end.row, target.end.col);
  Json::Value& merges = MutableMember(L::kMergeCells, Json::arrayValue);
  // Entries to drop are exchanged with the last entry kept; the tail is cut once at the end.
  Json::ArrayIndex kept = merges.size();
  Json::ArrayIndex i = 0;
  while (i < kept) {
    const Json::Value& entry = merges[i];
    if (!IsMergeEntry(entry) || target.Overlap(NormalizedRange(entry))) {
      --kept;
      merges[i].swap(merges[kept]);
    } else {
      ++i;
    }
  }
  merges.resize(kept);
  merges.append(range);
}

void Sheet::UnmergeCell(const Json::Value& range) {
  Range target = ArgumentRange(range);
  target.Normalize();
  const Coord topLeft = target.start;

  Json::Value* merges = L::Find(*content_, L::kMergeCells);
  if (merges != nullptr && merges->isArray()) {
    const Json::ArrayIndex size = merges->size();
    for (Json::ArrayIndex i = 0; i < size; ++i) {
      if (IsMergeEntry((*merges)[i]) && NormalizedRange((*merges)[i]).Has(topLeft)) {
        (*merges)[i].swap((*merges)[size - 1]);
        merges->resize(size - 1);
        break;
      }
    }
  }

  Json::Value* cells = L::Find(*content_, L::kCells);
  if (cells == nullptr) return;
  L::ForEachIndexedMember(*cells, target.start.row, target.end.row, [&](int r, Json::Value& row) {
    L::ForEachIndexedMember(row, target.start.col, target.end.col, [&](int c, Json::Value& cell) {
      if ((r != topLeft.row || c != topLeft.col) && cell.isObject()) cell.removeMember(L::kValue);
    });
  });
}

}  // namespace zoltsh
