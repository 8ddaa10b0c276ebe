// The sheet's features: filter, data validations, conditional formats, images and sorting.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "json/json_text.h"
#include "snapshot/sheet.h"
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

#define EXPECT_JSON(actual, expectedText) EXPECT_EQ(T(actual), T(J(expectedText)))

// Every test runs in an appliance root of its own.
class SheetFeatureTest : public ::testing::Test {
 protected:
  zoltsh::testing::TempRoot root_;
};

// Runs op and expects InvalidParameter (1006, "invalid parameter") with the content unchanged.
void ExpectInvalidAndUnchanged(Json::Value& content, const std::function<void(Sheet&)>& op) {
  const std::string before = T(content);
  Sheet sheet(content);
  try {
    op(sheet);
    ADD_FAILURE() << "no exception";
  } catch (const zoltsh::InvalidParameter& e) {
    EXPECT_EQ(e.code, 1006);
    EXPECT_STREQ(e.what(), "invalid parameter");
  }
  EXPECT_EQ(T(content), before);
}

// Runs op and expects the content unchanged, without an exception.
void ExpectNoChange(Json::Value& content, const std::function<void(Sheet&)>& op) {
  const std::string before = T(content);
  Sheet sheet(content);
  EXPECT_NO_THROW(op(sheet));
  EXPECT_EQ(T(content), before);
}

// Ranges that are not four integers inside the sheet bounds.
const char* const kBadRanges[] = {
    "null",          "{}",           "[1,2,3]",      "[1,2,3,4,5]", "[0,0,\"1\",1]",
    "[0,0,1.5,1]",   "[0,0,true,1]", "[-1,0,1,1]",   "[0,-1,1,1]",  "[0,0,1048576,1]",
    "[0,0,1,16384]", "[0,0,1,1e12]", "[0,0,null,1]",
};

// ---------------------------------------------------------------------------------------------
// Filter

TEST_F(SheetFeatureTest, CreateFilterResetsConditionsAndKeepsOtherMembers) {
  Json::Value content = J(R"({"filter":{"id":"old","enabled":false,"range":[0,0,1,1],
                              "filters":[{"x":1}],"sortOrder":"asc"}})");
  Sheet sheet(content);
  sheet.CreateFilter("f1", J("[4,3,2,1]"));  // stored with its corners in order
  EXPECT_JSON(content["filter"], R"({"id":"f1","enabled":true,"range":[2,1,4,3],"filters":[],
                                     "sortOrder":"asc"})");

  Json::Value empty = J("{}");
  Sheet fresh(empty);
  fresh.CreateFilter("f2", J("[0,0,1048575,16383]"));
  EXPECT_JSON(empty["filter"], R"({"id":"f2","enabled":true,"range":[0,0,1048575,16383],
                                   "filters":[]})");
}

TEST_F(SheetFeatureTest, CreateFilterRejectsBadRangesAndFilterOfWrongType) {
  for (const char* range : kBadRanges) {
    SCOPED_TRACE(range);
    Json::Value content = J(R"({"filter":{"id":"f","enabled":false}})");
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.CreateFilter("f", J(range)); });
  }
  for (const char* content : {R"({"filter":[1]})", R"({"filter":"x"})", "[]"}) {
    SCOPED_TRACE(content);
    Json::Value c = J(content);
    ExpectInvalidAndUnchanged(c, [](Sheet& s) { s.CreateFilter("f", J("[0,0,1,1]")); });
  }
}

