#include "snapshot/sheet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "json/json_text.h"
#include "snapshot/range.h"
#include "support/temp_root.h"

namespace {

using zoltsh::kMaxCols;
using zoltsh::kMaxRows;
using zoltsh::Sheet;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

std::string T(const Json::Value& v) { return Json::toString(v); }

// Every test runs in an appliance root of its own.
class SheetTest : public ::testing::Test {
 protected:
  zoltsh::testing::TempRoot root_;
};

// Runs op and expects InvalidParameter (1006, "invalid parameter") with the content unchanged.
void ExpectInvalidAndUnchanged(Json::Value& content, const std::function<void(Sheet&)>& op) {
  const Json::Value before = content;
  Sheet sheet(content);
  const int rows = sheet.GetRowCount(), cols = sheet.GetColCount();
  try {
    op(sheet);
    ADD_FAILURE() << "no exception";
  } catch (const zoltsh::InvalidParameter& e) {
    EXPECT_EQ(e.code, 1006);
    EXPECT_STREQ(e.what(), "invalid parameter");
  }
  EXPECT_EQ(T(content), T(before));
  EXPECT_EQ(sheet.GetRowCount(), rows);
  EXPECT_EQ(sheet.GetColCount(), cols);
}

// ---------------------------------------------------------------------------------------------
// Counts and the default layout

TEST_F(SheetTest, CountsReadFromContentWithDefaults) {
  struct Case {
    const char* content;
    int rows, cols;
  } cases[] = {
      {"{}", 100, 30},
      {"null", 100, 30},
      {"[]", 100, 30},
      {R"({"rowCount":7,"colCount":3})", 7, 3},
      {R"({"rowCount":7.0,"colCount":3.9})", 7, 3},
      {R"({"rowCount":"7","colCount":true})", 100, 30},
      {R"({"rowCount":{},"colCount":[]})", 100, 30},
      {R"({"rowCount":null,"colCount":null})", 100, 30},
      {R"({"rowCount":-5,"colCount":-1})", 0, 0},
      {R"({"rowCount":1e300,"colCount":99999999999})", kMaxRows, kMaxCols},
      {R"({"rowCount":0,"colCount":0})", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    Json::Value content = J(c.content);
    const std::string before = T(content);
    Sheet sheet(content);
    EXPECT_EQ(sheet.GetRowCount(), c.rows);
    EXPECT_EQ(sheet.GetColCount(), c.cols);
    EXPECT_EQ(T(content), before);  // reading never writes
  }
}

TEST_F(SheetTest, InitWritesTheDefaultLayoutAndKeepsOtherMembers) {
  Json::Value content;
  Sheet sheet(content);
  sheet.Init();
  EXPECT_EQ(T(content), T(J(R"({"rowCount":100,"colCount":30,"fixedRowTop":0,"fixedColumnLeft":0,
                   "mergeCells":[],"rowHeights":[],"colWidths":[],"hiddenRows":[],"hiddenCols":[],
                   "cells":{},"filter":{},"validation":{},"cfs":[],"drawing":[]})")));

  Json::Value used = J(R"({"rowCount":5,"colCount":2,"cells":{"0":{"0":{"v":1}}},"title":"kept"})");
  Sheet again(used);
  again.Init();
  EXPECT_EQ(again.GetRowCount(), 100);
  EXPECT_EQ(again.GetColCount(), 30);
  EXPECT_EQ(used["title"], "kept");
  EXPECT_EQ(used["cells"], Json::Value(Json::objectValue));
}

TEST_F(SheetTest, InitOnContentThatIsNotAnObjectThrows) {
  Json::Value content = J("[1,2]");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.Init(); });
}

TEST_F(SheetTest, SetCountsUpdateCacheAndMemberWithinBounds) {
  Json::Value content = J("{}");
  Sheet sheet(content);
  sheet.SetRowCount(kMaxRows);
  sheet.SetColCount(kMaxCols);
  EXPECT_EQ(sheet.GetRowCount(), kMaxRows);
  EXPECT_EQ(content["rowCount"], kMaxRows);
  EXPECT_EQ(content["colCount"], kMaxCols);
  sheet.SetRowCount(0);
  EXPECT_EQ(content["rowCount"], 0);

  for (int n : {-1, kMaxRows + 1, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(n);
    ExpectInvalidAndUnchanged(content, [n](Sheet& s) { s.SetRowCount(n); });
  }
  for (int n : {-1, kMaxCols + 1}) {
    SCOPED_TRACE(n);
    ExpectInvalidAndUnchanged(content, [n](Sheet& s) { s.SetColCount(n); });
  }
}

// ---------------------------------------------------------------------------------------------
// Sizes, hiding, freezing

enum class ArrayOp { kRowHeight, kColWidth, kRowHidden, kColHidden };

TEST_F(SheetTest, PerRowAndPerColumnArrays) {
  struct Case {
    ArrayOp op;
    const char* before;  // the member's stored value; nullptr: absent
    int index;
    const char* value;  // for heights and widths; "true"/"false" for hidden
    const char* after;  // the member afterwards; nullptr: absent
  } cases[] = {
      {ArrayOp::kRowHeight, "[]", 5, "25", "[null,null,null,null,null,25]"},
      {ArrayOp::kRowHeight, nullptr, 2, "25", "[null,null,25]"},
      {ArrayOp::kRowHeight, "null", 0, "25", "[25]"},
      {ArrayOp::kRowHeight, "[1,2,3,4,5,6]", 5, "\"25\"", "[1,2,3,4,5]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "40", "[1,40,3]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "25.0", "[1,25,3]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "25.5", "[1,null,3]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "null", "[1,null,3]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "true", "[1,null,3]"},
      {ArrayOp::kRowHeight, "[1,2,3]", 1, "[7]", "[1,null,3]"},
      // Clearing the last element drops the nulls at the end; clearing beyond the end does not
      // grow the array.
      {ArrayOp::kRowHeight, "[]", 5, "\"25\"", "[]"},
      {ArrayOp::kRowHeight, nullptr, 5, "null", nullptr},
      {ArrayOp::kRowHeight, "[1]", 1, "null", "[1]"},
      {ArrayOp::kColWidth, "[]", 3, "80", "[null,null,null,80]"},
      {ArrayOp::kColWidth, "[80]", 0, "{}", "[]"},
      {ArrayOp::kRowHidden, "[]", 2, "true", "[null,null,true]"},
      {ArrayOp::kRowHidden, "[null,null,true]", 2, "false", "[]"},
      {ArrayOp::kRowHidden, "[true]", 9, "false", "[true]"},
      {ArrayOp::kColHidden, nullptr, 1, "true", "[null,true]"},
      {ArrayOp::kColHidden, "[true,true]", 0, "false", "[null,true]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.op)) + " " + (c.before ? c.before : "absent") +
                 " [" + std::to_string(c.index) + "] " + c.value);
    const char* key = c.op == ArrayOp::kRowHeight   ? "rowHeights"
                      : c.op == ArrayOp::kColWidth  ? "colWidths"
                      : c.op == ArrayOp::kRowHidden ? "hiddenRows"
                                                    : "hiddenCols";
    Json::Value content(Json::objectValue);
    if (c.before != nullptr) content[key] = J(c.before);
    Sheet sheet(content);
    const Json::Value value = J(c.value);
    switch (c.op) {
      case ArrayOp::kRowHeight:
        sheet.SetRowHeight(c.index, value);
        break;
      case ArrayOp::kColWidth:
        sheet.SetColWidth(c.index, value);
        break;
      case ArrayOp::kRowHidden:
        sheet.SetRowHidden(c.index, value.asBool());
        break;
      case ArrayOp::kColHidden:
        sheet.SetColHidden(c.index, value.asBool());
        break;
    }
    if (c.after == nullptr) {
      EXPECT_FALSE(content.isMember(key));
    } else {
      EXPECT_EQ(T(content[key]), T(J(c.after)));
    }
  }
}

TEST_F(SheetTest, ArrayGettersReturnTheMemberOrNull) {
  Json::Value content = J(R"({"rowHeights":[1],"colWidths":"odd","mergeCells":[[0,0,1,1]]})");
  Sheet sheet(content);
  EXPECT_EQ(T(sheet.GetRowHeights()), "[1]");
  EXPECT_EQ(T(sheet.GetColWidths()), "\"odd\"");
  EXPECT_TRUE(sheet.GetHiddenRows().isNull());
  EXPECT_TRUE(sheet.GetHiddenCols().isNull());
  EXPECT_EQ(T(sheet.GetMergeCells()), "[[0,0,1,1]]");

  Json::Value notAnObject = J("[1]");
  Sheet odd(notAnObject);
  EXPECT_TRUE(odd.GetRowHeights().isNull());
  EXPECT_EQ(odd.GetFixedRowTop(), 0);
  EXPECT_TRUE(odd.GetCell(0, 0).isNull());
}

TEST_F(SheetTest, WritingRowsOneAfterAnotherKeepsArraysDense) {
  Json::Value content = J("{}");
  Sheet sheet(content);
  for (int r = 0; r < 10000; ++r) {
    sheet.SetRowHeight(r, Json::Value(r % 50));
    sheet.SetValue(r, 0, Json::Value(r));
  }
  const Json::Value& heights = content["rowHeights"];
  ASSERT_EQ(heights.size(), 10000u);
  int present = 0;
  for (const Json::Value& h : heights) {
    EXPECT_EQ(h.asInt(), present % 50);
    ++present;
  }
  EXPECT_EQ(present, 10000);  // every element is stored, none left as a hole
  EXPECT_EQ(sheet.GetRowCount(), 10000);
  EXPECT_EQ(sheet.GetValue(9999, 0), 9999);
}

TEST_F(SheetTest, FrozenRowsAndColumns) {
  struct Case {
    const char* content;
    int rowTop, colLeft;
  } cases[] = {
      {"{}", 0, 0},
      {R"({"fixedRowTop":3,"fixedColumnLeft":2})", 3, 2},
      {R"({"fixedRowTop":"3","fixedColumnLeft":{}})", 0, 0},
      {R"({"fixedRowTop":1e30,"fixedColumnLeft":true})", 0, 0},
      {R"({"fixedRowTop":null,"fixedColumnLeft":2.0})", 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    Json::Value content = J(c.content);
    Sheet sheet(content);
    EXPECT_EQ(sheet.GetFixedRowTop(), c.rowTop);
    EXPECT_EQ(sheet.GetFixedColLeft(), c.colLeft);
  }

  // A stored setting of another scalar type is replaced.
  Json::Value content = J(R"({"fixedRowTop":"3","fixedColumnLeft":true})");
  Sheet sheet(content);
  sheet.FixRowTop(4);
  sheet.FixColLeft(0);
  EXPECT_EQ(content["fixedRowTop"], 4);
  EXPECT_EQ(content["fixedColumnLeft"], 0);
  sheet.FixRowTop(kMaxRows);
  sheet.FixColLeft(kMaxCols);
  EXPECT_EQ(sheet.GetFixedRowTop(), kMaxRows);
  for (int n : {-1, kMaxRows + 1, INT_MIN}) {
    SCOPED_TRACE(n);
    ExpectInvalidAndUnchanged(content, [n](Sheet& s) { s.FixRowTop(n); });
  }
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.FixColLeft(kMaxCols + 1); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.FixColLeft(-3); });

  // An object or array where the setting should be is not overwritten.
  Json::Value odd = J(R"({"fixedRowTop":{"a":1},"fixedColumnLeft":[2]})");
  ExpectInvalidAndUnchanged(odd, [](Sheet& s) { s.FixRowTop(1); });
  ExpectInvalidAndUnchanged(odd, [](Sheet& s) { s.FixColLeft(1); });
}

// ---------------------------------------------------------------------------------------------
// Cell values

TEST_F(SheetTest, SetValueGrowsTheSheetFirst) {
  Json::Value content;
  Sheet sheet(content);
  sheet.Init();
  sheet.SetValue(150, 40, Json::Value("x"));
  EXPECT_EQ(sheet.GetRowCount(), 151);
  EXPECT_EQ(sheet.GetColCount(), 41);
  EXPECT_EQ(content["rowCount"], 151);
  EXPECT_EQ(content["colCount"], 41);
  EXPECT_EQ(content["cells"]["150"]["40"]["v"], "x");

  // Inside the sheet nothing grows; the sheet never shrinks.
  sheet.SetValue(3, 2, Json::Value(1));
  EXPECT_EQ(sheet.GetRowCount(), 151);
  EXPECT_EQ(sheet.GetColCount(), 41);

  // The last cell of the largest sheet.
  sheet.SetValue(kMaxRows - 1, kMaxCols - 1, Json::Value("end"));
  EXPECT_EQ(sheet.GetRowCount(), kMaxRows);
  EXPECT_EQ(sheet.GetColCount(), kMaxCols);
  EXPECT_EQ(sheet.GetValue(kMaxRows - 1, kMaxCols - 1), "end");
}

TEST_F(SheetTest, SetValueKeepsTypesAndClearsOnEmpty) {
  struct Case {
    const char* cellBefore;  // nullptr: no cell
    const char* value;
    const char* cellAfter;  // nullptr: no cell
  } cases[] = {
      {nullptr, "\"a\"", R"({"v":"a"})"},
      {nullptr, "12.5", R"({"v":12.5})"},
      {nullptr, "0", R"({"v":0})"},
      {nullptr, "false", R"({"v":false})"},
      {R"({"v":"old","m":{"s":{"b":1}}})", "\"new\"", R"({"v":"new","m":{"s":{"b":1}}})"},
      {R"({"v":"old","m":{"s":{"b":1}}})", "\"\"", R"({"m":{"s":{"b":1}}})"},
      {R"({"v":"old"})", "null", "{}"},
      {"null", "\"a\"", R"({"v":"a"})"},
      {nullptr, "\"\"", nullptr},  // clearing creates no cell
      {nullptr, "null", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cellBefore ? c.cellBefore : "none") + " <- " + c.value);
    Json::Value content(Json::objectValue);
    if (c.cellBefore != nullptr) content["cells"]["2"]["3"] = J(c.cellBefore);
    Sheet sheet(content);
    sheet.SetValue(2, 3, J(c.value));
    if (c.cellAfter == nullptr) {
      EXPECT_FALSE(sheet.HasCell(2, 3));
    } else {
      EXPECT_EQ(T(sheet.GetCell(2, 3)), T(J(c.cellAfter)));
    }
  }
}

TEST_F(SheetTest, GetValueDefaultsToEmptyText) {
  Json::Value content =
      J(R"({"cells":{"0":{"0":{"v":5},"1":{"m":{}},"2":null,"3":7},"1":null,"2":"row"}})");
  Sheet sheet(content);
  EXPECT_EQ(sheet.GetValue(0, 0), 5);
  for (auto [r, c] : std::vector<std::pair<int, int>>{
           {0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 0}, {2, 0}, {9, 9}, {-1, -1}, {INT_MAX, 0}}) {
    SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
    EXPECT_EQ(sheet.GetValue(r, c), "");
  }
  Json::Value noCells = J(R"({"cells":[1,2]})");
  EXPECT_EQ(Sheet(noCells).GetValue(0, 0), "");
}

TEST_F(SheetTest, HasCellGetCellAndGetCellMutable) {
  Json::Value content = J(R"({"cells":{"1":{"2":{"v":"a"},"3":null},"4":null}})");
  Sheet sheet(content);
  EXPECT_TRUE(sheet.HasCell(1, 2));
  EXPECT_FALSE(sheet.HasCell(1, 3));  // a null cell is an absent one
  EXPECT_FALSE(sheet.HasCell(4, 0));
  EXPECT_FALSE(sheet.HasCell(0, 0));
  EXPECT_EQ(T(sheet.GetCell(1, 2)), R"({"v":"a"})");
  EXPECT_TRUE(sheet.GetCell(7, 7).isNull());

  sheet.GetCellMutable(1, 2)["v"] = "b";
  EXPECT_EQ(sheet.GetValue(1, 2), "b");
  Json::Value& fresh = sheet.GetCellMutable(4, 6);
  EXPECT_TRUE(fresh.isNull());
  EXPECT_FALSE(sheet.HasCell(4, 6));
  EXPECT_TRUE(content["cells"]["4"].isObject());
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.GetCellMutable(-1, 0); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.GetCellMutable(0, kMaxCols); });
}

