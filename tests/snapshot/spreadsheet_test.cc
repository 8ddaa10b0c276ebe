// The stored spreadsheet through the real Drive store: selective loads, saves as new versions,
// protected documents, and the errors of a damaged or foreign object.
#include "snapshot/spreadsheet.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/zoltsh_error.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"
#include "support/temp_root.h"

namespace {

using zoltsh::SpreadSheet;

Json::Value J(const char* text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
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

class SpreadSheetStore : public ::testing::Test {
 public:
  // A plain document: sheets sh_1 ("First", cell A1 = 1) and sh_2 ("Second"), order sh_2, sh_1,
  // and a deleted sh_3.
  static Json::Value PlainText() {
    return J(R"({
      "title": "Budget",
      "index": {"maxIndex": 3, "order": ["sh_2", "sh_1"], "editors": [],
                "schemaVersion": 1,
                "sheets": {"sh_1": {"deleted": false, "title": "First"},
                           "sh_2": {"title": "Second"},
                           "sh_3": {"deleted": true, "title": "Gone"}}},
      "sh_1": {"cells": {"0": {"0": {"v": 1}}}},
      "sh_2": {"cells": {"4": {"2": {"v": "two"}}}},
      "sh_3": {"cells": {}}})");
  }

 protected:
  void Create(const std::string& id, Json::Value text, Json::Value metatext = Json::Value()) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["owner"] = 1001;
    req["text"].swap(text);
    if (!metatext.isNull()) req["metatext"].swap(metatext);
    ZOLT_DRIVE_OBJECT object;
    ASSERT_TRUE(object.Create(req)) << ZOLTDriveErrCodeGet();
  }

  static Json::Value Request(const std::string& id, std::initializer_list<const char*> sheets,
                             const char* version = nullptr) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 1001;
    Json::Value& text = req["field"]["text"];
    text["index"] = true;
    for (const char* sheet : sheets) text[sheet] = true;
    if (version != nullptr) req["version"] = version;
    return req;
  }

  static Json::Value SaveRequest(const std::string& id, unsigned editor) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 1001;
    req["commit_msg"]["listable"] = true;
    req["commit_msg"]["editors"].append(editor);
    return req;
  }

  static std::string TextFile(const std::string& id, const std::string& key) {
    std::string path;
    EXPECT_TRUE(ZOLTDriveGetTextPath("Tabvale", id, key, path));
    return ReadFile(path);
  }

  static int VersionCount(const std::string& id) {
    Json::Value req = J(R"({"ns":"Tabvale","requester":0})");
    req["id"] = id;
    ZOLT_DRIVE_OBJECT_VERSION_LIST list;
    int total = 0;
    EXPECT_TRUE(list.ListVersion(req, total));
    return total;
  }

  zoltsh::testing::TempRoot root_;
};

TEST(SpreadSheet, NewObjectSerialisesToAnEmptyIndex) {
  SpreadSheet doc;
  Json::Value text(Json::objectValue);
  doc.toDriveText(text, "");
  EXPECT_EQ(Json::toString(text),
            R"({"index":{"editors":[],"maxIndex":0,"order":[],"schemaVersion":1,"sheets":{}}})");
}