TEST_F(SheetFeatureTest, EnableAndDisableFilterOnlyForItsId) {
  Json::Value content = J(R"({"filter":{"id":"f","enabled":false,"range":[0,0,3,3]}})");
  Sheet sheet(content);
  sheet.EnableFilter("other");
  EXPECT_FALSE(content["filter"]["enabled"].asBool());
  sheet.EnableFilter("f");
  EXPECT_TRUE(content["filter"]["enabled"].asBool());
  sheet.DisableFilter("other");
  EXPECT_TRUE(content["filter"]["enabled"].asBool());
  sheet.DisableFilter("f");
  EXPECT_FALSE(content["filter"]["enabled"].asBool());

  // No filter, or one that cannot be read: nothing happens.
  for (const char* c :
       {"{}", R"({"filter":{}})", R"({"filter":[]})", R"({"filter":{"id":7}})", "null"}) {
    SCOPED_TRACE(c);
    Json::Value other = J(c);
    ExpectNoChange(other, [](Sheet& s) {
      s.EnableFilter("f");
      s.EnableFilter("7");
      s.DisableFilter("");
    });
  }
}

TEST_F(SheetFeatureTest, SetFilterWritesConditionOfColumnInsideEnabledFilter) {
  const char* kFilter = R"({"filter":{"id":"f","enabled":true,"range":[1,2,9,5],"filters":[]}})";
  struct Case {
    const char* content;
    const char* id;
    int col;
    const char* filters;  // expected "filters"
  } cases[] = {
      {kFilter, "f", 2, R"([{"c":1}])"},
      {kFilter, "f", 4, R"([null,null,{"c":1}])"},
      {kFilter, "f", 5, R"([null,null,null,{"c":1}])"},
      // Outside the range, another id, a disabled filter: nothing.
      {kFilter, "f", 1, "[]"},
      {kFilter, "f", 6, "[]"},
      {kFilter, "f", -1, "[]"},
      {kFilter, "f", INT_MIN, "[]"},
      {kFilter, "f", INT_MAX, "[]"},
      {kFilter, "g", 3, "[]"},
      {R"({"filter":{"id":"f","enabled":false,"range":[1,2,9,5],"filters":[]}})", "f", 3, "[]"},
      {R"({"filter":{"id":"f","enabled":"yes","range":[1,2,9,5],"filters":[]}})", "f", 3, "[]"},
      // A range removed with its rows, or damaged: nothing.
      {R"({"filter":{"id":"f","enabled":true,"range":null,"filters":[]}})", "f", 3, "[]"},
      {R"({"filter":{"id":"f","enabled":true,"range":[1,"2",9,5],"filters":[]}})", "f", 3, "[]"},
      {R"({"filter":{"id":"f","enabled":true,"range":[1,2.5,9,5],"filters":[]}})", "f", 3, "[]"},
      // Corners stored in reverse order still name columns 2..5.
      {R"({"filter":{"id":"f","enabled":true,"range":[9,5,1,2],"filters":[]}})", "f", 3,
       R"([null,{"c":1}])"},
      // Missing "filters" is created; an existing condition is replaced, the others stay.
      {R"({"filter":{"id":"f","enabled":true,"range":[1,2,9,5]}})", "f", 2, R"([{"c":1}])"},
      {R"({"filter":{"id":"f","enabled":true,"range":[1,2,9,5],"filters":[1,2,3]}})", "f", 3,
       R"([1,{"c":1},3])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.content) + " id=" + c.id + " col=" + std::to_string(c.col));
    Json::Value content = J(c.content);
    Sheet sheet(content);
    sheet.SetFilter(c.id, c.col, J(R"({"c":1})"));
    Json::Value expected = J(c.content);
    expected["filter"]["filters"] = J(c.filters);
    if (T(J(c.filters)) == "[]" && !J(c.content)["filter"].isMember("filters")) {
      expected["filter"].removeMember("filters");
    }
    EXPECT_EQ(T(content), T(expected));
  }
}

TEST_F(SheetFeatureTest, SetFilterIntoFiltersOfWrongTypeThrows) {
  Json::Value content =
      J(R"({"filter":{"id":"f","enabled":true,"range":[0,0,3,3],"filters":"x"}})");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.SetFilter("f", 1, J("1")); });
}

// ---------------------------------------------------------------------------------------------
// Data validations

