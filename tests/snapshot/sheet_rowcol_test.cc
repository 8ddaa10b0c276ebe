// Row and column insertion and removal, and the repair of an undone removal: table cases for each
// part of the sheet, bounds, and long pseudo-random sequences checked with the sheet invariant.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/json_utils.h"
#include "common/zoltsh_error.h"
#include "json/json_text.h"
#include "snapshot/range.h"
#include "snapshot/repair.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_invariant.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace {

using zoltsh::kMaxCols;
using zoltsh::kMaxRows;
using zoltsh::Sheet;
using zoltsh::utils::Range;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

std::string T(const Json::Value& v) { return Json::toString(v); }

class SheetRowColTest : public ::testing::Test {
 protected:
  zoltsh::testing::TempRoot root_;
};

enum class Op { kInsertRow, kInsertCol, kRemoveRow, kRemoveCol };

void Apply(Sheet& sheet, Op op, int index, int amount) {
  switch (op) {
    case Op::kInsertRow:
      sheet.CreateRow(index, amount);
      break;
    case Op::kInsertCol:
      sheet.CreateColumn(index, amount);
      break;
    case Op::kRemoveRow:
      sheet.RemoveRow(index, amount);
      break;
    case Op::kRemoveCol:
      sheet.RemoveColumn(index, amount);
      break;
  }
}

// One operation on a sheet given as JSON text; `member` of the result compared with `expected`.
struct Case {
  const char* name;
  const char* sheet;
  Op op;
  int index, amount;
  const char* member;
  const char* expected;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value content = J(c.sheet);
    Sheet sheet(content);
    Apply(sheet, c.op, c.index, c.amount);
    EXPECT_EQ(T(content[c.member]), T(J(c.expected)));
  }
}

// ---------------------------------------------------------------------------------------------
// Cells, per-row and per-column arrays, counts

TEST_F(SheetRowColTest, CellsAndArraysFollowTheChange) {
  RunCases({
      {"rows move by swapping, no empty key stays behind",
       R"({"cells":{"1":{"0":{"v":1}},"3":{"0":{"v":3}},"4":{"1":{"v":4}}}})", Op::kInsertRow, 3, 2,
       "cells", R"({"1":{"0":{"v":1}},"5":{"0":{"v":3}},"6":{"1":{"v":4}}})"},
      {"insert before every row", R"({"cells":{"0":{"0":{"v":0}}}})", Op::kInsertRow, 0, 1, "cells",
       R"({"1":{"0":{"v":0}}})"},
      {"dense rows shift onto each other",
       R"({"cells":{"0":{"0":{"v":0}},"1":{"0":{"v":1}},"2":{"0":{"v":2}},"3":{"0":{"v":3}}}})",
       Op::kInsertRow, 1, 2, "cells",
       R"({"0":{"0":{"v":0}},"3":{"0":{"v":1}},"4":{"0":{"v":2}},"5":{"0":{"v":3}}})"},
      {"dense rows close up",
       R"({"cells":{"0":{"0":{"v":0}},"1":{"0":{"v":1}},"2":{"0":{"v":2}},"3":{"0":{"v":3}}}})",
       Op::kRemoveRow, 0, 1, "cells", R"({"0":{"0":{"v":1}},"1":{"0":{"v":2}},"2":{"0":{"v":3}}})"},
      {"removed rows go, later rows close up",
       R"({"cells":{"1":{"0":{"v":1}},"2":{"0":{"v":2}},"5":{"0":{"v":5}},"99":{"0":{"v":99}}}})",
       Op::kRemoveRow, 1, 2, "cells", R"({"3":{"0":{"v":5}},"97":{"0":{"v":99}}})"},
      {"a key nothing moves into goes", R"({"cells":{"4":{"0":{"v":4}},"5":{"0":{"v":5}}}})",
       Op::kRemoveRow, 2, 1, "cells", R"({"3":{"0":{"v":4}},"4":{"0":{"v":5}}})"},
      {"columns move inside every row",
       R"({"cells":{"0":{"0":{"v":"a"},"2":{"v":"c"}},"7":{"5":{"v":"x"}}}})", Op::kInsertCol, 1, 3,
       "cells", R"({"0":{"0":{"v":"a"},"5":{"v":"c"}},"7":{"8":{"v":"x"}}})"},
      {"columns removed", R"({"cells":{"0":{"0":{"v":"a"},"1":{"v":"b"},"3":{"v":"d"}}}})",
       Op::kRemoveCol, 1, 2, "cells", R"({"0":{"0":{"v":"a"},"1":{"v":"d"}}})"},
      {"nulls left at the end of the sheet are dropped",
       R"({"rowCount":6,"cells":{"4":{"0":{"v":4}},"5":{"0":{"v":5}}}})", Op::kRemoveRow, 2, 1,
       "cells", R"({"3":{"0":{"v":4}},"4":{"0":{"v":5}}})"},
      {"heights spliced at index", R"({"rowHeights":[10,null,30]})", Op::kInsertRow, 1, 2,
       "rowHeights", "[10,null,null,null,30]"},
      {"heights left alone past their end", R"({"rowHeights":[10,null,30]})", Op::kInsertRow, 3, 2,
       "rowHeights", "[10,null,30]"},
      {"hidden rows removed", R"({"hiddenRows":[null,true,null,true]})", Op::kRemoveRow, 0, 2,
       "hiddenRows", "[null,true]"},
      {"removal leaves no trailing null", R"({"rowHeights":[10,null,30]})", Op::kRemoveRow, 2, 1,
       "rowHeights", "[10]"},
      {"widths spliced", R"({"colWidths":[5,6]})", Op::kInsertCol, 0, 1, "colWidths", "[null,5,6]"},
      {"hidden columns removed", R"({"hiddenCols":[true,true,true]})", Op::kRemoveCol, 1, 1,
       "hiddenCols", "[true,true]"},
      {"row count", "{}", Op::kInsertRow, 100, 5, "rowCount", "105"},
      {"column count", "{}", Op::kRemoveCol, 0, 30, "colCount", "0"},
      {"cells of the wrong type are left alone", R"({"cells":[1,2]})", Op::kInsertRow, 0, 1,
       "cells", "[1,2]"},
  });
}

