// The snapshot module's frame, loaded as the host loads it: tables, parameter checks, the error
// answer of a failing method, and the password of the extra-auth line.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "common/extra_auth.h"
#include "common/zoltsh_error.h"
#include "drive/drive_error.h"
#include "json/json_text.h"
#include "support/temp_root.h"
#include "webapi/cgi.h"
#include "webapi/webapi.h"

namespace {

struct DlCloser {
  void operator()(void* handle) const { dlclose(handle); }
};

class SnapshotFrame : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_.reset(dlopen(SNAPSHOT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(module_, nullptr) << dlerror();
  }
  static void TearDownTestSuite() { module_.reset(); }

  template <typename T>
  static T Symbol(const char* name) {
    void* sym = dlsym(module_.get(), name);
    EXPECT_NE(sym, nullptr) << name;
    return reinterpret_cast<T>(sym);
  }
  static const ZOLT::APIHandlerInfo* Table() {
    return Symbol<const ZOLT::APIHandlerInfo* (*)()>("GetAPITable")();
  }
  static const ZOLT::APICheckHandlerInfo* CheckTable() {
    return Symbol<const ZOLT::APICheckHandlerInfo* (*)()>("GetAPICheckTable")();
  }
  static ZOLT::APICheckHandler Check(const std::string& api, const std::string& method) {
    for (const auto* row = CheckTable(); row->szName != nullptr; ++row) {
      if (api == row->szName && method == row->szMethod && row->version == 1) return row->check;
    }
    ADD_FAILURE() << "no check row " << api << " " << method;
    return nullptr;
  }
  static ZOLT::APIHandler Handler(const std::string& api, const std::string& method) {
    for (const auto* row = Table(); row->szName != nullptr; ++row) {
      if (api == row->szName && method == row->szMethod && row->version == 1) return row->handler;
    }
    ADD_FAILURE() << "no row " << api << " " << method;
    return nullptr;
  }
  static ZOLT::APIRequest Request(const std::string& api, const std::string& method,
                                  const char* params) {
    Json::Value p;
    EXPECT_TRUE(Json::fromString(p, params)) << params;
    return ZOLT::APIRequest(api, 1, method, std::move(p), 0, "root");
  }

  static std::unique_ptr<void, DlCloser> module_;
};
std::unique_ptr<void, DlCloser> SnapshotFrame::module_;

TEST_F(SnapshotFrame, TablesListTheSameTenMethods) {
  std::set<std::string> methods, checks;
  for (const auto* row = Table(); row->szName != nullptr; ++row) {
    EXPECT_EQ(row->version, 1);
    EXPECT_NE(row->handler, nullptr);
    methods.insert(std::string(row->szName) + " " + row->szMethod);
  }
  for (const auto* row = CheckTable(); row->szName != nullptr; ++row) {
    EXPECT_EQ(row->reserved1, 0);
    EXPECT_EQ(row->reserved2, 0);
    checks.insert(std::string(row->szName) + " " + row->szMethod);
  }
  EXPECT_EQ(methods.size(), 10u);
  EXPECT_EQ(methods, checks);
  EXPECT_EQ(std::string(Table()[0].szMethod), "create");
  EXPECT_EQ(std::string(CheckTable()[7].szMethod), "delete");
  EXPECT_NE(Symbol<void*>("gTable"), nullptr);
  EXPECT_NE(Symbol<void*>("gCheckTable"), nullptr);
}

TEST_F(SnapshotFrame, ParameterChecks) {
  struct Case {
    const char* api;
    const char* method;
    const char* params;
    const char* error;  // detail of error 120, or null when the check passes
  } cases[] = {
      {"ZOLT.Tabvale.Snapshot", "create", "{}", R"({"name":"object_id","reason":"required"})"},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":5})",
       R"({"name":"object_id","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":"d"})", nullptr},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":"d","commands":[]})", nullptr},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":"d","commands":[{"cmd":"value"},5]})",
       R"({"name":"commands","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":"d","commands":{"cmd":"value"}})",
       R"({"name":"commands","reason":"type"})"},
      // Several invalid parameters: the first in table order is reported.
      {"ZOLT.Tabvale.Snapshot", "create", R"({"queue_file":1,"password":2,"commands":3})",
       R"({"name":"object_id","reason":"required"})"},
      {"ZOLT.Tabvale.Snapshot", "create", R"({"object_id":"d","queue_file":1,"password":2})",
       R"({"name":"queue_file","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot", "update", R"({"object_id":"d","order":["a",1,"b"]})",
       R"({"name":"order","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot", "update", R"({"object_id":"d","order":["a","b"]})", nullptr},
      {"ZOLT.Tabvale.Snapshot.Sheet", "get", R"({"object_id":"d"})", nullptr},
      {"ZOLT.Tabvale.Snapshot.Sheet", "create", R"({"object_id":"d","title":7})",
       R"({"name":"title","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot.Sheet", "update", R"({"object_id":"d"})",
       R"({"name":"sheet_id","reason":"required"})"},
      {"ZOLT.Tabvale.Snapshot.Sheet", "dup", R"({"object_id":"d","sheet_id":"s"})",
       R"({"name":"title","reason":"required"})"},
      {"ZOLT.Tabvale.Snapshot.Sheet", "recover", R"({"object_id":"d","sheet_id":"s","pos":"1"})",
       R"({"name":"pos","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot.Sheet", "recover", R"({"object_id":"d","sheet_id":"s","pos":1})",
       nullptr},
      {"ZOLT.Tabvale.Snapshot.Sheet", "delete", R"({"object_id":"d","sheet_id":["s"]})",
       R"({"name":"sheet_id","reason":"type"})"},
      {"ZOLT.Tabvale.Snapshot.History", "get", R"({"object_id":"d"})",
       R"({"name":"ver","reason":"required"})"},
      {"ZOLT.Tabvale.Snapshot.Editor", "list", R"({"object_id":"d","password":null})",
       R"({"name":"password","reason":"type"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.api) + " " + c.method + " " + c.params);
    ZOLT::APIRequest req = Request(c.api, c.method, c.params);
    ZOLT::APIResponse resp;
    bool passed = Check(c.api, c.method)(&req, &resp);
    EXPECT_EQ(passed, c.error == nullptr);
    if (c.error != nullptr) {
      EXPECT_EQ(resp.GetError(), 120);
      EXPECT_EQ(Json::toString(resp.GetErrorDetail()), c.error);
    } else {
      EXPECT_EQ(resp.GetError(), 0);
    }
  }
}

