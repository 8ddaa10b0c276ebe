// Sheet management inside a spreadsheet's index: scripted sequences of create, duplicate, delete,
// recover and rename checked step by step against the index invariants, plus the content moves
// and the stored-file look-up.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "drive/zolt_drive.h"
#include "json/json_text.h"
#include "snapshot/sheet.h"
#include "snapshot/spreadsheet.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace {

using zoltsh::SpreadSheet;

Json::Value J(const char* text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

template <typename Fn>
int CodeOf(Fn&& fn) {
  try {
    fn();
  } catch (const zoltsh::ZoltError& e) {
    return e.code;
  }
  return 0;
}

// "order" lists exactly the visible sheets, once each; every id's number is at most "maxIndex".
void ExpectIndexConsistent(const SpreadSheet& doc) {
  std::set<std::string> visible;
  const Json::Value& sheets = doc.index["sheets"];
  for (const std::string& id : sheets.getMemberNames()) {
    ASSERT_EQ(id.rfind("sh_", 0), 0u) << id;
    EXPECT_LE(std::stoi(id.substr(3)), doc.GetMaxIndex()) << id;
    if (!sheets[id]["deleted"].asBool()) visible.insert(id);
  }
  std::set<std::string> ordered;
  for (const Json::Value& id : doc.GetOrder()) {
    EXPECT_TRUE(ordered.insert(id.asString()).second) << "twice in order: " << id.asString();
  }
  EXPECT_EQ(ordered, visible) << Json::toString(doc.index);
}

enum class Op { kCreate, kDup, kDelete, kRecover, kRename };

struct Step {
  Op op;
  const char* id;     // sheet operated on (source of kDup)
  const char* title;  // kCreate, kDup, kRename
  unsigned pos;       // kRecover
  int code;           // expected error code, 0 for success
  const char* order;  // expected "order" after the step (JSON)
};

struct Script {
  const char* name;
  std::vector<Step> steps;
};

// Each script starts from a new document with "A" (sh_1), "B" (sh_2) and "C" (sh_3), all loaded.
const std::vector<Script> kScripts = {
    {"create appends and numbers on",
     {{Op::kCreate, "", "D", 0, 0, R"(["sh_1","sh_2","sh_3","sh_4"])"},
      {Op::kCreate, "", "", 0, 0, R"(["sh_1","sh_2","sh_3","sh_4","sh_5"])"},
      {Op::kCreate, "", "", 0, 0, R"(["sh_1","sh_2","sh_3","sh_4","sh_5","sh_6"])"}}},
    {"duplicated titles are refused, deleted titles are free",
     {{Op::kCreate, "", "A", 0, 1006, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kDelete, "sh_1", "", 0, 0, R"(["sh_2","sh_3"])"},
      {Op::kCreate, "", "A", 0, 0, R"(["sh_2","sh_3","sh_4"])"},
      {Op::kDup, "sh_2", "C", 0, 1006, R"(["sh_2","sh_3","sh_4"])"}}},
    {"delete down to the last sheet",
     {{Op::kDelete, "sh_2", "", 0, 0, R"(["sh_1","sh_3"])"},
      {Op::kDelete, "sh_2", "", 0, 1032, R"(["sh_1","sh_3"])"},
      {Op::kDelete, "sh_9", "", 0, 1032, R"(["sh_1","sh_3"])"},
      {Op::kDelete, "sh_1", "", 0, 0, R"(["sh_3"])"},
      {Op::kDelete, "sh_3", "", 0, 1006, R"(["sh_3"])"}}},
    {"recover at a position or at the end",
     {{Op::kDelete, "sh_2", "", 0, 0, R"(["sh_1","sh_3"])"},
      {Op::kRecover, "sh_2", "", 0, 0, R"(["sh_2","sh_1","sh_3"])"},
      {Op::kDelete, "sh_2", "", 0, 0, R"(["sh_1","sh_3"])"},
      {Op::kRecover, "sh_2", "", 9, 0, R"(["sh_1","sh_3","sh_2"])"},
      {Op::kDelete, "sh_3", "", 0, 0, R"(["sh_1","sh_2"])"},
      {Op::kRecover, "sh_3", "", 1, 0, R"(["sh_1","sh_3","sh_2"])"}}},
    {"recover refuses visible and unknown sheets",
     {{Op::kRecover, "sh_1", "", 0, 1006, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRecover, "sh_7", "", 0, 1032, R"(["sh_1","sh_2","sh_3"])"}}},
    {"rename",
     {{Op::kRename, "sh_1", "Z", 0, 0, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRename, "sh_1", "Z", 0, 1006, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRename, "sh_2", "Z", 0, 1006, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRename, "sh_2", "A", 0, 0, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRename, "sh_2", "", 0, 0, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kRename, "sh_3", "", 0, 0, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kDelete, "sh_3", "", 0, 0, R"(["sh_1","sh_2"])"},
      {Op::kRename, "sh_3", "Q", 0, 1032, R"(["sh_1","sh_2"])"},
      {Op::kRename, "sh_8", "Q", 0, 1032, R"(["sh_1","sh_2"])"}}},
    {"dup takes the next number and goes last",
     {{Op::kDup, "sh_2", "B2", 0, 0, R"(["sh_1","sh_2","sh_3","sh_4"])"},
      {Op::kDup, "sh_2", "B3", 0, 1032, R"(["sh_1","sh_2","sh_3","sh_4"])"},
      {Op::kDelete, "sh_1", "", 0, 0, R"(["sh_2","sh_3","sh_4"])"},
      {Op::kDup, "sh_1", "A2", 0, 1032, R"(["sh_2","sh_3","sh_4"])"},
      {Op::kDup, "sh_4", "", 0, 0, R"(["sh_2","sh_3","sh_4","sh_5"])"}}},
    {"numbers of deleted and failed sheets are never reused",
     {{Op::kCreate, "", "D", 0, 0, R"(["sh_1","sh_2","sh_3","sh_4"])"},
      {Op::kDelete, "sh_4", "", 0, 0, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kCreate, "", "B", 0, 1006, R"(["sh_1","sh_2","sh_3"])"},
      {Op::kCreate, "", "E", 0, 0, R"(["sh_1","sh_2","sh_3","sh_5"])"}}},
};

SpreadSheet* NewDocument(SpreadSheet& doc) {
  for (const char* title : {"A", "B", "C"}) doc.CreateSheet(title, true);
  return &doc;
}

TEST(SpreadSheetSheets, ScriptsKeepTheIndexConsistent) {
  for (const Script& script : kScripts) {
    SCOPED_TRACE(script.name);
    SpreadSheet doc;
    NewDocument(doc);
    std::set<std::string> handedOut{"sh_1", "sh_2", "sh_3"};
    int lastNumber = 3;
    for (size_t i = 0; i < script.steps.size(); ++i) {
      const Step& step = script.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      const Json::Value before = doc.index;
      std::string newId;
      int code = CodeOf([&] {
        switch (step.op) {
          case Op::kCreate:
            newId = doc.CreateSheet(step.title, true);
            break;
          case Op::kDup:
            newId = doc.DupSheet(step.id, step.title);
            break;
          case Op::kDelete:
            doc.DeleteSheet(step.id);
            break;
          case Op::kRecover:
            doc.RecoverSheet(step.id, step.pos);
            break;
          case Op::kRename:
            doc.SetSheetTitle(step.id, step.title);
            break;
        }
      });
      EXPECT_EQ(code, step.code);
      EXPECT_EQ(doc.GetOrder(), J(step.order));
      ExpectIndexConsistent(doc);
      if (code != 0) {
        EXPECT_EQ(doc.index, before) << "a refused operation changed the index";
      }
      if (!newId.empty()) {
        EXPECT_TRUE(handedOut.insert(newId).second) << "id reused: " << newId;
        EXPECT_EQ(newId, "sh_" + std::to_string(lastNumber + 1));
        lastNumber = doc.GetMaxIndex();
        EXPECT_EQ(doc.GetSheetTitle(newId), step.title);
      }
      if (code == 0 && step.op == Op::kRename) {
        EXPECT_EQ(doc.GetSheetTitle(step.id), step.title);
      }
    }
  }
}

TEST(SpreadSheetSheets, NewDocumentCreatesNumberedInitialisedSheets) {
  SpreadSheet doc;
  EXPECT_EQ(doc.CreateSheet("A", true), "sh_1");
  EXPECT_EQ(doc.CreateSheet("", true), "sh_2");
  EXPECT_EQ(doc.CreateSheet("", false), "sh_3");
  EXPECT_EQ(doc.GetMaxIndex(), 3);
  EXPECT_EQ(Json::toString(doc.index["sheets"]["sh_1"]), R"({"deleted":false,"title":"A"})");
  // Initialised content is the default layout of a new sheet; without initialising none is made.
  Json::Value expected;
  zoltsh::Sheet(expected).Init();
  EXPECT_EQ(doc.sheets.at("sh_1"), expected);
  EXPECT_EQ(doc.GetSheetById("sh_2").GetRowCount(), 100);
  EXPECT_EQ(doc.sheets.count("sh_3"), 0u);
  // Content already loaded under the new id is kept.
  doc.sheets["sh_4"]["cells"]["0"]["0"]["v"] = 7;
  EXPECT_EQ(doc.CreateSheet("D", true), "sh_4");
  EXPECT_EQ(doc.GetSheetById("sh_4").GetValue(0, 0), 7);
}

TEST(SpreadSheetSheets, NextSheetIdConsumesANumberEachCall) {
  SpreadSheet doc;
  doc.SetMaxIndex(41);
  EXPECT_EQ(doc.NextSheetId(), "sh_42");
  EXPECT_EQ(doc.NextSheetId(), "sh_43");
  EXPECT_EQ(doc.GetMaxIndex(), 43);
}

TEST(SpreadSheetSheets, TitleValidityIgnoresDeletedAndCountsMissingFlagsAsVisible) {
  SpreadSheet doc;
  doc.index["sheets"] = J(R"({"sh_1": {"title": "Kept"}, "sh_2": {"deleted": true, "title": "Old"},
                              "sh_3": {"deleted": false}, "sh_4": "damaged"})");
  EXPECT_FALSE(doc.IsValidSheetTitle("Kept"));
  EXPECT_TRUE(doc.IsValidSheetTitle("Old"));
  EXPECT_TRUE(doc.IsValidSheetTitle(""));
  EXPECT_TRUE(doc.IsValidSheetTitle("kept")) << "titles compare byte for byte";
}

