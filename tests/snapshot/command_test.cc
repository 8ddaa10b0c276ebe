// The editing commands applied to one sheet: name lookup, the effect of each kind, the checks that
// reject a command before anything changes, change lists with their skipped and logged changes,
// the row and column range loops, and row and column insertion with insert data.
#include "snapshot/command.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <climits>
#include <regex>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "json/json_text.h"
#include "sheet_invariant.h"
#include "snapshot/sheet.h"
#include "support/log_capture.h"

namespace {

namespace cmd = zoltsh::internal;
using zoltsh::Sheet;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

std::string T(const Json::Value& v) { return Json::toString(v); }

// A sheet of the default size with something of every kind stored in it.
constexpr char kBase[] = R"({
  "rowCount": 100, "colCount": 30, "fixedRowTop": 0, "fixedColumnLeft": 0,
  "mergeCells": [[5, 5, 6, 6]], "rowHeights": [], "colWidths": [], "hiddenRows": [],
  "hiddenCols": [],
  "cells": {"0": {"0": {"v": "a0", "m": {"s": {"bold": true}}}, "1": {"v": "b0"}},
            "1": {"0": {"v": "a1"}},
            "5": {"5": {"v": "top"}, "6": {"v": "gone"}}},
  "filter": {"id": "f1", "enabled": true, "range": [0, 0, 9, 3], "filters": []},
  "validation": {"v1": {"validId": "v1", "type": "number", "ranges": ["A1:B2"]}},
  "cfs": [{"cfId": "c1", "ranges": ["C1:C5"]}],
  "drawing": [{"type": "img", "id": "i1", "pos": {"x": 1}}]})";

// One change of a content: the member at path ("cells/0/1/v", array elements by number) set to
// the JSON text json, or removed when json is null.
struct Edit {
  const char* path;
  const char* json;
};

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

void ApplyEdit(Json::Value& content, const Edit& edit) {
  const std::vector<std::string> parts = Split(edit.path);
  Json::Value* at = &content;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    at = at->isArray() ? &(*at)[static_cast<Json::ArrayIndex>(std::stoul(parts[i]))]
                       : &(*at)[parts[i]];
  }
  if (edit.json == nullptr) {
    at->removeMember(parts.back());
  } else if (at->isArray()) {
    // Grown densely, as the sheet grows its arrays.
    const auto index = static_cast<Json::ArrayIndex>(std::stoul(parts.back()));
    while (at->size() < index) at->append(Json::Value());
    (*at)[index] = J(edit.json);
  } else {
    (*at)[parts.back()] = J(edit.json);
  }
}

// The member at path, null when missing.
Json::Value Lookup(const Json::Value& content, const std::string& path) {
  const Json::Value* at = &content;
  for (const std::string& part : Split(path)) {
    if (at->isArray()) {
      const auto i = static_cast<Json::ArrayIndex>(std::stoul(part));
      if (i >= at->size()) return Json::Value();
      at = &(*at)[i];
    } else if (at->isObject() && at->isMember(part)) {
      at = &(*at)[part];
    } else {
      return Json::Value();
    }
  }
  return *at;
}

Json::Value Content(const std::vector<Edit>& edits = {}) {
  Json::Value content = J(kBase);
  for (const Edit& e : edits) ApplyEdit(content, e);
  return content;
}

// Runs the function of the command's "cmd" through the same lookup the executor uses.
void Apply(Json::Value& content, const Json::Value& command) {
  const int kind = cmd::ParseCommand(command["cmd"].asString());
  const cmd::CommandFunction fn = cmd::CommandFunctionOf(kind);
  ASSERT_NE(fn, nullptr) << T(command);
  Sheet sheet(content);
  fn(sheet, command);
}

// The error code of what Apply throws, 0 when it throws nothing, -1 for a foreign exception.
int ApplyCode(Json::Value& content, const Json::Value& command, std::string* message = nullptr) {
  try {
    Apply(content, command);
  } catch (const zoltsh::InvalidParameter& e) {
    if (message != nullptr) *message = e.what();
    return e.code;
  } catch (const zoltsh::ZoltError& e) {
    return e.code;
  } catch (...) {
    return -1;
  }
  return 0;
}

const std::string kFile = "snapshot/command ";

// ---------------------------------------------------------------------------------------------
// Names

TEST(CommandNames, EachNameHasItsKindAndFunction) {
  const struct {
    const char* name;
    cmd::CommandFunction fn;
  } kinds[] = {
      {"value", cmd::SetValue},
      {"insert_row", cmd::InsertRow},
      {"insert_col", cmd::InsertCol},
      {"remove_row", cmd::RemoveRow},
      {"remove_col", cmd::RemoveCol},
      {"resize_row", cmd::ResizeRow},
      {"resize_col", cmd::ResizeCol},
      {"style", cmd::SetStyle},
      {"meta", cmd::SetMeta},
      {"merge", cmd::Merge},
      {"unmerge", cmd::Unmerge},
      {"border", cmd::SetBorder},
      {"fix_row", cmd::FixRow},
      {"fix_col", cmd::FixCol},
      {"hide_rows", cmd::HideRows},
      {"show_rows", cmd::ShowRows},
      {"hide_cols", cmd::HideCols},
      {"show_cols", cmd::ShowCols},
      {"sort", cmd::Sort},
      {"comment", cmd::SetComment},
      {"create_filter", cmd::CreateFilter},
      {"enable_filter", cmd::EnableFilter},
      {"disable_filter", cmd::DisableFilter},
      {"set_filter", cmd::SetFilter},
      {"create_validation", cmd::CreateValidation},
      {"remove_validation", cmd::RemoveValidation},
      {"create_cf", cmd::CreateCf},
      {"remove_cf", cmd::RemoveCf},
      {"insert_image", cmd::InsertImage},
      {"resize_image", cmd::ResizeImage},
      {"remove_image", cmd::RemoveImage},
      {"compound", nullptr},
  };
  static_assert(sizeof(kinds) / sizeof(kinds[0]) == 32);
  for (int kind = 0; kind < 32; ++kind) {
    SCOPED_TRACE(kinds[kind].name);
    EXPECT_EQ(cmd::ParseCommand(kinds[kind].name), kind);
    EXPECT_EQ(cmd::CommandFunctionOf(kind), kinds[kind].fn);
  }
  EXPECT_EQ(cmd::ParseCommand("compound"), cmd::kCommandCompound);
  EXPECT_EQ(cmd::kCommandCompound, 31);
  EXPECT_EQ(cmd::kCommandRemoveImage, 30);
}

