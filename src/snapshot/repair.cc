// Repair of an undone removal: the plug-in payloads a client saved when rows or columns were
// removed are applied after it inserted them again (see repair.h for the layout of "info").
//
// Payloads come from clients, so every coordinate they carry is checked against the sheet before
// it is stored: a restored range, merge or filter condition must lie inside the sheet, else the
// entry fails with InvalidParameter.
#include "snapshot/repair.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "common/json_utils.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "json/json_text.h"
#include "snapshot/formula.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::Axis;
using utils::Coord;
using utils::Range;
using utils::ShiftArg;

namespace {

using sheet_layout::kDir;
using sheet_layout::kFilters;
using sheet_layout::kRange;
using sheet_layout::kRanges;
using sheet_layout::kRefError;
using sheet_layout::kRepairList;

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

bool IsFourInts(const Json::Value& v) {
  if (!v.isArray() || v.size() != 4) return false;
  for (const Json::Value& n : v) {
    if (!n.isNumeric() || n.isBool() || !n.isConvertibleTo(Json::intValue)) return false;
  }
  return true;
}

bool StringMemberIs(const Json::Value& holder, const char* key, const std::string& text) {
  const Json::Value* v = L::Find(holder, key);
  return v != nullptr && v->isString() && v->asString() == text;
}

std::string StringMember(const Json::Value& holder, const char* key) {
  const Json::Value* v = L::Find(holder, key);
  return v != nullptr && v->isString() ? v->asString() : std::string();
}

bool IsDirection(const std::string& dir) {
  return dir == "top" || dir == "bottom" || dir == "left" || dir == "right" || dir == "none";
}

void ShiftRuleFormulas(Json::Value& rule, const ShiftArg& delta) {
  for (const char* key : {"f1", "f2"}) {
    Json::Value* f = L::Find(rule, key);
    if (f != nullptr && f->isString()) {
      *f = utils::ChangeFormula(f->asString(), delta, ShiftArg(), true);
    }
  }
}

// One repair range {"dir", "range"} of a payload, moved by index on the axis.
struct RepairPiece {
  std::string dir;
  Range range;
};

}  // namespace

namespace {

// Whether the range lies inside a sheet of rows × cols.
bool InsideSheet(Range range, int rows, int cols) {
  if (range.kind == Range::kEmpty) return false;
  range.Normalize();
  const bool rowsOk = range.start.row >= 0 && range.end.row < rows;
  const bool colsOk = range.start.col >= 0 && range.end.col < cols;
  if (range.kind == Range::kRows) return rowsOk;
  if (range.kind == Range::kCols) return colsOk;
  return rowsOk && colsOk;
}

// A repair range of a payload, parsed, moved and checked; InvalidParameter when malformed.
RepairPiece ReadPiece(const Json::Value& piece, Axis axis, int index, int rows, int cols) {
  if (!piece.isObject()) ThrowInvalid(__LINE__);
  RepairPiece out{StringMember(piece, kDir), Range()};
  const Json::Value* text = L::Find(piece, kRange);
  if (!IsDirection(out.dir) || text == nullptr || !text->isString()) ThrowInvalid(__LINE__);
  out.range = Range(text->asString(), rows, cols);
  if (out.range.kind == Range::kEmpty) ThrowInvalid(__LINE__);
  out.range.ShiftRange(axis, index);
  if (!InsideSheet(out.range, rows, cols)) ThrowInvalid(__LINE__);
  return out;
}

// Puts the corners of a stored four-number range in order (older data may hold them reversed).
void OrderCorners(Json::Value& range) {
  for (Json::ArrayIndex i : {0u, 1u}) {
    if (range[i].asInt() > range[i + 2].asInt()) range[i].swap(range[i + 2]);
  }
}

}  // namespace

void Sheet::RepairFilterRow(const std::string& filterId, const Json::Value& filters,
                            const Json::Value& saved, int index, int amount) {
  (void)amount;
  if (!IsFourInts(saved) || !filters.isArray()) ThrowInvalid(__LINE__);
  Json::Value* filter = L::Find(*content_, L::kFilter);
  if (filter == nullptr || !StringMemberIs(*filter, "id", filterId)) return;
  const long long top = static_cast<long long>(index) + saved[0].asInt();
  const long long bottom = static_cast<long long>(index) + saved[2].asInt();
  const long long left = saved[1].asInt(), right = saved[3].asInt();
  if (top < 0 || top > bottom || bottom >= rowCount_) ThrowInvalid(__LINE__);
  Json::Value* range = L::Find(*filter, kRange);
  if (range == nullptr || range->isNull()) {
    if (left < 0 || left > right || right >= colCount_) ThrowInvalid(__LINE__);
    Json::Value restored(Json::arrayValue);
    for (long long n : {top, left, bottom, right}) restored.append(static_cast<int>(n));
    (*filter)[kRange] = std::move(restored);
    (*filter)[kFilters] = filters;
    return;
  }
  if (!IsFourInts(*range)) return;
  OrderCorners(*range);
  if (bottom + 1 == (*range)[0].asInt()) {
    (*range)[0] = static_cast<int>(top);
  } else if (top == static_cast<long long>((*range)[2].asInt()) + 1) {
    (*range)[2] = static_cast<int>(bottom);
  }
}