// ---------------------------------------------------------------------------------------------
// Cell meta: style, border, comment, other keys

TEST_F(SheetTest, SetStyle) {
  struct Case {
    const char* before;  // cell; nullptr: none
    const char* style;
    bool overwrite;
    const char* after;  // cell; nullptr: none
  } cases[] = {
      {nullptr, R"({"bold":true})", false, R"({"m":{"s":{"bold":true}}})"},
      {R"({"v":1,"m":{"s":{"a":1,"b":2,"c":3}}})", R"({"a":null,"b":9})", false,
       R"({"v":1,"m":{"s":{"b":9,"c":3}}})"},
      {R"({"m":{"s":{"a":1,"b":2}}})", R"({"c":3})", true, R"({"m":{"s":{"c":3}}})"},
      {R"({"m":{"s":{"a":1},"c":{"c":"x","t":1,"e":2}}})", "null", true,
       R"({"m":{"c":{"c":"x","t":1,"e":2}}})"},
      {R"({"m":{"s":"bold"}})", R"({"a":1})", false, R"({"m":{"s":{"a":1}}})"},
      {R"({"m":{"s":[1]}})", "null", false, R"({"m":{"s":{}}})"},
      // Not null and not an object: nothing happens.
      {R"({"m":{"s":{"a":1}}})", "\"bold\"", false, R"({"m":{"s":{"a":1}}})"},
      {R"({"m":{"s":{"a":1}}})", "[1]", true, R"({"m":{"s":{"a":1}}})"},
      {nullptr, "5", false, nullptr},
      {nullptr, "null", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "none") + " + " + c.style);
    Json::Value content(Json::objectValue);
    if (c.before != nullptr) content["cells"]["0"]["1"] = J(c.before);
    Sheet sheet(content);
    sheet.SetStyle(0, 1, J(c.style), c.overwrite);
    if (c.after == nullptr) {
      EXPECT_FALSE(sheet.HasCell(0, 1));
    } else {
      EXPECT_EQ(T(sheet.GetCell(0, 1)), T(J(c.after)));
    }
  }
}