TEST_F(SheetRowColTest, SetValueGrowsTheSheetThroughInsertions) {
  Json::Value content = J(R"({"rowHeights":[1,2],"filter":{"id":"f","range":[0,0,99,29]}})");
  Sheet sheet(content);
  sheet.SetValue(150, 40, "x");
  EXPECT_EQ(sheet.GetRowCount(), 151);
  EXPECT_EQ(sheet.GetColCount(), 41);
  EXPECT_EQ(content["rowCount"].asInt(), 151);
  EXPECT_EQ(content["colCount"].asInt(), 41);
  EXPECT_EQ(content["cells"]["150"]["40"]["v"].asString(), "x");
  // Growing at the end moves nothing.
  EXPECT_EQ(T(content["rowHeights"]), "[1,2]");
  EXPECT_EQ(T(content["filter"]["range"]), "[0,0,99,29]");

  sheet.SetMeta(150, 40, "k", 1);
  sheet.SetValue(150, 40, "");
  EXPECT_FALSE(content["cells"]["150"]["40"].isMember("v"));
  EXPECT_EQ(content["cells"]["150"]["40"]["m"]["k"].asInt(), 1);
  EXPECT_TRUE(zoltsh::testing::SheetInvariantErrors(content).empty());
}

TEST_F(SheetRowColTest, GrowingAtTheEndLeavesWhatLiesBeyondItInPlace) {
  // The client may size or merge rows the server has not counted yet; a later write there must
  // not move them.
  Json::Value content(Json::objectValue);
  Sheet sheet(content);
  sheet.SetRowHeight(150, 25);
  sheet.SetColHidden(40, true);
  sheet.MergeCells(J("[150,40,151,41]"));
  sheet.SetValue(150, 40, "x");
  EXPECT_EQ(content["rowHeights"].size(), 151u);
  EXPECT_EQ(content["rowHeights"][150].asInt(), 25);
  EXPECT_EQ(content["hiddenCols"].size(), 41u);
  EXPECT_EQ(T(content["mergeCells"]), "[[150,40,151,41]]");
  // An insertion inside the sheet still moves them.
  sheet.CreateRow(0, 1);
  EXPECT_EQ(content["rowHeights"][151].asInt(), 25);
  EXPECT_EQ(T(content["mergeCells"]), "[[151,40,152,41]]");
}

// ---------------------------------------------------------------------------------------------
// Bounds: nothing passes them and nothing changes when a call is refused.

TEST_F(SheetRowColTest, RefusedCallsThrowAndChangeNothing) {
  struct Refused {
    const char* name;
    std::function<void(Sheet&)> op;
  } cases[] = {
      {"rows past the bound", [](Sheet& s) { s.CreateRow(0, kMaxRows); }},
      {"huge amount", [](Sheet& s) { s.CreateRow(5, INT_MAX); }},
      {"index overflow", [](Sheet& s) { s.CreateRow(INT_MAX, 1); }},
      {"negative index", [](Sheet& s) { s.CreateRow(-1, 1); }},
      {"zero amount", [](Sheet& s) { s.CreateRow(0, 0); }},
      {"negative amount", [](Sheet& s) { s.CreateColumn(0, -3); }},
      {"columns past the bound", [](Sheet& s) { s.CreateColumn(0, kMaxCols); }},
      {"column index overflow", [](Sheet& s) { s.CreateColumn(INT_MAX - 1, 5); }},
      {"remove past the end", [](Sheet& s) { s.RemoveRow(99, 2); }},
      {"remove overflow", [](Sheet& s) { s.RemoveRow(INT_MAX, INT_MAX); }},
      {"remove negative", [](Sheet& s) { s.RemoveColumn(-1, 1); }},
      {"remove zero", [](Sheet& s) { s.RemoveColumn(0, 0); }},
      {"remove columns past the end", [](Sheet& s) { s.RemoveColumn(29, 2); }},
      {"write at row 2,000,000,000", [](Sheet& s) { s.SetValue(2000000000, 0, "x"); }},
      {"write past the last column", [](Sheet& s) { s.SetValue(0, kMaxCols, "x"); }},
      {"grow past the last row", [](Sheet& s) { s.EnsureRowColExists(kMaxRows, 0); }},
      {"negative write", [](Sheet& s) { s.EnsureRowColExists(-1, 0); }},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value content = J(R"({"cells":{"3":{"1":{"v":1}}},"rowHeights":[1,2],
        "mergeCells":[[1,1,2,2]],"filter":{"id":"f","range":[1,1,5,5],"filters":[1]}})");
    const std::string before = T(content);
    Sheet sheet(content);
    try {
      c.op(sheet);
      ADD_FAILURE() << "no exception";
    } catch (const zoltsh::InvalidParameter& e) {
      EXPECT_EQ(e.code, 1006);
    }
    EXPECT_EQ(T(content), before);
    EXPECT_EQ(sheet.GetRowCount(), 100);
    EXPECT_EQ(sheet.GetColCount(), 30);
  }
}

TEST_F(SheetRowColTest, SheetsUpToTheBoundStillGrowAndShrink) {
  Json::Value content(Json::objectValue);
  Sheet sheet(content);
  sheet.SetValue(kMaxRows - 1, kMaxCols - 1, 1);
  EXPECT_EQ(sheet.GetRowCount(), kMaxRows);
  EXPECT_EQ(sheet.GetColCount(), kMaxCols);
  EXPECT_THROW(sheet.CreateRow(0, 1), zoltsh::InvalidParameter);
  EXPECT_THROW(sheet.CreateColumn(kMaxCols, 1), zoltsh::InvalidParameter);
  sheet.RemoveRow(0, 1);
  EXPECT_EQ(T(content["cells"]),
            R"({")" + std::to_string(kMaxRows - 2) + R"(":{"16383":{"v":1}}})");
  sheet.CreateRow(kMaxRows - 1, 1);
  EXPECT_EQ(sheet.GetRowCount(), kMaxRows);
}

// ---------------------------------------------------------------------------------------------
// Merges and the filter