TEST(CommandNames, UnknownNamesAndKinds) {
  for (const std::string& name :
       {std::string(""), std::string("Value"), std::string("VALUE"), std::string(" value"),
        std::string("value "), std::string("insert-row"), std::string("insertRow"),
        std::string("valu"), std::string("compounds"), std::string("value\0", 6),
        std::string("sh_1")}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(cmd::ParseCommand(name), cmd::kCommandUnknown);
  }
  for (int kind : {-1, 31, 32, -2, INT_MAX, INT_MIN}) {
    EXPECT_EQ(cmd::CommandFunctionOf(kind), nullptr) << kind;
  }
}

// ---------------------------------------------------------------------------------------------
// Every kind applied once

struct ApplyCase {
  const char* command;
  std::vector<Edit> setup;   // applied to the base content before the command
  std::vector<Edit> expect;  // what the command changes
  // Row and column moves touch many members: only the listed ones are compared.
  bool partial = false;
};

TEST(CommandApply, EveryKindChangesWhatItNames) {
  const ApplyCase cases[] = {
      {R"({"cmd":"value","changes":[[0,0,"x"],[2,3,4.5],[1,0,null],[150,0,1]]})",
       {},
       {{"cells/0/0/v", R"("x")"},
        {"cells/2", R"({"3":{"v":4.5}})"},
        {"cells/1/0", "{}"},
        {"cells/150", R"({"0":{"v":1}})"},
        {"rowCount", "151"}}},
      {R"({"cmd":"insert_row","index":1,"amount":2})",
       {},
       {{"rowCount", "102"},
        {"cells/0/0/v", R"("a0")"},
        {"cells/3/0/v", R"("a1")"},
        {"cells/7/5/v", R"("top")"},
        {"mergeCells", "[[7,5,8,6]]"}},
       true},
      {R"({"cmd":"insert_col","index":0,"amount":1})",
       {},
       {{"colCount", "31"}, {"cells/0/1/v", R"("a0")"}, {"cells/0/2/v", R"("b0")"}},
       true},
      {R"({"cmd":"remove_row","index":0,"amount":1})",
       {},
       {{"rowCount", "99"}, {"cells/0/0/v", R"("a1")"}, {"mergeCells", "[[4,5,5,6]]"}},
       true},
      {R"({"cmd":"remove_col","index":0,"amount":1})",
       {},
       {{"colCount", "29"}, {"cells/0/0/v", R"("b0")"}},
       true},
      {R"({"cmd":"resize_row","from":1,"to":2,"height":25})", {}, {{"rowHeights", "[null,25,25]"}}},
      {R"({"cmd":"resize_col","from":0,"to":1,"width":[7,8]})", {}, {{"colWidths", "[7,8]"}}},
      {R"({"cmd":"style","changes":[[0,0,{"italic":true,"bold":null}],[3,3,{"color":"red"}]]})",
       {},
       {{"cells/0/0/m/s", R"({"italic":true})"},
        {"cells/3", R"({"3":{"m":{"s":{"color":"red"}}}})"}}},
      {R"({"cmd":"style","overwrite":true,"changes":[[0,0,{"color":"red"}]]})",
       {},
       {{"cells/0/0/m/s", R"({"color":"red"})"}}},
      {R"({"cmd":"meta","changes":[{"key":"note","vals":[[0,1,"n"],[4,4,{"a":1}]]}]})",
       {},
       {{"cells/0/1/m", R"({"note":"n"})"}, {"cells/4", R"({"4":{"m":{"note":{"a":1}}}})"}}},
      {R"({"cmd":"merge","range":[0,0,1,1]})", {}, {{"mergeCells", "[[5,5,6,6],[0,0,1,1]]"}}},
      {R"({"cmd":"unmerge","range":[5,5,6,6]})", {}, {{"mergeCells", "[]"}, {"cells/5/6", "{}"}}},
      {R"({"cmd":"border","changes":[[0,0,[1,null,2,null]]]})",
       {},
       {{"cells/0/0/m/b", "[1,null,2,null]"}}},
      {R"({"cmd":"fix_row","row":3})", {}, {{"fixedRowTop", "3"}}},
      {R"({"cmd":"fix_col","col":2})", {}, {{"fixedColumnLeft", "2"}}},
      {R"({"cmd":"hide_rows","from":4,"to":4})",
       {},
       {{"hiddenRows", "[null,null,null,null,true]"}}},
      {R"({"cmd":"show_rows","from":0,"to":1})",
       {{"hiddenRows", "[true,true,true]"}},
       {{"hiddenRows", "[null,null,true]"}}},
      {R"({"cmd":"hide_cols","from":0,"to":1})", {}, {{"hiddenCols", "[true,true]"}}},
      {R"({"cmd":"show_cols","from":1,"to":5})",
       {{"hiddenCols", "[true,true,true,true,true,true,true]"}},
       {{"hiddenCols", "[true,null,null,null,null,null,true]"}}},
      {R"({"cmd":"sort","rowOrder":[1,0],"range":[0,0,1,29]})",
       {},
       {{"cells/0", R"({"0":{"v":"a1"}})"},
        {"cells/1", R"({"0":{"v":"a0","m":{"s":{"bold":true}}},"1":{"v":"b0"}})"}}},
      {R"({"cmd":"comment","uid":7,"changes":[[0,0,["hi",1000]],[1,1,["yo",5,9]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":1000,"e":7})"},
        {"cells/1/1", R"({"m":{"c":{"c":"yo","t":5,"e":9}}})"}}},
      {R"({"cmd":"create_filter","filterId":"f2","range":[1,1,4,4]})",
       {},
       {{"filter", R"({"id":"f2","enabled":true,"range":[1,1,4,4],"filters":[]})"}}},
      {R"({"cmd":"enable_filter","filterId":"f1"})",
       {{"filter/enabled", "false"}},
       {{"filter/enabled", "true"}}},
      {R"({"cmd":"disable_filter","filterId":"f1"})", {}, {{"filter/enabled", "false"}}},
      {R"({"cmd":"set_filter","filterId":"f1","col":2,"condition":{"op":"eq"}})",
       {},
       {{"filter/filters", R"([null,null,{"op":"eq"}])"}}},
      {R"({"cmd":"create_validation","range":"D1:D3",
           "validation":{"validId":"v2","type":"list","f1":"A1:A3"}})",
       {},
       {{"validation/v2", R"({"validId":"v2","type":"list","f1":"A1:A3","ranges":["D1:D3"]})"}}},
      {R"({"cmd":"remove_validation","range":"A1:B2","validId":"v1"})",
       {},
       {{"validation/v1", nullptr}}},
      {R"({"cmd":"create_cf","cf":{"cfId":"c2","ranges":["A1"]},"index":0})",
       {},
       {{"cfs", R"([{"cfId":"c2","ranges":["A1"]},{"cfId":"c1","ranges":["C1:C5"]}])"}}},
      {R"({"cmd":"remove_cf","cfId":"c1"})", {}, {{"cfs", "[]"}}},
      {R"({"cmd":"insert_image","imageId":"i2","position":{"y":2}})",
       {},
       {{"drawing/1", R"({"type":"img","id":"i2","pos":{"y":2}})"}}},
      {R"({"cmd":"resize_image","imageId":"i1","position":{"x":5}})",
       {},
       {{"drawing/0/pos", R"({"x":5})"}}},
      {R"({"cmd":"remove_image","imageId":"i1"})", {}, {{"drawing", "[]"}}},
  };
  std::vector<bool> covered(31, false);
  for (const ApplyCase& c : cases) {
    SCOPED_TRACE(c.command);
    const Json::Value command = J(c.command);
    covered.at(cmd::ParseCommand(command["cmd"].asString())) = true;
    Json::Value content = Content(c.setup);
    zoltsh::testing::LogCapture log;
    ASSERT_EQ(ApplyCode(content, command), 0);
    EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
    if (c.partial) {
      for (const Edit& e : c.expect) {
        EXPECT_EQ(T(Lookup(content, e.path)), T(J(e.json))) << e.path;
      }
    } else {
      Json::Value expected = Content(c.setup);
      for (const Edit& e : c.expect) ApplyEdit(expected, e);
      EXPECT_EQ(T(content), T(expected));
    }
  }
  for (int kind = 0; kind < 31; ++kind) EXPECT_TRUE(covered[kind]) << "kind " << kind;
}

