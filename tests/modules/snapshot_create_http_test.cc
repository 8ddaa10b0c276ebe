// Persisting editing-command batches ("ZOLT.Tabvale.Snapshot" "create") and reordering sheets
// ("ZOLT.Tabvale.Snapshot" "update") end to end: a real host with the module, the Drive store
// under a private root, documents made with the store's tool or through the library, and the
// socket.io test peer standing in for the collaboration server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"
#include "sio/sio_peer.h"
#include "snapshot/spreadsheet.h"
#include "support/host_process.h"
#include "support/run_program.h"
#include "support/scoped_env.h"
#include "support/temp_root.h"

namespace Json {
// Values in failure messages as JSON text.
inline void PrintTo(const Value& value, std::ostream* os) { *os << toString(value); }
}  // namespace Json

namespace {

using zoltsh::testing::HostCall;
using zoltsh::testing::HostLogin;
using zoltsh::testing::HostProcess;
using zoltsh::testing::Reply;
using zoltsh::testing::RunProgram;
using zoltsh::testing::ScopedEnv;
using zoltsh::testing::SioPeer;

constexpr unsigned kUid = 1001;
constexpr const char* kToken = "snapshot-create-token";
constexpr const char* kDocPassword = "doc pass";
constexpr const char* kSnapshot = "ZOLT.Tabvale.Snapshot";
constexpr const char* kSheetApi = "ZOLT.Tabvale.Snapshot.Sheet";

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

// The member at a '/'-separated path ("cells/40/0/m/s"; array elements by number), null when any
// step is missing.
Json::Value At(const Json::Value& root, const std::string& path) {
  const Json::Value* node = &root;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(start, end - start);
    if (node->isArray()) {
      const Json::ArrayIndex i = static_cast<Json::ArrayIndex>(std::stoul(step));
      if (i >= node->size()) return Json::Value();
      node = &(*node)[i];
    } else if (node->isObject() && node->isMember(step)) {
      node = &(*node)[step];
    } else {
      return Json::Value();
    }
    start = end + 1;
  }
  return *node;
}

// Every cell value ("v") of a sheet content.
std::multiset<std::string> Values(const Json::Value& sheet) {
  std::multiset<std::string> out;
  for (const Json::Value& row : sheet["cells"]) {
    if (!row.isObject()) continue;
    for (const Json::Value& cell : row) {
      if (cell.isObject() && cell.isMember("v")) out.insert(cell["v"].asString());
    }
  }
  return out;
}

// The text part of the initial document: visible sheets "Data" (sh_1), "Other" (sh_2) and "Last"
// (sh_4) in that order, and the deleted sheet "Old" (sh_3). The cells of sh_1 are placed for the
// batch of the all-kinds test.
Json::Value InitialText() {
  return J(R"({
    "title": "Budget",
    "index": {"maxIndex": 4, "order": ["sh_1", "sh_2", "sh_4"], "editors": [1001, 3],
              "schemaVersion": 1,
              "sheets": {"sh_1": {"deleted": false, "title": "Data"},
                         "sh_2": {"deleted": false, "title": "Other"},
                         "sh_3": {"deleted": true, "title": "Old"},
                         "sh_4": {"deleted": false, "title": "Last"}}},
    "sh_1": {"rowCount": 100, "colCount": 30, "cells": {
      "0": {"0": {"v": "top"}},
      "5": {"0": {"v": "r5"}},
      "30": {"0": {"v": "gone"}},
      "31": {"0": {"v": "stay"}},
      "35": {"10": {"v": "x10"}, "11": {"v": "x11"}, "25": {"v": "x25"}},
      "40": {"2": {"v": "erase"}},
      "41": {"1": {"v": "styled", "m": {"s": {"color": "red"}}}},
      "44": {"0": {"v": "keep"}, "1": {"v": "u"}},
      "50": {"0": {"v": "b"}},
      "51": {"0": {"v": "a"}}}},
    "sh_2": {"rowCount": 20, "colCount": 10},
    "sh_3": {"rowCount": 5, "colCount": 5, "cells": {"0": {"0": {"v": "old"}}}},
    "sh_4": {"rowCount": 10, "colCount": 10}
  })");
}

class SnapshotCreateHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [name, uid] :
         {std::pair<const char*, unsigned>{"alice", kUid}, {"collab", 0}}) {
      ASSERT_EQ(RunProgram({ZOLTUSER_BIN, "--root", root_.dir(), "add", name, "--uid",
                            std::to_string(uid), "--password", "pw"})
                    .status,
                0)
          << name;
    }
    std::filesystem::create_directories(root_.path("var/run"));
    std::filesystem::create_directories(root_.path("tmp"));  // the lock folder lives below it
    std::filesystem::create_directories(root_.path("queue"));
    std::ofstream(root_.path("var/run/spreadsheet_token")) << kToken;
    peer_ = std::make_unique<SioPeer>(kToken);
    ASSERT_GT(peer_->port(), 0);
    port_env_ = std::make_unique<ScopedEnv>("ZOLTSH_SIO_PORT", std::to_string(peer_->port()));
    wait_env_ = std::make_unique<ScopedEnv>("ZOLTSH_SIO_WAIT_LIMIT_MS", "3000");
    host_ = StartHost(2);
    alice_ = HostLogin(host_->port(), "alice", "pw");
    ASSERT_FALSE(alice_.empty());
    collab_ = HostLogin(host_->port(), "collab", "pw");
    ASSERT_FALSE(collab_.empty()) << "the collaboration server's account (uid 0) must log in";
  }

  std::unique_ptr<HostProcess> StartHost(int workers) {
    auto host = std::make_unique<HostProcess>(HOST_BIN, root_.dir(), workers,
                                              std::vector<std::string>{SNAPSHOT_MODULE_PATH});
    EXPECT_GT(host->port(), 0);
    return host;
  }

  // The initial document as a plain object made with the store's tool.
  void CreateWithTool(const std::string& id) {
    const std::string file = root_.path(id + ".json");
    ASSERT_TRUE(Json::toFile(InitialText(), file));
    auto made = RunProgram({ZOLTDRIVE_BIN, "--root", root_.dir(), "create", "--ns", "Tabvale",
                            "--id", id, "--owner", std::to_string(kUid), "--text", file});
    ASSERT_EQ(made.status, 0) << made.out;
  }

  // The initial document, protected with kDocPassword, made through the library.
  void CreateProtected(const std::string& id) {
    Json::Value text = InitialText();
    zoltsh::SpreadSheet doc;
    doc.index.swap(text["index"]);
    for (const char* sheet : {"sh_1", "sh_2", "sh_3", "sh_4"}) doc.sheets[sheet].swap(text[sheet]);
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["owner"] = kUid;
    std::string sysPass;
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::GenRandPassword(sysPass));
    req["metatext"]["encrypt"] = true;
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, kDocPassword,
                                                        req["metatext"]["password"]));
    doc.toDriveText(req["text"], sysPass);
    req["text"]["title"] = "Budget";
    ZOLT_DRIVE_OBJECT object;
    ASSERT_TRUE(object.Create(req)) << ZOLTDriveErrCodeGet();
  }

  Reply Call(const std::string& api, const std::string& method, const Json::Value& params,
             const std::string& sid, int port = 0, httplib::Headers headers = {}) {
    return HostCall(port != 0 ? port : host_->port(), api, method, params, sid, 1,
                    std::move(headers));
  }
  // "create" with the batch as "commands", as alice.
  Reply Create(const std::string& id, const Json::Value& commands, int port = 0) {
    Json::Value params(Json::objectValue);
    params["object_id"] = id;
    params["commands"] = commands;
    return Call(kSnapshot, "create", params, alice_, port);
  }

  // The content "ZOLT.Tabvale.Snapshot.Sheet" "get" answers for a sheet.
  Json::Value GetSheet(const std::string& id, const std::string& sheetId,
                       const std::string& password = "") {
    Json::Value params(Json::objectValue);
    params["object_id"] = id;
    params["sheet_id"] = sheetId;
    if (!password.empty()) params["password"] = password;
    Reply r = Call(kSheetApi, "get", params, alice_);
    Json::Value content;
    EXPECT_TRUE(Json::fromString(content, r.body)) << r.body;
    return content;
  }

  // The stored index and the named visible sheets of the current version, read as the system.
  std::unique_ptr<zoltsh::SpreadSheet> Stored(const std::string& id,
                                              std::initializer_list<const char*> sheets = {},
                                              const std::string& password = "") {
    auto doc = std::make_unique<zoltsh::SpreadSheet>();
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["field"]["text"]["index"] = true;
    for (const char* s : sheets) req["field"]["text"][s] = true;
    doc->LoadFromDrive(req, password);
    return doc;
  }

  // The stored versions, newest first: [{"id", "commit_msg", ...}].
  Json::Value Versions(const std::string& id) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    ZOLT_DRIVE_OBJECT_VERSION_LIST list;
    int total = 0;
    EXPECT_GE(list.ListVersion(req, total), 0);
    Json::Value out(Json::arrayValue);
    for (const auto& v : list) v.toJson(Json::Value(), out.append(Json::Value()));
    return out;
  }

  // The stored text fields of the current version as they are on disk (encrypted ones as texts).
  Json::Value RawText(const std::string& id) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    ZOLT_DRIVE_OBJECT object;
    EXPECT_TRUE(object.Get(req)) << ZOLTDriveErrCodeGet();
    return object.get_ref_text();
  }

  // The "args" of the events the peer recorded with this name, waiting (up to 10 s) until there
  // are `atLeast`.
  Json::Value Events(const std::string& name, unsigned atLeast) {
    Json::Value found(Json::arrayValue);
    for (int i = 0; i < 100; ++i) {
      found = Json::Value(Json::arrayValue);
      const Json::Value record = peer_->Record();
      for (const Json::Value& e : record["events"]) {
        if (e["event"] == name) found.append(e["args"]);
      }
      if (found.size() >= atLeast) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return found;
  }

  // A queue file with these lines.
  std::string WriteQueue(const std::string& name, std::initializer_list<std::string> lines) {
    const std::string path = root_.path("queue/" + name);
    std::ofstream out(path);
    for (const std::string& line : lines) out << line << '\n';
    return path;
  }

  zoltsh::testing::TempRoot root_;
  std::unique_ptr<SioPeer> peer_;
  std::unique_ptr<ScopedEnv> port_env_;
  std::unique_ptr<ScopedEnv> wait_env_;
  std::unique_ptr<HostProcess> host_;
  std::string alice_;
  std::string collab_;
};

// The command names, in kind order.
const char* const kAllNames[] = {
    "value",
    "insert_row",
    "insert_col",
    "remove_row",
    "remove_col",
    "resize_row",
    "resize_col",
    "style",
    "meta",
    "merge",
    "unmerge",
    "border",
    "fix_row",
    "fix_col",
    "hide_rows",
    "show_rows",
    "hide_cols",
    "show_cols",
    "sort",
    "comment",
    "create_filter",
    "enable_filter",
    "disable_filter",
    "set_filter",
    "create_validation",
    "remove_validation",
    "create_cf",
    "remove_cf",
    "insert_image",
    "resize_image",
    "remove_image",
    "compound",
};

