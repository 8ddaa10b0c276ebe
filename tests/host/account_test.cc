// Accounts: password hashing and checks, the account files, and the zoltuser tool.
#include "account/account.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "json/json_text.h"
#include "support/run_program.h"
#include "support/temp_root.h"

namespace {

using namespace ZOLT::Account;
using zoltsh::testing::RunProgram;
using zoltsh::testing::TempRoot;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(AccountTest, AddedUserIsFoundByNameAndUidAndChecksItsPassword) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddUser({"alice", 1001, {"staff", "sales"}, true}, "s3cret pass", &error)) << error;
  ASSERT_TRUE(AddUser({"collab", 0, {}, false}, "zero", &error)) << error;

  auto byName = GetUserByName("alice");
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->uid, 1001u);
  EXPECT_TRUE(byName->admin);
  EXPECT_EQ(byName->groups, (std::vector<std::string>{"staff", "sales"}));
  auto byUid = GetUserByUid(0);
  ASSERT_TRUE(byUid) << "uid 0 is an ordinary account";
  EXPECT_EQ(byUid->name, "collab");
  EXPECT_FALSE(GetUserByUid(1002));
  EXPECT_FALSE(GetUserByName("bob"));

  struct Case {
    const char* name;
    const char* password;
    bool ok;
  } cases[] = {{"alice", "s3cret pass", true},  {"alice", "s3cret pas", false},
               {"alice", "S3cret pass", false}, {"alice", "", false},
               {"collab", "zero", true},        {"collab", "s3cret pass", false},
               {"nobody", "zero", false}};
  for (const Case& c : cases) {
    auto user = CheckPassword(c.name, c.password);
    EXPECT_EQ(user.has_value(), c.ok) << c.name << " / " << c.password;
    if (user) {
      EXPECT_EQ(user->name, c.name);
    }
  }
}

TEST(AccountTest, FilesAreRootOnlyHoldNoPlainPasswordAndUseFreshSalts) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddUser({"a", 1, {"g"}, false}, "same-password", &error)) << error;
  ASSERT_TRUE(AddUser({"b", 2, {}, false}, "same-password", &error)) << error;
  for (const std::string& path : {UsersPath(), GroupsPath()}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
  std::string text = ReadAll(UsersPath());
  EXPECT_EQ(text.find("same-password"), std::string::npos);
  Json::Value doc;
  ASSERT_TRUE(Json::fromString(doc, text));
  const Json::Value& users = doc["users"];
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0]["password"]["algo"], "pbkdf2-sha256");
  EXPECT_NE(users[0]["password"]["salt"], users[1]["password"]["salt"]);
  EXPECT_NE(users[0]["password"]["hash"], users[1]["password"]["hash"]);
  // Written through temporary files that are all renamed away.
  for (const auto& entry : std::filesystem::directory_iterator(root.path("etc/zolt"))) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST(AccountTest, RefusesDuplicatesAndBadNames) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddUser({"alice", 1001, {}, false}, "pw", &error));
  struct Case {
    User user;
    std::string password;
  } cases[] = {
      {{"alice", 1002, {}, false}, "pw"}, {{"bob", 1001, {}, false}, "pw"},
      {{"", 1003, {}, false}, "pw"},      {{"a/b", 1003, {}, false}, "pw"},
      {{"..", 1003, {}, false}, "pw"},    {{"a b", 1003, {}, false}, "pw"},
      {{"bob", 1003, {}, false}, ""},     {{"bob", 1003, {"x/y"}, false}, "pw"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_FALSE(AddUser(c.user, c.password, &error)) << c.user.name;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(ListUsers().size(), 1u);
  EXPECT_TRUE(CheckPassword("alice", "pw"));
}

TEST(AccountTest, GroupsGetGidsAndListPerUser) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddGroup("admins", 101u, &error)) << error;
  EXPECT_FALSE(AddGroup("admins", std::nullopt, &error));
  EXPECT_FALSE(AddGroup("other", 101u, &error));
  ASSERT_TRUE(AddUser({"alice", 1001, {"admins", "staff"}, false}, "pw", &error)) << error;
  ASSERT_TRUE(AddUser({"bob", 1002, {"staff", "ops"}, false}, "pw", &error)) << error;
  auto staff = GetGroupByName("staff");
  auto ops = GetGroupByName("ops");
  ASSERT_TRUE(staff && ops);
  EXPECT_GE(staff->gid, 1000u);
  EXPECT_NE(staff->gid, ops->gid);
  EXPECT_EQ(GetGroupByGid(101)->name, "admins");
  std::vector<std::string> names;
  for (const Group& g : GetUserGroups("alice")) names.push_back(g.name);
  EXPECT_EQ(names, (std::vector<std::string>{"admins", "staff"}));
  EXPECT_TRUE(GetUserGroups("nobody").empty());
}

