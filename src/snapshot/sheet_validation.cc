// The sheet view: data validations ("validation", keyed by "validId").
//
// A cell is covered by at most one validation: creating a validation over a range first cuts that
// range out of every validation. A validation's formulas ("f1", "f2") are written relative to its
// first cell, the anchor (smallest row and smallest column over its ranges); when ranges are cut
// or added and the anchor moves, the relative references follow it. List validations keep their
// formulas: "f1" of a list names its source cells.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/zoltsh_error.h"
#include "snapshot/formula.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::Coord;
using utils::Range;

namespace {

using sheet_layout::kList;
using sheet_layout::kRanges;
using sheet_layout::kType;
using sheet_layout::kValidId;

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

bool InsideBounds(const Range& r) {
  const Coord tl = r.GetTopLeftCorner(), br = r.GetBottomRightCorner();
  return tl.row >= 0 && tl.col >= 0 && br.row < kMaxRows && br.col < kMaxCols;
}

// A range text argument: a non-empty range inside the sheet bounds, normalised.
Range ArgumentRange(const std::string& text, int rowCount, int colCount) {
  Range r(text, rowCount, colCount);
  if (r.kind == Range::kEmpty || !InsideBounds(r)) ThrowInvalid(__LINE__);
  r.Normalize();
  return r;
}

// The stored ranges of a validation. Entries that are not texts or do not parse into a range
// inside the bounds cover no cell and read as empty ranges.
std::vector<Range> StoredRanges(const Json::Value& validation, int rowCount, int colCount) {
  std::vector<Range> ranges;
  const Json::Value* texts = L::Find(validation, kRanges);
  if (texts == nullptr || !texts->isArray()) return ranges;
  ranges.reserve(texts->size());
  for (const Json::Value& text : *texts) {
    Range r = text.isString() ? Range(text.asString(), rowCount, colCount) : Range();
    if (r.kind != Range::kEmpty && !InsideBounds(r)) r.Remove();
    ranges.push_back(r);
  }
  return ranges;
}

// Smallest row and smallest column over the top-left corners of the non-empty ranges; (kMaxRows,
// kMaxCols), beyond any cell, when there is none.
Coord Anchor(const std::vector<Range>& ranges) {
  Coord anchor(kMaxRows, kMaxCols);
  for (const Range& r : ranges) {
    if (r.kind == Range::kEmpty) continue;
    const Coord tl = r.GetTopLeftCorner();
    anchor.row = std::min(anchor.row, tl.row);
    anchor.col = std::min(anchor.col, tl.col);
  }
  return anchor;
}

// Moves the relative references of the validation's formulas from the anchor `from` to `to`; list
// validations are left alone.
void FollowAnchor(Json::Value& validation, const Coord& from, const Coord& to) {
  if (from == to) return;
  const Json::Value* type = L::Find(validation, kType);
  if (type != nullptr && type->isString() && type->asString() == kList) return;
  utils::ShiftArg delta;
  delta.row = to.row - from.row;
  delta.col = to.col - from.col;
  for (const char* key : {"f1", "f2"}) {
    Json::Value* formula = L::Find(validation, key);
    if (formula == nullptr || !formula->isString()) continue;
    *formula = utils::ChangeFormula(formula->asString(), delta, utils::ShiftArg(), true);
  }
}

// Cuts `cut` out of the validation stored under key in `validations` (an object); the validation
// is deleted when none of its cells is left.
void CutValidation(Json::Value& validations, const std::string& key, const Range& cut, int rowCount,
                   int colCount) {
  Json::Value* validation = L::Find(validations, key);
  if (validation == nullptr || !validation->isObject()) return;
  std::vector<Range> ranges = StoredRanges(*validation, rowCount, colCount);
  const Coord before = Anchor(ranges);
  std::vector<Range> pieces = utils::validation::RemoveValidationRange(ranges, cut);
  pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                              [](const Range& r) { return r.kind == Range::kEmpty; }),
               pieces.end());
  if (pieces.empty()) {
    validations.removeMember(key);
    return;
  }
  Json::Value texts(Json::arrayValue);
  for (const Range& piece : pieces) texts.append(piece.toString());
  (*validation)[kRanges].swap(texts);
  const Coord after = Anchor(pieces);
  FollowAnchor(*validation, before, after);
}

}  // namespace

void Sheet::CreateValidation(const Json::Value& validation, const std::string& rangeText) {
  const Range range = ArgumentRange(rangeText, rowCount_, colCount_);
  if (!validation.isObject()) ThrowInvalid(__LINE__);
  const Json::Value* idValue = L::Find(validation, kValidId);
  if (idValue == nullptr || !idValue->isString() || idValue->asString().empty()) {
    ThrowInvalid(__LINE__);
  }
  const std::string validId = idValue->asString();
  CheckMember(L::kValidation, Json::objectValue);
  {
    Range inOrder = range;
    inOrder.Normalize();
    EnsureRowColExists(inOrder.end.row, inOrder.end.col);
  }
  // Taken before any validation is cut, in case the argument is one of the stored validations.
  Json::Value added = validation;
  Json::Value& validations = MutableMember(L::kValidation, Json::objectValue);

  // The range leaves every validation it belongs to, this one's included.
  for (const std::string& key : validations.getMemberNames()) {
    CutValidation(validations, key, range, rowCount_, colCount_);
  }

  Json::Value* stored = L::Find(validations, validId);
  if (stored != nullptr && stored->isObject()) {
    // The validation keeps its members and gains the range.
    const Coord before = Anchor(StoredRanges(*stored, rowCount_, colCount_));
    const Coord tl = range.GetTopLeftCorner();
    const Coord after(std::min(tl.row, before.row), std::min(tl.col, before.col));
    FollowAnchor(*stored, before, after);
    (*stored)[kRanges].append(rangeText);
    return;
  }
  Json::Value texts(Json::arrayValue);
  texts.append(rangeText);
  added[kRanges].swap(texts);
  validations[validId].swap(added);
}

void Sheet::RemoveValidation(const std::string& validId, const std::string& rangeText) {
  const Range cut = ArgumentRange(rangeText, rowCount_, colCount_);
  Json::Value* validations = L::Find(*content_, L::kValidation);
  if (validations == nullptr || !validations->isObject()) return;
  CutValidation(*validations, validId, cut, rowCount_, colCount_);
}

}  // namespace zoltsh