TEST_F(SheetFeatureTest, CreateValidationCutsTheRangeOutOfOtherValidations) {
  Json::Value content = J(R"({"validation":{"Y":{"validId":"Y","type":"custom","f1":"B1>0",
                              "ranges":["B1:B10"]}}})");
  Sheet sheet(content);
  sheet.CreateValidation(J(R"({"validId":"X","type":"whole","f1":"B2<5","extra":[1]})"), "B2:B5");
  // Y's first cell is still B1, so its formula stays.
  EXPECT_JSON(content["validation"], R"({
      "Y":{"validId":"Y","type":"custom","f1":"B1>0","ranges":["B1","B6:B10"]},
      "X":{"validId":"X","type":"whole","f1":"B2<5","extra":[1],"ranges":["B2:B5"]}})");
}

TEST_F(SheetFeatureTest, CreateValidationAddsRangeToExistingOneAndMovesItsFormulas) {
  Json::Value content = J(R"({"validation":{"X":{"validId":"X","type":"custom","f1":"A5>0",
                              "f2":"$A$5+B6","ranges":["A5:A9"]}}})");
  Sheet sheet(content);
  // The stored members win over those sent with the range.
  sheet.CreateValidation(J(R"({"validId":"X","type":"other","f1":"Z1"})"), "A3:A4");
  EXPECT_JSON(content["validation"], R"({"X":{"validId":"X","type":"custom","f1":"A3>0",
                                      "f2":"$A$5+B4","ranges":["A5:A9","A3:A4"]}})");

  // Above the anchor again.
  sheet.CreateValidation(J(R"({"validId":"X"})"), "$A$1");
  EXPECT_JSON(content["validation"]["X"]["ranges"], R"(["A5:A9","A3:A4","$A$1"])");
  EXPECT_EQ(content["validation"]["X"]["f1"], "A1>0");

  // A list keeps its formulas: "f1" names the list's source cells.
  Json::Value list = J(R"({"validation":{"L":{"validId":"L","type":"list","operator":"listRange",
                           "f1":"D1:D5","ranges":["B5:B9"]}}})");
  Sheet listSheet(list);
  listSheet.CreateValidation(J(R"({"validId":"L"})"), "A1:A2");
  EXPECT_JSON(list["validation"]["L"], R"({"validId":"L","type":"list","operator":"listRange",
                                        "f1":"D1:D5","ranges":["B5:B9","A1:A2"]})");
}

TEST_F(SheetFeatureTest, CreateValidationOverItsOwnOnlyRangeStoresTheNewMembers) {
  Json::Value content = J(R"({"validation":{"X":{"validId":"X","f1":"old","ranges":["A1:A3"]}}})");
  Sheet sheet(content);
  sheet.CreateValidation(J(R"({"validId":"X","f1":"new"})"), "A1:A3");
  EXPECT_JSON(content["validation"], R"({"X":{"validId":"X","f1":"new","ranges":["A1:A3"]}})");

  // The stored validation itself passed as the argument, while the cut deletes it.
  Json::Value self = J(R"({"validation":{"Y":{"validId":"Y","f1":"B2","ranges":["B2"]}}})");
  Sheet selfSheet(self);
  selfSheet.CreateValidation(self["validation"]["Y"], "B2");
  EXPECT_JSON(self["validation"], R"({"Y":{"validId":"Y","f1":"B2","ranges":["B2"]}})");
}

TEST_F(SheetFeatureTest, CreateValidationOnEmptySheetAndOverWholeColumns) {
  Json::Value content = J("{}");
  Sheet sheet(content);
  sheet.CreateValidation(J(R"({"validId":"C","f1":"A1<>\"\""})"), "A:B");
  EXPECT_JSON(content["validation"], R"({"C":{"validId":"C","f1":"A1<>\"\"","ranges":["A:B"]}})");
  // Cutting B5 out of the columns (100 rows): blocks above, below and left of it remain.
  sheet.CreateValidation(J(R"({"validId":"D"})"), "B5");
  EXPECT_JSON(content["validation"]["C"]["ranges"], R"(["A1:B4","A6:B100","A5"])");
  EXPECT_EQ(content["validation"]["C"]["f1"], "A1<>\"\"");
}

