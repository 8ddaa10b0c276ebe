// Sheet operations of the snapshot service end to end: a real host with the module, the Drive
// store under a private root, and the socket.io test peer standing in for the collaboration
// server, which records the "tab" (and "flush") events the module sends after answering.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/named_mutex.h"
#include "common/zoltsh_error.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"
#include "sio/sio_peer.h"
#include "snapshot/spreadsheet.h"
#include "support/host_process.h"
#include "support/run_program.h"
#include "support/scoped_env.h"
#include "support/temp_root.h"

namespace {

using zoltsh::testing::HostCall;
using zoltsh::testing::HostLogin;
using zoltsh::testing::HostProcess;
using zoltsh::testing::Reply;
using zoltsh::testing::RunProgram;
using zoltsh::testing::ScopedEnv;
using zoltsh::testing::SioPeer;

constexpr unsigned kUid = 1001;
constexpr const char* kToken = "sheet-ops-token";
constexpr const char* kDocPassword = "doc pass";

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

// The initial document: "First" (sh_1, A1 = "one") and "Second" (sh_2), in that order.
Json::Value InitialDocument(zoltsh::SpreadSheet& doc) {
  doc.index = J(R"({"maxIndex": 2, "order": ["sh_1", "sh_2"], "editors": [], "schemaVersion": 1,
                    "sheets": {"sh_1": {"deleted": false, "title": "First"},
                               "sh_2": {"deleted": false, "title": "Second"}}})");
  doc.sheets["sh_1"] =
      J(R"({"rowCount": 100, "colCount": 30, "cells": {"0": {"0": {"v": "one"}}}})");
  doc.sheets["sh_2"] = J(R"({"rowCount": 7, "colCount": 3})");
  return doc.sheets["sh_1"];
}

class SheetOpsHttp : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunProgram({ZOLTUSER_BIN, "--root", root_.dir(), "add", "alice", "--uid",
                          std::to_string(kUid), "--password", "pw"})
                  .status,
              0);
    std::filesystem::create_directories(root_.path("var/run"));
    std::filesystem::create_directories(root_.path("tmp"));  // the lock folder lives below it
    std::ofstream(root_.path("var/run/spreadsheet_token")) << kToken;
    peer_ = std::make_unique<SioPeer>(kToken);
    ASSERT_GT(peer_->port(), 0);
    port_env_ = std::make_unique<ScopedEnv>("ZOLTSH_SIO_PORT", std::to_string(peer_->port()));
    wait_env_ = std::make_unique<ScopedEnv>("ZOLTSH_SIO_WAIT_LIMIT_MS", "3000");
    host_ = StartHost(2);
    sid_ = HostLogin(host_->port(), "alice", "pw");
    ASSERT_FALSE(sid_.empty());
    CreateDocument("doc", GetParam());
  }

  std::unique_ptr<HostProcess> StartHost(int workers) {
    auto host = std::make_unique<HostProcess>(HOST_BIN, root_.dir(), workers,
                                              std::vector<std::string>{SNAPSHOT_MODULE_PATH});
    EXPECT_GT(host->port(), 0);
    return host;
  }

  bool Protected() const { return GetParam(); }

  void CreateDocument(const std::string& id, bool isProtected) {
    zoltsh::SpreadSheet doc;
    sheet1_ = InitialDocument(doc);
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["owner"] = kUid;
    std::string sysPass;
    if (isProtected) {
      ASSERT_TRUE(ZOLT_SH_ENCRYPT::GenRandPassword(sysPass));
      req["metatext"]["encrypt"] = true;
      ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, kDocPassword,
                                                          req["metatext"]["password"]));
    }
    doc.toDriveText(req["text"], sysPass);
    req["text"]["title"] = "Budget";
    ZOLT_DRIVE_OBJECT object;
    ASSERT_TRUE(object.Create(req)) << ZOLTDriveErrCodeGet();
  }

  // params plus the document password for a protected document.
  Reply Call(const std::string& method, Json::Value params, int port = 0) {
    if (Protected() && !params.isMember("password")) params["password"] = kDocPassword;
    return HostCall(port != 0 ? port : host_->port(), "ZOLT.Tabvale.Snapshot.Sheet", method, params,
                    sid_);
  }
  Reply Call(const std::string& method, const char* params) { return Call(method, J(params)); }

  // The stored index and the named sheets of the current version, decrypted, read as the system.
  std::unique_ptr<zoltsh::SpreadSheet> Stored(std::initializer_list<const char*> sheets = {}) {
    auto doc = std::make_unique<zoltsh::SpreadSheet>();
    Json::Value req = J(R"({"ns": "Tabvale", "id": "doc", "requester": 0})");
    req["field"]["text"]["index"] = true;
    for (const char* s : sheets) req["field"]["text"][s] = true;
    doc->LoadFromDrive(req, Protected() ? kDocPassword : "");
    return doc;
  }

  // The stored versions, newest first: [{"id", "commit_msg", ...}].
  Json::Value Versions() {
    Json::Value req = J(R"({"ns": "Tabvale", "id": "doc", "requester": 0})");
    ZOLT_DRIVE_OBJECT_VERSION_LIST list;
    int total = 0;
    EXPECT_GE(list.ListVersion(req, total), 0);
    Json::Value out(Json::arrayValue);
    for (const auto& v : list) {
      Json::Value one;
      v.toJson(Json::Value(), one);
      out.append(one);
    }
    return out;
  }

  // The events the peer recorded with this name, waiting (up to 10 s) until there are `atLeast`.
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

  zoltsh::testing::TempRoot root_;
  std::unique_ptr<SioPeer> peer_;
  std::unique_ptr<ScopedEnv> port_env_;
  std::unique_ptr<ScopedEnv> wait_env_;
  std::unique_ptr<HostProcess> host_;
  std::string sid_;
  Json::Value sheet1_;
};