// A batch with every kind of command, on sh_1 and (inside the compound) on sh_2. The row and
// column changes come first; every later command addresses the rows and columns as they are after
// them (rows from 33 and columns below 10 keep their numbers).
constexpr const char* kAllKindsBatch = R"([
  {"cmd": "insert_row", "id": "sh_1", "index": 2, "amount": 1, "uid": 1001,
   "data": {"changes": [[2, 0, "ins"]],
            "format": {"style": [[2, 1, {"fg": "red"}]], "border": [[2, 1, ["t", null, null, "l"]]],
                       "comment": [[2, 2, ["ins note", 1]]],
                       "extra": [{"key": "k", "vals": [[2, 3, "kv"]]}]}}},
  {"cmd": "remove_row", "id": "sh_1", "index": 31, "amount": 1},
  {"cmd": "remove_col", "id": "sh_1", "index": 10, "amount": 1},
  {"cmd": "insert_col", "id": "sh_1", "index": 20, "amount": 2},
  {"cmd": "value", "id": "sh_1", "uid": 5,
   "changes": [[40, 0, "hello"], [40, 1, 42], [40, 2, null], [-1, 0, "bad"], [40, 3]]},
  {"cmd": "style", "id": "sh_1", "changes": [[41, 1, {"bold": true}]]},
  {"cmd": "meta", "id": "sh_1", "changes": [{"key": "link", "vals": [[40, 1, "http://x"]]}]},
  {"cmd": "border", "id": "sh_1", "overwrite": true, "changes": [[41, 0, ["t", "r", "b", "l"]]]},
  {"cmd": "resize_row", "id": "sh_1", "from": 40, "to": 41, "height": 25},
  {"cmd": "resize_col", "id": "sh_1", "from": 3, "to": 4, "width": [0, 0, 0, 120, 130]},
  {"cmd": "merge", "id": "sh_1", "range": [42, 0, 43, 1]},
  {"cmd": "merge", "id": "sh_1", "range": [44, 0, 44, 2]},
  {"cmd": "unmerge", "id": "sh_1", "range": [44, 0, 44, 2]},
  {"cmd": "fix_row", "id": "sh_1", "row": 2},
  {"cmd": "fix_col", "id": "sh_1", "col": 1},
  {"cmd": "hide_rows", "id": "sh_1", "from": 45, "to": 46},
  {"cmd": "show_rows", "id": "sh_1", "from": 46, "to": 46},
  {"cmd": "hide_cols", "id": "sh_1", "from": 5, "to": 6},
  {"cmd": "show_cols", "id": "sh_1", "from": 6, "to": 6},
  {"cmd": "sort", "id": "sh_1", "rowOrder": [1, 0], "range": [50, 0, 51, 1]},
  {"cmd": "comment", "id": "sh_1", "uid": 7,
   "changes": [[47, 0, ["note", 1700000000]], [47, 1, ["by eight", 5, 8]]]},
  {"cmd": "create_filter", "id": "sh_1", "filterId": "f1", "range": [50, 0, 60, 3]},
  {"cmd": "disable_filter", "id": "sh_1", "filterId": "f1"},
  {"cmd": "set_filter", "id": "sh_1", "filterId": "f1", "col": 1, "condition": {"while": "off"}},
  {"cmd": "enable_filter", "id": "sh_1", "filterId": "f1"},
  {"cmd": "set_filter", "id": "sh_1", "filterId": "f1", "col": 2, "condition": {"op": "eq"}},
  {"cmd": "create_validation", "id": "sh_1", "range": "A55:A57",
   "validation": {"validId": "v1", "type": "list", "list": ["a", "b"]}},
  {"cmd": "remove_validation", "id": "sh_1", "validId": "v1", "range": "A57"},
  {"cmd": "create_validation", "id": "sh_1", "range": "C55",
   "validation": {"validId": "v2", "type": "list", "list": ["c"]}},
  {"cmd": "remove_validation", "id": "sh_1", "validId": "v2", "range": "C55"},
  {"cmd": "create_cf", "id": "sh_1", "index": 0, "cf": {"cfId": "c1", "ranges": ["B1:B2"]}},
  {"cmd": "create_cf", "id": "sh_1", "index": 0, "cf": {"cfId": "c2", "ranges": ["C1"]}},
  {"cmd": "create_cf", "id": "sh_1", "index": 9, "cf": {"cfId": "c3", "ranges": ["D1"]}},
  {"cmd": "remove_cf", "id": "sh_1", "cfId": "c1"},
  {"cmd": "insert_image", "id": "sh_1", "imageId": "img1", "position": {"x": 1, "y": 2}},
  {"cmd": "insert_image", "id": "sh_1", "imageId": "img2", "position": {"x": 3, "y": 4}},
  {"cmd": "resize_image", "id": "sh_1", "imageId": "img1", "position": {"x": 5, "y": 6}},
  {"cmd": "remove_image", "id": "sh_1", "imageId": "img2", "uid": 1001},
  {"cmd": "compound", "id": "sh_1", "uid": 9, "actions": [
    {"cmd": "value", "id": "sh_2", "uid": 11, "changes": [[0, 0, "via compound"]]},
    {"cmd": "style", "id": "sh_2", "changes": [[0, 0, {"italic": true}]]}]}
])";

void CollectNames(const Json::Value& commands, std::set<std::string>& names) {
  for (const Json::Value& command : commands) {
    names.insert(command["cmd"].asString());
    if (command.isMember("actions")) CollectNames(command["actions"], names);
  }
}

