// The executor over a document held in memory: finding sheets (visible, deleted, missing, not
// loaded), rejecting commands without stopping the batch, compound commands, and the editors it
// collects and merges into the index.
#include "snapshot/executor.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "json/json_text.h"
#include "snapshot/sheet.h"
#include "snapshot/spreadsheet.h"
#include "support/log_capture.h"

namespace {

using zoltsh::Executor;
using zoltsh::Sheet;
using zoltsh::SpreadSheet;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

std::string T(const Json::Value& v) { return Json::toString(v); }

// sh_1 and sh_3 visible and loaded, sh_2 deleted (its content still loaded), sh_4 visible but not
// loaded.
void FillDocument(SpreadSheet& doc) {
  doc.index = J(R"({"maxIndex": 4, "order": ["sh_1", "sh_3", "sh_4"], "editors": [],
                    "schemaVersion": 1,
                    "sheets": {"sh_1": {"deleted": false, "title": "A"},
                               "sh_2": {"deleted": true, "title": "B"},
                               "sh_3": {"deleted": false, "title": "C"},
                               "sh_4": {"deleted": false, "title": "D"}}})");
  for (const char* id : {"sh_1", "sh_2", "sh_3"}) Sheet(doc.sheets[id]).Init();
}

// The contents of all loaded sheets, as text, for comparing before and after.
std::map<std::string, std::string> Contents(const SpreadSheet& doc) {
  std::map<std::string, std::string> out;
  for (const auto& [id, content] : doc.sheets) out[id] = T(content);
  return out;
}

std::string ValueAt(SpreadSheet& doc, const char* id, int row, int col) {
  return T(Sheet(doc.sheets.at(id)).GetValue(row, col));
}

// "value" command setting one cell to a text.
Json::Value SetCell(const char* id, int row, int col, const char* text) {
  Json::Value c = J(R"({"cmd": "value"})");
  c["id"] = id;
  Json::Value change(Json::arrayValue);
  change.append(row);
  change.append(col);
  change.append(text);
  c["changes"].append(change);
  return c;
}

Json::Value WithUid(Json::Value command, Json::Int64 uid) {
  command["uid"] = uid;
  return command;
}

const std::string kExec = "snapshot/executor ";

std::string NotFound(const std::string& id) {
  return kExec + "Sheet[" + id + "] Not found: sheet not found";
}
std::string Invalid(const Json::Value& command, const std::string& message = "invalid parameter") {
  return kExec + "Invalid Parameter:" + message + " " + T(command);
}
std::string Unknown(const Json::Value& command) { return kExec + "Unknown command: " + T(command); }

// True when line starts with "snapshot/executor Invalid Parameter:" and ends with the command.
bool IsInvalidLineFor(const std::string& line, const Json::Value& command) {
  const std::string head = kExec + "Invalid Parameter:";
  const std::string tail = " " + T(command);
  return line.rfind(head, 0) == 0 && line.size() >= head.size() + tail.size() &&
         line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------------------------------------
// Finding the sheet

TEST(ExecutorSheets, ABatchGoesOnPastADeletedSheet) {
  SpreadSheet doc;
  FillDocument(doc);
  const std::string deletedBefore = T(doc.sheets.at("sh_2"));
  Executor executor(doc);
  zoltsh::testing::LogCapture log;
  EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_1", 0, 0, "one"), 1)));
  EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_2", 0, 0, "two"), 2)));
  EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_3", 0, 0, "three"), 3)));
  EXPECT_EQ(ValueAt(doc, "sh_1", 0, 0), R"("one")");
  EXPECT_EQ(ValueAt(doc, "sh_3", 0, 0), R"("three")");
  EXPECT_EQ(T(doc.sheets.at("sh_2")), deletedBefore);
  EXPECT_EQ(log.ErrorLines(), std::vector<std::string>{NotFound("sh_2")});
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{1, 3}))
      << "a skipped command has no editor";
}

enum class Outcome { kNotFound, kUnknown };