TEST_F(SheetTest, SetBorderMergesSidesAndSkipsNullEntries) {
  struct Case {
    const char* before;  // cell; nullptr: none
    const char* border;
    bool overwrite;
    const char* after;  // "m"."b" afterwards; nullptr: absent
  } cases[] = {
      {nullptr, R"(["t",null,"b",null])", false, R"(["t",null,"b",null])"},
      {R"({"m":{"b":["t","r","b","l"]}})", R"([null,"R",null,"L"])", false, R"(["t","R","b","L"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", "[null,null,null,null]", false, R"(["t","r","b","l"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", R"(["T",null,null,null,"extra"])", false,
       R"(["T","r","b","l"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", R"([null,"R",null,null,"extra"])", true,
       R"([null,"R",null,null,"extra"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", "null", true, nullptr},
      {R"({"m":{"b":"odd"}})", R"(["T",null,null,null])", false, R"(["T",null,null,null])"},
      {nullptr, "null", false, "[null,null,null,null]"},
      // Not null and not an array of at least four: nothing happens.
      {R"({"m":{"b":["t","r","b","l"]}})", R"(["x","y"])", false, R"(["t","r","b","l"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", R"(["x","y"])", true, R"(["t","r","b","l"])"},
      {R"({"m":{"b":["t","r","b","l"]}})", R"({"0":"x"})", true, R"(["t","r","b","l"])"},
      {nullptr, R"(["x","y","z"])", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "none") + " + " + c.border);
    Json::Value content(Json::objectValue);
    if (c.before != nullptr) content["cells"]["5"]["0"] = J(c.before);
    Sheet sheet(content);
    sheet.SetBorder(5, 0, J(c.border), c.overwrite);
    if (c.after == nullptr) {
      EXPECT_TRUE(sheet.GetBorder(5, 0).isNull());
    } else {
      EXPECT_EQ(T(sheet.GetBorder(5, 0)), T(J(c.after)));
    }
  }
}