// A document made with the store's tool; a batch of every kind of command sent by a normal user.
// The sheets "get" answers afterwards show the effect of each kind; the save is a new version that
// names the batch's editors, and the index's editors gained them.
TEST_F(SnapshotCreateHttp, EveryCommandKindIsAppliedAndSavedAsANewVersion) {
  CreateWithTool("doc");
  const Json::Value batch = J(kAllKindsBatch);
  std::set<std::string> names;
  CollectNames(batch, names);
  for (const char* name : kAllNames) EXPECT_EQ(names.count(name), 1u) << "batch lacks " << name;
  const unsigned versionsBefore = Versions("doc").size();

  Reply r = Create("doc", batch);
  ASSERT_EQ(r.json["success"], true) << r.body;
  EXPECT_TRUE(r.json["data"].isNull()) << r.body;

  const Json::Value sh1 = GetSheet("doc", "sh_1");
  const Json::Value sh2 = GetSheet("doc", "sh_2");
  struct Effect {
    const char* kind;
    const Json::Value* sheet;
    const char* path;
    const char* expected;  // JSON text; "null" for a member that must be absent
  };
  const Effect effects[] = {
      {"insert_row", &sh1, "cells/2/0/v", R"("ins")"},
      {"insert_row", &sh1, "cells/2/1/m/s", R"({"fg": "red"})"},
      {"insert_row", &sh1, "cells/2/1/m/b", R"(["t", null, null, "l"])"},
      {"insert_row", &sh1, "cells/2/2/m/c", R"({"c": "ins note", "t": 1, "e": 4294967295})"},
      {"insert_row", &sh1, "cells/2/3/m/k", R"("kv")"},
      {"insert_row", &sh1, "cells/0/0/v", R"("top")"},
      {"insert_row", &sh1, "cells/6/0/v", R"("r5")"},
      {"insert_row", &sh1, "cells/5/0/v", "null"},
      {"remove_row", &sh1, "cells/31/0/v", R"("stay")"},
      {"remove_row", &sh1, "rowCount", "100"},
      {"remove_col", &sh1, "cells/35/10/v", R"("x11")"},
      {"insert_col", &sh1, "cells/35/26/v", R"("x25")"},
      {"insert_col", &sh1, "colCount", "31"},
      {"value", &sh1, "cells/40/0/v", R"("hello")"},
      {"value", &sh1, "cells/40/1/v", "42"},
      {"value", &sh1, "cells/40/2/v", "null"},
      {"value", &sh1, "cells/40/3", "null"},
      {"style", &sh1, "cells/41/1/m/s", R"({"color": "red", "bold": true})"},
      {"style", &sh1, "cells/41/1/v", R"("styled")"},
      {"meta", &sh1, "cells/40/1/m/link", R"("http://x")"},
      {"border", &sh1, "cells/41/0/m/b", R"(["t", "r", "b", "l"])"},
      {"resize_row", &sh1, "rowHeights/39", "null"},
      {"resize_row", &sh1, "rowHeights/40", "25"},
      {"resize_row", &sh1, "rowHeights/41", "25"},
      {"resize_col", &sh1, "colWidths/3", "120"},
      {"resize_col", &sh1, "colWidths/4", "130"},
      {"merge", &sh1, "mergeCells", "[[42, 0, 43, 1]]"},
      {"unmerge", &sh1, "cells/44/0/v", R"("keep")"},
      {"unmerge", &sh1, "cells/44/1/v", "null"},
      {"fix_row", &sh1, "fixedRowTop", "2"},
      {"fix_col", &sh1, "fixedColumnLeft", "1"},
      {"hide_rows", &sh1, "hiddenRows/45", "true"},
      {"show_rows", &sh1, "hiddenRows/46", "null"},
      {"hide_cols", &sh1, "hiddenCols/5", "true"},
      {"show_cols", &sh1, "hiddenCols/6", "null"},
      {"sort", &sh1, "cells/50/0/v", R"("a")"},
      {"sort", &sh1, "cells/51/0/v", R"("b")"},
      {"comment", &sh1, "cells/47/0/m/c", R"({"c": "note", "t": 1700000000, "e": 7})"},
      {"comment", &sh1, "cells/47/1/m/c", R"({"c": "by eight", "t": 5, "e": 8})"},
      {"create_filter", &sh1, "filter/id", R"("f1")"},
      {"create_filter", &sh1, "filter/range", "[50, 0, 60, 3]"},
      {"enable_filter", &sh1, "filter/enabled", "true"},
      {"disable_filter", &sh1, "filter/filters/1", "null"},  // set while disabled: ignored
      {"set_filter", &sh1, "filter/filters", R"([null, null, {"op": "eq"}])"},
      {"create_validation", &sh1, "validation/v1/type", R"("list")"},
      {"remove_validation", &sh1, "validation/v1/ranges", R"(["A55:A56"])"},
      {"remove_validation", &sh1, "validation/v2", "null"},
      {"create_cf", &sh1, "cfs/0/cfId", R"("c2")"},
      {"remove_cf", &sh1, "cfs",
       R"([{"cfId": "c2", "ranges": ["C1"]}, {"cfId": "c3", "ranges": ["D1"]}])"},
      {"insert_image", &sh1, "drawing/0/type", R"("img")"},
      {"resize_image", &sh1, "drawing/0/pos", R"({"x": 5, "y": 6})"},
      {"remove_image", &sh1, "drawing",
       R"([{"type": "img", "id": "img1", "pos": {"x": 5, "y": 6}}])"},
      {"compound", &sh2, "cells/0/0", R"({"v": "via compound", "m": {"s": {"italic": true}}})"},
      {"compound", &sh2, "rowCount", "20"},
  };
  for (const Effect& e : effects) {
    SCOPED_TRACE(std::string(e.kind) + " " + e.path);
    EXPECT_EQ(At(*e.sheet, e.path), J(e.expected)) << Json::toString(*e.sheet);
  }
  const std::multiset<std::string> values = Values(sh1);
  for (const char* removed : {"gone", "x10", "bad"})
    EXPECT_EQ(values.count(removed), 0u) << removed;

  // What "get" answered is what is stored; the sheet outside the batch and the deleted one are as
  // they were.
  auto stored = Stored("doc", {"sh_1", "sh_2", "sh_4"});
  EXPECT_EQ(stored->sheets.at("sh_1"), sh1);
  EXPECT_EQ(stored->sheets.at("sh_2"), sh2);
  const Json::Value initial = InitialText();
  EXPECT_EQ(stored->sheets.at("sh_4"), initial["sh_4"]);
  EXPECT_EQ(GetSheet("doc", "sh_3"), initial["sh_3"]);
  EXPECT_EQ(stored->GetOrder(), initial["index"]["order"]);
  EXPECT_EQ(stored->index["sheets"], initial["index"]["sheets"]);

  const Json::Value versions = Versions("doc");
  ASSERT_EQ(versions.size(), versionsBefore + 1);
  EXPECT_EQ(versions[0]["commit_msg"], J(R"({"listable": true, "editors": [5, 7, 9, 11, 1001]})"));
  EXPECT_EQ(stored->GetEditors(), J("[3, 5, 7, 9, 11, 1001]"));
  // "create" sends nothing to the collaboration server.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(peer_->Record()["events"].size(), 0u);
}

// An empty or absent batch still writes the index back: editors sorted and without duplicates,
// "editors": [] in the commit message.
TEST_F(SnapshotCreateHttp, EmptyBatchSavesTheIndexWithNoEditors) {
  CreateWithTool("doc");
  for (const char* params :
       {R"({"object_id": "doc"})", R"({"object_id": "doc", "commands": []})"}) {
    SCOPED_TRACE(params);
    const unsigned before = Versions("doc").size();
    Reply r = Call(kSnapshot, "create", J(params), alice_);
    ASSERT_EQ(r.json["success"], true) << r.body;
    const Json::Value versions = Versions("doc");
    ASSERT_EQ(versions.size(), before + 1);
    EXPECT_EQ(versions[0]["commit_msg"], J(R"({"listable": true, "editors": []})"));
    auto stored = Stored("doc", {"sh_1"});
    EXPECT_EQ(stored->GetEditors(), J("[3, 1001]"));
    EXPECT_EQ(stored->sheets.at("sh_1"), InitialText()["sh_1"]);
  }
}

// The collaboration server (login uid 0) hands over a large batch as a queue file: one command per
// line; a line that is not JSON is skipped; the file is deleted; "commands" is not used then.
TEST_F(SnapshotCreateHttp, QueueFileOfTheCollaborationServer) {
  CreateWithTool("doc");
  const std::string queue = WriteQueue(
      "q1", {R"({"cmd": "value", "id": "sh_1", "uid": 21, "changes": [[70, 0, "first"]]})",
             R"({"cmd": "value", "id": "sh_1", "changes": [[70, 1, "not json"]])",
             R"({"cmd": "compound", "id": "sh_1", "uid": 22, "actions": [)"
             R"({"cmd": "value", "id": "sh_2", "changes": [[1, 1, "third"]]}]})",
             ""});
  Json::Value params(Json::objectValue);
  params["object_id"] = "doc";
  params["queue_file"] = queue;
  params["commands"] = J(R"([{"cmd": "value", "id": "sh_1", "changes": [[71, 0, "inline"]]}])");
  Reply r = Call(kSnapshot, "create", params, collab_);
  ASSERT_EQ(r.json["success"], true) << r.body;
  EXPECT_FALSE(std::filesystem::exists(queue));

  const Json::Value sh1 = GetSheet("doc", "sh_1");
  EXPECT_EQ(At(sh1, "cells/70/0/v"), "first");
  EXPECT_EQ(At(sh1, "cells/70/1"), Json::Value()) << "the malformed line was skipped";
  EXPECT_EQ(At(sh1, "cells/71/0"), Json::Value()) << "the queue file replaces \"commands\"";
  EXPECT_EQ(At(GetSheet("doc", "sh_2"), "cells/1/1/v"), "third");
  EXPECT_EQ(Versions("doc")[0]["commit_msg"], J(R"({"listable": true, "editors": [21, 22]})"));
  EXPECT_EQ(Stored("doc")->GetEditors(), J("[3, 21, 22, 1001]"));
}

// Only uid 0 may name a queue file: anyone else's "queue_file" is ignored, the file left alone.
TEST_F(SnapshotCreateHttp, QueueFileOfAnotherUserIsIgnored) {
  CreateWithTool("doc");
  const std::string line = R"({"cmd": "value", "id": "sh_1", "changes": [[70, 0, "queued"]]})";
  const std::string queue = WriteQueue("q2", {line});
  Json::Value params(Json::objectValue);
  params["object_id"] = "doc";
  params["queue_file"] = queue;
  params["commands"] = J(R"([{"cmd": "value", "id": "sh_1", "changes": [[71, 0, "inline"]]}])");
  Reply r = Call(kSnapshot, "create", params, alice_);
  ASSERT_EQ(r.json["success"], true) << r.body;
  const Json::Value sh1 = GetSheet("doc", "sh_1");
  EXPECT_EQ(At(sh1, "cells/71/0/v"), "inline");
  EXPECT_EQ(At(sh1, "cells/70/0"), Json::Value());
  ASSERT_TRUE(std::filesystem::exists(queue));
  std::ifstream in(queue);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, line + "\n");
}