TEST_F(SheetFeatureTest, RemoveValidationCutsRangesAndFollowsTheAnchor) {
  struct Case {
    const char* validation;  // stored validation "V"
    const char* cut;
    const char* expected;  // "V" afterwards, or null when deleted
  } cases[] = {
      {R"({"validId":"V","ranges":["A2:A5"]})", "A1:A10", "null"},
      {R"({"validId":"V","ranges":["A2:A5","C1"]})", "A1:C10", "null"},
      {R"({"validId":"V","ranges":["B2:E6"],"f1":"B2"})", "C3:D4",
       R"({"validId":"V","ranges":["B2:E2","B5:E6","B3:B4","E3:E4"],"f1":"B2"})"},
      {R"({"validId":"V","type":"custom","ranges":["B2:C5"],"f1":"B2>0","f2":"$B$2+C$2"})", "B2:C2",
       R"({"validId":"V","type":"custom","ranges":["B3:C5"],"f1":"B3>0","f2":"$B$2+C$2"})"},
      {R"({"validId":"V","type":"custom","ranges":["B2:C5"],"f1":"B2>0"})", "B2:B5",
       R"({"validId":"V","type":"custom","ranges":["C2:C5"],"f1":"C2>0"})"},
      {R"({"validId":"V","type":"list","ranges":["B2:C5"],"f1":"B2:B9"})", "B2:C2",
       R"({"validId":"V","type":"list","ranges":["B3:C5"],"f1":"B2:B9"})"},
      // A range the cut misses stays; texts are rewritten in plain form.
      {R"({"validId":"V","ranges":["$B$3","D5:B3"],"f1":"B3"})", "Z99",
       R"({"validId":"V","ranges":["B3","D5:B3"],"f1":"B3"})"},
      // Entries that name no cells are dropped.
      {R"({"validId":"V","ranges":[5,"B1:B3","nonsense"]})", "B2",
       R"({"validId":"V","ranges":["B1","B3"]})"},
      {R"({"validId":"V","ranges":"B1:B3"})", "Z1", "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.validation) + " minus " + c.cut);
    Json::Value content(Json::objectValue);
    content["validation"]["V"] = J(c.validation);
    content["validation"]["W"] = J(R"({"validId":"W","ranges":["A1:Z99"]})");
    Sheet sheet(content);
    sheet.RemoveValidation("V", c.cut);
    Json::Value expected(Json::objectValue);
    if (!J(c.expected).isNull()) expected["V"] = J(c.expected);
    expected["W"] = J(R"({"validId":"W","ranges":["A1:Z99"]})");
    EXPECT_EQ(T(content["validation"]), T(expected));
  }
}

TEST_F(SheetFeatureTest, RemoveValidationOfUnknownIdChangesNothing) {
  for (const char* c : {"{}", R"({"validation":{}})", R"({"validation":[1]})",
                        R"({"validation":{"V":"not an object"}})"}) {
    SCOPED_TRACE(c);
    Json::Value content = J(c);
    ExpectNoChange(content, [](Sheet& s) { s.RemoveValidation("V", "A1"); });
  }
}

TEST_F(SheetFeatureTest, ValidationsRejectBadRangeTextAndMalformedValidation) {
  const char* kStored = R"({"validation":{"V":{"validId":"V","ranges":["A1:C9"]}}})";
  for (const char* text : {"", "B3:", "3", "A0", "A0:A3", "XFE1", "ZZZZZZ1", "A1048577",
                           "A99999999999", "A1:B2:C3", "hello", "$", "A-1"}) {
    SCOPED_TRACE(text);
    Json::Value content = J(kStored);
    ExpectInvalidAndUnchanged(content,
                              [&](Sheet& s) { s.CreateValidation(J(R"({"validId":"X"})"), text); });
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.RemoveValidation("V", text); });
  }
  for (const char* validation : {"null", "[]", "\"X\"", "{}", R"({"validId":7})",
                                 R"({"validId":""})", R"({"validId":["X"]})"}) {
    SCOPED_TRACE(validation);
    Json::Value content = J(kStored);
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.CreateValidation(J(validation), "B2"); });
  }
  Json::Value wrongType = J(R"({"validation":["V"]})");
  ExpectInvalidAndUnchanged(wrongType,
                            [](Sheet& s) { s.CreateValidation(J(R"({"validId":"X"})"), "B2"); });
  // The largest cell is accepted.
  Json::Value content = J("{}");
  Sheet sheet(content);
  sheet.CreateValidation(J(R"({"validId":"X"})"), "XFD1048576");
  EXPECT_JSON(content["validation"]["X"]["ranges"], R"(["XFD1048576"])");
}