TEST_F(SheetTest, SetCommentReplacesWholeAndEmptyTextRemoves) {
  Json::Value content =
      J(R"({"cells":{"1":{"1":{"v":"x","m":{"c":{"c":"old","t":1,"e":1,"z":0}}}}}})");
  Sheet sheet(content);
  sheet.SetComment(1, 1, "new", 18446744073709551615ull, 4294967295u);
  EXPECT_EQ(T(sheet.GetComment(1, 1)), R"({"c":"new","e":4294967295,"t":18446744073709551615})");
  EXPECT_EQ(sheet.GetComment(1, 1)["t"].asUInt64(), 18446744073709551615ull);
  EXPECT_EQ(sheet.GetComment(1, 1)["e"].asUInt(), 4294967295u);

  sheet.SetComment(1, 1, "", 0, 0);
  EXPECT_TRUE(sheet.GetComment(1, 1).isNull());
  EXPECT_EQ(T(sheet.GetCell(1, 1)), R"({"m":{},"v":"x"})");

  // Removing a comment of a missing cell creates nothing.
  sheet.SetComment(8, 8, "", 0, 0);
  EXPECT_FALSE(content["cells"].isMember("8"));

  sheet.SetComment(0, 0, "hello", 12, 1026);
  EXPECT_EQ(T(sheet.GetMeta(0, 0)), R"({"c":{"c":"hello","e":1026,"t":12}})");
}