// ---------------------------------------------------------------------------------------------
// Checks: rejected before anything changes

TEST(CommandChecks, RejectedCommandsThrowAndChangeNothing) {
  const char* cases[] = {
      R"({"cmd":"value"})",
      R"({"cmd":"value","changes":{"0":[0,0,"a"]}})",
      R"({"cmd":"value","changes":"[[0,0,1]]"})",
      R"({"cmd":"insert_row","index":1,"amount":0})",
      R"({"cmd":"insert_row","index":1})",
      R"({"cmd":"insert_row","index":-1,"amount":1})",
      R"({"cmd":"insert_row","index":1,"amount":-3,"data":{"changes":[[0,0,"x"]]}})",
      R"({"cmd":"insert_col","index":0,"amount":0})",
      R"({"cmd":"insert_col","index":-1,"amount":2})",
      R"({"cmd":"remove_row","index":0,"amount":0})",
      R"({"cmd":"remove_row","index":-1,"amount":1})",
      R"({"cmd":"remove_col","amount":0})",
      R"({"cmd":"remove_col","index":-5,"amount":1})",
      R"({"cmd":"resize_row","from":-1,"to":2,"height":5})",
      R"({"cmd":"resize_row","from":3,"to":2,"height":5})",
      R"({"cmd":"resize_row","from":0,"to":1048576,"height":5})",
      R"({"cmd":"resize_row","from":1048576,"to":1048576,"height":5})",
      R"({"cmd":"resize_col","from":-1,"to":-1,"width":5})",
      R"({"cmd":"resize_col","from":2,"to":1,"width":5})",
      R"({"cmd":"resize_col","from":0,"to":16384,"width":5})",
      R"({"cmd":"style"})",
      R"({"cmd":"style","changes":{}})",
      R"({"cmd":"meta","changes":{"key":"k","vals":[[0,0,1]]}})",
      R"({"cmd":"meta"})",
      R"({"cmd":"merge","range":[0,0,1]})",
      R"({"cmd":"merge"})",
      R"({"cmd":"merge","range":[0,0,1,1,1]})",
      R"({"cmd":"merge","range":"A1:B2"})",
      R"({"cmd":"unmerge","range":[5,5,6]})",
      R"({"cmd":"unmerge"})",
      R"({"cmd":"border","changes":5})",
      R"({"cmd":"fix_row","row":-1})",
      R"({"cmd":"fix_col","col":-1})",
      R"({"cmd":"hide_rows","from":5,"to":4})",
      R"({"cmd":"hide_rows","from":-1,"to":4})",
      R"({"cmd":"hide_rows","from":0,"to":1048576})",
      R"({"cmd":"show_rows","from":2,"to":1})",
      R"({"cmd":"show_rows","from":0,"to":1048576})",
      R"({"cmd":"hide_cols","from":1,"to":0})",
      R"({"cmd":"hide_cols","from":0,"to":16384})",
      R"({"cmd":"show_cols","from":-2,"to":0})",
      R"({"cmd":"show_cols","from":16383,"to":16384})",
      R"({"cmd":"sort","range":[0,0,1,29]})",
      R"({"cmd":"sort","rowOrder":{},"range":[0,0,1,29]})",
      R"({"cmd":"sort","rowOrder":[1,0],"range":[0,0,1]})",
      R"({"cmd":"sort","rowOrder":[1,0]})",
      R"({"cmd":"comment","changes":null})",
      R"({"cmd":"create_filter","filterId":"f2","range":[1,1,4]})",
      R"({"cmd":"create_filter","filterId":"f2"})",
      R"({"cmd":"create_validation","range":"","validation":{"validId":"v2"}})",
      R"({"cmd":"create_validation","validation":{"validId":"v2"}})",
      R"({"cmd":"create_validation","range":"D1"})",
      R"({"cmd":"create_validation","range":"D1","validation":null})",
      R"({"cmd":"remove_validation","range":"","validId":"v1"})",
      R"({"cmd":"remove_validation","validId":"v1"})",
      R"({"cmd":"create_cf","index":0})",
      R"({"cmd":"create_cf","cf":null,"index":0})",
      R"({"cmd":"create_cf","cf":{"cfId":"c2","ranges":["A1"]},"index":-1})",
      R"({"cmd":"remove_cf","cfId":""})",
      R"({"cmd":"remove_cf"})",
      R"({"cmd":"insert_image","imageId":"","position":{"x":1}})",
      R"({"cmd":"insert_image","position":{"x":1}})",
      R"({"cmd":"resize_image","imageId":"","position":{"x":1}})",
      R"({"cmd":"resize_image","imageId":"i1"})",
      R"({"cmd":"resize_image","imageId":"i1","position":null})",
      R"({"cmd":"remove_image","imageId":""})",
      R"({"cmd":"remove_image"})",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    Json::Value content = Content({{"hiddenRows", "[true,true,true]"}, {"hiddenCols", "[true]"}});
    const std::string before = T(content);
    zoltsh::testing::LogCapture log;
    std::string message;
    EXPECT_EQ(ApplyCode(content, J(text), &message), 1006);
    EXPECT_EQ(message, "invalid parameter");
    EXPECT_EQ(T(content), before);
  }
}