TEST(SpreadSheetSheets, DupMovesTheSourceContentWithoutCopying) {
  SpreadSheet doc;
  doc.index = J(R"({"maxIndex": 3, "order": ["sh_1", "sh_3"], "editors": [], "schemaVersion": 1,
                    "sheets": {"sh_1": {"deleted": false, "title": "A"},
                               "sh_2": {"deleted": true, "title": "X"},
                               "sh_3": {"deleted": false, "title": "C"}}})");
  doc.sheets["sh_1"] = J(R"({"cells": {"2": {"1": {"v": "payload"}}}})");
  EXPECT_EQ(doc.DupSheet("sh_1", "B"), "sh_4");
  EXPECT_EQ(doc.GetOrder(), J(R"(["sh_1", "sh_3", "sh_4"])"));
  EXPECT_EQ(doc.sheets.count("sh_1"), 0u) << "the source must not be saved again";
  EXPECT_EQ(doc.GetSheetById("sh_4").GetValue(2, 1), "payload");
  // A visible source that was not loaded cannot be copied, and nothing changes.
  EXPECT_EQ(CodeOf([&] { doc.DupSheet("sh_3", "D"); }), 1032);
  EXPECT_EQ(doc.GetMaxIndex(), 4);
}

TEST(SpreadSheetSheets, RecoverRenamesATakenTitleAndLogsVisibleSheets) {
  SpreadSheet doc;
  NewDocument(doc);
  doc.DeleteSheet("sh_2");
  doc.SetSheetTitle("sh_3", "B");
  const long long before = ::time(nullptr);
  doc.RecoverSheet("sh_2", 1);
  const long long after = ::time(nullptr);
  const std::string title = doc.GetSheetTitle("sh_2");
  ASSERT_EQ(title.rfind("B_conflict_", 0), 0u) << title;
  const long long stamp = std::stoll(title.substr(11));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(doc.GetOrder(), J(R"(["sh_1", "sh_2", "sh_3"])"));

  zoltsh::testing::LogCapture log;
  EXPECT_EQ(CodeOf([&] { doc.RecoverSheet("sh_1", 0); }), 1006);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("sheet[sh_1] is not deleted"), std::string::npos) << log.lines()[0];
  EXPECT_NE(log.lines()[0].find("snapshot/spreadsheet_sheets:"), std::string::npos)
      << log.lines()[0];
}