// ---------------------------------------------------------------------------------------------
// Conditional formats

TEST_F(SheetFeatureTest, CreateCfInsertsAtIndexOrAppends) {
  struct Case {
    int index;
    const char* expected;
  } cases[] = {
      {0, R"([{"cfId":"n"},{"cfId":"a"},{"cfId":"b"}])"},
      {1, R"([{"cfId":"a"},{"cfId":"n"},{"cfId":"b"}])"},
      {2, R"([{"cfId":"a"},{"cfId":"b"},{"cfId":"n"}])"},
      {3, R"([{"cfId":"a"},{"cfId":"b"},{"cfId":"n"}])"},
      {INT_MAX, R"([{"cfId":"a"},{"cfId":"b"},{"cfId":"n"}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    Json::Value content = J(R"({"cfs":[{"cfId":"a"},{"cfId":"b"}]})");
    Sheet sheet(content);
    sheet.CreateCf(J(R"({"cfId":"n"})"), c.index);
    EXPECT_JSON(content["cfs"], c.expected);
  }
  Json::Value empty = J("{}");
  Sheet sheet(empty);
  sheet.CreateCf(J(R"({"cfId":"n","ranges":["A1"]})"), 5);
  EXPECT_JSON(empty["cfs"], R"([{"cfId":"n","ranges":["A1"]}])");
}

TEST_F(SheetFeatureTest, CreateCfRejectsBadArguments) {
  for (const char* cf : {"null", "[]", "\"x\"", "3"}) {
    SCOPED_TRACE(cf);
    Json::Value content = J(R"({"cfs":[]})");
    ExpectInvalidAndUnchanged(content, [&](Sheet& s) { s.CreateCf(J(cf), 0); });
  }
  Json::Value content = J(R"({"cfs":[{"cfId":"a"}]})");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.CreateCf(J(R"({"cfId":"n"})"), -1); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.CreateCf(J(R"({"cfId":"n"})"), INT_MIN); });
  Json::Value wrongType = J(R"({"cfs":{"cfId":"a"}})");
  ExpectInvalidAndUnchanged(wrongType, [](Sheet& s) { s.CreateCf(J(R"({"cfId":"n"})"), 0); });
}

TEST_F(SheetFeatureTest, RemoveCfRemovesFirstMatchingObjectOnly) {
  struct Case {
    const char* cfs;
    const char* id;
    const char* expected;
  } cases[] = {
      {R"([{"cfId":"a"},{"cfId":"b","n":1},{"cfId":"b","n":2}])", "b",
       R"([{"cfId":"a"},{"cfId":"b","n":2}])"},
      {R"(["b",["b"],null,{"cfId":"b"},{"cfId":"c"}])", "b", R"(["b",["b"],null,{"cfId":"c"}])"},
      {R"([{"cfId":1},{"cfId":"1"}])", "1", R"([{"cfId":1}])"},
      {R"([{"cfId":"a"}])", "z", R"([{"cfId":"a"}])"},
      {"[]", "a", "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cfs);
    Json::Value content(Json::objectValue);
    content["cfs"] = J(c.cfs);
    Sheet sheet(content);
    sheet.RemoveCf(c.id);
    EXPECT_JSON(content["cfs"], c.expected);
  }
  for (const char* c : {"{}", R"({"cfs":{"cfId":"a"}})", R"({"cfs":"a"})"}) {
    Json::Value content = J(c);
    ExpectNoChange(content, [](Sheet& s) { s.RemoveCf("a"); });
  }
  Json::Value content = J(R"({"cfs":[{"cfId":""}]})");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.RemoveCf(""); });
}