// A queue file that cannot be read: nothing is executed or saved, and the worker goes on serving.
TEST_F(SnapshotCreateHttp, UnreadableQueueFileSavesNothing) {
  CreateWithTool("doc");
  const std::string good = R"({"cmd": "value", "id": "sh_1", "changes": [[70, 0, "never"]]})";
  const std::string target = WriteQueue("target", {good});
  const std::string dir = root_.path("queue/dir");
  std::filesystem::create_directory(dir);
  const std::string fifo = root_.path("queue/fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = root_.path("queue/link");
  std::filesystem::create_symlink(target, link);

  struct Case {
    const char* what;
    std::string path;
    int code;
    bool left;  // the path still exists afterwards
  };
  const Case cases[] = {
      {"empty path", "", 1006, false},
      {"missing file", root_.path("queue/missing"), 1000, false},
      {"directory", dir, 1000, true},
      {"FIFO", fifo, 1000, false},
      {"symbolic link", link, 1000, false},
  };
  const Json::Value versions = Versions("doc");
  const Json::Value index = Stored("doc")->index;
  // One worker, so "the next call" is served by the worker that failed.
  auto single = StartHost(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Json::Value params(Json::objectValue);
    params["object_id"] = "doc";
    params["queue_file"] = c.path;
    params["commands"] = J(R"([{"cmd": "value", "id": "sh_1", "changes": [[71, 0, "x"]]}])");
    Reply r = Call(kSnapshot, "create", params, collab_, single->port());
    EXPECT_EQ(r.json["success"], false) << r.body;
    EXPECT_EQ(r.json["error"]["code"], c.code) << r.body;
    EXPECT_EQ(Versions("doc"), versions);
    EXPECT_EQ(Stored("doc")->index, index);
    if (!c.path.empty()) {
      std::error_code ec;
      EXPECT_EQ(std::filesystem::symlink_status(c.path, ec).type() !=
                    std::filesystem::file_type::not_found,
                c.left);
    }
  }
  // The link's target was neither read nor removed.
  EXPECT_TRUE(std::filesystem::exists(target));
  EXPECT_EQ(At(GetSheet("doc", "sh_1"), "cells/70/0"), Json::Value());

  Reply r = Call(kSnapshot, "create", J(R"({"object_id": "doc", "commands": [
                       {"cmd": "value", "id": "sh_1", "changes": [[72, 0, "after"]]}]})"),
                 collab_, single->port());
  ASSERT_EQ(r.json["success"], true) << r.body;
  EXPECT_EQ(At(GetSheet("doc", "sh_1"), "cells/72/0/v"), "after");
}