TEST_F(SheetTest, SetMetaSetsAndRemovesOpaqueKeys) {
  Json::Value content = J("{}");
  Sheet sheet(content);
  sheet.SetMeta(2, 2, "fmt", J(R"({"n":"0.00"})"));
  sheet.SetMeta(2, 2, "lock", Json::Value(true));
  EXPECT_EQ(T(sheet.GetMeta(2, 2)), R"({"fmt":{"n":"0.00"},"lock":true})");
  sheet.SetMeta(2, 2, "fmt", Json::Value());
  EXPECT_EQ(T(sheet.GetMeta(2, 2)), R"({"lock":true})");
  sheet.SetMeta(2, 2, "s", J(R"({"bold":1})"));
  EXPECT_EQ(T(sheet.GetStyle(2, 2)), R"({"bold":1})");
  sheet.SetMeta(3, 3, "fmt", Json::Value());
  EXPECT_FALSE(sheet.HasCell(3, 3));
  EXPECT_FALSE(content["cells"].isMember("3"));
}

TEST_F(SheetTest, MetaGettersDefaultToNull) {
  Json::Value content = J(R"({"cells":{"0":{"0":{"m":"odd"},"1":{"m":{"s":{"a":1}}},"2":{}}}})");
  Sheet sheet(content);
  EXPECT_EQ(T(sheet.GetMeta(0, 0)), "\"odd\"");
  EXPECT_TRUE(sheet.GetStyle(0, 0).isNull());
  EXPECT_EQ(T(sheet.GetStyle(0, 1)), R"({"a":1})");
  EXPECT_TRUE(sheet.GetBorder(0, 1).isNull());
  EXPECT_TRUE(sheet.GetComment(0, 1).isNull());
  EXPECT_TRUE(sheet.GetMeta(0, 2).isNull());
  EXPECT_TRUE(sheet.GetMeta(5, 5).isNull());
}

// ---------------------------------------------------------------------------------------------
// Bad input: indexes out of bounds and stored members of the wrong type

TEST_F(SheetTest, WritesOutsideTheBoundsThrowAndChangeNothing) {
  struct Op {
    const char* name;
    std::function<void(Sheet&, int, int)> run;
  } ops[] = {
      {"SetValue", [](Sheet& s, int r, int c) { s.SetValue(r, c, Json::Value("x")); }},
      {"SetValue clear", [](Sheet& s, int r, int c) { s.SetValue(r, c, Json::Value("")); }},
      {"EnsureRowColExists", [](Sheet& s, int r, int c) { s.EnsureRowColExists(r, c); }},
      {"SetStyle", [](Sheet& s, int r, int c) { s.SetStyle(r, c, J(R"({"a":1})"), false); }},
      {"SetBorder", [](Sheet& s, int r, int c) { s.SetBorder(r, c, J("[1,2,3,4]"), true); }},
      {"SetComment", [](Sheet& s, int r, int c) { s.SetComment(r, c, "x", 1, 2); }},
      {"SetMeta", [](Sheet& s, int r, int c) { s.SetMeta(r, c, "k", Json::Value(1)); }},
      {"SetMeta remove", [](Sheet& s, int r, int c) { s.SetMeta(r, c, "k", Json::Value()); }},
      {"GetCellMutable", [](Sheet& s, int r, int c) { s.GetCellMutable(r, c); }},
      {"SetRowHeight", [](Sheet& s, int r, int) { s.SetRowHeight(r, Json::Value(5)); }},
      {"SetRowHidden", [](Sheet& s, int r, int) { s.SetRowHidden(r, true); }},
      {"SetColWidth", [](Sheet& s, int, int c) { s.SetColWidth(c, Json::Value(5)); }},
      {"SetColHidden", [](Sheet& s, int, int c) { s.SetColHidden(c, false); }},
      {"MergeCells",
       [](Sheet& s, int r, int c) {
         Json::Value range(Json::arrayValue);
         for (int v : {0, 0, r, c}) range.append(v);
         s.MergeCells(range);
       }},
      {"UnmergeCell",
       [](Sheet& s, int r, int c) {
         Json::Value range(Json::arrayValue);
         for (int v : {r, c, 1, 1}) range.append(v);
         s.UnmergeCell(range);
       }},
  };
  const std::pair<int, int> bad[] = {
      {-1, 0}, {0, -1}, {kMaxRows, 0}, {0, kMaxCols}, {INT_MIN, 0}, {0, INT_MAX}, {INT_MAX, 0},
  };
  for (const Op& op : ops) {
    for (auto [r, c] : bad) {
      // Row-only and column-only operations only see their own axis.
      if (std::string(op.name).find("Row") != std::string::npos && r >= 0 && r < kMaxRows) {
        continue;
      }
      if (std::string(op.name).find("Col") != std::string::npos &&
          std::string(op.name) != "EnsureRowColExists" && c >= 0 && c < kMaxCols) {
        continue;
      }
      SCOPED_TRACE(std::string(op.name) + " " + std::to_string(r) + "," + std::to_string(c));
      Json::Value content;
      Sheet(content).Init();
      content["cells"]["0"]["0"]["v"] = "keep";
      content["mergeCells"].append(J("[0,0,1,1]"));
      ExpectInvalidAndUnchanged(content, [&](Sheet& s) { op.run(s, r, c); });
    }
  }
}