TEST_F(SheetRowColTest, MergesFollowTheChange) {
  RunCases({
      {"moved", R"({"mergeCells":[[4,0,6,1]]})", Op::kInsertRow, 4, 2, "mergeCells", "[[6,0,8,1]]"},
      {"grown", R"({"mergeCells":[[4,0,6,1]]})", Op::kInsertRow, 5, 2, "mergeCells", "[[4,0,8,1]]"},
      {"before the insertion", R"({"mergeCells":[[4,0,6,1]]})", Op::kInsertRow, 7, 2, "mergeCells",
       "[[4,0,6,1]]"},
      {"shrunk", R"({"mergeCells":[[4,0,6,1]]})", Op::kRemoveRow, 5, 2, "mergeCells",
       "[[4,0,4,1]]"},
      {"single cell left goes", R"({"mergeCells":[[4,0,5,0],[0,0,1,1]]})", Op::kRemoveRow, 5, 1,
       "mergeCells", "[[0,0,1,1]]"},
      {"whole merge removed", R"({"mergeCells":[[4,0,6,1]]})", Op::kRemoveRow, 3, 5, "mergeCells",
       "[]"},
      {"unnormalised entry written normalised when it changes", R"({"mergeCells":[[6,3,4,1]]})",
       Op::kInsertCol, 0, 1, "mergeCells", "[[4,2,6,4]]"},
      {"columns", R"({"mergeCells":[[0,2,1,5]]})", Op::kRemoveCol, 0, 3, "mergeCells",
       "[[0,0,1,2]]"},
      {"unreadable entries kept on insertion", R"({"mergeCells":["x",[1,1]]})", Op::kInsertRow, 0,
       1, "mergeCells", R"(["x",[1,1]])"},
  });
}

TEST_F(SheetRowColTest, FilterFollowsTheChange) {
  const char* filter = R"({"filter":{"id":"f","enabled":true,"range":[2,0,6,4],
      "filters":["c0","c1","c2","c3","c4"]}})";
  RunCases({
      {"rows inserted inside", filter, Op::kInsertRow, 3, 2, "filter",
       R"({"id":"f","enabled":true,"range":[2,0,8,4],"filters":["c0","c1","c2","c3","c4"]})"},
      {"rows inserted at the top move it", filter, Op::kInsertRow, 2, 2, "filter",
       R"({"id":"f","enabled":true,"range":[4,0,8,4],"filters":["c0","c1","c2","c3","c4"]})"},
      {"rows inserted after it", filter, Op::kInsertRow, 7, 2, "filter",
       R"({"id":"f","enabled":true,"range":[2,0,6,4],"filters":["c0","c1","c2","c3","c4"]})"},
      {"columns inserted inside splice conditions", filter, Op::kInsertCol, 2, 1, "filter",
       R"({"id":"f","enabled":true,"range":[2,0,6,5],"filters":["c0","c1",null,"c2","c3","c4"]})"},
      {"columns 1 and 2 removed", filter, Op::kRemoveCol, 1, 2, "filter",
       R"({"id":"f","enabled":true,"range":[2,0,6,2],"filters":["c0","c3","c4"]})"},
      {"rows removed across the top", filter, Op::kRemoveRow, 0, 4, "filter",
       R"({"id":"f","enabled":true,"range":[0,0,2,4],"filters":["c0","c1","c2","c3","c4"]})"},
      {"all rows removed", filter, Op::kRemoveRow, 1, 7, "filter",
       R"({"id":"f","enabled":true,"range":null,"filters":["c0","c1","c2","c3","c4"]})"},
      {"rows removed before it", filter, Op::kRemoveRow, 0, 1, "filter",
       R"({"id":"f","enabled":true,"range":[1,0,5,4],"filters":["c0","c1","c2","c3","c4"]})"},
      {"no filter", R"({"filter":{}})", Op::kRemoveRow, 0, 1, "filter", "{}"},
  });
}

TEST_F(SheetRowColTest, FilterStoredWithReversedCornersIsReadByItsOrderedCorners) {
  // Data from older clients may hold the range as [bottom, right, top, left] or any mix; it is
  // moved by its ordered corners and written back ordered. Conditions count from the left column.
  const char* rows = R"({"filter":{"id":"f","range":[10,0,5,3]}})";
  const char* cols = R"({"filter":{"id":"f","range":[0,4,5,1],"filters":["c1","c2","c3","c4"]}})";
  RunCases({
      {"rows removed across the top", rows, Op::kRemoveRow, 4, 6, "filter",
       R"({"id":"f","range":[4,0,4,3]})"},
      {"rows removed inside", rows, Op::kRemoveRow, 6, 2, "filter",
       R"({"id":"f","range":[5,0,8,3]})"},
      {"rows removed below it", rows, Op::kRemoveRow, 11, 2, "filter",
       R"({"id":"f","range":[5,0,10,3]})"},
      {"every row removed", rows, Op::kRemoveRow, 5, 6, "filter", R"({"id":"f","range":null})"},
      {"rows inserted inside", rows, Op::kInsertRow, 7, 2, "filter",
       R"({"id":"f","range":[5,0,12,3]})"},
      {"rows inserted above it", rows, Op::kInsertRow, 5, 2, "filter",
       R"({"id":"f","range":[7,0,12,3]})"},
      {"rows inserted below it", rows, Op::kInsertRow, 20, 2, "filter",
       R"({"id":"f","range":[5,0,10,3]})"},
      {"columns inserted inside splice conditions at the left column", cols, Op::kInsertCol, 2, 1,
       "filter", R"({"id":"f","range":[0,1,5,5],"filters":["c1",null,"c2","c3","c4"]})"},
      {"columns inserted before it keep the conditions", cols, Op::kInsertCol, 1, 2, "filter",
       R"({"id":"f","range":[0,3,5,6],"filters":["c1","c2","c3","c4"]})"},
      {"columns removed inside drop their conditions", cols, Op::kRemoveCol, 2, 2, "filter",
       R"({"id":"f","range":[0,1,5,2],"filters":["c1","c4"]})"},
      {"columns removed across the left edge", cols, Op::kRemoveCol, 0, 3, "filter",
       R"({"id":"f","range":[0,0,5,1],"filters":["c3","c4"]})"},
  });
}

// ---------------------------------------------------------------------------------------------
// Validations and conditional formats, with their formulas