void Sheet::RepairFilterCol(const std::string& filterId, const Json::Value& filters,
                            const Json::Value& saved, int index, int amount) {
  (void)amount;
  if (!IsFourInts(saved) || !filters.isArray()) ThrowInvalid(__LINE__);
  Json::Value* filter = L::Find(*content_, L::kFilter);
  if (filter == nullptr || !StringMemberIs(*filter, "id", filterId)) return;
  const long long left = static_cast<long long>(index) + saved[1].asInt();
  const long long right = static_cast<long long>(index) + saved[3].asInt();
  const long long top = saved[0].asInt(), bottom = saved[2].asInt();
  if (left < 0 || left > right || right >= colCount_) ThrowInvalid(__LINE__);
  if (!L::WritableAs(L::Find(*filter, kFilters), Json::arrayValue)) ThrowInvalid(__LINE__);
  Json::Value* range = L::Find(*filter, kRange);
  if (range == nullptr || range->isNull()) {
    if (top < 0 || top > bottom || bottom >= rowCount_) ThrowInvalid(__LINE__);
    Json::Value restored(Json::arrayValue);
    for (long long n : {top, left, bottom, right}) restored.append(static_cast<int>(n));
    (*filter)[kRange] = std::move(restored);
    range = &(*filter)[kRange];
  } else {
    if (!IsFourInts(*range)) return;
    OrderCorners(*range);
    const long long rangeLeft = (*range)[1].asInt(), rangeRight = (*range)[3].asInt();
    if (right + 1 == rangeLeft) {
      (*range)[1] = static_cast<int>(left);
      // One null per restored column, so the stored conditions stay over their own columns (the
      // restored part may be narrower than the block inserted).
      Json::Value nulls(Json::arrayValue);
      nulls.resize(static_cast<Json::ArrayIndex>(right - left + 1));
      utils::SpliceJsonArray((*filter)[kFilters], 0, 0, nulls);
    } else if (left == rangeRight + 1) {
      (*range)[3] = static_cast<int>(right);
    } else if (!(rangeLeft <= left && right <= rangeRight)) {
      return;
    }
  }
  Json::Value& stored = (*filter)[kFilters];
  if (!stored.isArray()) stored = Json::Value(Json::arrayValue);
  const long long newLeft = (*range)[1].asInt();
  const long long width = static_cast<long long>((*range)[3].asInt()) - newLeft + 1;
  // Conditions are written only over the filter's own columns.
  for (Json::ArrayIndex i = 0; i < filters.size(); ++i) {
    const long long at = left + i - newLeft;
    if (at < 0 || at >= width) continue;
    while (stored.size() <= static_cast<Json::ArrayIndex>(at)) stored.append(Json::Value());
    stored[static_cast<Json::ArrayIndex>(at)] = filters[i];
  }
}

void Sheet::RepairValidation(const Json::Value& payload, Axis axis, int index) {
  if (!payload.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& v : payload) {
    // Everything of v is checked before the stored validation changes.
    if (!v.isObject()) ThrowInvalid(__LINE__);
    const std::string id = StringMember(v, "validId");
    const Json::Value* pieces = L::Find(v, kRanges);
    if (id.empty() || pieces == nullptr || !pieces->isArray()) ThrowInvalid(__LINE__);
    std::vector<RepairPiece> repairs;
    for (const Json::Value& piece : *pieces) {
      repairs.push_back(ReadPiece(piece, axis, index, rowCount_, colCount_));
    }
    const Json::Value* listPiece = L::Find(v, kRepairList);
    RepairPiece list;
    const bool hasList = listPiece != nullptr && !listPiece->isNull();
    if (hasList) list = ReadPiece(*listPiece, axis, index, rowCount_, colCount_);

    Json::Value& validations = MutableMember(L::kValidation, Json::objectValue);
    Json::Value* stored = L::Find(validations, id);
    if (stored == nullptr || !stored->isObject()) {
      Json::Value fresh = v;
      fresh[kRanges] = Json::Value(Json::arrayValue);
      fresh.removeMember(kRepairList);  // repair data, not a member of the validation
      validations[id] = std::move(fresh);
      stored = &validations[id];
    }
    Json::Value& w = *stored;
    Json::Value& ranges = w[kRanges];
    if (!ranges.isArray()) ranges = Json::Value(Json::arrayValue);

    Coord before(rowCount_, colCount_);
    for (const Json::Value& text : ranges) {
      if (!text.isString()) continue;
      Range range(text.asString(), rowCount_, colCount_);
      if (range.kind == Range::kEmpty) continue;
      const Coord tl = range.GetTopLeftCorner();
      before.row = std::min(before.row, tl.row);
      before.col = std::min(before.col, tl.col);
    }
    Coord anchor = before;
    for (RepairPiece& piece : repairs) {
      anchor.row = std::min(anchor.row, piece.range.start.row);
      anchor.col = std::min(anchor.col, piece.range.start.col);
      bool absorbed = false;
      if (piece.dir != "none") {
        for (Json::Value& text : ranges) {
          if (!text.isString()) continue;
          Range range(text.asString(), rowCount_, colCount_);
          if (range.kind == Range::kEmpty) continue;
          if (range.RepairRange(piece.dir, piece.range)) {
            text = range.toString();
            absorbed = true;
            break;
          }
        }
      }
      if (!absorbed) ranges.append(piece.range.toString());
    }
    const bool realBefore = before.row != rowCount_ && before.col != colCount_;
    if (!(anchor == before) && realBefore && !StringMemberIs(w, "type", "list")) {
      ShiftArg delta;
      delta.row = anchor.row - before.row;
      delta.col = anchor.col - before.col;
      ShiftRuleFormulas(w, delta);
    }
    if (hasList && StringMemberIs(w, "operator", "listRange")) {
      Json::Value* f1 = L::Find(w, "f1");
      if (f1 != nullptr && f1->isString() && f1->asString() == kRefError) {
        *f1 = list.range.toString();
      } else if (f1 != nullptr && f1->isString()) {
        Range source(f1->asString(), 0, 0);
        if (source.kind != Range::kEmpty && source.RepairRange(list.dir, list.range)) {
          *f1 = source.toString();
        }
      }
    }
  }
}