// ---------------------------------------------------------------------------------------------
// Images

TEST_F(SheetFeatureTest, GetDrawingsMakesAnArray) {
  for (const char* c :
       {"{}", "null", R"({"drawing":null})", R"({"drawing":{"a":1}})", R"({"drawing":"x"})"}) {
    SCOPED_TRACE(c);
    Json::Value content = J(c);
    Sheet sheet(content);
    Json::Value& drawings = sheet.GetDrawings();
    EXPECT_TRUE(drawings.isArray());
    EXPECT_EQ(drawings.size(), 0u);
    EXPECT_EQ(&drawings, &content["drawing"]);
  }
  Json::Value content = J(R"({"drawing":[{"type":"img","id":"a"}]})");
  Sheet sheet(content);
  EXPECT_EQ(sheet.GetDrawings().size(), 1u);
}

TEST_F(SheetFeatureTest, InsertResizeAndRemoveImages) {
  Json::Value content = J(R"({"drawing":[{"type":"chart","id":"i1"}]})");
  Sheet sheet(content);
  sheet.InsertImage("i1", J(R"({"x":1})"));
  sheet.InsertImage("i2", Json::Value());
  sheet.InsertImage("i1", J(R"({"x":2})"));
  EXPECT_JSON(content["drawing"], R"([{"type":"chart","id":"i1"},
      {"type":"img","id":"i1","pos":{"x":1}},{"type":"img","id":"i2"},
      {"type":"img","id":"i1","pos":{"x":2}}])");

  // Only the first image with the id changes; other kinds of drawing are never touched.
  sheet.ResizeImage("i1", J(R"({"x":9})"));
  sheet.ResizeImage("i2", J("[1,2]"));
  sheet.ResizeImage("missing", J("{}"));
  EXPECT_JSON(content["drawing"], R"([{"type":"chart","id":"i1"},
      {"type":"img","id":"i1","pos":{"x":9}},{"type":"img","id":"i2","pos":[1,2]},
      {"type":"img","id":"i1","pos":{"x":2}}])");

  sheet.RemoveImage("i1");
  EXPECT_JSON(content["drawing"], R"([{"type":"chart","id":"i1"},
      {"type":"img","id":"i2","pos":[1,2]}])");
  sheet.RemoveImage("missing");
  sheet.RemoveImage("i2");
  EXPECT_JSON(content["drawing"], R"([{"type":"chart","id":"i1"}])");
}

TEST_F(SheetFeatureTest, ImagesToleratesStoredJunkAndRejectEmptyIds) {
  Json::Value junk = J(R"({"drawing":[null,"img",[1],{"type":"img","id":5},
                           {"type":"img","id":"a"}]})");
  Sheet sheet(junk);
  sheet.ResizeImage("a", J("1"));
  sheet.RemoveImage("5");
  EXPECT_JSON(junk["drawing"], R"([null,"img",[1],{"type":"img","id":5},
                                   {"type":"img","id":"a","pos":1}])");
  for (const char* c : {"{}", R"({"drawing":{"type":"img","id":"a"}})"}) {
    Json::Value content = J(c);
    ExpectNoChange(content, [](Sheet& s) {
      s.RemoveImage("a");
      s.ResizeImage("a", J("1"));
    });
  }
  Json::Value content = J(R"({"drawing":[{"type":"img","id":""}]})");
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.InsertImage("", J("1")); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.RemoveImage(""); });
  ExpectInvalidAndUnchanged(content, [](Sheet& s) { s.ResizeImage("", J("1")); });
  Json::Value notObject = J("[]");
  ExpectInvalidAndUnchanged(notObject, [](Sheet& s) { s.InsertImage("a", J("1")); });
}