TEST_F(SheetRowColTest, ValidationsFollowTheChange) {
  RunCases({
      {"anchor followed to the first surviving cell",
       R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["A5:B10"],"f1":"A5>0"}}})",
       Op::kRemoveRow, 2, 4, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["A3:B6"],"f1":"A3>0"}})"},
      {"insertion moves references at and after the index, absolute ones too",
       R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["A5:A9"],"f1":"A5>$B$5","f2":"A4"}}})",
       Op::kInsertRow, 4, 2, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["A7:A11"],"f1":"A7>$B$7","f2":"A4"}})"},
      {"listRange source moves as a range, its formulas never shift",
       R"({"validation":{"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C2:C4"],"f1":"D1:D3","f2":"A1"}}})",
       Op::kInsertRow, 0, 1, "validation",
       R"({"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C3:C5"],"f1":"D2:D4","f2":"A1"}})"},
      {"listRange source removed becomes #REF!",
       R"({"validation":{"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C5"],"f1":"D1:D3","f2":"A9"}}})",
       Op::kRemoveRow, 0, 3, "validation",
       R"({"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C2"],"f1":"#REF!","f2":"A9"}})"},
      {"#REF! stays",
       R"({"validation":{"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C5"],"f1":"#REF!"}}})",
       Op::kInsertRow, 0, 3, "validation",
       R"({"l":{"validId":"l","type":"list","operator":"listRange","ranges":["C8"],"f1":"#REF!"}})"},
      {"only range removed deletes the validation",
       R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["B2:B3"],"f1":"B2"},"w":{"validId":"w","type":"whole","ranges":["D9"],"f1":"D9"}}})",
       Op::kRemoveRow, 1, 2, "validation",
       R"({"w":{"validId":"w","type":"whole","ranges":["D7"],"f1":"D7"}})"},
      {"whole columns ignore row changes",
       R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["B:C"],"f1":"B1"}}})",
       Op::kInsertRow, 0, 1, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["B:C"],"f1":"B2"}})"},
      {"column removal across the anchor",
       R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["B2:E2","C5"],"f1":"B2=$A$1"}}})",
       Op::kRemoveCol, 0, 2, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["A2:C2","A5"],"f1":"A2=$A$1"}})"},
  });
}

TEST_F(SheetRowColTest, ConditionalFormatsFollowTheChange) {
  RunCases({
      {"insertion", R"({"cfs":[{"cfId":"a","ranges":["A3:B4","D1"],"f1":"A3>$C$1"}]})",
       Op::kInsertRow, 2, 2, "cfs", R"([{"cfId":"a","ranges":["A5:B6","D1"],"f1":"A5>$C$1"}])"},
      {"whole rows ignore column insertion", R"({"cfs":[{"cfId":"a","ranges":["3:4"],"f1":"A3"}]})",
       Op::kInsertCol, 0, 1, "cfs", R"([{"cfId":"a","ranges":["3:4"],"f1":"B3"}])"},
      {"anchor inside the removed rows follows to the first row after them",
       R"({"cfs":[{"cfId":"a","ranges":["A5:A10"],"f1":"A5>0"}]})", Op::kRemoveRow, 2, 4, "cfs",
       R"([{"cfId":"a","ranges":["A3:A6"],"f1":"A3>0"}])"},
      {"anchor taken from the next range when the first goes",
       R"({"cfs":[{"cfId":"a","ranges":["A3:B3","C8"],"f1":"A3"}]})", Op::kRemoveRow, 2, 1, "cfs",
       R"([{"cfId":"a","ranges":["C7"],"f1":"C7"}])"},
      {"a conditional format without ranges left goes",
       R"({"cfs":[{"cfId":"a","ranges":["A3"],"f1":"A3"},{"cfId":"b","ranges":["B9"],"f1":"B9"}]})",
       Op::kRemoveRow, 1, 3, "cfs", R"([{"cfId":"b","ranges":["B6"],"f1":"B6"}])"},
      {"columns", R"({"cfs":[{"cfId":"a","ranges":["C1:F2"],"f1":"C1"}]})", Op::kRemoveCol, 1, 3,
       "cfs", R"([{"cfId":"a","ranges":["B1:C2"],"f1":"B1"}])"},
  });
}