TEST(ExecutorSheets, LookupComesBeforeTheKind) {
  constexpr Outcome kNotFound = Outcome::kNotFound, kUnknown = Outcome::kUnknown;
  const struct {
    const char* command;
    bool result;
    Outcome log;
    const char* sheet;  // for kNotFound: the id in the line
  } cases[] = {
      {R"({"cmd":"bogus","id":"sh_1","uid":5})", false, kUnknown, ""},
      {R"({"cmd":"Value","id":"sh_1","changes":[[0,0,"x"]]})", false, kUnknown, ""},
      {R"({"id":"sh_1","changes":[[0,0,"x"]]})", false, kUnknown, ""},
      {R"({"cmd":5,"id":"sh_1","changes":[[0,0,"x"]]})", false, kUnknown, ""},
      {R"({"cmd":{"c":"value"},"id":"sh_1","changes":[[0,0,"x"]]})", false, kUnknown, ""},
      {R"({"cmd":"bogus","id":"sh_9","uid":5})", true, kNotFound, "sh_9"},
      {R"({"cmd":"bogus","id":"sh_2","uid":5})", true, kNotFound, "sh_2"},
      {R"({"cmd":"value","id":"sh_2","changes":[[0,0,"x"]],"uid":5})", true, kNotFound, "sh_2"},
      // In the index but not loaded.
      {R"({"cmd":"value","id":"sh_4","changes":[[0,0,"x"]],"uid":5})", true, kNotFound, "sh_4"},
      {R"({"cmd":"bogus","id":"sh_4"})", true, kNotFound, "sh_4"},
      // An id that is not a text reads as "".
      {R"({"cmd":"value","id":1,"changes":[[0,0,"x"]],"uid":5})", true, kNotFound, ""},
      {R"({"cmd":"value","id":["sh_1"],"changes":[[0,0,"x"]]})", true, kNotFound, ""},
      {R"({"cmd":"value","changes":[[0,0,"x"]]})", true, kNotFound, ""},
      {R"({"cmd":"value","id":"SH_1","changes":[[0,0,"x"]]})", true, kNotFound, "SH_1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    SpreadSheet doc;
    FillDocument(doc);
    const auto before = Contents(doc);
    const Json::Value command = J(c.command);
    Executor executor(doc);
    zoltsh::testing::LogCapture log;
    EXPECT_EQ(executor.ExecuteCommand(command), c.result);
    EXPECT_EQ(Contents(doc), before);
    EXPECT_EQ(doc.sheets.count("sh_4"), 0u) << "a lookup must not load or create a sheet";
    if (c.log == kNotFound) {
      EXPECT_EQ(log.ErrorLines(), std::vector<std::string>{NotFound(c.sheet)});
    } else {
      EXPECT_EQ(log.ErrorLines(), (std::vector<std::string>{Unknown(command), Invalid(command)}));
    }
    EXPECT_TRUE(executor.GetEditors().empty());
  }
}

TEST(ExecutorSheets, CommandsThatAreNotObjectsAreRejected) {
  for (const char* text :
       {"null", "5", R"("value")", "[]", R"([{"cmd":"value","id":"sh_1"}])", "true", "{}"}) {
    SCOPED_TRACE(text);
    SpreadSheet doc;
    FillDocument(doc);
    const auto before = Contents(doc);
    const Json::Value command = J(text);
    Executor executor(doc);
    zoltsh::testing::LogCapture log;
    bool result = true;
    EXPECT_NO_THROW(result = executor.ExecuteCommand(command));
    const std::vector<std::string> lines = log.ErrorLines();
    if (command.isObject()) {
      // {} is an object: no "cmd" and no "id", so its sheet "" is looked up first.
      EXPECT_TRUE(result);
      EXPECT_EQ(lines, std::vector<std::string>{NotFound("")});
    } else {
      EXPECT_FALSE(result);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(IsInvalidLineFor(lines[0], command)) << lines[0];
    }
    EXPECT_EQ(Contents(doc), before);
    EXPECT_TRUE(executor.GetEditors().empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Failures keep what was done

TEST(ExecutorFailures, AFailingCommandLeavesEarlierChanges) {
  SpreadSheet doc;
  FillDocument(doc);
  Executor executor(doc);
  zoltsh::testing::LogCapture log;
  const Json::Value badMerge = J(R"({"cmd":"merge","id":"sh_1","range":[0,0,1],"uid":8})");
  // Insert data whose "border" part is not an array: the rows and the style stay.
  const Json::Value badInsert = J(R"({"cmd":"insert_row","id":"sh_1","index":1,"amount":2,
      "uid":9, "data":{"format":{"style":[[1,0,{"b":1}]],"border":{}}}})");
  const std::vector<std::pair<Json::Value, bool>> batch = {
      {WithUid(SetCell("sh_1", 0, 0, "a"), 1), true}, {badMerge, false},
      {WithUid(SetCell("sh_1", 5, 0, "b"), 2), true}, {badInsert, false},
      {WithUid(SetCell("sh_3", 0, 0, "c"), 3), true},
  };
  for (const auto& [command, result] : batch) {
    EXPECT_EQ(executor.ExecuteCommand(command), result) << T(command);
  }
  Sheet one(doc.sheets.at("sh_1"));
  EXPECT_EQ(T(one.GetValue(0, 0)), R"("a")");
  EXPECT_EQ(T(one.GetValue(7, 0)), R"("b")") << "moved down by the inserted rows";
  EXPECT_EQ(one.GetRowCount(), 102);
  EXPECT_EQ(T(one.GetStyle(1, 0)), R"({"b":1})");
  EXPECT_EQ(T(doc.sheets.at("sh_1")["mergeCells"]), "[]");
  EXPECT_EQ(ValueAt(doc, "sh_3", 0, 0), R"("c")");
  EXPECT_EQ(log.ErrorLines(), (std::vector<std::string>{Invalid(badMerge), Invalid(badInsert)}));
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{1, 2, 3}));
}

TEST(ExecutorFailures, DamagedSheetContentIsAnInvalidParameter) {
  SpreadSheet doc;
  FillDocument(doc);
  doc.sheets["sh_1"]["cells"] = J("[1,2]");
  const std::string before = T(doc.sheets.at("sh_1"));
  Executor executor(doc);
  zoltsh::testing::LogCapture log;
  const Json::Value command = WithUid(SetCell("sh_1", 0, 0, "a"), 4);
  EXPECT_FALSE(executor.ExecuteCommand(command));
  EXPECT_EQ(T(doc.sheets.at("sh_1")), before);
  EXPECT_EQ(log.ErrorLines(), std::vector<std::string>{Invalid(command)});
  EXPECT_TRUE(executor.GetEditors().empty());
}

// ---------------------------------------------------------------------------------------------
// Compound commands

TEST(ExecutorCompound, ActionsRunEachOnTheirOwn) {
  const Json::Value merge = J(R"({"cmd":"merge","id":"sh_1","range":[1],"uid":5})");
  const Json::Value deleted = J(R"({"cmd":"value","id":"sh_2","changes":[[0,0,"y"]],"uid":6})");
  Json::Value compound = J(R"({"cmd":"compound","uid":9,"actions":[]})");
  compound["actions"].append(WithUid(SetCell("sh_1", 0, 0, "x"), 4));
  compound["actions"].append(merge);
  compound["actions"].append(deleted);
  compound["actions"].append(WithUid(SetCell("sh_3", 0, 0, "z"), 7));

  SpreadSheet doc;
  FillDocument(doc);
  const std::string deletedBefore = T(doc.sheets.at("sh_2"));
  Executor executor(doc);
  zoltsh::testing::LogCapture log;
  EXPECT_TRUE(executor.ExecuteCommand(compound));
  EXPECT_EQ(ValueAt(doc, "sh_1", 0, 0), R"("x")");
  EXPECT_EQ(ValueAt(doc, "sh_3", 0, 0), R"("z")");
  EXPECT_EQ(T(doc.sheets.at("sh_2")), deletedBefore);
  EXPECT_EQ(log.ErrorLines(), (std::vector<std::string>{Invalid(merge), NotFound("sh_2")}));
  // The compound succeeded: its uid joins those of its successful actions.
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{4, 7, 9}));
}

