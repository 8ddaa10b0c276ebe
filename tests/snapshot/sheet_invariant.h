// Consistency check of a sheet content, for tests that run long sequences of row and column
// changes: every stored coordinate lies inside the sheet and the features agree with each other.
// Returns the list of broken rules (empty when the sheet is consistent), so a failing step can
// print them all.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "json/json_text.h"
#include "snapshot/range.h"

namespace zoltsh::testing {

inline std::vector<std::string> SheetInvariantErrors(const Json::Value& sheet) {
  using utils::Range;
  std::vector<std::string> errors;
  auto fail = [&](const std::string& what, const Json::Value& v) {
    errors.push_back(what + ": " + Json::toString(v));
  };
  const int rows = sheet["rowCount"].asInt();
  const int cols = sheet["colCount"].asInt();
  if (rows < 0 || cols < 0) fail("negative count", sheet["rowCount"]);

  // A four-number range, normalised and inside the sheet.
  auto validArray = [&](const Json::Value& r) {
    if (!r.isArray() || r.size() != 4) return false;
    for (const Json::Value& n : r) {
      if (!n.isInt()) return false;
    }
    return 0 <= r[0].asInt() && r[0].asInt() <= r[2].asInt() && r[2].asInt() < rows &&
           0 <= r[1].asInt() && r[1].asInt() <= r[3].asInt() && r[3].asInt() < cols;
  };
  // A1 text that parses, written canonically, with its corners ordered and inside the sheet.
  auto validText = [&](const Json::Value& t) {
    if (!t.isString()) return false;
    Range r(t.asString(), rows, cols);
    if (r.kind == Range::kEmpty || r.toString() != t.asString()) return false;
    Range n = r;
    n.Normalize();
    if (!(n.start == r.start) || !(n.end == r.end)) return false;
    return r.start.row >= 0 && r.end.row < rows && r.start.col >= 0 && r.end.col < cols;
  };

  const Json::Value& merges = sheet["mergeCells"];
  for (Json::ArrayIndex i = 0; i < merges.size(); ++i) {
    if (!validArray(merges[i])) {
      fail("merge outside the sheet or not normalised", merges[i]);
      continue;
    }
    Range a(merges[i]);
    if (a.GetWidth() * static_cast<long long>(a.GetHeight()) < 2)
      fail("single-cell merge", merges[i]);
    for (Json::ArrayIndex j = i + 1; j < merges.size(); ++j) {
      if (validArray(merges[j]) && a.Overlap(Range(merges[j]))) fail("merges overlap", merges[j]);
    }
  }

  const Json::Value& filter = sheet["filter"];
  if (filter.isObject() && filter.isMember("range") && !filter["range"].isNull()) {
    const Json::Value& r = filter["range"];
    if (!validArray(r)) {
      fail("filter range", r);
    } else if (filter["filters"].size() > static_cast<unsigned>(r[3].asInt() - r[1].asInt() + 1)) {
      fail("filter conditions wider than the range", filter);
    }
  }

  const Json::Value& validations = sheet["validation"];
  for (auto it = validations.begin(); it != validations.end(); ++it) {
    if ((*it)["validId"].asString() != it.name()) fail("validation key", *it);
    if ((*it)["ranges"].empty()) fail("validation without ranges", *it);
    for (const Json::Value& t : (*it)["ranges"]) {
      if (!validText(t)) fail("validation range", *it);
    }
  }
  for (const Json::Value& cf : sheet["cfs"]) {
    if (!cf.isObject() || cf["ranges"].empty()) fail("conditional format", cf);
    for (const Json::Value& t : cf["ranges"]) {
      if (!validText(t)) fail("conditional format range", cf);
    }
  }

  for (const char* key : {"rowHeights", "hiddenRows", "colWidths", "hiddenCols"}) {
    const Json::Value& a = sheet[key];
    const int count = key[0] == 'r' || key[6] == 'R' ? rows : cols;
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