INSTANTIATE_TEST_SUITE_P(PlainAndProtected, SheetOpsHttp, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Protected" : "Plain";
                         });

// One changing call per step; after each: the answer, the stored order, one new version written
// by the caller, and the "tab" event (or none).
TEST_P(SheetOpsHttp, ChangingMethodsSaveAVersionAndNotify) {
  struct Step {
    const char* method;
    const char* params;
    const char* data;   // expected answer data
    const char* order;  // stored order afterwards
    const char* tab;    // expected "tab" payload, null: no event
  };
  const Step steps[] = {
      {"create", R"({"object_id":"doc","title":"Third","client_id":"c1"})",
       R"({"object_id":"doc","sheet_id":"sh_3"})", R"(["sh_1","sh_2","sh_3"])",
       R"({"client_id":"c1","cmd":"add","id":"sh_3","object_id":"doc","title":"Third"})"},
      {"update", R"({"object_id":"doc","sheet_id":"sh_3","title":"Drei","client_id":"c2"})", "null",
       R"(["sh_1","sh_2","sh_3"])",
       R"({"client_id":"c2","cmd":"rename","id":"sh_3","object_id":"doc","title":"Drei"})"},
      {"update", R"({"object_id":"doc","sheet_id":"sh_3","client_id":"c2"})", "null",
       R"(["sh_1","sh_2","sh_3"])", nullptr},
      {"dup", R"({"object_id":"doc","sheet_id":"sh_1","title":"Copy","client_id":"c3"})",
       R"({"object_id":"doc","sheet_id":"sh_4"})", R"(["sh_1","sh_2","sh_3","sh_4"])",
       R"({"client_id":"c3","cmd":"add","id":"sh_4","object_id":"doc","title":"Copy"})"},
      {"delete", R"({"object_id":"doc","sheet_id":"sh_2","client_id":"c4"})", "null",
       R"(["sh_1","sh_3","sh_4"])",
       R"({"client_id":"c4","cmd":"remove","id":"sh_2","object_id":"doc"})"},
      {"recover", R"({"object_id":"doc","sheet_id":"sh_2","pos":2,"client_id":"c5"})",
       R"({"sheet_id":"sh_2","title":"Second"})", R"(["sh_1","sh_3","sh_2","sh_4"])",
       R"({"client_id":"c5","cmd":"add","id":"sh_2","object_id":"doc","pos":2,"title":"Second"})"},
      {"delete", R"({"object_id":"doc","sheet_id":"sh_4"})", "null", R"(["sh_1","sh_3","sh_2"])",
       R"({"client_id":"","cmd":"remove","id":"sh_4","object_id":"doc"})"},
      {"recover", R"({"object_id":"doc","sheet_id":"sh_4"})",
       R"({"sheet_id":"sh_4","title":"Copy"})", R"(["sh_4","sh_1","sh_3","sh_2"])",
       R"({"client_id":"","cmd":"add","id":"sh_4","object_id":"doc","pos":0,"title":"Copy"})"},
  };
  unsigned versions = Versions().size();
  unsigned tabs = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.method) + " " + step.params);
    Reply r = Call(step.method, step.params);
    ASSERT_EQ(r.json["success"], true) << r.body;
    EXPECT_EQ(r.json["data"], J(step.data)) << r.body;
    EXPECT_EQ(Stored()->GetOrder(), J(step.order));
    Json::Value all = Versions();
    ASSERT_EQ(all.size(), ++versions);
    EXPECT_EQ(all[0]["commit_msg"], J(R"({"listable": true, "editors": [1001]})"));
    if (step.tab != nullptr) ++tabs;
    Json::Value events = Events("tab", tabs);
    ASSERT_EQ(events.size(), tabs) << Json::toString(peer_->Record());
    if (step.tab != nullptr) {
      EXPECT_EQ(events[tabs - 1], J((std::string("[") + step.tab + "]").c_str()));
    }
  }
  // The copy holds what its source held; the source itself was not rewritten.
  auto stored = Stored({"sh_1", "sh_4"});
  EXPECT_EQ(stored->sheets.at("sh_4"), sheet1_);
  EXPECT_EQ(stored->sheets.at("sh_1"), sheet1_);
  EXPECT_EQ(stored->GetSheetTitle("sh_3"), "Drei");
  // "dup" asked the collaboration server to flush the document first.
  EXPECT_EQ(Events("flush", 1), J(R"([[["doc"]]])"));
  // A created sheet is stored initialised.
  auto created = Stored({"sh_3"});
  EXPECT_EQ(created->GetSheetById("sh_3").GetRowCount(), 100);
}