// A protected document: the password comes as a parameter or in the extra-auth header; a wrong
// one answers 1033 and saves nothing. What is saved stays encrypted.
TEST_F(SnapshotCreateHttp, ProtectedDocumentTakesThePasswordFromParameterOrHeader) {
  CreateProtected("secret");
  auto header = [this](const std::string& plain) {
    auto made = RunProgram({HOST_BIN, "--root", root_.dir(), "extra-auth", plain});
    EXPECT_EQ(made.status, 0);
    return httplib::Headers{{"X-Extra-Auth-Params", made.out.substr(0, made.out.size() - 1)}};
  };
  const httplib::Headers right = header("password=doc%20pass");
  const httplib::Headers wrong = header("password=nope");
  struct Case {
    const char* what;
    const char* password;  // nullptr: no parameter
    const httplib::Headers* headers;
    int code;  // 0: success
  };
  const Case cases[] = {
      {"wrong parameter", "wrong", nullptr, 1033},
      {"no password at all", nullptr, nullptr, 1033},
      {"empty parameter, no header", "", nullptr, 1033},
      {"wrong header", nullptr, &wrong, 1033},
      {"a wrong parameter wins over the header", "wrong", &right, 1033},
      {"parameter", kDocPassword, nullptr, 0},
      {"header", nullptr, &right, 0},
      {"empty parameter takes the header", "", &right, 0},
  };
  int row = 80;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const unsigned before = Versions("secret").size();
    Json::Value params(Json::objectValue);
    params["object_id"] = "secret";
    if (c.password != nullptr) params["password"] = c.password;
    params["commands"] = Json::Value(Json::arrayValue);
    Json::Value& command = params["commands"].append(
        J(R"({"cmd": "value", "id": "sh_1", "uid": 31, "changes": [[0, 0, "x"]]})"));
    command["changes"][0][0] = row;
    command["changes"][0][2] = c.what;
    Reply r =
        Call(kSnapshot, "create", params, alice_, 0, c.headers ? *c.headers : httplib::Headers{});
    const Json::Value versions = Versions("secret");
    if (c.code != 0) {
      EXPECT_EQ(r.json["error"]["code"], c.code) << r.body;
      EXPECT_EQ(versions.size(), before);
      EXPECT_EQ(At(GetSheet("secret", "sh_1", kDocPassword), "cells/" + std::to_string(row)),
                Json::Value());
    } else {
      ASSERT_EQ(r.json["success"], true) << r.body;
      ASSERT_EQ(versions.size(), before + 1);
      EXPECT_EQ(versions[0]["commit_msg"], J(R"({"listable": true, "editors": [31]})"));
      EXPECT_EQ(
          At(GetSheet("secret", "sh_1", kDocPassword), "cells/" + std::to_string(row) + "/0/v"),
          c.what);
    }
    ++row;
  }
  // Stored encrypted, readable with the password.
  const Json::Value raw = RawText("secret");
  EXPECT_TRUE(raw["index"].isString());
  EXPECT_TRUE(raw["sh_1"].isString());
  EXPECT_EQ(raw["sh_1"].asString().find("doc pass"), std::string::npos);
  auto stored = Stored("secret", {"sh_1"}, kDocPassword);
  EXPECT_EQ(At(stored->sheets.at("sh_1"), "cells/0/0/v"), "top");
  EXPECT_EQ(stored->GetEditors(), J("[3, 31, 1001]"));
}

