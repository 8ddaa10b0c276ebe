// Fuzzes the command executor: the input is JSON text read as a batch of editing commands (an
// array; any other value is a batch of one) and runs against a small document rebuilt for every
// input: two visible sheets, "sh_1" with cells, sizes, merges, a filter, validations, a
// conditional format and an image, "sh_2" new and empty, and a deleted "sh_3". Whatever the batch,
// nothing crashes or throws, and afterwards
// - every loaded sheet passes the sheet invariant for content built from client commands;
// - the deleted sheet and the index (but for its editors) are as they were;
// - the index's editors are the ascending union of the old ones and the executor's;
// - a command that is not an object was rejected, and one for a sheet that is not visible (not a
//   compound) counted as done.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "../snapshot/sheet_invariant.h"
#include "core/zolt_syslog.h"
#include "json/json_text.h"
#include "snapshot/executor.h"
#include "snapshot/sheet.h"
#include "snapshot/spreadsheet.h"

namespace {

// Longer batches add little: the commands act on a sheet of a few rows and columns.
constexpr size_t kMaxInput = 8192;

constexpr char kIndex[] = R"({"maxIndex":3,"order":["sh_1","sh_2"],"sheets":{
  "sh_1":{"deleted":false,"title":"Sales"},"sh_2":{"deleted":false,"title":"Notes"},
  "sh_3":{"deleted":true,"title":"Old"}},"editors":[1001,7],"schemaVersion":1})";

constexpr char kSales[] = R"({"rowCount":12,"colCount":8,"fixedRowTop":1,"fixedColumnLeft":0,
  "mergeCells":[[0,0,0,2],[5,5,6,6]],
  "rowHeights":[30,null,24],"colWidths":[null,120],"hiddenRows":[null,null,null,true],
  "hiddenCols":[],
  "cells":{
    "0":{"0":{"v":"Region","m":{"s":{"fontWeight":"bold"}}},"3":{"v":"Q1"}},
    "1":{"0":{"v":"North"},"3":{"v":1200.5,"m":{"b":[{"style":"thin"},null,null,null]}}},
    "2":{"0":{"v":"South"},"3":{"v":"=D2*2","m":{"c":{"c":"check","t":1700000000000,"e":1001}}}},
    "3":{"0":{"v":"East"},"3":{"v":-4}},
    "7":{"1":{"v":true},"4":{"m":{"note":"x"}}}},
  "filter":{"id":"flt1","enabled":true,"range":[1,0,9,3],
    "filters":[null,{"type":"values","values":["North"]}]},
  "validation":{
    "val1":{"validId":"val1","type":"whole","operator":"between","f1":"E2","f2":"100",
      "ranges":["E2:E9"]},
    "val2":{"validId":"val2","type":"list","operator":"listRange","f1":"A2:A4",
      "ranges":["F2:F5"]}},
  "cfs":[{"cfId":"cf1","type":"cellIs","ranges":["D2:D9"],"f1":"D2>1000",
    "style":{"color":"#aa0000"}}],
  "drawing":[{"type":"img","id":"img1","pos":{"row":3,"col":4,"w":120,"h":80}}]})";

constexpr char kOld[] = R"({"rowCount":5,"colCount":5,"cells":{"0":{"0":{"v":"old"}}}})";

Json::Value Parse(std::string_view text) {
  Json::Value v;
  if (!Json::fromString(v, text)) std::abort();
  return v;
}

void Fail(const std::string& what, const std::vector<std::string>& details) {
  std::fprintf(stderr, "executor_fuzz: %s\n", what.c_str());
  for (const std::string& d : details) std::fprintf(stderr, "  %s\n", d.c_str());
  std::abort();
}

void BuildDocument(zoltsh::SpreadSheet& doc) {
  doc.index = Parse(kIndex);
  doc.sheets["sh_1"] = Parse(kSales);
  zoltsh::Sheet(doc.sheets["sh_2"]).Init();
  doc.sheets["sh_3"] = Parse(kOld);
}

bool IsText(const Json::Value& command, const char* key, const char* text) {
  const Json::Value* v = command.find(key, key + std::char_traits<char>::length(key));
  return v != nullptr && v->isString() && v->asString() == text;
}

// Not a compound and names no visible sheet: the command must count as done.
bool NamesNoVisibleSheet(const Json::Value& command) {
  return !IsText(command, "cmd", "compound") && !IsText(command, "id", "sh_1") &&
         !IsText(command, "id", "sh_2");
}

void CheckEditors(const zoltsh::SpreadSheet& doc, const std::vector<unsigned int>& recorded) {
  std::set<unsigned int> expected(recorded.begin(), recorded.end());
  const Json::Value before = Parse(kIndex);
  for (const Json::Value& uid : before["editors"]) expected.insert(uid.asUInt());
  Json::Value want(Json::arrayValue);
  for (unsigned int uid : expected) want.append(uid);
  if (!(doc.GetEditors() == want)) {
    Fail("index editors", {Json::toString(doc.GetEditors()), "expected " + Json::toString(want)});
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ZOLTSyslogSetHook([](int, const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  Json::Value batch;
  if (!Json::fromString(batch, std::string_view(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  if (!batch.isArray()) {
    Json::Value single(Json::arrayValue);
    single.append(Json::Value());
    single[0].swap(batch);
    batch.swap(single);
  }

  zoltsh::SpreadSheet doc;
  BuildDocument(doc);
  zoltsh::Executor executor(doc);
  for (const Json::Value& command : batch) {
    const bool done = executor.ExecuteCommand(command);
    if (!command.isObject() && done) Fail("a command that is not an object was applied", {});
    if (command.isObject() && NamesNoVisibleSheet(command) && !done) {
      Fail("a command for a sheet that is not visible failed", {Json::toString(command)});
    }
  }
  executor.UpdateIndex();
  const std::vector<unsigned int> recorded = executor.GetEditors();

  if (doc.sheets.size() != 3) Fail("the loaded sheets changed", {});
  for (const auto& [id, content] : doc.sheets) {
    const std::vector<std::string> errors = zoltsh::testing::SheetInvariantErrors(
        content, zoltsh::testing::InvariantMode::kClientCommands);
    if (!errors.empty()) Fail("sheet " + id + " is inconsistent", errors);
  }
  if (!(doc.sheets["sh_3"] == Parse(kOld))) {
    Fail("the deleted sheet changed", {Json::toString(doc.sheets["sh_3"])});
  }
  const Json::Value original = Parse(kIndex);
  bool sameIndex = doc.index.size() == original.size();
  for (const std::string& key : original.getMemberNames()) {
    sameIndex = sameIndex && (key == "editors" || doc.index[key] == original[key]);
  }
  if (!sameIndex) Fail("the index changed", {Json::toString(doc.index)});
  CheckEditors(doc, recorded);
  return 0;
}