TEST(SpreadSheet, OrderEditorsAndSheetEntries) {
  SpreadSheet doc;
  Json::Value text = SpreadSheetStore::PlainText();
  doc.fromDriveText(text, "");
  EXPECT_EQ(doc.GetTitle(), "Budget");
  EXPECT_EQ(doc.GetMaxIndex(), 3);
  EXPECT_TRUE(doc.HasSheet("sh_1"));
  EXPECT_TRUE(doc.HasSheet("sh_2"));  // no "deleted" member: not deleted
  EXPECT_FALSE(doc.HasSheet("sh_3"));
  EXPECT_FALSE(doc.HasSheet("sh_9"));
  EXPECT_EQ(doc.sheets.count("sh_3"), 0u);  // never loaded: "order" does not list it
  EXPECT_EQ(CodeOf([&] { doc.GetSheetById("sh_3"); }), 1032);
  EXPECT_EQ(CodeOf([&] { doc.GetSheetById("sh_1"); }), 0);

  doc.SetOrder(J(R"(["sh_1","sh_2"])"));
  EXPECT_EQ(Json::toString(doc.GetOrder()), R"(["sh_1","sh_2"])");
  doc.SetOrder(J(R"(["sh_2","sh_1"])"));
  EXPECT_EQ(Json::toString(doc.GetOrder()), R"(["sh_2","sh_1"])");
  // Wrong counts, and orders of the right length that would hide a visible sheet.
  for (const char* bad : {R"(["sh_1","sh_2","sh_3"])", R"(["sh_1","sh_1"])", R"(["sh_1","sh_3"])",
                          R"(["sh_1",2])", R"({"a":"sh_1","b":"sh_2"})"}) {
    EXPECT_EQ(CodeOf([&] { doc.SetOrder(J(bad)); }), 1006) << bad;
    EXPECT_EQ(Json::toString(doc.GetOrder()), R"(["sh_2","sh_1"])") << bad;
  }

  std::set<unsigned> editors = {1026, 7, 1001};
  doc.SetEditors(editors.begin(), editors.end());
  EXPECT_EQ(Json::toString(doc.GetEditors()), "[7,1001,1026]");
}

TEST(SpreadSheet, DamagedTextsFailWithTheirCodes) {
  struct Case {
    const char* text;
    int code;
  } cases[] = {
      {R"({"sh_1":{}})", 1031},
      {"null", 1031},
      {R"({"index":{"sheets":{}}})", 1016},
      {R"({"index":[1,2]})", 1016},
      {R"({"index":{"order":"sh_1"}})", 1016},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SpreadSheet doc;
    Json::Value text = J(c.text);
    EXPECT_EQ(CodeOf([&] { doc.fromDriveText(text, ""); }), c.code);
  }
}

TEST_F(SpreadSheetStore, LoadsOnlySelectedSheetsAndSavesOnlyThose) {
  Create("doc", PlainText());
  const std::string storedSecond = TextFile("doc", "sh_2");
  SpreadSheet doc;
  doc.LoadFromDrive(Request("doc", {"sh_1"}), "");
  EXPECT_FALSE(doc.IsEncrypt());
  EXPECT_EQ(doc.sheets.size(), 1u);
  EXPECT_EQ(CodeOf([&] { doc.GetSheetById("sh_2"); }), 1032);
  doc.sheets["sh_1"]["cells"]["0"]["0"]["v"] = 42;
  doc.SaveToDrive(SaveRequest("doc", 1001), "");

  EXPECT_EQ(VersionCount("doc"), 2);
  EXPECT_EQ(TextFile("doc", "sh_2"), storedSecond);
  SpreadSheet again;
  again.LoadFromDrive(Request("doc", {"sh_1", "sh_2"}), "");
  EXPECT_EQ(again.sheets["sh_1"]["cells"]["0"]["0"]["v"], 42);
  EXPECT_EQ(again.sheets["sh_2"]["cells"]["4"]["2"]["v"], "two");

  ZOLT_DRIVE_OBJECT object;
  Json::Value get = J(R"({"ns":"Tabvale","id":"doc","requester":0,"field":{"text":false}})");
  ASSERT_TRUE(object.Get(get));
  EXPECT_EQ(Json::toString(object.get_ref_commit_msg()), R"({"editors":[1001],"listable":true})");
}