TEST(ExecutorCompound, MalformedCompoundsRunNothing) {
  const struct {
    const char* command;
    const char* message;
  } cases[] = {
      {R"({"cmd":"compound","uid":9,"actions":[{"cmd":"value","id":"sh_1","changes":[[0,0,"x"]],
           "uid":4},{"cmd":"compound","actions":[]}]})",
       "Compound can not contain a compound command"},
      {R"({"cmd":"compound","actions":[{"cmd":"value","id":"sh_1","changes":[[0,0,"x"]]},
           {"cmd":"compound","id":"sh_9"},5]})",
       "Compound can not contain a compound command"},
      {R"({"cmd":"compound","id":"sh_1","uid":9})", "invalid parameter"},
      {R"({"cmd":"compound","uid":9,"actions":null})", "invalid parameter"},
      {R"({"cmd":"compound","uid":9,"actions":{"0":{"cmd":"value","id":"sh_1",
           "changes":[[0,0,"x"]]}}})",
       "invalid parameter"},
      {R"({"cmd":"compound","actions":{"cmd":"value","id":"sh_1","changes":[[0,0,"x"]]}})",
       "invalid parameter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const Json::Value command = J(c.command);
    SpreadSheet doc;
    FillDocument(doc);
    const auto before = Contents(doc);
    {
      Executor executor(doc);
      zoltsh::testing::LogCapture log;
      EXPECT_FALSE(executor.ExecuteCommand(command));
      EXPECT_EQ(Contents(doc), before);
      EXPECT_EQ(log.ErrorLines(), std::vector<std::string>{Invalid(command, c.message)});
      EXPECT_TRUE(executor.GetEditors().empty()) << "a failed compound records no uid";
    }
    {
      Executor executor(doc);
      zoltsh::testing::LogCapture log;
      try {
        executor.ExecuteCompound(command);
        ADD_FAILURE() << "no exception";
      } catch (const zoltsh::InvalidParameter& e) {
        EXPECT_EQ(e.code, 1006);
        EXPECT_STREQ(e.what(), c.message);
      }
      EXPECT_EQ(Contents(doc), before);
      EXPECT_TRUE(log.lines().empty());
      EXPECT_TRUE(executor.GetEditors().empty());
    }
  }
}