void Sheet::RepairMergeCell(const Json::Value& payload) {
  if (!payload.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& merge : payload) {
    if (!IsFourInts(merge) || !InsideSheet(Range(merge), rowCount_, colCount_)) {
      ThrowInvalid(__LINE__);
    }
    MergeCells(merge);
  }
}

void Sheet::RepairConditionalFormat(const Json::Value& payload) {
  if (!payload.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& element : payload) {
    const Json::Value* cf = L::Find(element, "cf");
    const Json::Value* at = L::Find(element, "index");
    if (cf == nullptr || !cf->isObject()) ThrowInvalid(__LINE__);
    const std::string id = StringMember(*cf, "cfId");
    if (id.empty()) ThrowInvalid(__LINE__);
    if (at == nullptr || !at->isIntegral() || at->isBool() ||
        !at->isConvertibleTo(Json::intValue) || at->asInt() < 0) {
      ThrowInvalid(__LINE__);
    }
    CheckMember(L::kCfs, Json::arrayValue);
    RemoveCf(id);
    CreateCf(*cf, at->asInt());
  }
}

namespace internal {

namespace {

void Repair(Sheet& sheet, const Json::Value& info, Axis axis, const char* infoKey, int index,
            int amount) {
  if (!info.isArray()) return;
  for (const Json::Value& entry : info) {
    const Json::Value* found = L::Find(entry, infoKey);
    const Json::Value& payload = found != nullptr ? *found : Json::Value::nullSingleton();
    try {
      const std::string plugin = StringMember(entry, "pluginName");
      if (plugin == "ZoltFilter") {
        const Json::Value* range = L::Find(payload, kRange);
        const Json::Value* filters = L::Find(payload, kFilters);
        if (range == nullptr || !range->isArray() || range->size() != 4 || filters == nullptr ||
            !filters->isArray()) {
          ThrowInvalid(__LINE__);
        }
        const std::string id = StringMember(payload, "filterId");
        if (axis == &Coord::row) {
          sheet.RepairFilterRow(id, *filters, *range, index, amount);
        } else {
          sheet.RepairFilterCol(id, *filters, *range, index, amount);
        }
      } else if (plugin == "ZoltValidation") {
        if (!payload.isArray()) ThrowInvalid(__LINE__);
        sheet.RepairValidation(payload, axis, index);
      } else if (plugin == "ZoltConditionalFormat") {
        if (!payload.isArray()) ThrowInvalid(__LINE__);
        sheet.RepairConditionalFormat(payload);
      } else if (plugin == "ZoltMergeCell") {
        if (!payload.isArray()) ThrowInvalid(__LINE__);
        sheet.RepairMergeCell(payload);
      } else {
        throw InvalidParameter(__LINE__, ZOLTSH_FILE, "Unkown pluginName", ZOLTSH_ERR_USER_INPUT);
      }
    } catch (const InvalidParameter& e) {
      ZOLTSH_LOG_ERR("Invalid Parameter:%s %s", e.what(), Json::toString(payload).c_str());
    } catch (const std::exception&) {
      ZOLTSH_LOG_ERR("Error: %s", Json::toString(payload).c_str());
    }
  }
}

}  // namespace

void RepairRow(Sheet& sheet, const Json::Value& info, int index, int amount) {
  Repair(sheet, info, &Coord::row, "rowInfo", index, amount);
}

void RepairCol(Sheet& sheet, const Json::Value& info, int index, int amount) {
  Repair(sheet, info, &Coord::col, "colInfo", index, amount);
}

}  // namespace internal
}  // namespace zoltsh
