// The sheet view: how merges, the filter, data validations and conditional formats follow rows
// and columns that are inserted or removed, formulas of the rules included.
//
// A rule's formulas ("f1", "f2") hold references relative to the rule's anchor: for a validation
// the smallest row and column over the top-left corners of its ranges, for a conditional format the
// start of its first range. When a removal moves the anchor to another cell, the relative parts
// follow it first (keepAbsolute), then every reference moves like the rows or columns it names.
// A "list" validation's formulas are never shifted; its "listRange" source in "f1" moves as a
// range.
//
// Stored members of an unexpected type are skipped, never rewritten. Stored numbers and A1 texts
// may lie anywhere in the int range (rule ranges are kept as the client sent them), so every sum
// of them saturates at the int range instead of overflowing. A merge or the filter is read by its
// ordered corners, whatever order it was stored in: the filter's range is written back ordered,
// a merge when it changes.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/json_utils.h"
#include "snapshot/formula.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

// GCC reports the storage of an empty boost::optional as maybe uninitialized when a ShiftArg is
// copied with optimisation and sanitizers on; an empty optional never reads its storage.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace zoltsh {

namespace L = sheet_layout;
using utils::AddSaturated;
using utils::Axis;
using utils::ClampToInt;
using utils::Coord;
using utils::Range;
using utils::ShiftArg;

namespace {

using sheet_layout::kFilters;
using sheet_layout::kRange;
using sheet_layout::kRanges;
using sheet_layout::kRefError;

bool IsMergeEntry(const Json::Value& entry) {
  if (!entry.isArray() || entry.size() != 4) return false;
  for (const Json::Value& n : entry) {
    if (!n.isNumeric() || n.isBool() || !n.isConvertibleTo(Json::intValue)) return false;
  }
  return true;
}

ShiftArg OnAxis(Axis axis, int n) {
  ShiftArg arg;
  if (axis == &Coord::row) {
    arg.row = n;
  } else {
    arg.col = n;
  }
  return arg;
}

bool StringMemberIs(const Json::Value& holder, const char* key, const char* text) {
  const Json::Value* v = L::Find(holder, key);
  return v != nullptr && v->isString() && v->asString() == text;
}

bool IsListType(const Json::Value& rule) { return StringMemberIs(rule, "type", "list"); }

// A "listRange" rule whose "f1" still names a source range.
bool HasListSource(const Json::Value& rule) {
  const Json::Value* f1 = L::Find(rule, "f1");
  return StringMemberIs(rule, "operator", "listRange") && f1 != nullptr && f1->isString() &&
         f1->asString() != kRefError;
}

void ShiftRuleFormulas(Json::Value& rule, const ShiftArg& delta, const ShiftArg& threshold,
                       bool keepAbsolute) {
  for (const char* key : {"f1", "f2"}) {
    Json::Value* f = L::Find(rule, key);
    if (f != nullptr && f->isString()) {
      *f = utils::ChangeFormula(f->asString(), delta, threshold, keepAbsolute);
    }
  }
}

void LowerTo(Coord& anchor, const Coord& corner) {
  anchor.row = std::min(anchor.row, corner.row);
  anchor.col = std::min(anchor.col, corner.col);
}

// The stored filter's "range" when it is four ints, else nullptr.
Json::Value* FilterRange(Json::Value& content) {
  Json::Value* filter = L::Find(content, L::kFilter);
  Json::Value* range = filter != nullptr ? L::Find(*filter, kRange) : nullptr;
  return range != nullptr && IsMergeEntry(*range) ? range : nullptr;
}

// A stored four-int range by its ordered corners.
Range OrderedRange(const Json::Value& stored) {
  Range range(stored);
  range.Normalize();
  return range;
}

// The range written back ordered, or null once all of it has gone.
void StoreRange(Json::Value& stored, Range& range) {
  stored = range.kind == Range::kEmpty ? Json::Value() : utils::RangeToJsonArray(range);
}

// The filter's conditions (one per column from its left column) spliced at `at`: `remove` taken
// out, then `insert` nulls put in. Nothing happens when `at` lies past the stored conditions.
void SpliceConditions(Json::Value& content, long long at, long long remove, long long insert) {
  Json::Value* filter = L::Find(content, L::kFilter);
  Json::Value* filters = filter != nullptr ? L::Find(*filter, kFilters) : nullptr;
  if (filters == nullptr || !filters->isArray() || at < 0 ||
      at >= static_cast<long long>(filters->size())) {
    return;
  }
  Json::Value nulls(Json::arrayValue);
  nulls.resize(static_cast<Json::ArrayIndex>(insert));
  utils::SpliceJsonArray(*filters, static_cast<unsigned>(at), static_cast<unsigned>(remove), nulls);
}

}  // namespace