TEST_F(SheetTest, WrongStoredMemberTypesThrowAndChangeNothing) {
  struct Case {
    const char* content;
    const char* op;
  } cases[] = {
      {R"({"cells":[]})", "value"},
      {R"({"cells":"x"})", "style"},
      {R"({"cells":{"1":5}})", "value"},
      {R"({"cells":{"1":[{"v":1}]}})", "meta"},
      {R"({"cells":{"1":{"2":"cell"}}})", "value"},
      {R"({"cells":{"1":{"2":[1]}}})", "mutable"},
      {R"({"cells":{"1":{"2":{"m":"meta"}}}})", "style"},
      {R"({"cells":{"1":{"2":{"m":[1]}}}})", "border"},
      {R"({"cells":{"1":{"2":{"m":7}}}})", "comment"},
      {R"({"cells":{"1":{"2":{"m":7}}}})", "meta"},
      {R"({"rowCount":[],"cells":{}})", "value"},
      {R"({"rowHeights":{"0":1}})", "height"},
      {R"({"rowHeights":"wide"})", "height"},
      {R"({"colWidths":7})", "width"},
      {R"({"hiddenRows":{}})", "hide"},
      {R"({"mergeCells":{"0":[0,0,1,1]}})", "merge"},
      {R"({"mergeCells":"x"})", "merge"},
      {"[1,2,3]", "value"},
      {"\"sheet\"", "height"},
      {"7", "merge"},
  };
  const std::map<std::string, std::function<void(Sheet&)>> ops = {
      {"value", [](Sheet& s) { s.SetValue(1, 2, Json::Value("x")); }},
      {"style", [](Sheet& s) { s.SetStyle(1, 2, J(R"({"a":1})"), false); }},
      {"border", [](Sheet& s) { s.SetBorder(1, 2, J("[1,2,3,4]"), false); }},
      {"comment", [](Sheet& s) { s.SetComment(1, 2, "c", 1, 1); }},
      {"meta", [](Sheet& s) { s.SetMeta(1, 2, "k", Json::Value(1)); }},
      {"mutable", [](Sheet& s) { s.GetCellMutable(1, 2); }},
      {"height", [](Sheet& s) { s.SetRowHeight(1, Json::Value(20)); }},
      {"width", [](Sheet& s) { s.SetColWidth(1, Json::Value(20)); }},
      {"hide", [](Sheet& s) { s.SetRowHidden(1, true); }},
      {"merge", [](Sheet& s) { s.MergeCells(J("[1,1,2,2]")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.content) + " " + c.op);
    Json::Value content = J(c.content);
    ExpectInvalidAndUnchanged(content, ops.at(c.op));
  }
}

TEST_F(SheetTest, ReadsOfOddlyTypedContentNeverThrow) {
  for (const char* text :
       {"null", "[]", "7", "\"s\"", R"({"cells":[]})", R"({"cells":{"0":"row"}})",
        R"({"cells":{"0":{"0":"cell"}}})", R"({"cells":{"0":{"0":{"m":[1]}}}})",
        R"({"rowHeights":"x","mergeCells":7,"fixedRowTop":[]})"}) {
    SCOPED_TRACE(text);
    Json::Value content = J(text);
    const std::string before = T(content);
    Sheet sheet(content);
    EXPECT_NO_THROW({
      sheet.HasCell(0, 0);
      sheet.GetCell(0, 0);
      EXPECT_EQ(sheet.GetValue(0, 0), "");
      sheet.GetMeta(0, 0);
      EXPECT_TRUE(sheet.GetStyle(0, 0).isNull());
      EXPECT_TRUE(sheet.GetBorder(0, 0).isNull());
      EXPECT_TRUE(sheet.GetComment(0, 0).isNull());
      sheet.GetRowHeights();
      sheet.GetMergeCells();
      sheet.GetFixedRowTop();
      sheet.GetFixedColLeft();
      sheet.Compact();
    });
    EXPECT_EQ(T(content), before);
  }
}

TEST_F(SheetTest, SetValueRejectsObjectsAndArrays) {
  Json::Value content = J(R"({"cells":{"0":{"0":{"v":"a"}}}})");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.SetValue(0, 0, J(R"({"f":1})")); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.SetValue(200, 0, J("[1]")); });
}

// ---------------------------------------------------------------------------------------------
// Compact

TEST_F(SheetTest, CompactRemovesNullRowsAndCellsWithinBounds) {
  struct Case {
    int from, to;
    const char* after;
  } cases[] = {
      {-1, -1, R"({"0":{"1":1},"2":{},"5":"odd","150":null})"},
      {2, 5, R"({"0":{"0":null,"1":1},"1":null,"2":{},"5":"odd","150":null})"},
      {0, 1, R"({"0":{"1":1},"2":{"0":null},"5":"odd","150":null})"},
      {-1, 200, R"({"0":{"1":1},"2":{},"5":"odd"})"},
      {3, 2, R"({"0":{"0":null,"1":1},"1":null,"2":{"0":null},"5":"odd","150":null})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to));
    Json::Value content = J(R"({"rowCount":100,"cells":
        {"0":{"0":null,"1":1},"1":null,"2":{"0":null},"5":"odd","150":null}})");
    Sheet sheet(content);
    sheet.Compact(c.from, c.to);
    EXPECT_EQ(T(content["cells"]), T(J(c.after)));
  }
}

// ---------------------------------------------------------------------------------------------
// Merges