TEST_F(SnapshotFrame, FailingMethodAnswersWithCodeAndDriveDetail) {
  // Methods not in this build fail with 1000; the detail carries the Drive store's code.
  ZOLTSHErrSetEx(-1, "test", 1, "no positive code on the stack");
  ZOLTDriveErrCodeSet(1007);
  ZOLT::APIRequest req =
      Request("ZOLT.Tabvale.Snapshot.History", "get", R"({"object_id":"d","ver":"1"})");
  ZOLT::APIResponse resp;
  Handler("ZOLT.Tabvale.Snapshot.History", "get")(&req, &resp);
  EXPECT_FALSE(resp.HasSuccess());
  EXPECT_EQ(resp.GetError(), 1000);
  EXPECT_EQ(Json::toString(resp.GetErrorDetail()), R"({"zoltdrive":1007})");

  // A code an earlier request of the same worker left on the error stack is not this request's:
  // the method's own code stands.
  ZOLTSHErrSetEx(1016, "test", 2, "drive read failed earlier");
  ZOLT::APIRequest editors =
      Request("ZOLT.Tabvale.Snapshot.Editor", "list", R"({"object_id":"d"})");
  ZOLT::APIResponse resp2;
  Handler("ZOLT.Tabvale.Snapshot.Editor", "list")(&editors, &resp2);
  EXPECT_EQ(resp2.GetError(), 1000);
  EXPECT_EQ(Json::toString(resp2.GetErrorDetail()), R"({"zoltdrive":1007})");
  ZOLTDriveErrCodeSet(0);
}

TEST_F(SnapshotFrame, FillErrorDetailTakesAPositiveCodeFromTheStack) {
  auto fill = Symbol<void (*)(ZOLT::APIResponse*)>("_Z15FillErrorDetailPN4ZOLT11APIResponseE");
  ZOLTSHErrSetEx(1016, "test", 4, "drive read failed");
  ZOLT::APIResponse resp;
  resp.SetError(1000);
  fill(&resp);
  EXPECT_EQ(resp.GetError(), 1016);
  EXPECT_TRUE(resp.GetErrorDetail().isMember("zoltdrive"));
}

TEST_F(SnapshotFrame, FillErrorDetailLeavesSuccessAlone) {
  auto fill = Symbol<void (*)(ZOLT::APIResponse*)>("_Z15FillErrorDetailPN4ZOLT11APIResponseE");
  ZOLTSHErrSetEx(1016, "test", 3, "stale");
  ZOLT::APIResponse ok;
  Json::Value data(Json::objectValue);
  data["sheets"] = 2;
  ok.SetSuccess(data);
  fill(&ok);
  EXPECT_TRUE(ok.HasSuccess());
  EXPECT_EQ(ok.GetError(), 0);
  EXPECT_EQ(Json::toString(ok.GetData()), R"({"sheets":2})");
}

class ExtraAuthHeader : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("HTTP_X_EXTRA_AUTH_PARAMS"); }
  zoltsh::testing::TempRoot root_;
};

TEST_F(ExtraAuthHeader, PasswordItem) {
  struct Case {
    const char* line;  // plain parameter line; null: no header
    const char* expected;
  } cases[] = {
      {nullptr, ""},
      {"a=1&password=s%20cr%26t&x", "s cr&t"},
      {"a=1&x&password=late", ""},
      {"password=one&password=two", "two"},
      {"a=1&b=2", ""},
      {"password=", ""},
      {"password=p%3D%3D+q", "p== q"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "(none)");
    if (c.line) {
      setenv("HTTP_X_EXTRA_AUTH_PARAMS", ZOLTCgiEncryptParamLine(c.line).c_str(), 1);
    } else {
      unsetenv("HTTP_X_EXTRA_AUTH_PARAMS");
    }
    std::string password = "stale";
    EXPECT_TRUE(ZOLTSHDecodePassFromHeader(password));
    EXPECT_EQ(password, c.expected);
  }
}

TEST_F(ExtraAuthHeader, ForgedOrPlainLinesGiveNothing) {
  for (const char* header : {"password=plain", "", "garbage%%%"}) {
    setenv("HTTP_X_EXTRA_AUTH_PARAMS", header, 1);
    std::string password = "stale";
    EXPECT_TRUE(ZOLTSHDecodePassFromHeader(password));
    EXPECT_EQ(password, "") << header;
  }
  std::string line = ZOLTCgiEncryptParamLine("password=secret");
  line[line.size() / 2] = line[line.size() / 2] == 'A' ? 'B' : 'A';
  setenv("HTTP_X_EXTRA_AUTH_PARAMS", line.c_str(), 1);
  std::string password;
  EXPECT_TRUE(ZOLTSHDecodePassFromHeader(password));
  EXPECT_EQ(password, "");
}

}  // namespace