void Sheet::CreateMergeCellRowCol(Axis axis, int index, int amount) {
  Json::Value* merges = L::Find(*content_, L::kMergeCells);
  if (merges == nullptr || !merges->isArray()) return;
  for (Json::Value& entry : *merges) {
    if (!IsMergeEntry(entry)) continue;
    Range range(entry);
    if (range.InsertRowCol(axis, index, amount)) entry = utils::RangeToJsonArray(range);
  }
}

void Sheet::RemoveMergeCellRowCol(Axis axis, int index, int amount) {
  Json::Value* merges = L::Find(*content_, L::kMergeCells);
  if (merges == nullptr || !merges->isArray()) return;
  for (Json::Value& entry : *merges) {
    if (!IsMergeEntry(entry)) continue;
    Range range(entry);
    if (!range.RemoveRowCol(axis, index, amount)) continue;
    if (range.kind == Range::kEmpty || (range.GetWidth() == 1 && range.GetHeight() == 1)) {
      entry = Json::Value();
    } else {
      entry = utils::RangeToJsonArray(range);
    }
  }
  utils::JsonArrayWrapper(merges).RemoveIf([](const Json::Value& v) { return v.isNull(); });
}

void Sheet::CreateFilterRow(int index, int amount) {
  Json::Value* stored = FilterRange(*content_);
  if (stored == nullptr) return;
  Range range = OrderedRange(*stored);
  range.InsertRowCol(&Coord::row, index, amount);
  StoreRange(*stored, range);
}

void Sheet::CreateFilterColumn(int index, int amount) {
  Json::Value* stored = FilterRange(*content_);
  if (stored == nullptr) return;
  Range range = OrderedRange(*stored);
  const int left = range.start.col;
  // Only an insertion inside the range (after its first column) widens it; the conditions then
  // get a null for each new column.
  const bool inside = left < index && index <= range.end.col;
  range.InsertRowCol(&Coord::col, index, amount);
  StoreRange(*stored, range);
  if (inside) SpliceConditions(*content_, static_cast<long long>(index) - left, 0, amount);
}

void Sheet::RemoveFilterRow(int index, int amount) {
  Json::Value* stored = FilterRange(*content_);
  if (stored == nullptr) return;
  Range range = OrderedRange(*stored);
  range.RemoveRowCol(&Coord::row, index, amount);
  StoreRange(*stored, range);
}

void Sheet::RemoveFilterColumn(int index, int amount) {
  Json::Value* stored = FilterRange(*content_);
  if (stored == nullptr) return;
  Range range = OrderedRange(*stored);
  const long long left = range.start.col, right = range.end.col;
  const long long last = static_cast<long long>(index) + amount - 1;
  range.RemoveRowCol(&Coord::col, index, amount);
  StoreRange(*stored, range);
  if (right < index || last < left) return;  // the removal missed its columns
  const long long from = std::max<long long>(left, index);
  const long long covered = std::min(right, last) - from + 1;
  SpliceConditions(*content_, from - left, covered, 0);
}