// Refused operations answer their code, write no version and send no event.
TEST_P(SheetOpsHttp, RefusedOperationsChangeNothing) {
  ASSERT_EQ(Call("delete", R"({"object_id":"doc","sheet_id":"sh_2"})").json["success"], true);
  Events("tab", 1);
  struct Case {
    const char* method;
    const char* params;
    int code;
  };
  const Case cases[] = {
      {"create", R"({"object_id":"doc","title":"First"})", 1006},
      {"update", R"({"object_id":"doc","sheet_id":"sh_1","title":"First"})", 1006},
      {"update", R"({"object_id":"doc","sheet_id":"sh_2","title":"X"})", 1032},
      {"delete", R"({"object_id":"doc","sheet_id":"sh_1"})", 1006},
      {"delete", R"({"object_id":"doc","sheet_id":"sh_2"})", 1032},
      {"delete", R"({"object_id":"doc","sheet_id":"sh_9"})", 1032},
      {"recover", R"({"object_id":"doc","sheet_id":"sh_1"})", 1006},
      {"recover", R"({"object_id":"doc","sheet_id":"sh_9"})", 1032},
      {"recover", R"({"object_id":"doc","sheet_id":"sh_2","pos":-1})", 1006},
      {"dup", R"({"object_id":"doc","sheet_id":"sh_2","title":"Z"})", 1032},
      {"dup", R"({"object_id":"doc","sheet_id":"sh_1","title":"First"})", 1006},
      {"create", R"({"object_id":"nodoc","title":"A"})", 1016},
      {"get", R"({"object_id":"nodoc"})", 1016},
      {"get", R"({"object_id":"doc","sheet_id":"sh_9"})", 1032},
      {"get", R"({"object_id":"doc","sheet_id":"index"})", 1032},
      {"get", R"({"object_id":"doc","sheet_id":"title"})", 1032},
  };
  const Json::Value versions = Versions();
  const Json::Value index = Stored()->index;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.params);
    Reply r = Call(c.method, c.params);
    EXPECT_EQ(r.json["success"], false) << r.body;
    EXPECT_EQ(r.json["error"]["code"], c.code) << r.body;
    EXPECT_TRUE(r.json["error"]["errors"].isMember("zoltdrive")) << r.body;
  }
  EXPECT_EQ(Versions(), versions);
  EXPECT_EQ(Stored()->index, index);
  EXPECT_EQ(Events("tab", 2).size(), 1u) << "only the first delete notified";
}

TEST_P(SheetOpsHttp, GetReturnsTheSheetWithItsIdHeader) {
  Reply r = Call("get", R"({"object_id":"doc","sheet_id":"sh_2"})");
  ASSERT_EQ(r.status, 200);
  Json::Value body;
  ASSERT_TRUE(Json::fromString(body, r.body)) << r.body;
  EXPECT_EQ(body, J(R"({"rowCount": 7, "colCount": 3})"));
  ASSERT_EQ(r.headers.count("X-Spreadsheet-Sheet-Id"), 1u);
  EXPECT_EQ(r.headers.find("X-Spreadsheet-Sheet-Id")->second, "sh_2");
  EXPECT_EQ(r.headers.find("Content-Type")->second.rfind("application/json", 0), 0u);
  if (!Protected()) {
    // The stored text, byte for byte.
    std::string path;
    ASSERT_TRUE(ZOLTDriveGetTextPath("Tabvale", "doc", "sh_2", path));
    EXPECT_EQ(r.body, ReadFile(path));
  }

  // Without "sheet_id": the first sheet of the order; a deleted sheet is still readable by id.
  ASSERT_EQ(Call("delete", R"({"object_id":"doc","sheet_id":"sh_1"})").json["success"], true);
  r = Call("get", R"({"object_id":"doc"})");
  EXPECT_EQ(r.headers.find("X-Spreadsheet-Sheet-Id")->second, "sh_2");
  r = Call("get", R"({"object_id":"doc","sheet_id":"sh_1"})");
  ASSERT_TRUE(Json::fromString(body, r.body)) << r.body;
  EXPECT_EQ(body, sheet1_);
}