// ---------------------------------------------------------------------------------------------
// Sorting

TEST_F(SheetFeatureTest, SortOverAllColumnsMovesWholeRows) {
  Json::Value content = J(R"({"rowCount":10,"colCount":30,"rowHeights":[null,null,20,30],
      "cells":{"1":{"0":{"v":"keep"}},"2":{"0":{"v":"a"},"29":{"v":"a2"}},"3":{"5":{"v":"b"}},
               "4":{"0":{"v":"c"}}}})");
  Sheet sheet(content);
  sheet.Sort(J("[1,0]"), J("[2,0,3,29]"));
  EXPECT_JSON(content, R"({"rowCount":10,"colCount":30,"rowHeights":[null,null,20,30],
      "cells":{"1":{"0":{"v":"keep"}},"2":{"5":{"v":"b"}},"3":{"0":{"v":"a"},"29":{"v":"a2"}},
               "4":{"0":{"v":"c"}}}})");

  // A cycle over three rows, one of them empty: the key that only lost its row holds null.
  // Rows 3, 4, 5 go to 5, 3, 4; row 5 is empty.
  sheet.SortRow(J("[2,0,1]"), J("[5,0,3,29]"));  // corners in any order
  EXPECT_JSON(content["cells"], R"({"1":{"0":{"v":"keep"}},"2":{"5":{"v":"b"}},
      "3":{"0":{"v":"c"}},"4":null,"5":{"0":{"v":"a"},"29":{"v":"a2"}}})");
  EXPECT_JSON(content["rowHeights"], "[null,null,20,30]");
}

TEST_F(SheetFeatureTest, SortRangeMovesOnlyTheCellsOfItsColumns) {
  Json::Value content = J(R"({"rowCount":10,"colCount":30,"cells":{
      "0":{"1":{"v":"a1"},"2":{"v":"a2"},"5":{"v":"out0"}},
      "1":{"1":{"v":"b1"},"0":{"v":"out1"}},
      "2":{"2":{"v":"c2","m":{"s":{"b":1}}}}}})");
  Sheet sheet(content);
  // Row 0 goes to row 2, row 1 to row 0, row 2 to row 1.
  sheet.Sort(J("[2,0,1]"), J("[0,1,2,2]"));
  EXPECT_JSON(content["cells"], R"({
      "0":{"5":{"v":"out0"},"1":{"v":"b1"}},
      "1":{"0":{"v":"out1"},"2":{"v":"c2","m":{"s":{"b":1}}}},
      "2":{"1":{"v":"a1"},"2":{"v":"a2"}}})");

  // Rows left without cells stay as empty objects; null rows in the range are dropped.
  Json::Value sparse = J(R"({"cells":{"3":{"1":{"v":"x"}},"5":null,"9":null}})");
  Sheet sparseSheet(sparse);
  sparseSheet.SortRange(J("[1,0]"), J("[3,1,5,1]"));
  EXPECT_JSON(sparse["cells"], R"({"3":{},"4":{"1":{"v":"x"}},"9":null})");
}

TEST_F(SheetFeatureTest, SortWithIdentityOrderChangesNothing) {
  const char* kContent = R"({"cells":{"0":{"1":{"v":"a"}},"1":{"1":{"v":"b"}}}})";
  for (const char* order : {"[0,1]", "[]", "[0]"}) {
    SCOPED_TRACE(order);
    Json::Value content = J(kContent);
    ExpectNoChange(content, [&](Sheet& s) {
      s.SortRange(J(order), J("[0,1,1,1]"));
      s.SortRow(J(order), J("[0,0,1,29]"));
      s.Sort(J(order), J("[0,0,1,29]"));
    });
  }
  Json::Value noCells = J("{}");
  ExpectNoChange(noCells, [](Sheet& s) { s.Sort(J("[1,0]"), J("[0,0,1,1]")); });
}