void Sheet::CreateValidRowCol(Axis axis, int index, int amount) {
  Json::Value* validations = L::Find(*content_, L::kValidation);
  if (validations == nullptr || !validations->isObject()) return;
  const ShiftArg delta = OnAxis(axis, amount);
  const ShiftArg threshold = OnAxis(axis, index);
  for (Json::Value& v : *validations) {
    if (!v.isObject()) continue;
    if (!IsListType(v)) {
      ShiftRuleFormulas(v, delta, threshold, false);
    } else if (HasListSource(v)) {
      Range source(v["f1"].asString(), rowCount_, colCount_);
      if (source.InsertRowCol(axis, index, amount)) v["f1"] = source.toString();
    }
    Json::Value* ranges = L::Find(v, kRanges);
    if (ranges == nullptr || !ranges->isArray()) continue;
    for (Json::Value& text : *ranges) {
      if (!text.isString()) continue;
      Range range(text.asString(), rowCount_, colCount_);
      if (range.InsertRowCol(axis, index, amount)) text = range.toString();
    }
  }
}

void Sheet::RemoveValidRowCol(Axis axis, int index, int amount) {
  Json::Value* validations = L::Find(*content_, L::kValidation);
  if (validations == nullptr || !validations->isObject()) return;
  std::vector<std::string> emptied;
  for (auto it = validations->begin(); it != validations->end(); ++it) {
    Json::Value& v = *it;
    if (!v.isObject()) continue;
    Json::Value* ranges = L::Find(v, kRanges);
    if (ranges != nullptr && ranges->isArray()) {
      Coord before(rowCount_, colCount_);
      Coord after(rowCount_, colCount_);
      bool parsedBefore = false, parsedAfter = false;
      for (Json::Value& text : *ranges) {
        if (!text.isString()) continue;
        Range range(text.asString(), rowCount_, colCount_);
        if (range.kind == Range::kEmpty) continue;  // not A1 text: kept as it is
        LowerTo(before, range.GetTopLeftCorner());
        parsedBefore = true;
        if (range.RemoveRowCol(axis, index, amount)) {
          if (range.kind == Range::kEmpty) {
            text = Json::Value();
            continue;
          }
          text = range.toString();
        }
        LowerTo(after, range.GetTopLeftCorner());
        parsedAfter = true;
      }
      utils::JsonArrayWrapper(ranges).RemoveIf([](const Json::Value& t) { return t.isNull(); });
      if (ranges->empty()) {
        emptied.push_back(it.name());
        continue;
      }
      if (!IsListType(v)) {
        Coord moved = before;
        if (moved.*axis >= index)
          moved.*axis = AddSaturated(moved.*axis, -static_cast<long long>(amount));
        if (parsedBefore && parsedAfter && !(moved == after)) {
          ShiftArg delta;
          delta.row = AddSaturated(after.row, -static_cast<long long>(moved.row));
          delta.col = AddSaturated(after.col, -static_cast<long long>(moved.col));
          ShiftRuleFormulas(v, delta, ShiftArg(), true);
        }
        ShiftRuleFormulas(v, OnAxis(axis, -amount), OnAxis(axis, index), false);
      }
    }
    if (HasListSource(v)) {
      Range source(v["f1"].asString(), rowCount_, colCount_);
      if (source.RemoveRowCol(axis, index, amount)) {
        v["f1"] = source.kind == Range::kEmpty ? std::string(kRefError) : source.toString();
      }
    }
  }
  // A validation is removed under its own key, so a stray "validId" never deletes another one.
  for (const std::string& key : emptied) validations->removeMember(key);
}

void Sheet::CreateCfRowCol(Axis axis, int index, int amount) {
  Json::Value* cfs = L::Find(*content_, L::kCfs);
  if (cfs == nullptr || !cfs->isArray()) return;
  const ShiftArg delta = OnAxis(axis, amount);
  const ShiftArg threshold = OnAxis(axis, index);
  for (Json::Value& cf : *cfs) {
    if (!cf.isObject()) continue;
    ShiftRuleFormulas(cf, delta, threshold, false);
    Json::Value* ranges = L::Find(cf, kRanges);
    if (ranges == nullptr || !ranges->isArray()) continue;
    for (Json::Value& text : *ranges) {
      if (!text.isString()) continue;
      Range range(text.asString(), rowCount_, colCount_);
      if (range.kind == Range::kEmpty) continue;
      if (range.kind == Range::kCols && axis == &Coord::row) continue;
      if (range.kind == Range::kRows && axis == &Coord::col) continue;
      // The corners as written, not normalised.
      int& s = range.start.*axis;
      int& e = range.end.*axis;
      if (s < index) {
        if (e < index) continue;
        e = AddSaturated(e, amount);
      } else {
        s = AddSaturated(s, amount);
        e = AddSaturated(e, amount);
      }
      text = range.toString();
    }
  }
}