TEST_F(SpreadSheetStore, FailedSaveKeepsTheDocumentInMemoryAndStored) {
  Create("doc", PlainText());
  SpreadSheet doc;
  doc.LoadFromDrive(Request("doc", {"sh_1"}), "");
  doc.sheets["sh_1"]["cells"]["0"]["0"]["v"] = "unsaved";
  Json::Value anonymous = SaveRequest("doc", 1001);
  anonymous["requester"] = 4294967295u;  // may not write
  EXPECT_EQ(CodeOf([&] { doc.SaveToDrive(anonymous, ""); }), 1015);
  EXPECT_EQ(VersionCount("doc"), 1);
  EXPECT_EQ(doc.sheets["sh_1"]["cells"]["0"]["0"]["v"], "unsaved");
  EXPECT_EQ(Json::toString(doc.GetOrder()), R"(["sh_2","sh_1"])");
  // The document is whole, so the same object can be saved by someone who may.
  doc.SaveToDrive(SaveRequest("doc", 1001), "");
  EXPECT_EQ(VersionCount("doc"), 2);
}

TEST_F(SpreadSheetStore, PastVersionLoads) {
  Create("doc", PlainText());
  SpreadSheet doc;
  doc.LoadFromDrive(Request("doc", {"sh_1"}), "");
  doc.sheets["sh_1"]["cells"]["0"]["0"]["v"] = "changed";
  doc.SaveToDrive(SaveRequest("doc", 1001), "");

  SpreadSheet old;
  old.LoadFromDrive(Request("doc", {"sh_1"}, "1"), "");
  EXPECT_EQ(old.sheets["sh_1"]["cells"]["0"]["0"]["v"], 1);
}

TEST_F(SpreadSheetStore, MissingObjectOrIndex) {
  SpreadSheet doc;
  EXPECT_EQ(CodeOf([&] { doc.LoadFromDrive(Request("nothing", {}), ""); }), 1016);
  Create("bare", J(R"({"title":"no index"})"));
  SpreadSheet bare;
  EXPECT_EQ(CodeOf([&] { bare.LoadFromDrive(Request("bare", {}), ""); }), 1031);
}

TEST_F(SpreadSheetStore, LoadAllReadsEveryVisibleSheetOfAPlainDocument) {
  Create("doc", PlainText());
  SpreadSheet doc;
  doc.LoadAllFromDrive(1001, "doc", false);
  EXPECT_EQ(doc.sheets.size(), 2u);
  EXPECT_EQ(doc.GetTitle(), "Budget");
  SpreadSheet refused;
  EXPECT_EQ(CodeOf([&] { refused.LoadAllFromDrive(1001, "doc", true); }), 1016);
  EXPECT_EQ(CodeOf([&] { refused.LoadAllFromDrive(1001, "missing", false); }), 1016);
}

// A protected document made the way the catalogue makes one: random system password stored under
// the document password, every text field encrypted with the system password.
class ProtectedDocument : public SpreadSheetStore {
 protected:
  static constexpr const char* kMarker = "PLAINTEXT-MARKER-7319";
  static constexpr const char* kTitleMarker = "SECRET-SHEET-TITLE-4421";