TEST_F(SheetTest, MergeCellsReplacesOverlappingEntries) {
  struct Case {
    const char* before;  // "mergeCells"; nullptr: absent
    const char* range;
    const char* after;
  } cases[] = {
      {"[[0,0,1,1],[3,3,5,5],[2,5,2,6],[6,6,7,7]]", "[2,2,4,4]",
       "[[0,0,1,1],[6,6,7,7],[2,5,2,6],[2,2,4,4]]"},
      {nullptr, "[4,4,2,2]", "[[4,4,2,2]]"},  // appended as given, not normalised
      {"[]", "[0,0,0,1]", "[[0,0,0,1]]"},
      // Several overlaps, including entries stored with their corners reversed.
      {"[[0,0,0,0],[5,5,1,1],[2,2,9,9],[9,0,9,0]]", "[1,1,2,2]", "[[0,0,0,0],[9,0,9,0],[1,1,2,2]]"},
      // Touching is not overlapping.
      {"[[0,0,1,1],[2,0,3,1]]", "[0,2,3,3]", "[[0,0,1,1],[2,0,3,1],[0,2,3,3]]"},
      // Everything overlaps.
      {"[[1,1,1,2],[2,1,2,2]]", "[0,0,5,5]", "[[0,0,5,5]]"},
      // Entries that are not four-number ranges are dropped.
      {R"([7,[0,0,1,1],"x",[2,2],["a","b","c","d"],[true,0,1,1],[1e20,0,1,1],null])", "[5,5,6,6]",
       "[[0,0,1,1],[5,5,6,6]]"},
      // The largest sheet.
      {"[[0,0,1,1]]", "[1048575,16383,1048575,16382]", "[[0,0,1,1],[1048575,16383,1048575,16382]]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before ? c.before : "absent") + " + " + c.range);
    Json::Value content(Json::objectValue);
    if (c.before != nullptr) content["mergeCells"] = J(c.before);
    Sheet sheet(content);
    sheet.MergeCells(J(c.range));
    EXPECT_EQ(T(content["mergeCells"]), T(J(c.after)));
  }
}

TEST_F(SheetTest, MergeAndUnmergeRejectBadRanges) {
  for (const char* range :
       {"null", "[]", "[1,1,2]", "[1,1,2,2,3]", R"(["1",1,2,2])", "[1.5,1,2,2]", "[true,1,2,2]",
        "[null,1,2,2]", "[[1],1,2,2]", "[-1,0,2,2]", "[0,0,1048576,2]", "[0,16384,1,1]",
        "[0,0,4294967296,1]", R"({"0":1,"1":1,"2":2,"3":2})"}) {
    SCOPED_TRACE(range);
    Json::Value content = J(R"({"mergeCells":[[0,0,1,1],7],"cells":{"0":{"1":{"v":"a"}}}})");
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.MergeCells(J(range)); });
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.UnmergeCell(J(range)); });
  }
}

TEST_F(SheetTest, UnmergeCell) {
  struct Case {
    const char* merges;
    const char* range;
    const char* mergesAfter;
    const char* cellsAfter;
  } cases[] = {
      // Removes the merge holding (1, 1) and clears the values it covered, keeping their meta.
      {"[[0,0,0,3],[1,1,2,2],[5,5,6,6]]", "[1,1,2,2]", "[[0,0,0,3],[5,5,6,6]]",
       R"({"1":{"1":{"v":"tl"},"2":{"m":{"s":{"a":1}}}},"2":{"1":{},"2":{},"3":{"v":"out"}},
           "3":{"1":{"v":"below"}}})"},
      // The last entry takes the place of the removed one.
      {"[[1,1,2,2],[0,0,0,3],[5,5,6,6]]", "[1,1,2,2]", "[[5,5,6,6],[0,0,0,3]]", nullptr},
      // Only the first merge containing the top-left cell goes; corners given reversed.
      {"[[0,0,9,9],[1,1,2,2]]", "[2,2,1,1]", "[[1,1,2,2]]", nullptr},
      // Entries that are not ranges are passed over, not removed.
      {R"([7,"x",[1,1,2,2]])", "[1,1,2,2]", R"([7,"x"])", nullptr},
      // No merge holds the cell: the merges stay, the covered values are still cleared.
      {"[[5,5,6,6]]", "[1,1,2,2]", "[[5,5,6,6]]", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.merges) + " - " + c.range);
    Json::Value content = J(R"({"cells":{
        "1":{"1":{"v":"tl"},"2":{"v":"x","m":{"s":{"a":1}}}},
        "2":{"1":{"v":"y"},"2":{"v":"z"},"3":{"v":"out"}},
        "3":{"1":{"v":"below"}}}})");
    content["mergeCells"] = J(c.merges);
    Sheet sheet(content);
    sheet.UnmergeCell(J(c.range));
    EXPECT_EQ(T(content["mergeCells"]), T(J(c.mergesAfter)));
    EXPECT_EQ(sheet.GetValue(1, 1), "tl");
    EXPECT_EQ(sheet.GetValue(1, 2), "");
    EXPECT_EQ(sheet.GetValue(2, 1), "");
    EXPECT_EQ(sheet.GetValue(2, 2), "");
    EXPECT_EQ(sheet.GetValue(2, 3), "out");
    EXPECT_EQ(sheet.GetValue(3, 1), "below");
    EXPECT_EQ(T(sheet.GetStyle(1, 2)), R"({"a":1})");
    if (c.cellsAfter != nullptr) {
      EXPECT_EQ(T(content["cells"]), T(J(c.cellsAfter)));
    }
  }
}

TEST_F(SheetTest, UnmergeOfTheWholeSheetTouchesOnlyStoredCells) {
  // The range spans over 17 billion cells; only the stored ones may be visited.
  Json::Value content =
      J(R"({"mergeCells":[[0,0,1048575,16383]],"cells":{"0":{"0":{"v":1},"7":{"v":2}},
            "07":{"1":{"v":"kept: not a decimal key"}},"1048575":{"16383":{"v":3}},"x":null}})");
  Sheet sheet(content);
  sheet.UnmergeCell(J("[0,0,1048575,16383]"));
  EXPECT_EQ(T(content["mergeCells"]), "[]");
  EXPECT_EQ(sheet.GetValue(0, 0), 1);
  EXPECT_EQ(sheet.GetValue(0, 7), "");
  EXPECT_EQ(sheet.GetValue(kMaxRows - 1, kMaxCols - 1), "");
  EXPECT_EQ(content["cells"]["07"]["1"]["v"], "kept: not a decimal key");
  EXPECT_TRUE(sheet.GetCell(5, 5).isNull());
  EXPECT_FALSE(content["cells"].isMember("5"));  // nothing created on the way
}