TEST_F(SheetRowColTest, CornersAtTheIntLimitSaturateInsteadOfOverflowing) {
  // Conditional format ranges are stored as the client sends them and A1 parsing saturates, so a
  // corner may lie at the int limit ("ZZZZZZZZZZ" is column INT_MAX - 1, row 99999999999 is row
  // INT_MAX - 1); stored merges and filters may hold any int. Moving them saturates.
  using zoltsh::utils::numToAlpha;
  const std::string wideCf = R"({"cfs":[{"cfId":"c","ranges":["A1:ZZZZZZZZZZ1"],"f1":"A1>0"}]})";
  const std::string tallCf = R"({"cfs":[{"cfId":"c","ranges":["A1:A99999999999"],"f1":"A1>0"}]})";
  const std::string tallValid =
      R"({"validation":{"v":{"validId":"v","type":"whole","ranges":["A1:A99999999999"],"f1":"A1>0"}}})";
  struct Limit {
    const char* name;
    std::string sheet;
    Op op;
    int index, amount;
    const char* member;
    std::string expected;
  } cases[] = {
      {"conditional format columns, one removed inside", wideCf, Op::kRemoveCol, 3, 1, "cfs",
       R"([{"cfId":"c","ranges":["A1:)" + numToAlpha(INT_MAX - 2) + R"(1"],"f1":"A1>0"}])"},
      {"conditional format columns, some inserted inside", wideCf, Op::kInsertCol, 3, 5, "cfs",
       R"([{"cfId":"c","ranges":["A1:)" + numToAlpha(INT_MAX) + R"(1"],"f1":"A1>0"}])"},
      {"conditional format rows, some inserted inside", tallCf, Op::kInsertRow, 3, 5, "cfs",
       R"([{"cfId":"c","ranges":["A1:A2147483647"],"f1":"A1>0"}])"},
      {"conditional format rows, some removed inside", tallCf, Op::kRemoveRow, 3, 2, "cfs",
       R"([{"cfId":"c","ranges":["A1:A2147483645"],"f1":"A1>0"}])"},
      {"conditional format wholly at the limit, moved by an insertion",
       R"({"cfs":[{"cfId":"c","ranges":["A99999999999:B99999999999"]}]})", Op::kInsertRow, 0, 2,
       "cfs", R"([{"cfId":"c","ranges":["A2147483647:B2147483647"]}])"},
      {"conditional format anchor removed, next range at the limit",
       R"({"cfs":[{"cfId":"c","ranges":["A1","A99999999999"],"f1":"A1>0"}]})", Op::kRemoveRow, 0, 1,
       "cfs", R"([{"cfId":"c","ranges":["A2147483646"],"f1":"A2147483646>0"}])"},
      {"validation rows, some inserted inside", tallValid, Op::kInsertRow, 3, 5, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["A1:A2147483647"],"f1":"A1>0"}})"},
      {"validation rows, some removed inside", tallValid, Op::kRemoveRow, 3, 2, "validation",
       R"({"v":{"validId":"v","type":"whole","ranges":["A1:A2147483645"],"f1":"A1>0"}})"},
      {"filter rows, some inserted inside", R"({"filter":{"id":"f","range":[0,0,2147483647,3]}})",
       Op::kInsertRow, 3, 5, "filter", R"({"id":"f","range":[0,0,2147483647,3]})"},
      {"filter columns, one inserted inside",
       R"({"filter":{"id":"f","range":[0,1,3,2147483647],"filters":["a","b"]}})", Op::kInsertCol, 2,
       1, "filter", R"({"id":"f","range":[0,1,3,2147483647],"filters":["a",null,"b"]})"},
      {"filter from the lowest int, rows removed inside",
       R"({"filter":{"id":"f","range":[-2147483648,0,5,3]}})", Op::kRemoveRow, 0, 2, "filter",
       R"({"id":"f","range":[-2147483648,0,3,3]})"},
      {"filter reversed at the limit, rows inserted inside",
       R"({"filter":{"id":"f","range":[2147483647,0,0,3]}})", Op::kInsertRow, 3, 5, "filter",
       R"({"id":"f","range":[0,0,2147483647,3]})"},
      {"merge rows, some inserted inside", R"({"mergeCells":[[0,0,2147483647,1]]})", Op::kInsertRow,
       3, 5, "mergeCells", "[[0,0,2147483647,1]]"},
      {"merge columns, some removed inside", R"({"mergeCells":[[0,0,1,2147483647]]})",
       Op::kRemoveCol, 3, 2, "mergeCells", "[[0,0,1,2147483645]]"},
  };
  for (const Limit& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value content = J(c.sheet);
    Sheet sheet(content);
    Apply(sheet, c.op, c.index, c.amount);
    EXPECT_EQ(T(content[c.member]), T(J(c.expected)));
  }
}

// ---------------------------------------------------------------------------------------------
// Repair data

TEST_F(SheetRowColTest, RepairSkipsBadEntriesAndAppliesTheRest) {
  Json::Value content = J(R"({"rowCount":20,"colCount":10,"mergeCells":[],
      "filter":{"id":"f","enabled":true,"range":null,"filters":[]}})");
  Sheet sheet(content);
  zoltsh::testing::LogCapture log;
  const Json::Value info = J(R"([
      {"pluginName":"ZoltUnknown","rowInfo":{"a":1}},
      {"pluginName":"ZoltFilter","rowInfo":{"filterId":"f","range":[0,0,1],"filters":[]}},
      {"pluginName":"ZoltMergeCell","rowInfo":{"not":"an array"}},
      {"pluginName":"ZoltMergeCell","rowInfo":[[2,0,3,1],[900,0,901,1]]},
      {"pluginName":"ZoltFilter","rowInfo":{"filterId":"f","range":[0,0,1,3],"filters":["x"]}},
      {"pluginName":"ZoltConditionalFormat","rowInfo":[{"cf":{"cfId":"c","ranges":["A3"]},"index":5}]},
      {"pluginName":"ZoltConditionalFormat","rowInfo":[{"cf":{"cfId":""},"index":0}]}])");
  zoltsh::internal::RepairRow(sheet, info, 2, 2);
  EXPECT_EQ(T(content["mergeCells"]), "[[2,0,3,1]]");  // the entry's first merge stays
  EXPECT_EQ(T(content["filter"]["range"]), "[2,0,3,3]");
  EXPECT_EQ(T(content["filter"]["filters"]), R"(["x"])");
  EXPECT_EQ(T(content["cfs"]), R"([{"cfId":"c","ranges":["A3"]}])");
  std::vector<std::string> errors;
  for (const std::string& line : log.lines()) {
    if (line.find("Invalid Parameter:") != std::string::npos) errors.push_back(line);
  }
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_THAT(errors[0], ::testing::HasSubstr(R"(Invalid Parameter:Unkown pluginName {"a":1})"));
  EXPECT_THAT(errors[1], ::testing::HasSubstr("Invalid Parameter:invalid parameter"));
  EXPECT_THAT(errors[0], ::testing::MatchesRegex(".*repair.*:[0-9]+ Invalid Parameter:.*"));
  // Nothing to do for an empty or missing info.
  const std::string before = T(content);
  zoltsh::internal::RepairCol(sheet, Json::Value(Json::arrayValue), 0, 1);
  zoltsh::internal::RepairCol(sheet, Json::Value(), 0, 1);
  EXPECT_EQ(T(content), before);
}

TEST_F(SheetRowColTest, RepairFilterColumnsRestoresConditionsInPlace) {
  // Filter over columns 2..6; columns 0..3 removed (cutting its left part), then inserted again.
  Json::Value content = J(R"({"rowCount":10,"colCount":10,
      "filter":{"id":"f","enabled":true,"range":[0,2,5,6],"filters":["c2","c3","c4","c5","c6"]}})");
  Sheet sheet(content);
  const Json::Value original = content;
  sheet.RemoveColumn(0, 4);
  EXPECT_EQ(T(content["filter"]["filters"]), R"(["c4","c5","c6"])");
  sheet.CreateColumn(0, 4);
  zoltsh::internal::RepairCol(
      sheet,
      J(R"([{"pluginName":"ZoltFilter","colInfo":{"filterId":"f","range":[0,2,5,3],"filters":["c2","c3"]}}])"),
      0, 4);
  EXPECT_EQ(T(content["filter"]), T(original["filter"]));
}