TEST(SpreadSheetSheets, DeleteDropsNonTextOrderEntries) {
  SpreadSheet doc;
  NewDocument(doc);
  doc.index["order"] = J(R"(["sh_1", 5, "sh_2", "sh_3"])");
  doc.DeleteSheet("sh_2");
  EXPECT_EQ(doc.GetOrder(), J(R"(["sh_1", "sh_3"])"));
  EXPECT_TRUE(doc.index["sheets"]["sh_2"]["deleted"].asBool());
  EXPECT_EQ(doc.index["sheets"]["sh_2"]["title"], "B") << "a deleted sheet keeps its title";
}

TEST(SpreadSheetSheets, GetSheetTitleOfHiddenOrUnknownSheets) {
  SpreadSheet doc;
  NewDocument(doc);
  doc.DeleteSheet("sh_1");
  EXPECT_EQ(CodeOf([&] { doc.GetSheetTitle("sh_1"); }), 1032);
  EXPECT_EQ(CodeOf([&] { doc.GetSheetTitle("sh_4"); }), 1032);
  EXPECT_EQ(doc.GetSheetTitle("sh_2"), "B");
}

// The stored file of a sheet: from the store, deleted sheets included, never anything but a
// sheet field.
TEST(SpreadSheetSheets, GetSheetPathNamesOnlyStoredSheetFields) {
  zoltsh::testing::TempRoot root;
  Json::Value req = J(R"({"ns": "Tabvale", "id": "doc", "requester": 0, "owner": 1001})");
  req["text"] = J(R"({"title": "T",
                      "index": {"maxIndex": 2, "order": ["sh_1"], "editors": [],
                                "schemaVersion": 1,
                                "sheets": {"sh_1": {"deleted": false, "title": "A"},
                                           "sh_2": {"deleted": true, "title": "B"}}},
                      "sh_1": {"cells": {}}, "sh_2": {"rowCount": 5}})");
  ZOLT_DRIVE_OBJECT object;
  ASSERT_TRUE(object.Create(req)) << ZOLTDriveErrCodeGet();

  Json::Value stored;
  ASSERT_TRUE(Json::fromFile(stored, SpreadSheet::GetSheetPath("doc", "sh_2")));
  EXPECT_EQ(stored, J(R"({"rowCount": 5})"));
  EXPECT_FALSE(SpreadSheet::GetSheetPath("doc", "sh_1").empty());

  struct Case {
    const char* object;
    const char* sheet;
  };
  for (const Case& c : {Case{"doc", "sh_3"}, Case{"nodoc", "sh_1"}, Case{"doc", "index"},
                        Case{"doc", "title"}, Case{"doc", "sh_"}, Case{"doc", "sh_1/../index"},
                        Case{"doc", "../sh_1"}, Case{"doc", "sh_1\r\nX: y"}}) {
    SCOPED_TRACE(std::string(c.object) + " " + c.sheet);
    EXPECT_EQ(CodeOf([&] { SpreadSheet::GetSheetPath(c.object, c.sheet); }), 1032);
  }
}

}  // namespace