  void SetUp() override {
    std::string sysPass;
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::GenRandPassword(sysPass));
    Json::Value metatext(Json::objectValue);
    metatext["encrypt"] = true;
    ASSERT_TRUE(
        ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, "open sesame", metatext["password"]));
    SpreadSheet doc;
    doc.index["maxIndex"] = 1;
    doc.index["order"].append("sh_1");
    doc.index["sheets"]["sh_1"]["title"] = kTitleMarker;
    doc.sheets["sh_1"]["cells"]["0"]["0"]["v"] = kMarker;
    Json::Value text(Json::objectValue);
    doc.toDriveText(text, sysPass);
    Create("secret", std::move(text), std::move(metatext));
  }

  // True when some file under the root holds needle.
  bool AnyFileHolds(const std::string& needle) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.dir())) {
      if (entry.is_regular_file() && ReadFile(entry.path()).find(needle) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(ProtectedDocument, LoadsWithThePasswordAndSavesEncrypted) {
  EXPECT_FALSE(AnyFileHolds(kMarker));
  EXPECT_FALSE(AnyFileHolds(kTitleMarker));
  SpreadSheet doc;
  doc.LoadFromDrive(Request("secret", {"sh_1"}), "open sesame");
  EXPECT_TRUE(doc.IsEncrypt());
  EXPECT_EQ(doc.sheets["sh_1"]["cells"]["0"]["0"]["v"], kMarker);
  EXPECT_EQ(doc.index["sheets"]["sh_1"]["title"], kTitleMarker);
  doc.sheets["sh_1"]["cells"]["1"]["0"]["v"] = std::string(kMarker) + "-2";
  doc.SaveToDrive(SaveRequest("secret", 1001), "open sesame");

  EXPECT_EQ(VersionCount("secret"), 2);
  EXPECT_FALSE(AnyFileHolds(kMarker));
  EXPECT_FALSE(AnyFileHolds(kTitleMarker));
  SpreadSheet again;
  again.LoadFromDrive(Request("secret", {"sh_1"}), "open sesame");
  EXPECT_EQ(again.sheets["sh_1"]["cells"]["1"]["0"]["v"], std::string(kMarker) + "-2");
}

TEST_F(ProtectedDocument, WrongOrMissingPasswordChangesNothing) {
  for (const char* password : {"", "open sesame!", "OPEN SESAME"}) {
    SCOPED_TRACE(password);
    SpreadSheet doc;
    EXPECT_EQ(CodeOf([&] { doc.LoadFromDrive(Request("secret", {"sh_1"}), password); }), 1033);
    EXPECT_TRUE(doc.sheets.empty());
  }
  EXPECT_EQ(VersionCount("secret"), 1);
}

TEST_F(ProtectedDocument, DamagedFieldsFailAsReadErrors) {
  for (const char* damaged : {R"("Zm9vYmFy")", R"("U2FsdGVkX1")", "17", R"({"cells":{}})"}) {
    SCOPED_TRACE(damaged);
    Json::Value req = J(R"({"ns":"Tabvale","id":"secret","requester":0})");
    req["text"]["sh_1"] = J(damaged);
    ZOLT_DRIVE_OBJECT object;
    ASSERT_TRUE(object.Set(req));
    SpreadSheet doc;
    EXPECT_EQ(CodeOf([&] { doc.LoadFromDrive(Request("secret", {"sh_1"}), "open sesame"); }), 1016);
  }
}

TEST(SwapAllSheetContent, MovesSheetsAndIndexButNothingElse) {
  Json::Value src = SpreadSheetStore::PlainText();
  Json::Value dst(Json::objectValue);
  EXPECT_TRUE(ZOLTSHSwapAllSheetContent(src, dst));
  EXPECT_TRUE(dst.isMember("sh_1") && dst.isMember("sh_2") && dst.isMember("sh_3"));
  EXPECT_TRUE(dst["index"].isObject());
  EXPECT_EQ(src["title"], "Budget");
  EXPECT_FALSE(dst.isMember("title"));
}

TEST(SwapAllSheetContent, WithoutDeletedLeavesDeletedSheetsBehind) {
  Json::Value src = SpreadSheetStore::PlainText();
  Json::Value dst(Json::objectValue);
  EXPECT_TRUE(ZOLTSHSwapAllSheetContentWithoutDeleted(src, "", dst));
  EXPECT_TRUE(dst.isMember("sh_1") && dst.isMember("sh_2") && dst.isMember("index"));
  EXPECT_FALSE(dst.isMember("sh_3"));
  EXPECT_TRUE(src["sh_3"].isObject());
  Json::Value noIndex = J(R"({"sh_1":{}})");
  EXPECT_FALSE(ZOLTSHSwapAllSheetContentWithoutDeleted(noIndex, "", dst));
  Json::Value badIndex = J(R"({"index":{"order":[]}})");
  EXPECT_FALSE(ZOLTSHSwapAllSheetContentWithoutDeleted(badIndex, "", dst));
}

}  // namespace
