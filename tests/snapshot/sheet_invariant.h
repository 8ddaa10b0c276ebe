// Consistency check of a sheet content, for tests that run long sequences of row and column
// changes: every stored coordinate lies inside the sheet and the features agree with each other.
// Returns the list of broken rules (empty when the sheet is consistent), so a failing step can
// print them all.
//
// Two rule sets. kStrict holds for content the sheet's own operations built from well-formed
// features: ranges normalised and inside the row and column counts, A1 texts canonical. Content
// built from client commands (the executor) is checked with kClientCommands: the commands store
// some payloads as the client sent them, so there
// - a merge is four ints in any corner order and may be one cell;
// - a validation range is A1 text in any spelling ("b3", "$B$3", "D5:B3");
// - a conditional format's "ranges" are the client's and are not checked.
// Both sets require everything stored to lie inside the row and column counts (every write grows
// the sheet to hold what it stores), disjoint merges, a filter range in order with conditions no
// wider than it, validations stored under their own "validId", and arrays that do not end in null.
#pragma once

#include <json/value.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "json/json_text.h"
#include "snapshot/range.h"
#include "snapshot/sheet.h"

namespace zoltsh::testing {

enum class InvariantMode { kStrict, kClientCommands };

inline std::vector<std::string> SheetInvariantErrors(const Json::Value& sheet,
                                                     InvariantMode mode = InvariantMode::kStrict) {
  using utils::Range;
  const bool strict = mode == InvariantMode::kStrict;
  std::vector<std::string> errors;
  // The offending value, shortened: a per-row array may hold a million elements.
  auto fail = [&](const std::string& what, const Json::Value& v) {
    std::string text = Json::toString(v);
    if (text.size() > 400)
      text = text.substr(0, 400) + "... (" + std::to_string(text.size()) + " chars)";
    errors.push_back(what + ": " + text);
  };
  for (const char* key : {"rowCount", "colCount"}) {
    if (!strict && !sheet[key].isInt()) fail(std::string(key) + " not an int", sheet[key]);
  }
  const int rows =
      sheet["rowCount"].isConvertibleTo(Json::intValue) ? sheet["rowCount"].asInt() : 0;
  const int cols =
      sheet["colCount"].isConvertibleTo(Json::intValue) ? sheet["colCount"].asInt() : 0;
  if (rows < 0 || cols < 0) fail("negative count", sheet["rowCount"]);
  if (!strict && (rows > kMaxRows || cols > kMaxCols)) fail("count beyond the bounds", sheet);

  // A four-number range inside the sheet; strict: normalised too.
  auto validArray = [&](const Json::Value& r) {
    if (!r.isArray() || r.size() != 4) return false;
    for (const Json::Value& n : r) {
      if (!n.isInt()) return false;
    }
    if (!strict) {
      for (Json::ArrayIndex i = 0; i < 4; ++i) {
        if (r[i].asInt() < 0 || r[i].asInt() >= (i % 2 == 0 ? rows : cols)) return false;
      }
      return true;
    }
    return 0 <= r[0].asInt() && r[0].asInt() <= r[2].asInt() && r[2].asInt() < rows &&
           0 <= r[1].asInt() && r[1].asInt() <= r[3].asInt() && r[3].asInt() < cols;
  };
  auto normalized = [](const Json::Value& r) {
    Range n(r);
    n.Normalize();
    return n;
  };
  // A1 text that parses. Strict: written canonically, corners ordered, inside the sheet.
  // Otherwise any spelling inside the sheet; whole rows (columns) are checked on their own axis.
  auto validText = [&](const Json::Value& t) {
    if (!t.isString()) return false;
    Range r(t.asString(), rows, cols);
    if (r.kind == Range::kEmpty) return false;
    if (!strict) {
      r.Normalize();
      const bool rowsIn = r.start.row >= 0 && r.end.row < rows;
      const bool colsIn = r.start.col >= 0 && r.end.col < cols;
      if (r.kind == Range::kRows) return rowsIn;
      if (r.kind == Range::kCols) return colsIn;
      return rowsIn && colsIn;
    }
    if (r.toString() != t.asString()) return false;
    Range n = r;
    n.Normalize();
    if (!(n.start == r.start) || !(n.end == r.end)) return false;
    return r.start.row >= 0 && r.end.row < rows && r.start.col >= 0 && r.end.col < cols;
  };

  const Json::Value& merges = sheet["mergeCells"];
  for (Json::ArrayIndex i = 0; i < merges.size(); ++i) {
    if (!validArray(merges[i])) {
      fail(strict ? "merge outside the sheet or not normalised" : "merge outside the sheet",
           merges[i]);
      continue;
    }
    const Range a = normalized(merges[i]);
    if (strict && a.GetWidth() * static_cast<long long>(a.GetHeight()) < 2)
      fail("single-cell merge", merges[i]);
    for (Json::ArrayIndex j = i + 1; j < merges.size(); ++j) {
      if (validArray(merges[j]) && a.Overlap(normalized(merges[j])))
        fail("merges overlap", merges[j]);
    }
  }

  const Json::Value& filter = sheet["filter"];
  if (filter.isObject() && filter.isMember("range") && !filter["range"].isNull()) {
    const Json::Value& r = filter["range"];
    if (!validArray(r) || r[0].asInt() > r[2].asInt() || r[1].asInt() > r[3].asInt()) {
      fail("filter range", r);
    } else if (filter["filters"].size() >
               static_cast<unsigned>(std::abs(r[3].asInt() - r[1].asInt()) + 1)) {
      fail("filter conditions wider than the range", filter);
    }
  }

  const Json::Value& validations = sheet["validation"];
  for (auto it = validations.begin(); it != validations.end(); ++it) {
    if (!it->isObject()) {
      fail("validation not an object", *it);
      continue;
    }
    if (!(*it)["validId"].isString() || (*it)["validId"].asString() != it.name())
      fail("validation key", *it);
    if ((*it)["ranges"].empty()) fail("validation without ranges", *it);
    for (const Json::Value& t : (*it)["ranges"]) {
      if (!validText(t)) fail("validation range", *it);
    }
  }
  for (const Json::Value& cf : sheet["cfs"]) {
    if (!cf.isObject() || (strict && cf["ranges"].empty())) fail("conditional format", cf);
    if (!strict || !cf.isObject()) continue;
    for (const Json::Value& t : cf["ranges"]) {
      if (!validText(t)) fail("conditional format range", cf);
    }
  }

  for (const char* key : {"rowHeights", "hiddenRows", "colWidths", "hiddenCols"}) {
    const Json::Value& a = sheet[key];
    const bool ofRows = key[0] == 'r' || key[6] == 'R';
    const int count = ofRows ? rows : cols;
    if (!a.isNull() && !a.isArray()) {
      fail(std::string(key) + " not an array", a);
      continue;
    }
    if (a.size() > static_cast<unsigned>(count))
      fail(std::string(key) + " longer than the sheet", a);
    if (!a.empty() && a[a.size() - 1].isNull()) fail(std::string(key) + " ends in null", a);
  }

  auto decimalKey = [](const std::string& k, int bound) {
    const int n = utils::toInt(k.c_str());
    return utils::toString(n) == k && n >= 0 && n < bound;
  };
  const Json::Value& cells = sheet["cells"];
  for (auto r = cells.begin(); r != cells.end(); ++r) {
    if (!decimalKey(r.name(), rows)) fail("row key " + r.name(), *r);
    for (auto c = r->begin(); r->isObject() && c != r->end(); ++c) {
      if (!decimalKey(c.name(), cols)) fail("cell key " + r.name() + "/" + c.name(), *c);
    }
  }
  return errors;
}

}  // namespace zoltsh::testing