void Sheet::RemoveCfRowCol(Axis axis, int index, int amount) {
  Json::Value* cfs = L::Find(*content_, L::kCfs);
  if (cfs == nullptr || !cfs->isArray()) return;
  const long long last = static_cast<long long>(index) + amount - 1;
  auto inRemoved = [&](const Coord& c) { return c.*axis >= index && c.*axis <= last; };
  for (Json::Value& cf : *cfs) {
    if (!cf.isObject()) continue;
    Json::Value* ranges = L::Find(cf, kRanges);
    if (ranges == nullptr || !ranges->isArray()) continue;
    std::vector<Range> remembered;
    Json::Value survivors(Json::arrayValue);
    for (const Json::Value& text : *ranges) {
      if (!text.isString()) continue;
      Range range(text.asString(), rowCount_, colCount_);
      remembered.push_back(range);
      if (range.kind == Range::kEmpty) {  // not A1 text: kept as it is
        survivors.append(text);
        continue;
      }
      // The removal rule on the corners as written, whatever the range's kind.
      int& s = range.start.*axis;
      int& e = range.end.*axis;
      if (e >= index) {
        const long long from = std::max<long long>(s, index);
        const long long covered = std::min<long long>(e, last) - from + 1;
        const int size = axis == &Coord::row ? range.GetHeight() : range.GetWidth();
        if (covered >= size) continue;  // dropped
        if (last < s) {
          s = AddSaturated(s, -static_cast<long long>(amount));
          e = AddSaturated(e, -static_cast<long long>(amount));
        } else {
          s = ClampToInt(static_cast<long long>(s) + index - from);
          e = ClampToInt(static_cast<long long>(e) + index - covered - from);
        }
      }
      survivors.append(range.toString());
    }
    if (survivors.empty()) {
      cf = Json::Value();
      continue;
    }
    // The anchor follows to the first cell after the removed part when it lay inside it.
    if (!remembered.empty() && remembered[0].kind != Range::kEmpty &&
        inRemoved(remembered[0].start)) {
      const Coord first = remembered[0].start;
      bool found = false;
      Coord anchor;
      for (size_t k = 0; k < remembered.size(); ++k) {
        Coord p = remembered[k].start;
        p.*axis = AddSaturated(index, amount);
        if (remembered[k].kind != Range::kEmpty && remembered[k].Has(p)) {
          anchor = p;
          found = true;
          break;
        }
        if (k + 1 == remembered.size()) break;
        if (!inRemoved(remembered[k + 1].start) && remembered[k + 1].kind != Range::kEmpty) {
          anchor = remembered[k + 1].start;
          found = true;
          break;
        }
      }
      if (found && !(anchor == first)) {
        ShiftArg delta;
        if (anchor.row != first.row) {
          delta.row = AddSaturated(anchor.row, -static_cast<long long>(first.row));
        }
        if (anchor.col != first.col) {
          delta.col = AddSaturated(anchor.col, -static_cast<long long>(first.col));
        }
        ShiftRuleFormulas(cf, delta, ShiftArg(), true);
      }
    }
    ShiftRuleFormulas(cf, OnAxis(axis, -amount), OnAxis(axis, index), false);
    (*ranges).swap(survivors);
  }
  utils::JsonArrayWrapper(cfs).RemoveIf([](const Json::Value& v) { return v.isNull(); });
}

}  // namespace zoltsh