TEST_F(SheetRowColTest, RepairFilterReadsAStoredRangeByItsOrderedCorners) {
  // Rows 0..2 above a filter stored (by older data) as [5,0,3,2] were removed and are inserted
  // again at the end of the shift; the repair joins the restored rows to the filter's top.
  Json::Value content = J(R"({"rowCount":10,"colCount":5,
      "filter":{"id":"f","enabled":true,"range":[5,2,3,0],"filters":[]}})");
  Sheet sheet(content);
  zoltsh::internal::RepairRow(
      sheet,
      J(R"([{"pluginName":"ZoltFilter","rowInfo":{"filterId":"f","range":[0,0,1,2],"filters":[]}}])"),
      1, 2);
  EXPECT_EQ(T(content["filter"]["range"]), "[1,0,5,2]");
}

TEST_F(SheetRowColTest, RepairValidationRegrowsRangesAndFormulas) {
  Json::Value content = J(R"({"rowCount":20,"colCount":10,"validation":{
      "v":{"validId":"v","type":"whole","ranges":["A5:B10"],"f1":"A5>0"},
      "l":{"validId":"l","type":"list","operator":"listRange","ranges":["D1"],"f1":"E2:E4"}}})");
  Sheet sheet(content);
  const Json::Value original = content;
  sheet.RemoveRow(2, 4);
  sheet.CreateRow(2, 4);
  zoltsh::internal::RepairRow(sheet, J(R"([{"pluginName":"ZoltValidation","rowInfo":[
      {"validId":"v","type":"whole","ranges":[{"dir":"top","range":"A3:B4"}],"f1":"A5>0"},
      {"validId":"l","type":"list","operator":"listRange","ranges":[],
       "repairList":{"dir":"bottom","range":"E1:E2"}}]}])"),
                              2, 4);
  EXPECT_EQ(T(content["validation"]), T(original["validation"]));
}

// ---------------------------------------------------------------------------------------------
// Pseudo-random sequences checked with the invariant, and removal undone by the repair

class RandomSheet {
 public:
  explicit RandomSheet(unsigned seed) : rng_(seed) {}

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  // A range text inside rows × cols.
  Range Block(int rows, int cols, int maxSize) {
    const int t = Pick(0, rows - 1), l = Pick(0, cols - 1);
    return Range(t, l, std::min(rows - 1, t + Pick(0, maxSize)),
                 std::min(cols - 1, l + Pick(0, maxSize)));
  }

  // A small sheet with cells, sizes, merges, a filter, validations and conditional formats,
  // written directly in the stored layout. Rules have one range each and formulas relative to it.
  Json::Value Make(bool multiRange) {
    const int rows = Pick(8, 14), cols = Pick(6, 10);
    Json::Value s = J("{}");
    Sheet sheet(s);
    sheet.Init();
    sheet.SetRowCount(rows);
    sheet.SetColCount(cols);
    for (int i = 0; i < 30; ++i) sheet.SetValue(Pick(0, rows - 1), Pick(0, cols - 1), Pick(1, 99));
    for (int i = Pick(0, rows - 1); i >= 0; i -= Pick(1, 3)) sheet.SetRowHeight(i, 20 + i);
    for (int i = Pick(0, cols - 1); i >= 0; i -= Pick(1, 3)) sheet.SetColHidden(i, true);
    for (int i = 0; i < 4; ++i) {
      Range r = Block(rows, cols, 3);
      if (r.GetWidth() * r.GetHeight() > 1) sheet.MergeCells(zoltsh::utils::RangeToJsonArray(r));
    }
    Range f = Block(rows, cols, 5);
    s["filter"] = J(R"({"id":"flt","enabled":true})");
    s["filter"]["range"] = zoltsh::utils::RangeToJsonArray(f);
    s["filter"]["filters"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < f.GetWidth(); ++i)
      s["filter"]["filters"].append("cond" + std::to_string(i));
    for (int i = 0; i < 3; ++i) {
      const std::string id = "v" + std::to_string(i);
      Json::Value& v = s["validation"][id];
      v["validId"] = id;
      const int n = multiRange ? Pick(1, 2) : 1;
      Range first = Block(rows, cols, 3);
      v["ranges"].append(first.toString());
      if (n == 2) v["ranges"].append(Block(rows, cols, 2).toString());
      if (i == 2) {
        v["type"] = "list";
        v["operator"] = "listRange";
        v["f1"] = Block(rows, cols, 3).toString();
      } else {
        v["type"] = "whole";
        v["f1"] =
            Range(first.start.row, first.start.col, first.start.row, first.start.col).toString() +
            ">0";
      }
    }
    for (int i = 0; i < 2; ++i) {
      Json::Value cf;
      cf["cfId"] = "cf" + std::to_string(i);
      Range first = Block(rows, cols, 3);
      cf["ranges"].append(first.toString());
      cf["ranges"].append(Block(rows, cols, 2).toString());
      cf["f1"] =
          Range(first.start.row, first.start.col, first.start.row, first.start.col).toString() +
          "<>\"\"";
      s["cfs"].append(cf);
    }
    return s;
  }

 private:
  std::mt19937 rng_;
};

void ExpectConsistent(const Json::Value& s, const std::string& step) {
  const std::vector<std::string> errors = zoltsh::testing::SheetInvariantErrors(s);
  if (!errors.empty()) {
    ADD_FAILURE() << step << "\n" << ::testing::PrintToString(errors) << "\n" << T(s);
  }
}