// ---------------------------------------------------------------------------------------------
// Change lists

struct LogLine {
  const char* message;  // "Wrong change format" and the like
  int change;           // index into "changes" of the change logged
  int part;             // -1: the whole change; 2: its payload
};

struct ChangeListCase {
  const char* command;
  std::vector<Edit> setup;
  std::vector<Edit> expect;
  std::vector<LogLine> logged;
};

TEST(CommandChangeLists, InvalidChangesAreSkippedWithTheirLogLine) {
  constexpr char kWrong[] = "Wrong change format";
  constexpr char kStyle[] = "Wrong style change format";
  constexpr char kValue[] = "Wrong value format";
  const ChangeListCase cases[] = {
      {R"({"cmd":"value","changes":[[0,0,"a"],[1,-1,"b"],[2,0],[3,0,{}]]})",
       {},
       {{"cells/0/0/v", R"("a")"}},
       {{kWrong, 1, -1}, {kWrong, 3, -1}}},
      // Row or column that is not an int, payloads of the wrong kind, elements that are not
      // changes of three.
      {R"({"cmd":"value","changes":[[-1,0,"n"],["1",0,"b"],[0,{},"c"],[1e12,0,"d"],
                                    [0,2147483648,"e"],[4,0,true],[4,1,[1]],5,"x",[1,1,"z",4],
                                    null,[],[1,1,"ok"]]})",
       {},
       {{"cells/1/1", R"({"v":"ok"})"}},
       {{kWrong, 0, -1},
        {kWrong, 1, -1},
        {kWrong, 2, -1},
        {kWrong, 3, -1},
        {kWrong, 4, -1},
        {kWrong, 5, -1},
        {kWrong, 6, -1}}},
      {R"({"cmd":"value","changes":[]})", {}, {}, {}},
      {R"({"cmd":"style","changes":[[0,0,{"i":1}],[-1,0,{"i":2}],[0,0,"red"],[0,0,null],
                                    [1,"x",{}],[0,1,[]],[2,2],[0,1e12,{}]]})",
       {},
       {{"cells/0/0/m/s", R"({"bold":true,"i":1})"}},
       {{kStyle, 1, -1},
        {kStyle, 2, -1},
        {kStyle, 3, -1},
        {kStyle, 4, -1},
        {kStyle, 5, -1},
        {kStyle, 7, -1}}},
      // Borders of the wrong kind are skipped without a word.
      {R"({"cmd":"border","changes":[[0,0,[1,2,3,4]],[-1,0,[1,2,3,4]],[0,1,{}],[0,1,"x"],
                                     [0,"x",[1,2,3,4]],[1e12,0,[1,2,3,4]],[0,1,null],[0,1]]})",
       {},
       {{"cells/0/0/m/b", "[1,2,3,4]"}},
       {}},
      {R"({"cmd":"border","overwrite":true,"changes":[[0,0,[null,5,null,null]]]})",
       {{"cells/0/0/m/b", "[1,2,3,4]"}},
       {{"cells/0/0/m/b", "[null,5,null,null]"}},
       {}},
      {R"({"cmd":"border","changes":[[0,0,[null,5,null,null]]]})",
       {{"cells/0/0/m/b", "[1,2,3,4]"}},
       {{"cells/0/0/m/b", "[1,5,3,4]"}},
       {}},
      // Comments: the editor is the payload's third element, else the command's "uid", else
      // 4294967295; a null payload removes the comment.
      {R"({"cmd":"comment","changes":[[0,0,["hi",5]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":5,"e":4294967295})"}},
       {}},
      {R"({"cmd":"comment","uid":7,"changes":[[0,0,["hi",5]],[0,1,["yo",6,3]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":5,"e":7})"},
        {"cells/0/1/m", R"({"c":{"c":"yo","t":6,"e":3}})"}},
       {}},
      {R"({"cmd":"comment","uid":-1,"changes":[[0,0,["hi",5]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":5,"e":4294967295})"}},
       {}},
      {R"({"cmd":"comment","uid":4294967301,"changes":[[0,0,["hi",5]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":5,"e":5})"}},
       {}},
      {R"({"cmd":"comment","changes":[[0,0,["hi",5.0]],[0,1,["big",18446744073709551615]]]})",
       {},
       {{"cells/0/0/m/c", R"({"c":"hi","t":5,"e":4294967295})"},
        {"cells/0/1/m", R"({"c":{"c":"big","t":18446744073709551615,"e":4294967295}})"}},
       {}},
      {R"({"cmd":"comment","uid":7,"changes":[[1,1,null]]})",
       {{"cells/1/1", R"({"v":1,"m":{"c":{"c":"old","t":1,"e":2},"k":1}})"}},
       {{"cells/1/1/m", R"({"k":1})"}},
       {}},
      {R"({"cmd":"comment","changes":[[-1,0,["hi",5]],[0,0,"hi"],[0,0,{}],[0,0,5],["0",0,["hi",5]],
                                      [0,0,["hi"]],[0,0,[5,5]],[0,0,["hi",1.5]],[0,0,["hi",-1]],
                                      [0,0,["hi","5"]],[0,0,["hi",5,"me"]],[0,0,["hi",5,1,2]],
                                      [0,0,["hi",1e20]],[0,0,[]],[0,0],7,[2,2,["ok",1,1]]]})",
       {},
       {{"cells/2", R"({"2":{"m":{"c":{"c":"ok","t":1,"e":1}}}})"}},
       {{kWrong, 0, -1},
        {kWrong, 1, -1},
        {kWrong, 2, -1},
        {kWrong, 3, -1},
        {kWrong, 4, -1},
        {kValue, 5, 2},
        {kValue, 6, 2},
        {kValue, 7, 2},
        {kValue, 8, 2},
        {kValue, 9, 2},
        {kValue, 10, 2},
        {kValue, 11, 2},
        {kValue, 12, 2},
        {kValue, 13, 2}}},
      // The editor must be a number.
      {R"({"cmd":"comment","uid":7,"changes":[[0,0,["hi",5,true]],[0,1,["hi",5,"8"]]]})",
       {},
       {},
       {{kValue, 0, 2}, {kValue, 1, 2}}},
  };
  for (const ChangeListCase& c : cases) {
    SCOPED_TRACE(c.command);
    const Json::Value command = J(c.command);
    Json::Value content = Content(c.setup);
    zoltsh::testing::LogCapture log;
    ASSERT_EQ(ApplyCode(content, command), 0);
    Json::Value expected = Content(c.setup);
    for (const Edit& e : c.expect) ApplyEdit(expected, e);
    EXPECT_EQ(T(content), T(expected));
    std::vector<std::string> want;
    for (const LogLine& l : c.logged) {
      const Json::Value& change = command["changes"][l.change];
      want.push_back(kFile + l.message + ": " + T(l.part < 0 ? change : change[l.part]));
    }
    EXPECT_EQ(log.ErrorLines(), want);
  }
}

