// The sheet view: sorting rows of the cell grid ("cells").
//
// Sorting permutes rows: the client sends the new order of the rows of a range and the server moves
// the stored rows (or the cells of the range's columns) to match. Every moving row (or cell) is
// first set aside by swapping, then swapped into its new place, so rows exchanging places never
// overwrite each other and nothing is copied.
#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/zoltsh_error.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;
using utils::Range;
using utils::toString;

namespace {

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// A checked sort request: the normalised range and the order as ints.
struct SortPlan {
  Range range;
  std::vector<int> order;
};

// range: four integers inside the sheet bounds. order: a permutation of 0..n-1 with n at most the
// range's height, so that every row moved lands on a row that is moved away and none is lost.
SortPlan MakePlan(const Json::Value& order, const Json::Value& range) {
  if (!range.isArray() || range.size() != 4) ThrowInvalid(__LINE__);
  for (Json::ArrayIndex i = 0; i < 4; ++i) {
    if (!range[i].isInt()) ThrowInvalid(__LINE__);
    const int n = range[i].asInt();
    if (n < 0 || n >= (i % 2 == 0 ? kMaxRows : kMaxCols)) ThrowInvalid(__LINE__);
  }
  SortPlan plan{Range(range), {}};
  plan.range.Normalize();

  if (!order.isArray()) ThrowInvalid(__LINE__);
  const Json::ArrayIndex n = order.size();
  if (n > static_cast<Json::ArrayIndex>(plan.range.GetHeight())) ThrowInvalid(__LINE__);
  std::vector<bool> seen(n, false);
  plan.order.reserve(n);
  for (const Json::Value& v : order) {
    if (!v.isInt()) ThrowInvalid(__LINE__);
    const int to = v.asInt();
    if (to < 0 || static_cast<Json::ArrayIndex>(to) >= n || seen[to]) ThrowInvalid(__LINE__);
    seen[to] = true;
    plan.order.push_back(to);
  }
  return plan;
}

}  // namespace

void Sheet::Sort(const Json::Value& order, const Json::Value& range) {
  const SortPlan plan = MakePlan(order, range);
  CheckMember(L::kCells, Json::objectValue);
  // The rows that move, and the range's columns, lie inside the sheet afterwards.
  if (!plan.order.empty()) {
    EnsureRowColExists(plan.range.start.row + static_cast<int>(plan.order.size()) - 1,
                       plan.range.end.col);
  }
  if (plan.range.start.col == 0 && plan.range.GetWidth() == colCount_) {
    SortRow(order, range);
  } else {
    SortRange(order, range);
  }
}

void Sheet::SortRow(const Json::Value& order, const Json::Value& range) {
  const SortPlan plan = MakePlan(order, range);
  CheckMember(L::kCells, Json::objectValue);
  Json::Value* cells = L::Find(*content_, L::kCells);
  if (cells == nullptr || !cells->isObject()) return;
  const int top = plan.range.start.row;

  // Set aside: every moving row leaves null behind, keyed by its new row.
  std::vector<std::pair<int, Json::Value>> moved;
  for (size_t i = 0; i < plan.order.size(); ++i) {
    if (plan.order[i] == static_cast<int>(i)) continue;
    Json::Value* row = L::Find(*cells, toString(top + static_cast<int>(i)));
    if (row == nullptr) continue;
    moved.emplace_back(top + plan.order[i], Json::Value());
    moved.back().second.swap(*row);
  }
  for (auto& [to, row] : moved) (*cells)[toString(to)].swap(row);
}

void Sheet::SortRange(const Json::Value& order, const Json::Value& range) {
  const SortPlan plan = MakePlan(order, range);
  CheckMember(L::kCells, Json::objectValue);
  Json::Value* cells = L::Find(*content_, L::kCells);
  if (cells == nullptr || !cells->isObject()) return;
  const int top = plan.range.start.row, bottom = plan.range.end.row;
  const int left = plan.range.start.col, right = plan.range.end.col;

  // Every row that gives or takes cells must be an object (or missing or null) before anything
  // moves, since the moved cells are written into it.
  for (size_t i = 0; i < plan.order.size(); ++i) {
    if (plan.order[i] == static_cast<int>(i)) continue;
    const Json::Value* row = L::Find(*cells, toString(top + static_cast<int>(i)));
    if (!L::WritableAs(row, Json::objectValue)) ThrowInvalid(__LINE__);
  }

  std::vector<std::tuple<int, int, Json::Value>> moved;
  for (size_t i = 0; i < plan.order.size(); ++i) {
    if (plan.order[i] == static_cast<int>(i)) continue;
    Json::Value* row = L::Find(*cells, toString(top + static_cast<int>(i)));
    if (row == nullptr || !row->isObject()) continue;
    const int to = top + plan.order[i];
    L::ForEachIndexedMember(*row, left, right, [&](int col, Json::Value& cell) {
      moved.emplace_back(to, col, Json::Value());
      std::get<2>(moved.back()).swap(cell);
    });
  }
  for (auto& [to, col, cell] : moved) {
    Json::Value& row = (*cells)[toString(to)];
    if (row.isNull()) row = Json::Value(Json::objectValue);
    row[toString(col)].swap(cell);
  }
  Compact(top, bottom);
}

}  // namespace zoltsh
