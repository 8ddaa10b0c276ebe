// Account names, a user's groups, and acl group entries, over the accounts service.
#include <algorithm>
#include "account/account.h"
#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

class DriveAccountTest : public DriveTest {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(ZOLT::Account::AddGroup("users", 100, &error)) << error;
    ASSERT_TRUE(ZOLT::Account::AddGroup("staff", 2000, &error)) << error;
    ASSERT_TRUE(ZOLT::Account::AddUser({"alice", 1026, {"staff", "users"}, false}, "pw", &error))
        << error;
    ASSERT_TRUE(ZOLT::Account::AddUser({"bob", 1027, {}, false}, "pw", &error)) << error;
  }
};

TEST_F(DriveAccountTest, NamesAndGroupsComeFromTheAccounts) {
  std::string name = "unchanged";
  ASSERT_TRUE(ZOLTDriveGetUserName(1026, name));
  EXPECT_EQ(name, "alice");
  ASSERT_TRUE(ZOLTDriveGetGroupName(2000, name));
  EXPECT_EQ(name, "staff");
  name = "unchanged";
  EXPECT_FALSE(ZOLTDriveGetUserName(4242, name));
  EXPECT_FALSE(ZOLTDriveGetGroupName(4242, name));
  EXPECT_EQ(name, "unchanged");

  struct Case {
    unsigned uid;
    bool withUsers;
    const char* gids;
  } cases[] = {
      {1026, true, "[2000, 100]"}, {1026, false, "[2000, 100]"}, {1027, true, "[100]"},
      {1027, false, "[100]"},      {4242, false, "[100]"},       {kAnonymous, true, "[100]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.uid) + (c.withUsers ? " with users" : ""));
    Json::Value gids;
    ASSERT_TRUE(ZOLTDriveGetAllGID(c.uid, gids, c.withUsers));
    Json::Value sorted(Json::arrayValue), want = J(c.gids);
    std::vector<unsigned> got, expected;
    for (const Json::Value& g : gids) got.push_back(g.asUInt());
    for (const Json::Value& g : want) expected.push_back(g.asUInt());
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
  }
}

TEST_F(DriveAccountTest, GroupEntriesOfTheAclGrantTheirMembers) {
  Make("doc", 10, R"({"t": 1})", "{}",
       R"({"acl": {"enabled": true, "vexo_group": {"2000": {"perm": "rw", "inherit": true}}}})");
  ZOLT_DRIVE_OBJECT obj;
  ASSERT_TRUE(obj.Get(Req("doc", 1026)));
  EXPECT_EQ(obj.get_ref_perm(), "rw");
  EXPECT_FALSE(obj.Get(Req("doc", 1027)));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);

  ASSERT_TRUE(Write("doc", R"({"acl": {"enabled": true,
                                      "vexo_group": {"100": {"perm": "ro", "inherit": true}}}})",
                    10));
  ASSERT_TRUE(obj.Get(Req("doc", 1027)));  // every account is in the users group
  EXPECT_EQ(obj.get_ref_perm(), "ro");
  EXPECT_FALSE(obj.Get(Req("doc", kAnonymous)));  // but the anonymous viewer is not an account
}

}  // namespace
}  // namespace zoltsh::testing