TEST(ExecutorCompound, ActionsThatAreNotObjectsAreRejectedOneByOne) {
  const Json::Value compound = J(R"({"cmd":"compound","uid":9,"actions":[
      5, {"cmd":"value","id":"sh_1","changes":[[0,0,"x"]],"uid":4}, null, "compound", [],
      {"cmd":"value","id":"sh_1","changes":[[1,0,"y"]]}]})");
  SpreadSheet doc;
  FillDocument(doc);
  Executor executor(doc);
  zoltsh::testing::LogCapture log;
  bool result = false;
  EXPECT_NO_THROW(result = executor.ExecuteCommand(compound));
  EXPECT_TRUE(result);
  EXPECT_EQ(ValueAt(doc, "sh_1", 0, 0), R"("x")");
  EXPECT_EQ(ValueAt(doc, "sh_1", 1, 0), R"("y")");
  const std::vector<std::string> lines = log.ErrorLines();
  ASSERT_EQ(lines.size(), 4u);
  const Json::Value& actions = compound["actions"];
  EXPECT_TRUE(IsInvalidLineFor(lines[0], actions[0])) << lines[0];
  EXPECT_TRUE(IsInvalidLineFor(lines[1], actions[2])) << lines[1];
  EXPECT_TRUE(IsInvalidLineFor(lines[2], actions[3])) << lines[2];
  EXPECT_TRUE(IsInvalidLineFor(lines[3], actions[4])) << lines[3];
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{4, 9}));
}

TEST(ExecutorCompound, NeedsNoSheetOfItsOwn) {
  for (const char* id : {"", "sh_9", "sh_2"}) {
    SCOPED_TRACE(id);
    SpreadSheet doc;
    FillDocument(doc);
    Json::Value compound = J(R"({"cmd":"compound","uid":3,"actions":[]})");
    if (*id != '\0') compound["id"] = id;
    compound["actions"].append(SetCell("sh_1", 0, 0, "x"));
    Executor executor(doc);
    zoltsh::testing::LogCapture log;
    EXPECT_TRUE(executor.ExecuteCommand(compound));
    EXPECT_EQ(ValueAt(doc, "sh_1", 0, 0), R"("x")");
    EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
    EXPECT_EQ(executor.GetEditors(), std::vector<unsigned>{3});
  }
}

TEST(ExecutorCompound, EmptyActionsSucceed) {
  SpreadSheet doc;
  FillDocument(doc);
  Executor executor(doc);
  EXPECT_TRUE(executor.ExecuteCommand(J(R"({"cmd":"compound","uid":6,"actions":[]})")));
  EXPECT_EQ(executor.GetEditors(), std::vector<unsigned>{6});
}