TEST_P(SheetOpsHttp, WrongPasswordIsRefusedWithoutAVersion) {
  if (!Protected()) GTEST_SKIP() << "only protected documents have a password";
  const Json::Value versions = Versions();
  for (const char* method : {"create", "get", "delete"}) {
    SCOPED_TRACE(method);
    Json::Value params = J(R"({"object_id":"doc","sheet_id":"sh_2","title":"New"})");
    params["password"] = "wrong";
    Reply r = Call(method, params);
    EXPECT_EQ(r.json["error"]["code"], 1033) << r.body;
    params["password"] = "";
    r = Call(method, params);
    EXPECT_EQ(r.json["error"]["code"], 1033) << r.body;
  }
  EXPECT_EQ(Versions(), versions);
  EXPECT_EQ(peer_->Record()["events"].size(), 0u);
}

// Calls served by two workers at once all land: the document's lock spans processes.
TEST_P(SheetOpsHttp, ConcurrentCreatesFromTwoWorkersAllLand) {
  constexpr int kPerThread = 4;
  auto creator = [this](const std::string& prefix) {
    for (int i = 0; i < kPerThread; ++i) {
      Json::Value params(Json::objectValue);
      params["object_id"] = "doc";
      params["title"] = prefix + std::to_string(i);
      Reply r = Call("create", params);
      EXPECT_EQ(r.json["success"], true) << r.body;
    }
  };
  std::thread a(creator, "a");
  std::thread b(creator, "b");
  a.join();
  b.join();
  auto stored = Stored();
  EXPECT_EQ(stored->GetMaxIndex(), 2 + 2 * kPerThread);
  EXPECT_EQ(stored->GetOrder().size(), 2u + 2 * kPerThread);
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kPerThread; ++i) {
      EXPECT_FALSE(stored->IsValidSheetTitle(prefix + std::to_string(i))) << prefix << i;
    }
  }
  EXPECT_EQ(Versions().size(), 1u + 2 * kPerThread);
}

// A request that finds the document locked longer than the lock wait answers 1000 unchanged.
TEST_P(SheetOpsHttp, LockedDocumentAnswers1000) {
  if (Protected()) GTEST_SKIP() << "the lock does not depend on protection";
  zoltsh::utils::NamedMutex lock("doc");
  ASSERT_TRUE(lock.Acquire(0));
  Reply r = Call("create", R"({"object_id":"doc","title":"X"})");
  EXPECT_EQ(r.json["error"]["code"], 1000) << r.body;
  lock.Release();
  EXPECT_EQ(Versions().size(), 1u);
  r = Call("create", R"({"object_id":"doc","title":"X"})");
  EXPECT_EQ(r.json["success"], true) << r.body;
}

// The answer does not wait for, nor depend on, the notification.
TEST_P(SheetOpsHttp, FailedNotificationKeepsTheAnswer) {
  if (Protected()) GTEST_SKIP() << "notifications do not depend on protection";
  Json::Value rule;
  rule["mode"] = "disconnect";
  ASSERT_TRUE(peer_->Rule("tab", rule));
  Reply r = Call("create", R"({"object_id":"doc","title":"X","client_id":"c"})");
  EXPECT_EQ(r.json["success"], true) << r.body;
  EXPECT_EQ(Events("tab", 1).size(), 1u);
  peer_.reset();  // nobody listens any more
  r = Call("delete", R"({"object_id":"doc","sheet_id":"sh_3"})");
  EXPECT_EQ(r.json["success"], true) << r.body;
  EXPECT_EQ(Stored()->GetOrder(), J(R"(["sh_1","sh_2"])"));
}

// A worker's error stack outlives its requests: a code an earlier request left there must not
// replace the code of a later failure in the same worker.
TEST_P(SheetOpsHttp, EarlierFailureDoesNotChangeALaterCode) {
  if (!Protected()) GTEST_SKIP() << "the earlier failure is a wrong password";
  auto single = StartHost(1);
  Json::Value params = J(R"({"object_id":"doc","title":"A","password":"wrong"})");
  Reply r = Call("create", params, single->port());
  EXPECT_EQ(r.json["error"]["code"], 1033) << r.body;
  r = Call("create", J(R"({"object_id":"doc","title":"First"})"), single->port());
  EXPECT_EQ(r.json["error"]["code"], 1006) << r.body;
}

}  // namespace