// Inserts, removals, merges, growing writes, and filter, validation and conditional-format changes,
// with the sheet invariant checked after every step.
TEST_F(SheetRowColTest, RandomSequencesKeepTheSheetConsistent) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    RandomSheet rnd(seed);
    Json::Value s = rnd.Make(true);
    Sheet sheet(s);
    ExpectConsistent(s, "seed " + std::to_string(seed) + " start");
    for (int step = 0; step < 80 && !::testing::Test::HasFailure(); ++step) {
      const int rows = sheet.GetRowCount(), cols = sheet.GetColCount();
      std::string what;
      switch (rnd.Pick(0, 12)) {
        case 0:
          what = "insert rows";
          sheet.CreateRow(rnd.Pick(0, rows), rnd.Pick(1, 3));
          break;
        case 1:
          what = "insert cols";
          sheet.CreateColumn(rnd.Pick(0, cols), rnd.Pick(1, 3));
          break;
        case 2:
          if (rows < 4) continue;
          what = "remove rows";
          {
            const int at = rnd.Pick(0, rows - 1);
            sheet.RemoveRow(at, std::min(rows - at, rnd.Pick(1, 3)));
          }
          break;
        case 3:
          if (cols < 4) continue;
          what = "remove cols";
          {
            const int at = rnd.Pick(0, cols - 1);
            sheet.RemoveColumn(at, std::min(cols - at, rnd.Pick(1, 3)));
          }
          break;
        case 4: {
          what = "merge";
          Range r = rnd.Block(rows, cols, 3);
          if (r.GetWidth() * r.GetHeight() > 1)
            sheet.MergeCells(zoltsh::utils::RangeToJsonArray(r));
          break;
        }
        case 5:
          what = "write that grows";
          sheet.SetValue(rows + rnd.Pick(0, 1), rnd.Pick(0, cols), "g");
          break;
        case 6: {
          what = "new filter";
          Range r = rnd.Block(rows, cols, 5);
          sheet.CreateFilter("flt" + std::to_string(step), zoltsh::utils::RangeToJsonArray(r));
          break;
        }
        case 7:
          what = "filter condition";
          if (s["filter"].isMember("id")) {
            sheet.SetFilter(s["filter"]["id"].asString(), rnd.Pick(0, cols - 1), "c");
          }
          break;
        case 8: {
          what = "new validation";
          const Range r = rnd.Block(rows, cols, 3);
          Json::Value v(Json::objectValue);
          v["validId"] = "v" + std::to_string(rnd.Pick(0, 4));
          v["type"] = "whole";
          v["f1"] = Range(r.start.row, r.start.col, r.start.row, r.start.col).toString() + ">0";
          sheet.CreateValidation(v, r.toString());
          break;
        }
        case 9:
          what = "validation cut";
          sheet.RemoveValidation("v" + std::to_string(rnd.Pick(0, 4)),
                                 rnd.Block(rows, cols, 4).toString());
          break;
        case 10: {
          what = "new conditional format";
          const Range r = rnd.Block(rows, cols, 3);
          Json::Value cf(Json::objectValue);
          cf["cfId"] = "cf" + std::to_string(step);
          cf["ranges"].append(r.toString());
          cf["f1"] = Range(r.start.row, r.start.col, r.start.row, r.start.col).toString() + "<>1";
          sheet.CreateCf(cf, rnd.Pick(0, 3));
          break;
        }
        case 11:
          what = "conditional format removed";
          sheet.RemoveCf("cf" + std::to_string(rnd.Pick(0, 1)));
          break;
        default:
          what = "refused removal";
          EXPECT_THROW(sheet.RemoveRow(rows, 1), zoltsh::InvalidParameter);
      }
      ExpectConsistent(
          s, "seed " + std::to_string(seed) + " step " + std::to_string(step) + " " + what);
    }
  }
}

// What a client saves when it removes a block, and what the command set does to undo it: the
// block's cells and sizes, and the repair data of every feature the block cut.
struct Undo {
  Json::Value cells;   // row key → row (rows) or row key → {col key → cell} (columns)
  Json::Value arrays;  // member → its elements in the block
  Json::Value info = Json::Value(Json::arrayValue);
};

// The part of [s, e] inside [index, last], counted from index, or false when they miss.
bool Cut(int s, int e, int index, int last, int* from, int* to) {
  if (e < index || s > last) return false;
  *from = std::max(s, index) - index;
  *to = std::min(e, last) - index;
  return true;
}

// dir of a cut for an A1 range: "none" when the range goes whole, "top"/"left" when its start
// went, "bottom"/"right" when its end went, "" when the block lies inside it (insertion regrows).
std::string CutDirection(int s, int e, int index, int last, bool rows) {
  if (s >= index && e <= last) return "none";
  if (s >= index) return rows ? "top" : "left";
  if (e <= last) return rows ? "bottom" : "right";
  return "";
}