TEST_F(SheetTest, CellsDoNotCreateNullMembersOnRead) {
  Json::Value content = J(R"({"cells":{}})");
  Sheet sheet(content);
  for (int i = 0; i < 50; ++i) {
    sheet.GetValue(i, i);
    sheet.HasCell(i, i);
    sheet.GetStyle(i, i);
  }
  EXPECT_EQ(T(content), R"({"cells":{}})");
}

// ---------------------------------------------------------------------------------------------
// Invariants over random sequences of operations

// Checks what every operation must keep: counts in bounds and in step with the cache, cell keys
// in decimal within the bounds, arrays dense and no longer than needed, merges four numbers.
void ExpectConsistent(const Json::Value& content, const Sheet& sheet, int maxWrittenRow,
                      int maxWrittenCol) {
  ASSERT_TRUE(content.isObject());
  EXPECT_EQ(content["rowCount"].asInt(), sheet.GetRowCount());
  EXPECT_EQ(content["colCount"].asInt(), sheet.GetColCount());
  EXPECT_LE(sheet.GetRowCount(), kMaxRows);
  EXPECT_LE(sheet.GetColCount(), kMaxCols);
  for (auto it = content["cells"].begin(); it != content["cells"].end(); ++it) {
    const int r = zoltsh::utils::toInt(it.name().c_str());
    EXPECT_EQ(zoltsh::utils::toString(r), it.name());
    EXPECT_TRUE(r >= 0 && r < kMaxRows) << r;
    for (auto c = it->begin(); c != it->end(); ++c) {
      const int col = zoltsh::utils::toInt(c.name().c_str());
      EXPECT_EQ(zoltsh::utils::toString(col), c.name());
      EXPECT_TRUE(col >= 0 && col < kMaxCols) << col;
    }
  }
  for (const char* key : {"rowHeights", "hiddenRows"}) {
    const Json::Value& a = content[key];
    EXPECT_LE(static_cast<int>(a.size()), maxWrittenRow + 1) << key;
    int n = 0;
    for (auto it = a.begin(); it != a.end(); ++it) ++n;
    EXPECT_EQ(n, static_cast<int>(a.size())) << key << " has holes";
  }
  for (const char* key : {"colWidths", "hiddenCols"}) {
    EXPECT_LE(static_cast<int>(content[key].size()), maxWrittenCol + 1) << key;
  }
  // Merges never overlap one another.
  std::vector<zoltsh::utils::Range> merges;
  for (const Json::Value& m : content["mergeCells"]) {
    ASSERT_TRUE(m.isArray() && m.size() == 4u) << T(m);
    zoltsh::utils::Range r(m);
    r.Normalize();
    for (const auto& other : merges) EXPECT_FALSE(r.Overlap(other)) << T(content["mergeCells"]);
    merges.push_back(r);
  }
}

TEST_F(SheetTest, RandomOperationSequencesKeepTheContentConsistent) {
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Mostly small indexes so operations meet one another; some beyond the bounds.
  auto index = [&](int max) {
    switch (pick(0, 9)) {
      case 0:
        return pick(-3, -1);
      case 1:
        return max + pick(0, 2);
      default:
        return pick(0, 40);
    }
  };
  for (int round = 0; round < 20; ++round) {
    Json::Value content;
    Sheet sheet(content);
    sheet.Init();
    int maxRow = -1, maxCol = -1;
    for (int step = 0; step < 300; ++step) {
      const int r = index(kMaxRows), c = index(kMaxCols);
      const Json::Value before = content;
      bool threw = false;
      try {
        switch (pick(0, 10)) {
          case 0:
            sheet.SetValue(r, c, pick(0, 3) == 0 ? Json::Value("") : Json::Value(step));
            break;
          case 1:
            sheet.SetStyle(r, c, J(R"({"a":1,"b":null})"), pick(0, 1) == 1);
            break;
          case 2:
            sheet.SetBorder(r, c, J(R"([null,"x",null,"y"])"), pick(0, 1) == 1);
            break;
          case 3:
            sheet.SetComment(r, c, pick(0, 1) ? "note" : "", 5, 6);
            break;
          case 4:
            sheet.SetRowHeight(r, pick(0, 1) ? Json::Value(20) : Json::Value());
            break;
          case 5:
            sheet.SetColHidden(c, pick(0, 1) == 1);
            break;
          case 6:
          case 7: {
            Json::Value range(Json::arrayValue);
            range.append(r);
            range.append(c);
            range.append(r + pick(-2, 3));
            range.append(c + pick(-2, 3));
            if (pick(0, 2) == 0) {
              sheet.UnmergeCell(range);
            } else {
              sheet.MergeCells(range);
            }
            break;
          }
          case 8:
            sheet.SetMeta(r, c, "k", pick(0, 1) ? Json::Value(1) : Json::Value());
            break;
          case 9:
            sheet.SetRowHidden(r, pick(0, 1) == 1);
            break;
          default:
            sheet.Compact(pick(-1, 10), pick(-1, 50));
            break;
        }
      } catch (const zoltsh::InvalidParameter& e) {
        threw = true;
        EXPECT_EQ(e.code, 1006);
        EXPECT_EQ(T(content), T(before)) << "a failed write changed the sheet";
      }
      if (!threw) {
        if (r >= 0 && r < kMaxRows) maxRow = std::max(maxRow, r);
        if (c >= 0 && c < kMaxCols) maxCol = std::max(maxCol, c);
      }
      ExpectConsistent(content, sheet, maxRow, maxCol);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