TEST(CommandChangeLists, MetaChangesLogEachMalformedPart) {
  const Json::Value command = J(R"({"cmd":"meta","changes":[
      5,
      {"key":"k","vals":5},
      {"key":"","vals":[[0,0,"e"]]},
      {"vals":[[0,0,"e"]]},
      {"key":{},"vals":[[0,0,"e"]]},
      {"key":["k"],"vals":[[0,0,"e"]]},
      {"key":"k","vals":[[0,0,1],[0,1],7,[0,1,2,3],[1,1,2]]},
      {"key":"k","vals":{"0":[0,0,1]}},
      {"key":"n","vals":[[1,0,null]]}]})");
  Json::Value content = Content({{"cells/1/0/m", R"({"n":1,"o":2})"}});
  zoltsh::testing::LogCapture log;
  ASSERT_EQ(ApplyCode(content, command), 0);

  Json::Value expected = Content({{"cells/1/0/m", R"({"o":2})"}});
  ApplyEdit(expected, {"cells/0/0/m/k", "1"});
  ApplyEdit(expected, {"cells/1/1", R"({"m":{"k":2}})"});
  EXPECT_EQ(T(content), T(expected));

  const Json::Value& changes = command["changes"];
  const std::vector<std::string> want = {
      kFile + "changes [" + T(changes) + "] should be a object",
      kFile + "vals [5] should be a array and key can't be empty",
      kFile + R"(vals [[[0,0,"e"]]] should be a array and key can't be empty)",
      kFile + R"(vals [[[0,0,"e"]]] should be a array and key can't be empty)",
      kFile + R"(vals [[[0,0,"e"]]] should be a array and key can't be empty)",
      kFile + R"(vals [[[0,0,"e"]]] should be a array and key can't be empty)",
      kFile + "jChange [[0,1]] is not a valid change array",
      kFile + "jChange [7] is not a valid change array",
      kFile + "jChange [[0,1,2,3]] is not a valid change array",
      kFile + R"(vals [{"0":[0,0,1]}] should be a array and key can't be empty)",
  };
  EXPECT_EQ(log.ErrorLines(), want);
}

