// The snapshot module through a real host and HTTP, as the collaboration server calls it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "json/json_text.h"
#include "support/host_process.h"
#include "support/run_program.h"
#include "support/temp_root.h"

namespace {

using zoltsh::testing::HostCall;
using zoltsh::testing::HostLogin;
using zoltsh::testing::HostProcess;
using zoltsh::testing::Reply;
using zoltsh::testing::RunProgram;

class SnapshotHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunProgram({ZOLTUSER_BIN, "--root", root_.dir(), "add", "collab", "--uid", "0",
                          "--password", "pw"})
                  .status,
              0);
    host_ = std::make_unique<HostProcess>(HOST_BIN, root_.dir(), 2,
                                          std::vector<std::string>{SNAPSHOT_MODULE_PATH});
    ASSERT_GT(host_->port(), 0);
    sid_ = HostLogin(host_->port(), "collab", "pw");
    ASSERT_FALSE(sid_.empty());
  }

  Reply Call(const std::string& api, const std::string& method, const char* params) {
    Json::Value p;
    EXPECT_TRUE(Json::fromString(p, params));
    return HostCall(host_->port(), api, method, p, sid_);
  }

  zoltsh::testing::TempRoot root_;
  std::unique_ptr<HostProcess> host_;
  std::string sid_;
};

TEST_F(SnapshotHttp, ParameterErrorsAnswer120WithNameAndReason) {
  Reply r = Call("ZOLT.Tabvale.Snapshot", "create", "{}");
  EXPECT_EQ(Json::toString(r.json),
            R"({"error":{"code":120,"errors":{"name":"object_id","reason":"required"}},)"
            R"("success":false})");
  r = Call("ZOLT.Tabvale.Snapshot.Sheet", "recover",
           R"({"object_id":"d","sheet_id":"s","pos":"x"})");
  EXPECT_EQ(Json::toString(r.json["error"]),
            R"({"code":120,"errors":{"name":"pos","reason":"type"}})");
}

TEST_F(SnapshotHttp, MethodsNotInThisBuildFailWithDriveDetail) {
  Reply r = Call("ZOLT.Tabvale.Snapshot.Editor", "list", R"({"object_id":"d"})");
  EXPECT_EQ(r.json["success"], false) << r.body;
  EXPECT_EQ(r.json["error"]["code"], 1000) << r.body;
  EXPECT_TRUE(r.json["error"]["errors"].isMember("zoltdrive")) << r.body;
}

TEST_F(SnapshotHttp, UnknownMethodAndVersion) {
  Reply r = Call("ZOLT.Tabvale.Snapshot", "explode", R"({"object_id":"d"})");
  EXPECT_EQ(r.json["error"]["code"], 103) << r.body;
  Json::Value p(Json::objectValue);
  p["object_id"] = "d";
  r = HostCall(host_->port(), "ZOLT.Tabvale.Snapshot", "create", p, sid_, 2);
  EXPECT_EQ(r.json["error"]["code"], 104) << r.body;
}

}  // namespace