// Malformed commands are logged and skipped; they neither crash the worker nor lose the valid
// commands of their batch.
TEST_F(SnapshotCreateHttp, BadCommandsDoNotLoseTheValidOnes) {
  CreateWithTool("doc");
  const Json::Value batch = J(R"([
    {"cmd": "value", "id": "sh_1", "changes": [[60, 0, "v1"]]},
    {"cmd": "explode", "id": "sh_1", "uid": 40},
    {"cmd": "value", "id": "sh_9", "uid": 41, "changes": [[0, 0, "missing sheet"]]},
    {"cmd": "value", "id": "sh_3", "uid": 42, "changes": [[0, 0, "deleted sheet"]]},
    {"cmd": "insert_row", "id": "sh_1", "index": {}, "amount": 1},
    {"cmd": "insert_row", "id": "sh_1", "index": 0, "amount": 1e12},
    {"cmd": "remove_row", "id": "sh_1", "index": "0", "amount": 1},
    {"cmd": "value", "id": "sh_1", "changes": "A1"},
    {"cmd": "style", "id": "sh_1", "overwrite": "yes", "changes": [[60, 0, {"bold": true}]]},
    {"cmd": "hide_rows", "id": "sh_1", "from": [1], "to": 3},
    {"cmd": "merge", "id": "sh_1", "range": [1, 2, 3]},
    {"cmd": "create_filter", "id": "sh_1", "filterId": {}, "range": [0, 0, 5, 5]},
    {"cmd": "value", "id": ["sh_1"], "changes": [[61, 1, "array id"]]},
    {"cmd": 5, "id": "sh_1"},
    {"cmd": "compound", "id": "sh_1", "uid": 43, "actions": [
      {"cmd": "value", "id": "sh_1", "changes": [[61, 0, "nested"]]},
      {"cmd": "compound", "actions": [{"cmd": "value", "id": "sh_1", "changes": [[61, 2, "x"]]}]}]},
    {"cmd": "compound", "id": "sh_1", "actions": "none"},
    {"cmd": "compound", "id": "sh_1", "uid": 44, "actions": [7, "x",
      {"cmd": "value", "id": "sh_2", "changes": [[3, 3, "after junk"]]}]},
    {"cmd": "value", "id": "sh_1", "uid": "abc", "changes": [[62, 0, "v2"]]},
    {"cmd": "value", "id": "sh_1", "uid": 12, "changes": [[63, 0, "v3"]]}
  ])");
  const unsigned before = Versions("doc").size();
  Reply r = Create("doc", batch);
  ASSERT_EQ(r.json["success"], true) << r.body;

  const Json::Value sh1 = GetSheet("doc", "sh_1");
  EXPECT_EQ(At(sh1, "cells/60/0"), J(R"({"v": "v1"})")) << "the style with a bad overwrite";
  EXPECT_EQ(At(sh1, "cells/61"), Json::Value()) << "nothing of a compound inside a compound";
  EXPECT_EQ(At(sh1, "cells/62/0/v"), "v2");
  EXPECT_EQ(At(sh1, "cells/63/0/v"), "v3");
  EXPECT_EQ(At(GetSheet("doc", "sh_2"), "cells/3/3/v"), "after junk");
  Json::Value unchanged = InitialText()["sh_1"];
  for (const char* row : {"60", "62", "63"}) unchanged["cells"][row] = sh1["cells"][row];
  EXPECT_EQ(sh1, unchanged) << "rejected commands changed nothing";
  EXPECT_EQ(GetSheet("doc", "sh_3"), InitialText()["sh_3"]);

  const Json::Value versions = Versions("doc");
  ASSERT_EQ(versions.size(), before + 1);
  EXPECT_EQ(versions[0]["commit_msg"], J(R"({"listable": true, "editors": [12, 44]})"));

  // The worker that ran the batch still serves.
  auto single = StartHost(1);
  r = Create("doc", J(R"([{"cmd": "value", "id": "sh_1", "changes": [[64, 0, "next"]]}])"),
             single->port());
  ASSERT_EQ(r.json["success"], true) << r.body;
  r = Create("doc", batch, single->port());
  ASSERT_EQ(r.json["success"], true) << r.body;
  r = Create("doc", J(R"([{"cmd": "value", "id": "sh_1", "changes": [[65, 0, "after"]]}])"),
             single->port());
  ASSERT_EQ(r.json["success"], true) << r.body;
  EXPECT_EQ(At(GetSheet("doc", "sh_1"), "cells/65/0/v"), "after");
}

// The parameter check refuses a batch holding anything but command objects (120), before anything
// is loaded or saved.
TEST_F(SnapshotCreateHttp, CommandsThatAreNotObjectsAreRefusedByTheCheck) {
  CreateWithTool("doc");
  const Json::Value versions = Versions("doc");
  struct Case {
    const char* params;
    const char* errors;
  };
  const Case cases[] = {
      {R"({"object_id": "doc", "commands": [{"cmd": "value", "id": "sh_1",
           "changes": [[70, 0, "x"]]}, 5]})",
       R"({"name": "commands", "reason": "type"})"},
      {R"({"object_id": "doc", "commands": [[]]})", R"({"name": "commands", "reason": "type"})"},
      {R"({"object_id": "doc", "commands": [null]})", R"({"name": "commands", "reason": "type"})"},
      {R"({"object_id": "doc", "commands": "[]"})", R"({"name": "commands", "reason": "type"})"},
      {R"({"object_id": "doc", "commands": {"cmd": "value"}})",
       R"({"name": "commands", "reason": "type"})"},
      {R"({"object_id": "doc", "queue_file": 5})", R"({"name": "queue_file", "reason": "type"})"},
      {R"({"object_id": "doc", "password": 5})", R"({"name": "password", "reason": "type"})"},
      {R"({"commands": []})", R"({"name": "object_id", "reason": "required"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    Reply r = Call(kSnapshot, "create", J(c.params), alice_);
    EXPECT_EQ(r.json["error"]["code"], 120) << r.body;
    EXPECT_EQ(r.json["error"]["errors"], J(c.errors)) << r.body;
  }
  EXPECT_EQ(Versions("doc"), versions);
  EXPECT_EQ(At(GetSheet("doc", "sh_1"), "cells/70"), Json::Value());
}