// ---------------------------------------------------------------------------------------------
// Editors

TEST(ExecutorEditors, UidsAreReadAs64BitAndTruncated) {
  const struct {
    const char* uid;
    bool result;
    std::vector<unsigned> editors;
  } cases[] = {
      {"7", true, {7}},
      {"0", true, {0}},
      {"-1", true, {4294967295u}},
      {"4294967301", true, {5}},
      {"4294967295", true, {4294967295u}},
      {"true", true, {1}},
      {"7.9", true, {7}},
      {R"("7")", false, {}},
      {"{}", false, {}},
      {"[7]", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uid);
    SpreadSheet doc;
    FillDocument(doc);
    Json::Value command = SetCell("sh_1", 0, 0, "x");
    command["uid"] = J(c.uid);
    Executor executor(doc);
    zoltsh::testing::LogCapture log;
    EXPECT_EQ(executor.ExecuteCommand(command), c.result);
    EXPECT_EQ(ValueAt(doc, "sh_1", 0, 0), R"("x")") << "the command's effect stays";
    EXPECT_EQ(executor.GetEditors(), c.editors);
    const std::vector<std::string> lines = log.ErrorLines();
    if (c.result) {
      EXPECT_TRUE(lines.empty()) << lines[0];
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(IsInvalidLineFor(lines[0], command)) << lines[0];
    }
  }
}

TEST(ExecutorEditors, UpdateIndexMergesWithTheIndexEditors) {
  SpreadSheet doc;
  FillDocument(doc);
  doc.index["editors"] = J("[5, 3]");
  Executor executor(doc);
  EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_1", 0, 0, "a"), 3)));
  EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_1", 0, 1, "b"), 7)));
  executor.UpdateIndex();
  EXPECT_EQ(T(doc.index["editors"]), "[3,5,7]");
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{3, 7}));
  executor.UpdateIndex();
  EXPECT_EQ(T(doc.index["editors"]), "[3,5,7]") << "merging again changes nothing";
}

TEST(ExecutorEditors, GetEditorsIsAscendingWithoutDuplicates) {
  SpreadSheet doc;
  FillDocument(doc);
  Executor executor(doc);
  for (Json::Int64 uid : {9LL, 2LL, -1LL, 4294967301LL, 9LL, 2LL}) {
    EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_1", 0, 0, "a"), uid)));
  }
  EXPECT_EQ(executor.GetEditors(), (std::vector<unsigned>{2, 5, 9, 4294967295u}));
  executor.UpdateIndex();
  EXPECT_EQ(T(doc.index["editors"]), "[2,5,9,4294967295]");
}

TEST(ExecutorEditors, StoredEditorsAreTruncatedToo) {
  const struct {
    const char* stored;  // "editors" of the index; nullptr: no such member
    const char* merged;
  } cases[] = {
      {"[-1, 4294967301, 3]", "[3,5,7,4294967295]"},
      {"[]", "[7]"},
      {"null", "[7]"},
      {nullptr, "[7]"},
      {"[7, 7]", "[7]"},
      // Entries that are not uids cannot be kept in a list of uids; the merge must not fail.
      {R"(["x", 5, {}, null])", "[5,7]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored != nullptr ? c.stored : "absent");
    SpreadSheet doc;
    FillDocument(doc);
    if (c.stored != nullptr) {
      doc.index["editors"] = J(c.stored);
    } else {
      doc.index.removeMember("editors");
    }
    Executor executor(doc);
    EXPECT_TRUE(executor.ExecuteCommand(WithUid(SetCell("sh_1", 0, 0, "a"), 7)));
    EXPECT_NO_THROW(executor.UpdateIndex());
    EXPECT_EQ(T(doc.index["editors"]), c.merged);
  }
}

TEST(ExecutorEditors, UpdateIndexWithoutCommandsKeepsTheStoredSet) {
  SpreadSheet doc;
  FillDocument(doc);
  doc.index["editors"] = J("[8, 2]");
  Executor executor(doc);
  EXPECT_TRUE(executor.GetEditors().empty());
  executor.UpdateIndex();
  EXPECT_EQ(T(doc.index["editors"]), "[2,8]");
}

}  // namespace