TEST_F(SheetFeatureTest, SortOfRangeNotStartingAtFirstColumnLeavesOtherColumns) {
  // As wide as the sheet but shifted right: only columns 5.. are in the range.
  Json::Value content = J(R"({"colCount":30,"cells":{"0":{"0":{"v":"a0"},"5":{"v":"a5"}},
                              "1":{"0":{"v":"b0"},"5":{"v":"b5"}}}})");
  Sheet sheet(content);
  sheet.Sort(J("[1,0]"), J("[0,5,1,34]"));
  EXPECT_JSON(content["cells"], R"({"0":{"0":{"v":"a0"},"5":{"v":"b5"}},
                                    "1":{"0":{"v":"b0"},"5":{"v":"a5"}}})");
}

TEST_F(SheetFeatureTest, SortRejectsOrdersThatWouldLoseRowsAndBadRanges) {
  const char* kContent =
      R"({"cells":{"0":{"0":{"v":"a"}},"1":{"0":{"v":"b"}},"2":{"0":{"v":"c"}}}})";
  using Op = std::function<void(Sheet&, const Json::Value&, const Json::Value&)>;
  const Op ops[] = {
      [](Sheet& s, const Json::Value& o, const Json::Value& r) { s.Sort(o, r); },
      [](Sheet& s, const Json::Value& o, const Json::Value& r) { s.SortRow(o, r); },
      [](Sheet& s, const Json::Value& o, const Json::Value& r) { s.SortRange(o, r); },
  };
  // Orders for the range of rows 0..2: duplicates and gaps would overwrite rows.
  for (const char* order :
       {"null", "{}", "\"1,0\"", "[1,1]", "[1,1,0]", "[0,2]", "[1,0,3]", "[-1,0]", "[0,1,2,3]",
        "[1.5,0]", "[\"1\",0]", "[true,false]", "[2147483648,0]", "[null,0]"}) {
    SCOPED_TRACE(order);
    for (const Op& op : ops) {
      Json::Value content = J(kContent);
      ExpectInvalidAndUnchanged(content, [&](Sheet& s) { op(s, J(order), J("[0,0,2,29]")); });
    }
  }
  for (const char* range : kBadRanges) {
    SCOPED_TRACE(range);
    for (const Op& op : ops) {
      Json::Value content = J(kContent);
      ExpectInvalidAndUnchanged(content, [&](Sheet& s) { op(s, J("[1,0]"), J(range)); });
    }
  }
  // The grid is of the wrong type, or a row that would take cells is not an object.
  Json::Value arrayCells = J(R"({"cells":[{"0":{"v":"a"}}]})");
  ExpectInvalidAndUnchanged(arrayCells, [](Sheet& s) { s.Sort(J("[1,0]"), J("[0,0,1,1]")); });
  Json::Value badRow = J(R"({"cells":{"0":{"0":{"v":"a"}},"1":"row"}})");
  ExpectInvalidAndUnchanged(badRow, [](Sheet& s) { s.SortRange(J("[1,0]"), J("[0,0,1,1]")); });
}

TEST_F(SheetFeatureTest, SortOfLongOrderNearTheLastRow) {
  // A reversal of the last 1000 rows of the largest sheet.
  Json::Value content(Json::objectValue);
  content["rowCount"] = kMaxRows;
  Json::Value order(Json::arrayValue);
  const int n = 1000, top = kMaxRows - n;
  for (int i = 0; i < n; ++i) order.append(n - 1 - i);
  content["cells"][std::to_string(top)]["3"]["v"] = "first";
  content["cells"][std::to_string(kMaxRows - 1)]["3"]["v"] = "last";
  Sheet sheet(content);
  sheet.Sort(order, J("[" + std::to_string(top) + ",0," + std::to_string(kMaxRows - 1) + ",5]"));
  EXPECT_EQ(content["cells"][std::to_string(top)]["3"]["v"], "last");
  EXPECT_EQ(content["cells"][std::to_string(kMaxRows - 1)]["3"]["v"], "first");
  EXPECT_EQ(content["cells"].size(), 2u);
}

}  // namespace