// "update" replaces the order of the visible sheets with a permutation of it, saves, and tells the
// collaboration server; anything but a permutation is refused without a version or an event.
TEST_F(SnapshotCreateHttp, UpdateReordersAndNotifies) {
  CreateWithTool("doc");
  struct Step {
    const char* params;
    int code;           // 0: success
    const char* order;  // stored order afterwards
    const char* event;  // the "tab" payload of a success
  };
  const Step steps[] = {
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2", "sh_1"]})", 0,
       R"(["sh_4", "sh_2", "sh_1"])",
       R"({"cmd": "reorder", "object_id": "doc", "order": ["sh_4", "sh_2", "sh_1"]})"},
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2"]})", 1006, R"(["sh_4", "sh_2", "sh_1"])",
       nullptr},
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2", "sh_2"]})", 1006,
       R"(["sh_4", "sh_2", "sh_1"])", nullptr},
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2", "sh_3"]})", 1006,
       R"(["sh_4", "sh_2", "sh_1"])", nullptr},
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2", "sh_1", "sh_3"]})", 1006,
       R"(["sh_4", "sh_2", "sh_1"])", nullptr},
      {R"({"object_id": "doc", "order": []})", 1006, R"(["sh_4", "sh_2", "sh_1"])", nullptr},
      {R"({"object_id": "doc", "order": ["sh_4", "sh_2", 1]})", 120, R"(["sh_4", "sh_2", "sh_1"])",
       nullptr},
      {R"({"object_id": "nodoc", "order": ["sh_1"]})", 1016, R"(["sh_4", "sh_2", "sh_1"])",
       nullptr},
      {R"({"object_id": "doc"})", 0, R"(["sh_4", "sh_2", "sh_1"])",
       R"({"cmd": "reorder", "object_id": "doc", "order": []})"},
      {R"({"object_id": "doc", "order": ["sh_1", "sh_2", "sh_4"]})", 0,
       R"(["sh_1", "sh_2", "sh_4"])",
       R"({"cmd": "reorder", "object_id": "doc", "order": ["sh_1", "sh_2", "sh_4"]})"},
  };
  unsigned versions = Versions("doc").size();
  unsigned tabs = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.params);
    Reply r = Call(kSnapshot, "update", J(step.params), alice_);
    if (step.code == 0) {
      ASSERT_EQ(r.json["success"], true) << r.body;
      EXPECT_TRUE(r.json["data"].isNull()) << r.body;
      ++versions;
      ++tabs;
    } else {
      EXPECT_EQ(r.json["error"]["code"], step.code) << r.body;
    }
    auto stored = Stored("doc");
    EXPECT_EQ(stored->GetOrder(), J(step.order));
    EXPECT_EQ(stored->index["sheets"], InitialText()["index"]["sheets"]);
    const Json::Value all = Versions("doc");
    ASSERT_EQ(all.size(), versions);
    if (step.code == 0) {
      EXPECT_EQ(all[0]["commit_msg"], J(R"({"listable": true, "editors": [1001]})"));
    }
    const Json::Value events = Events("tab", tabs);
    ASSERT_EQ(events.size(), tabs) << Json::toString(peer_->Record());
    if (step.event != nullptr) {
      EXPECT_EQ(events[tabs - 1], J(std::string("[") + step.event + "]"));
    }
  }
  // Late events of refused calls would show up here.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Events("tab", tabs).size(), tabs);
}

// Several clients persist batches into one document through four workers at once, interleaved
// with sheet creations: the document's lock makes every load-change-save whole, so no batch and
// no sheet is lost.
TEST_F(SnapshotCreateHttp, ConcurrentBatchesOnOneDocumentLoseNothing) {
  CreateWithTool("doc");
  auto host = StartHost(4);
  constexpr int kClients = 4;
  constexpr int kBatches = 12;
  constexpr int kSheets = 3;
  std::atomic<int> failures{0};
  auto client = [&](int c) {
    for (int b = 0; b < kBatches; ++b) {
      const int row = 60 + b;
      Json::Value batch(Json::arrayValue);
      Json::Value& value =
          batch.append(J(R"({"cmd": "value", "id": "sh_1", "changes": [[0, 0, 0]]})"));
      value["uid"] = 100 + c;
      value["changes"][0][0] = row;
      value["changes"][0][1] = c;
      value["changes"][0][2] = "c" + std::to_string(c) + "b" + std::to_string(b);
      Json::Value& style =
          batch.append(J(R"({"cmd": "style", "id": "sh_1", "changes": [[0, 0, {}]]})"));
      style["changes"][0][0] = row;
      style["changes"][0][1] = c;
      style["changes"][0][2]["n"] = b;
      Json::Value& width = batch.append(J(R"({"cmd": "resize_col", "id": "sh_1", "width": 0})"));
      width["from"] = c;
      width["to"] = c;
      width["width"] = 50 + c;
      Reply r = Create("doc", batch, host->port());
      if (r.json["success"] != true) {
        ++failures;
        ADD_FAILURE() << "client " << c << " batch " << b << ": " << r.body;
      }
    }
  };
  auto creator = [&] {
    for (int s = 0; s < kSheets; ++s) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Json::Value params(Json::objectValue);
      params["object_id"] = "doc";
      params["title"] = "T" + std::to_string(s);
      Reply r = Call(kSheetApi, "create", params, alice_, host->port());
      if (r.json["success"] != true) {
        ++failures;
        ADD_FAILURE() << "sheet " << s << ": " << r.body;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) threads.emplace_back(client, c);
  threads.emplace_back(creator);
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(failures.load(), 0);

  auto stored = Stored("doc", {"sh_1"});
  const Json::Value& sh1 = stored->sheets.at("sh_1");
  int lost = 0;
  for (int c = 0; c < kClients; ++c) {
    for (int b = 0; b < kBatches; ++b) {
      const std::string cell = "cells/" + std::to_string(60 + b) + "/" + std::to_string(c);
      const std::string text = "c" + std::to_string(c) + "b" + std::to_string(b);
      if (At(sh1, cell + "/v") != text || At(sh1, cell + "/m/s/n") != b) {
        ++lost;
        ADD_FAILURE() << "batch " << text << " lost: " << Json::toString(At(sh1, cell));
      }
    }
    EXPECT_EQ(At(sh1, "colWidths/" + std::to_string(c)), 50 + c);
  }
  EXPECT_EQ(lost, 0);
  for (int s = 0; s < kSheets; ++s) {
    EXPECT_FALSE(stored->IsValidSheetTitle("T" + std::to_string(s))) << "sheet T" << s << " lost";
  }
  EXPECT_EQ(stored->GetOrder().size(), 3u + kSheets);
  EXPECT_EQ(stored->GetMaxIndex(), 4 + kSheets);
  EXPECT_EQ(stored->GetEditors(), J("[3, 100, 101, 102, 103, 1001]"));
  EXPECT_EQ(Versions("doc").size(), 1u + kClients * kBatches + kSheets);
}

}  // namespace