// A change outside the sheet's bounds is one invalid change: it is skipped like a negative one and
// the rest of the list is applied. A meta value the sheet refuses ends the command, with the
// changes before it kept.
TEST(CommandChangeLists, ChangesOutsideTheBoundsAreSkipped) {
  const struct {
    const char* command;
    std::vector<Edit> applied;
    std::vector<std::string> logged;
  } cases[] = {
      {R"({"cmd":"value","changes":[[0,0,"x"],[0,16384,"y"],[1,0,"z"]]})",
       {{"cells/0/0/v", R"("x")"}, {"cells/1/0/v", R"("z")"}},
       {kFile + R"(Wrong change format: [0,16384,"y"])"}},
      {R"({"cmd":"value","changes":[[0,0,"x"],[1048576,0,"y"],[1,0,"z"]]})",
       {{"cells/0/0/v", R"("x")"}, {"cells/1/0/v", R"("z")"}},
       {kFile + R"(Wrong change format: [1048576,0,"y"])"}},
      {R"({"cmd":"style","changes":[[0,0,{"i":1}],[0,16384,{"i":2}],[1,0,{"i":3}]]})",
       {{"cells/0/0/m/s/i", "1"}, {"cells/1/0/m/s/i", "3"}},
       {kFile + R"(Wrong style change format: [0,16384,{"i":2}])"}},
      {R"({"cmd":"border","changes":[[0,0,[1,2,3,4]],[1048576,0,[1,1,1,1]]]})",
       {{"cells/0/0/m/b", "[1,2,3,4]"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Json::Value content = Content();
    zoltsh::testing::LogCapture log;
    EXPECT_EQ(ApplyCode(content, J(c.command)), 0);
    Json::Value expected = Content(c.applied);
    EXPECT_EQ(T(content), T(expected));
    EXPECT_EQ(log.ErrorLines(), c.logged);
  }

  Json::Value content = Content();
  EXPECT_EQ(
      ApplyCode(content,
                J(R"({"cmd":"meta","changes":[{"key":"k","vals":[[0,0,1],[-1,0,2],[1,0,3]]}]})")),
      1006);
  EXPECT_EQ(T(content), T(Content({{"cells/0/0/m/k", "1"}})));
}

// ---------------------------------------------------------------------------------------------
// Range loops

TEST(CommandRangeLoops, ArraySizesAreIndexedByRowNumber) {
  const struct {
    const char* command;
    std::vector<Edit> setup;
    std::vector<Edit> expect;
  } cases[] = {
      {R"({"cmd":"resize_row","from":2,"to":3,"height":[10,20,30,40]})",
       {},
       {{"rowHeights", "[null,null,30,40]"}}},
      {R"({"cmd":"resize_row","from":2,"to":3,"height":[10,20]})",
       {{"rowHeights", "[1,2,3,4,5]"}},
       {{"rowHeights", "[1,2,null,null,5]"}}},
      {R"({"cmd":"resize_row","from":2,"to":3,"height":[10,20]})", {}, {{"rowHeights", "[]"}}},
      {R"({"cmd":"resize_row","from":1,"to":2,"height":"tall"})",
       {{"rowHeights", "[1,2,3,4]"}},
       {{"rowHeights", "[1,null,null,4]"}}},
      {R"({"cmd":"resize_row","from":0,"to":0})",
       {{"rowHeights", "[1,2]"}},
       {{"rowHeights", "[null,2]"}}},
      {R"({"cmd":"resize_col","from":1,"to":2,"width":[5,6,7]})",
       {},
       {{"colWidths", "[null,6,7]"}}},
      // A size or flag set beyond the sheet grows it to hold its column.
      {R"({"cmd":"resize_col","from":16383,"to":16383,"width":9})",
       {},
       {{"colWidths/16383", "9"}, {"colCount", "16384"}}},
      {R"({"cmd":"hide_cols","from":16383,"to":16383})",
       {},
       {{"hiddenCols/16383", "true"}, {"colCount", "16384"}}},
      {R"({"cmd":"hide_rows","from":150,"to":151})",
       {},
       {{"hiddenRows/150", "true"}, {"hiddenRows/151", "true"}, {"rowCount", "152"}}},
      {R"({"cmd":"show_rows","from":0,"to":0})", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Json::Value content = Content(c.setup);
    ASSERT_EQ(ApplyCode(content, J(c.command)), 0);
    Json::Value expected = Content(c.setup);
    for (const Edit& e : c.expect) ApplyEdit(expected, e);
    EXPECT_EQ(T(content), T(expected));
  }
}

// ---------------------------------------------------------------------------------------------
// Member types

TEST(CommandMemberTypes, IntegerAndTextMembersConvertScalars) {
  const ApplyCase cases[] = {
      {R"({"cmd":"fix_row","row":2.9})", {}, {{"fixedRowTop", "2"}}},
      {R"({"cmd":"fix_row","row":true})", {}, {{"fixedRowTop", "1"}}},
      {R"({"cmd":"fix_row","row":null})", {{"fixedRowTop", "5"}}, {{"fixedRowTop", "0"}}},
      {R"({"cmd":"fix_col"})", {{"fixedColumnLeft", "5"}}, {{"fixedColumnLeft", "0"}}},
      {R"({"cmd":"hide_rows","from":false,"to":1.5})", {}, {{"hiddenRows", "[true,true]"}}},
      {R"({"cmd":"create_cf","cf":{"cfId":"c9"},"index":2147483647})",
       {},
       {{"cfs/1", R"({"cfId":"c9"})"}}},
      {R"({"cmd":"create_filter","filterId":5,"range":[0,0,1,1]})",
       {},
       {{"filter", R"({"id":"5","enabled":true,"range":[0,0,1,1],"filters":[]})"}}},
      {R"({"cmd":"enable_filter","filterId":7})",
       {{"filter/id", R"("7")"}, {"filter/enabled", "false"}},
       {{"filter/enabled", "true"}}},
      {R"({"cmd":"set_filter","filterId":"f1","col":1.2,"condition":"c"})",
       {},
       {{"filter/filters", R"([null,"c"])"}}},
      {R"({"cmd":"insert_image","imageId":12})",
       {},
       {{"drawing/1", R"({"type":"img","id":"12"})"}}},
      {R"({"cmd":"remove_cf","cfId":3})",
       {{"cfs", R"([{"cfId":"3"},{"cfId":"c1"}])"}},
       {{"cfs", R"([{"cfId":"c1"}])"}}},
      {R"({"cmd":"meta","changes":[{"key":5,"vals":[[0,1,"n"]]}]})",
       {},
       {{"cells/0/1/m", R"({"5":"n"})"}}},
      {R"({"cmd":"insert_row","index":1.7,"amount":true})",
       {},
       {{"rowCount", "101"}, {"cells/0/0/v", R"("a0")"}, {"cells/2/0/v", R"("a1")"}},
       true},
  };
  for (const ApplyCase& c : cases) {
    SCOPED_TRACE(c.command);
    Json::Value content = Content(c.setup);
    ASSERT_EQ(ApplyCode(content, J(c.command)), 0);
    if (c.partial) {
      for (const Edit& e : c.expect) {
        EXPECT_EQ(T(Lookup(content, e.path)), T(J(e.json))) << e.path;
      }
    } else {
      Json::Value expected = Content(c.setup);
      for (const Edit& e : c.expect) ApplyEdit(expected, e);
      EXPECT_EQ(T(content), T(expected));
    }
  }
}

TEST(CommandMemberTypes, MembersOfTheWrongTypeAreRejectedBeforeAnyChange) {
  const char* cases[] = {
      R"({"cmd":"fix_row","row":{}})",
      R"({"cmd":"fix_row","row":[1]})",
      R"({"cmd":"fix_row","row":"3"})",
      R"({"cmd":"fix_row","row":2147483648})",
      R"({"cmd":"fix_row","row":-2147483649})",
      R"({"cmd":"fix_row","row":1e12})",
      R"({"cmd":"fix_col","col":"x"})",
      R"({"cmd":"insert_row","index":"1","amount":1})",
      R"({"cmd":"insert_row","index":1,"amount":{}})",
      R"({"cmd":"insert_col","index":[0],"amount":1})",
      R"({"cmd":"remove_col","index":0,"amount":[1]})",
      R"({"cmd":"remove_row","index":0,"amount":"1"})",
      R"({"cmd":"resize_row","from":"1","to":2,"height":5})",
      R"({"cmd":"resize_col","from":0,"to":{},"width":5})",
      R"({"cmd":"hide_cols","from":0,"to":1e10})",
      R"({"cmd":"show_rows","from":[0],"to":1})",
      R"({"cmd":"set_filter","filterId":"f1","col":"2","condition":1})",
      R"({"cmd":"set_filter","filterId":{},"col":2,"condition":1})",
      R"({"cmd":"create_cf","cf":{"cfId":"c9"},"index":2147483648})",
      R"({"cmd":"create_cf","cf":{"cfId":"c9"},"index":"0"})",
      R"({"cmd":"create_filter","filterId":["f"],"range":[0,0,1,1]})",
      R"({"cmd":"enable_filter","filterId":{}})",
      R"({"cmd":"disable_filter","filterId":["f1"]})",
      R"({"cmd":"create_validation","range":["D1"],"validation":{"validId":"v9"}})",
      R"({"cmd":"remove_validation","range":{},"validId":"v1"})",
      R"({"cmd":"remove_validation","range":"A1","validId":["v1"]})",
      R"({"cmd":"remove_cf","cfId":{}})",
      R"({"cmd":"insert_image","imageId":[1],"position":{"x":1}})",
      R"({"cmd":"resize_image","imageId":{},"position":{"x":1}})",
      R"({"cmd":"remove_image","imageId":["i1"]})",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    Json::Value content = Content();
    const std::string before = T(content);
    zoltsh::testing::LogCapture log;
    std::string message;
    EXPECT_EQ(ApplyCode(content, J(text), &message), 1006);
    EXPECT_EQ(message, "invalid parameter");
    EXPECT_EQ(T(content), before);
  }
}

// ---------------------------------------------------------------------------------------------
// Insertion with insert data

// Insert data for two rows inserted at 2: one change of each part, and the merge cut by the
// removal being undone.
Json::Value RowInsertData() {
  return J(R"({
    "format": {"style": [[2,0,{"bold":true}],[0,0,{"italic":true}]],
               "border": [[2,1,[1,null,null,null]]],
               "comment": [[3,0,["hi",5]]],
               "extra": [{"key":"k","vals":[[3,1,"x"]]}]},
    "changes": [[2,0,"v"],[3,1,7]],
    "info": [{"pluginName":"ZoltMergeCell","rowInfo":[[2,0,3,1]]}]})");
}

TEST(CommandInsertData, RowDataIsAppliedToTheInsertedRowsThenRepaired) {
  Json::Value content = Content({{"cells/2", R"({"0":{"v":"old"}})"}});
  Json::Value command = J(R"({"cmd":"insert_row","index":2,"amount":2,"uid":7})");
  command["data"] = RowInsertData();
  zoltsh::testing::LogCapture log;
  ASSERT_EQ(ApplyCode(content, command), 0);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];

  Sheet sheet(content);
  EXPECT_EQ(sheet.GetRowCount(), 102);
  EXPECT_EQ(T(sheet.GetValue(4, 0)), R"("old")") << "the old row moved down";
  EXPECT_EQ(T(sheet.GetCell(2, 0)), R"({"m":{"s":{"bold":true}},"v":"v"})");
  // Styles merge: nothing in the data overwrites.
  EXPECT_EQ(T(sheet.GetStyle(0, 0)), R"({"bold":true,"italic":true})");
  EXPECT_EQ(T(sheet.GetBorder(2, 1)), "[1,null,null,null]");
  // The command's "uid" is not passed on: comments of insert data have no editor.
  EXPECT_EQ(T(sheet.GetComment(3, 0)), T(J(R"({"c":"hi","t":5,"e":4294967295})")));
  EXPECT_EQ(T(sheet.GetCell(3, 1)), R"({"m":{"k":"x"},"v":7})");
  EXPECT_EQ(T(content["mergeCells"]), "[[7,5,8,6],[2,0,3,1]]");
  EXPECT_EQ(zoltsh::testing::SheetInvariantErrors(content), std::vector<std::string>{});
}

TEST(CommandInsertData, ColumnDataIsAppliedToTheInsertedColumnsThenRepaired) {
  Json::Value content = Content();
  const Json::Value command = J(R"({"cmd":"insert_col","index":1,"amount":1,"data":{
      "format": {"style": [[0,1,{"u":1}]], "border": [], "comment": [[1,1,["c",2,4]]],
                 "extra": []},
      "changes": [[0,1,"new"]],
      "info": [{"pluginName":"ZoltMergeCell","rowInfo":[[8,8,9,9]]},
               {"pluginName":"ZoltMergeCell","colInfo":[[0,1,1,1]]}]}})");
  zoltsh::testing::LogCapture log;
  ASSERT_EQ(ApplyCode(content, command), 0);
  Sheet sheet(content);
  EXPECT_EQ(sheet.GetColCount(), 31);
  EXPECT_EQ(T(sheet.GetValue(0, 2)), R"("b0")");
  EXPECT_EQ(T(sheet.GetCell(0, 1)), R"({"m":{"s":{"u":1}},"v":"new"})");
  EXPECT_EQ(T(sheet.GetComment(1, 1)), R"({"c":"c","e":4,"t":2})");
  // Only the column payloads are read.
  EXPECT_EQ(T(content["mergeCells"]), "[[5,6,6,7],[0,1,1,1]]");
  EXPECT_EQ(zoltsh::testing::SheetInvariantErrors(content), std::vector<std::string>{});
}

