// Rights per requester: the system, the owner, users and the public through the acl, and the
// anonymous viewer.
#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

using DriveRightsTest = DriveTest;

constexpr char kShared[] = R"({"enabled": true,
    "public": {"perm": "ro", "inherit": false},
    "vexo_user": {"20": {"perm": "rw", "inherit": true}, "21": {"perm": "ro", "inherit": true},
                  "22": {"perm": "owner", "inherit": true}},
    "vexo_group": {"3000": {"perm": "rw", "inherit": false}}})";

TEST_F(DriveRightsTest, EachRequesterGetsItsOwnRight) {
  Make("shared", 10, R"({"t": 1})", "{}", std::string(R"({"acl": )") + kShared + "}");
  Make("private", 10, R"({"t": 1})");
  Make("disabled", 10, R"({"t": 1})", "{}",
       R"({"acl": {"enabled": false, "public": {"perm": "rw"},
                   "vexo_user": {"20": {"perm": "rw"}}}})");
  Make("public-rw", 10, R"({"t": 1})", "{}",
       R"({"acl": {"enabled": true, "public": {"perm": "owner", "inherit": false}}})");

  struct Case {
    const char* id;
    unsigned requester;
    const char* perm;  // "deny": cannot even read
    bool canSet;
    bool canShare;
  } cases[] = {
      {"shared", 0, "owner", true, true},
      {"shared", 10, "owner", true, true},
      {"shared", 20, "rw", true, false},
      {"shared", 21, "ro", false, false},
      {"shared", 22, "owner", true, true},
      {"shared", 99, "ro", false, false},
      {"shared", kAnonymous, "ro", false, false},
      {"private", 0, "owner", true, true},
      {"private", 10, "owner", true, true},
      {"private", 20, "deny", false, false},
      {"private", kAnonymous, "deny", false, false},
      {"disabled", 20, "deny", false, false},
      {"disabled", kAnonymous, "deny", false, false},
      {"public-rw", 99, "rw", true, false},
      {"public-rw", kAnonymous, "rw", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id) + " as " + std::to_string(c.requester));
    ZOLT_DRIVE_OBJECT obj;
    const bool readable = std::string(c.perm) != "deny";
    EXPECT_EQ(obj.Get(Req(c.id, c.requester)), readable);
    if (readable) {
      EXPECT_EQ(obj.get_ref_perm(), c.perm);
    } else {
      EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
    }
    const std::string before = Show(c.id)["version"].asString();
    EXPECT_EQ(Write(c.id, R"({"text": {"t": 2}})", c.requester), c.canSet);
    if (!c.canSet) {
      EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
      EXPECT_EQ(Show(c.id)["version"].asString(), before);
    }
    Json::Value acl = Show(c.id)["acl"];
    Json::Value r = Req(c.id, c.requester);
    r["acl"] = acl;
    EXPECT_EQ(obj.Set(r), c.canShare);
  }
}

TEST_F(DriveRightsTest, TheAnonymousViewerListsOnlyPublicObjects) {
  Make("mine", 10, "{}");
  Make("granted", 11, "{}", "{}",
       R"({"acl": {"enabled": true, "vexo_user": {"10": {"perm": "ro"}}}})");
  Make("public", 12, "{}", "{}", R"({"acl": {"enabled": true, "public": {"perm": "ro"}}})");
  Make("other", 13, "{}");
  struct Case {
    unsigned requester;
    std::vector<std::string> ids;
  } cases[] = {
      {0, {"granted", "mine", "other", "public"}},
      {10, {"granted", "mine", "public"}},
      {13, {"other", "public"}},
      {kAnonymous, {"public"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requester);
    Json::Value r(Json::objectValue);
    r["ns"] = kNs;
    r["requester"] = c.requester;
    ZOLT_DRIVE_OBJECT_LIST list;
    int total = 0;
    ASSERT_GE(list.ListObject(r, total), 0);
    std::vector<std::string> ids;
    for (const ZOLT_DRIVE_OBJECT& obj : list) ids.push_back(obj.get_ref_id());
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(total, static_cast<int>(c.ids.size()));
  }
  // "requester" -1 is the anonymous viewer as well.
  ZOLT_DRIVE_OBJECT obj;
  Json::Value r = Req("mine");
  r["requester"] = -1;
  EXPECT_FALSE(obj.Get(r));
  r["id"] = "public";
  EXPECT_TRUE(obj.Get(r));
}

TEST_F(DriveRightsTest, OnlyTheOwnerSharesDeletesAndGivesAway) {
  Make("doc", 10, R"({"t": 1})", "{}",
       R"({"acl": {"enabled": true, "vexo_user": {"20": {"perm": "rw"}}}})");
  EXPECT_FALSE(ZOLT_DRIVE_OBJECT::Delete(Req("doc", 20)));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
  EXPECT_FALSE(Write("doc", R"({"owner": 20})", 20));
  EXPECT_FALSE(Write("doc", R"({"acl": {}})", 20));

  // Unsharing leaves exactly {}; the former user loses the object.
  ASSERT_TRUE(Write("doc", R"({"acl": {}})", 10));
  EXPECT_EQ(Show("doc")["acl"], J("{}"));
  ZOLT_DRIVE_OBJECT obj;
  EXPECT_FALSE(obj.Get(Req("doc", 20)));

  ASSERT_TRUE(Write("doc", R"({"owner": 20})", 10));
  EXPECT_TRUE(obj.Get(Req("doc", 20)));
  EXPECT_EQ(obj.get_ref_perm(), "owner");
  EXPECT_FALSE(obj.Get(Req("doc", 10)));

  // Creating for somebody else is the system's privilege; the anonymous viewer creates nothing.
  Json::Value r = Req("new", 10);
  r["owner"] = 20;
  EXPECT_FALSE(obj.Create(r));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
  r["requester"] = 0;
  ASSERT_TRUE(obj.Create(r));
  EXPECT_EQ(obj.get_owner(), 20u);
  EXPECT_FALSE(obj.Create(Req("anon", kAnonymous)));
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "anon"));
}

}  // namespace
}  // namespace zoltsh::testing