Undo Save(const Json::Value& s, bool rows, int index, int amount) {
  Undo u;
  const int last = index + amount - 1;
  const int nRows = s["rowCount"].asInt(), nCols = s["colCount"].asInt();
  const zoltsh::utils::Axis axis = rows ? &zoltsh::utils::Coord::row : &zoltsh::utils::Coord::col;
  for (auto it = s["cells"].begin(); it != s["cells"].end(); ++it) {
    const int r = std::stoi(it.name());
    if (rows) {
      if (r >= index && r <= last) u.cells[it.name()] = *it;
      continue;
    }
    for (auto c = it->begin(); c != it->end(); ++c) {
      const int col = std::stoi(c.name());
      if (col >= index && col <= last) u.cells[it.name()][c.name()] = *c;
    }
  }
  for (const char* key : rows ? std::vector<const char*>{"rowHeights", "hiddenRows"}
                              : std::vector<const char*>{"colWidths", "hiddenCols"}) {
    u.arrays[key] = Json::Value(Json::arrayValue);
    for (int i = index; i <= last; ++i) u.arrays[key].append(s[key].get(i, Json::Value()));
  }
  auto entry = [&](const char* name, Json::Value payload) {
    Json::Value e;
    e["pluginName"] = name;
    e[rows ? "rowInfo" : "colInfo"] = std::move(payload);
    u.info.append(e);
  };
  // Filter: the part of its range in the block and, for columns, those columns' conditions.
  const Json::Value& fr = s["filter"]["range"];
  int from = 0, to = 0;
  if (fr.isArray() &&
      Cut(fr[rows ? 0 : 1].asInt(), fr[rows ? 2 : 3].asInt(), index, last, &from, &to)) {
    Json::Value p;
    p["filterId"] = s["filter"]["id"];
    p["range"] = fr;
    p["range"][rows ? 0 : 1] = from;
    p["range"][rows ? 2 : 3] = to;
    p["filters"] = Json::Value(Json::arrayValue);
    if (rows) {
      p["filters"] = s["filter"]["filters"];
    } else {
      const int left = fr[1].asInt();
      for (int c = from + index; c <= to + index; ++c) {
        p["filters"].append(s["filter"]["filters"].get(c - left, Json::Value()));
      }
    }
    entry("ZoltFilter", p);
  }
  // Validations: pieces of the ranges the block cut, and the list source.
  Json::Value validations(Json::arrayValue);
  for (const Json::Value& v : s["validation"]) {
    Json::Value saved = v;
    saved["ranges"] = Json::Value(Json::arrayValue);
    for (const Json::Value& t : v["ranges"]) {
      Range r(t.asString(), nRows, nCols);
      r.Normalize();
      const std::string dir = CutDirection(r.start.*axis, r.end.*axis, index, last, rows);
      if (!Cut(r.start.*axis, r.end.*axis, index, last, &from, &to) || dir.empty()) continue;
      r.start.*axis = from;
      r.end.*axis = to;
      Json::Value piece;
      piece["dir"] = dir;
      piece["range"] = r.toString();
      saved["ranges"].append(piece);
    }
    if (v["operator"] == "listRange") {
      Range r(v["f1"].asString(), nRows, nCols);
      r.Normalize();
      const std::string dir = CutDirection(r.start.*axis, r.end.*axis, index, last, rows);
      if (Cut(r.start.*axis, r.end.*axis, index, last, &from, &to) && !dir.empty()) {
        r.start.*axis = from;
        r.end.*axis = to;
        saved["repairList"]["dir"] = dir;
        saved["repairList"]["range"] = r.toString();
      }
    }
    if (!saved["ranges"].empty() || saved.isMember("repairList")) validations.append(saved);
  }
  if (!validations.empty()) entry("ZoltValidation", validations);
  // Conditional formats touched by the block, whole, with their positions.
  Json::Value cfs(Json::arrayValue);
  for (Json::ArrayIndex i = 0; i < s["cfs"].size(); ++i) {
    for (const Json::Value& t : s["cfs"][i]["ranges"]) {
      Range r(t.asString(), nRows, nCols);
      r.Normalize();
      if (Cut(r.start.*axis, r.end.*axis, index, last, &from, &to)) {
        Json::Value e;
        e["cf"] = s["cfs"][i];
        e["index"] = i;
        cfs.append(e);
        break;
      }
    }
  }
  if (!cfs.empty()) entry("ZoltConditionalFormat", cfs);
  // Merges the block touched, in sheet coordinates.
  Json::Value merges(Json::arrayValue);
  for (const Json::Value& m : s["mergeCells"]) {
    if (Cut(m[rows ? 0 : 1].asInt(), m[rows ? 2 : 3].asInt(), index, last, &from, &to)) {
      merges.append(m);
    }
  }
  if (!merges.empty()) entry("ZoltMergeCell", merges);
  return u;
}

void Restore(Json::Value& s, const Undo& u, bool rows, int index) {
  for (auto it = u.cells.begin(); it != u.cells.end(); ++it) {
    if (rows) {
      s["cells"][it.name()] = *it;
    } else {
      if (s["cells"][it.name()].isNull()) s["cells"][it.name()] = Json::Value(Json::objectValue);
      for (auto c = it->begin(); c != it->end(); ++c) s["cells"][it.name()][c.name()] = *c;
    }
  }
  for (auto it = u.arrays.begin(); it != u.arrays.end(); ++it) {
    for (Json::ArrayIndex i = 0; i < it->size(); ++i) {
      if ((*it)[i].isNull()) continue;
      Json::Value& a = s[it.name()];
      while (a.size() < index + i) a.append(Json::Value());  // dense, never a sparse index
      a[index + i] = (*it)[i];
    }
  }
}

// The sheet with what means "nothing" dropped and unordered lists sorted.
Json::Value Canonical(Json::Value s) {
  Sheet(s).Compact();
  Json::Value cells(Json::objectValue);
  for (auto it = s["cells"].begin(); it != s["cells"].end(); ++it) {
    if (!it->empty()) cells[it.name()] = *it;
  }
  s["cells"] = cells;
  for (const char* key : {"rowHeights", "hiddenRows", "colWidths", "hiddenCols"}) {
    Json::Value& a = s[key];
    while (!a.empty() && a[a.size() - 1].isNull()) a.resize(a.size() - 1);
  }
  Json::Value& f = s["filter"]["filters"];
  while (!f.empty() && f[f.size() - 1].isNull()) f.resize(f.size() - 1);
  std::vector<std::string> merges;
  for (const Json::Value& m : s["mergeCells"]) merges.push_back(T(m));
  std::sort(merges.begin(), merges.end());
  s["mergeCells"] = Json::Value(Json::arrayValue);
  for (const std::string& m : merges) s["mergeCells"].append(J(m));
  return s;
}

TEST_F(SheetRowColTest, RemovalUndoneWithRepairDataRestoresTheSheet) {
  zoltsh::testing::LogCapture log;
  int cutting = 0;
  for (unsigned seed = 1; seed <= 400 && !::testing::Test::HasFailure(); ++seed) {
    RandomSheet rnd(seed);
    Json::Value s = rnd.Make(false);
    const bool rows = seed % 2 == 0;
    Sheet sheet(s);
    const int count = rows ? sheet.GetRowCount() : sheet.GetColCount();
    const int index = rnd.Pick(0, count - 2);
    const int amount = rnd.Pick(1, std::min(4, count - index - 1));
    const Json::Value original = s;
    const Undo undo = Save(s, rows, index, amount);
    if (undo.info.size() >= 3) ++cutting;
    if (rows) {
      sheet.RemoveRow(index, amount);
      sheet.CreateRow(index, amount);
      Restore(s, undo, rows, index);
      zoltsh::internal::RepairRow(sheet, undo.info, index, amount);
    } else {
      sheet.RemoveColumn(index, amount);
      sheet.CreateColumn(index, amount);
      Restore(s, undo, rows, index);
      zoltsh::internal::RepairCol(sheet, undo.info, index, amount);
    }
    ExpectConsistent(s, "seed " + std::to_string(seed));
    EXPECT_EQ(T(Canonical(s)), T(Canonical(original)))
        << "seed " << seed << (rows ? " rows " : " cols ") << index << "+" << amount << "\n"
        << T(undo.info);
  }
  EXPECT_TRUE(log.lines().empty()) << ::testing::PrintToString(log.lines());
  EXPECT_GT(cutting, 100);  // the blocks did cut several features at once
}

}  // namespace