TEST(CommandInsertData, WithoutDataOnlyRowsAreCreated) {
  Json::Value content = Content();
  ASSERT_EQ(ApplyCode(content, J(R"({"cmd":"insert_row","index":100,"amount":3})")), 0);
  Json::Value expected = Content({{"rowCount", "103"}});
  EXPECT_EQ(T(content), T(expected)) << "rows added at the end move nothing";
}

// The five parts are applied in order; the first that is not an array ends the command with the
// rows created and the parts before it applied, and no repair.
TEST(CommandInsertData, APartThatIsNotAnArrayStopsTheCommandThere) {
  const char* parts[] = {"format/style", "format/border", "format/comment", "format/extra",
                         "changes"};
  for (int broken = 0; broken < 5; ++broken) {
    for (const char* replacement : std::vector<const char*>{"{}", "\"x\"", "5", nullptr}) {
      SCOPED_TRACE(std::string(parts[broken]) +
                   " := " + (replacement != nullptr ? replacement : "absent"));
      Json::Value data = RowInsertData();
      ApplyEdit(data, {parts[broken], replacement});
      Json::Value command = J(R"({"cmd":"insert_row","index":2,"amount":2})");
      command["data"] = data;
      Json::Value content = Content();
      EXPECT_EQ(ApplyCode(content, command), 1006);

      Sheet sheet(content);
      EXPECT_EQ(sheet.GetRowCount(), 102);
      EXPECT_EQ(T(content["mergeCells"]), "[[7,5,8,6]]") << "no repair";
      const bool applied[5] = {
          !sheet.GetStyle(2, 0).isNull(),
          !sheet.GetBorder(2, 1).isNull(),
          !sheet.GetComment(3, 0).isNull(),
          !sheet.GetMeta(3, 1)["k"].isNull(),
          sheet.HasCell(2, 0) && sheet.GetCell(2, 0).isMember("v"),
      };
      for (int p = 0; p < 5; ++p) EXPECT_EQ(applied[p], p < broken) << parts[p];
    }
  }
}