TEST(AccountTest, SetPasswordReplacesTheOldOne) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddUser({"alice", 1001, {}, false}, "old", &error));
  ASSERT_TRUE(SetPassword("alice", "new", &error)) << error;
  EXPECT_FALSE(CheckPassword("alice", "old"));
  EXPECT_TRUE(CheckPassword("alice", "new"));
  EXPECT_FALSE(SetPassword("bob", "x", &error));
}

TEST(AccountTest, MalformedFileFindsNobodyAndRefusesChanges) {
  TempRoot root;
  std::string error;
  ASSERT_TRUE(AddUser({"alice", 1001, {}, false}, "pw", &error));
  std::ofstream(UsersPath()) << "{\"users\": [";
  EXPECT_FALSE(GetUserByName("alice"));
  EXPECT_FALSE(CheckPassword("alice", "pw"));
  EXPECT_FALSE(AddUser({"bob", 1002, {}, false}, "pw", &error));
  EXPECT_EQ(ReadAll(UsersPath()), "{\"users\": [") << "a refused change leaves the file alone";
}

TEST(ZoltuserTest, AddsUsersWithTheStableCommandForm) {
  TempRoot root;
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {ZOLTUSER_BIN, "--root", root.dir()});
    return RunProgram(args);
  };
  EXPECT_EQ(run({"add", "alice", "--uid", "1001", "--password", "pw", "--admin", "--group", "staff",
                 "--group", "ops"})
                .status,
            0);
  EXPECT_EQ(run({"add", "collab", "--uid", "0", "--password", "zero"}).status, 0);
  auto alice = GetUserByName("alice");
  ASSERT_TRUE(alice);
  EXPECT_TRUE(alice->admin);
  EXPECT_EQ(alice->groups, (std::vector<std::string>{"staff", "ops"}));
  EXPECT_TRUE(CheckPassword("collab", "zero"));

  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"add", "alice", "--uid", "1005", "--password", "pw"}, 1},
      {{"add", "bob", "--uid", "0", "--password", "pw"}, 1},
      {{"add", "bob", "--password", "pw"}, 2},
      {{"add", "bob", "--uid", "-1", "--password", "pw"}, 2},
      {{"add", "bob", "--uid", "x", "--password", "pw"}, 2},
      {{"add", "bob", "--uid", "5"}, 2},
      {{"add", "bob", "--uid", "5", "--password", "pw", "--bogus"}, 2},
      {{"frobnicate"}, 2},
      {{"group-add", "eng", "--gid", "2000"}, 0},
      {{"passwd", "alice", "--password", "pw2"}, 0},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(run(c.args).status, c.status) << joined;
  }
  EXPECT_FALSE(GetUserByName("bob"));
  EXPECT_EQ(GetGroupByName("eng")->gid, 2000u);
  EXPECT_TRUE(CheckPassword("alice", "pw2"));

  auto list = run({"list"});
  ASSERT_EQ(list.status, 0);
  Json::Value doc;
  ASSERT_TRUE(Json::fromString(doc, list.out.substr(0, list.out.size() - 1)));
  EXPECT_EQ(doc["users"].size(), 2u);
  EXPECT_EQ(list.out.find("hash"), std::string::npos);
}

}  // namespace