TEST(CommandInsertData, EmptyDataThrowsAfterCreatingTheRows) {
  Json::Value content = Content();
  EXPECT_EQ(ApplyCode(content, J(R"({"cmd":"insert_row","index":1,"amount":1,"data":{}})")), 1006);
  Sheet sheet(content);
  EXPECT_EQ(sheet.GetRowCount(), 101);
  EXPECT_EQ(T(sheet.GetValue(2, 0)), R"("a1")") << "the row was inserted";
  EXPECT_FALSE(sheet.HasCell(1, 0));
}

TEST(CommandInsertData, EmptyPartsCreateRowsOnly) {
  Json::Value content = Content();
  const Json::Value command = J(R"({"cmd":"insert_row","index":1,"amount":1,"data":{
      "format":{"style":[],"border":[],"comment":[],"extra":[]},"changes":[]}})");
  ASSERT_EQ(ApplyCode(content, command), 0);
  Sheet sheet(content);
  EXPECT_EQ(sheet.GetRowCount(), 101);
  EXPECT_EQ(T(sheet.GetValue(2, 0)), R"("a1")");
  EXPECT_FALSE(sheet.HasCell(1, 0));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Writes beyond the sheet

// Whatever a command stores at a row or column beyond the counts grows the sheet to hold it (the
// client's sheet had grown to show it), so nothing stored lies outside the counts; a later
// insertion that would push it past the bounds is refused instead.
TEST(CommandGrowth, WritesBeyondTheCountsGrowTheSheet) {
  const struct {
    const char* command;
    int rows, cols;
  } cases[] = {
      {R"({"cmd":"value","changes":[[150,40,"x"]]})", 151, 41},
      {R"({"cmd":"style","changes":[[500,0,{"color":"red"}]]})", 501, 30},
      {R"({"cmd":"border","changes":[[0,35,[1,1,1,1]]]})", 100, 36},
      {R"({"cmd":"comment","changes":[[120,0,["note",5]]]})", 121, 30},
      {R"({"cmd":"meta","changes":[{"key":"k","vals":[[0,31,1]]}]})", 100, 32},
      {R"({"cmd":"merge","range":[205,40,200,33]})", 206, 41},
      {R"({"cmd":"create_filter","filterId":"f","range":[300,0,10,3]})", 301, 30},
      {R"({"cmd":"create_validation","range":"AF200:AG210","validation":{"validId":"v9"}})", 210,
       33},
      {R"({"cmd":"sort","rowOrder":[1,0],"range":[99,0,110,0]})", 101, 30},
      {R"({"cmd":"resize_row","from":100,"to":100,"height":30})", 101, 30},
      // Clearing beyond the sheet stores nothing and leaves it as it is.
      {R"({"cmd":"style","changes":[[500,0,null]],"overwrite":true})", 100, 30},
      {R"({"cmd":"resize_row","from":100,"to":200})", 100, 30},
      {R"({"cmd":"show_cols","from":30,"to":40})", 100, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Json::Value content = Content();
    ASSERT_EQ(ApplyCode(content, J(c.command)), 0);
    EXPECT_EQ(content["rowCount"].asInt(), c.rows);
    EXPECT_EQ(content["colCount"].asInt(), c.cols);
  }

  // A merge in the last rows fills the sheet: inserting rows above it would push it past the
  // bounds and is refused with nothing changed.
  Json::Value content = Content();
  ASSERT_EQ(ApplyCode(content, J(R"({"cmd":"merge","range":[1048570,0,1048575,1]})")), 0);
  const std::string full = T(content);
  EXPECT_EQ(ApplyCode(content, J(R"({"cmd":"insert_row","index":0,"amount":10})")), 1006);
  EXPECT_EQ(T(content), full);
  // A filter given with reversed corners is stored in order.
  ASSERT_EQ(ApplyCode(content, J(R"({"cmd":"create_filter","filterId":"f","range":[10,3,5,0]})")),
            0);
  EXPECT_EQ(T(content["filter"]["range"]), "[5,0,10,3]");
}
