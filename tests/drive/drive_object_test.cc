// One object: create, read, versions, partial writes, copies, deletion, ids that look like paths.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

using DriveObjectTest = DriveTest;

TEST_F(DriveObjectTest, CreateThenGetGivesBackEveryPart) {
  ZOLT_DRIVE_OBJECT made = Make(
      "doc", 1026, R"({"index": {"order": ["sh_1"]}, "sh_1": {"cells": [1, 2]}, "title": "T"})",
      R"({"encrypt": false, "tag": ["t1"]})",
      R"({"category": "sheet", "parent_id": "folder", "commit_msg": {"listable": true},
               "ctime": 1000, "mtime": 2000})");
  EXPECT_EQ(made.get_ref_version(), "1");
  EXPECT_EQ(made.get_ref_id(), "doc");
  EXPECT_EQ(made.get_ref_text()["title"], J(R"("T")"));  // the written object loads its text

  ZOLT_DRIVE_OBJECT obj;
  ASSERT_TRUE(obj.Get(Req("doc", 1026)));
  EXPECT_EQ(obj.get_ref_text(),
            J(R"({"index": {"order": ["sh_1"]}, "sh_1": {"cells": [1, 2]}, "title": "T"})"));
  EXPECT_EQ(obj.get_ref_metatext(), J(R"({"encrypt": false, "tag": ["t1"]})"));
  EXPECT_EQ(obj.get_ref_category(), "sheet");
  EXPECT_EQ(obj.get_ref_parent_id(), "folder");
  EXPECT_EQ(obj.get_owner(), 1026u);
  EXPECT_EQ(obj.get_ctime(), 1000);
  EXPECT_EQ(obj.get_mtime(), 2000);
  EXPECT_EQ(obj.get_ref_commit_msg(), J(R"({"listable": true})"));
  EXPECT_EQ(obj.get_ref_acl(), J("{}"));
  EXPECT_EQ(obj.get_ref_perm(), "owner");
  EXPECT_EQ(obj.get_perm_level(), 300);
  EXPECT_EQ(obj.get_ref_version(), "1");

  Json::Value json;
  ASSERT_TRUE(obj.toJson(Json::Value(), json, false));
  EXPECT_FALSE(json.isMember("text"));
  EXPECT_EQ(json["id"], J(R"("doc")"));
  EXPECT_EQ(json["perm"], J(R"("owner")"));
  ASSERT_TRUE(obj.toJson(J(R"({"acl": false})"), json));
  EXPECT_FALSE(json.isMember("acl"));
  EXPECT_TRUE(json["text"].isMember("sh_1"));
}

TEST_F(DriveObjectTest, FieldSelectsTheFetchedKeys) {
  Make("doc", 7, R"({"index": 1, "sh_1": 2, "sh_2": 3})", R"({"a": 1, "b": 2})");
  struct Case {
    const char* field;
    const char* text;
    const char* metatext;
  } cases[] = {
      {R"({"text": {"index": true, "sh_2": true, "missing": true}})", R"({"index": 1, "sh_2": 3})",
       "{}"},
      {R"({"text": {"index": false}, "metatext": true})", "{}", R"({"a": 1, "b": 2})"},
      {R"({"text": true, "metatext": {"b": true}})", R"({"index": 1, "sh_1": 2, "sh_2": 3})",
       R"({"b": 2})"},
      {R"({"text": false, "metatext": false})", "{}", "{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    Json::Value r = Req("doc", 7);
    r["field"] = J(c.field);
    ZOLT_DRIVE_OBJECT obj;
    ASSERT_TRUE(obj.Get(r)) << ZOLTDriveErrMsgGet();
    EXPECT_EQ(obj.get_ref_text(), J(c.text));
    EXPECT_EQ(obj.get_ref_metatext(), J(c.metatext));
  }
}

TEST_F(DriveObjectTest, EveryWriteMakesAnImmutableVersion) {
  Make("doc", 7, R"({"index": {"v": 1}, "title": "one"})", "{}", R"({"commit_msg": {"n": 1}})");
  std::string v1Path;
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "doc", "title", v1Path));
  ASSERT_TRUE(Write("doc", R"({"text": {"title": "two"}, "commit_msg": {"n": 2}})", 7));
  ASSERT_TRUE(Write("doc", R"({"text": {"index": {"v": 3}}, "commit_msg": {"n": 3}})", 7));

  Json::Value now = Show("doc");
  EXPECT_EQ(now["version"], J(R"("3")"));
  EXPECT_EQ(now["text"], J(R"({"index": {"v": 3}, "title": "two"})"));
  EXPECT_EQ(now["commit_msg"], J(R"({"n": 3})"));

  Json::Value v1 = Show("doc", "1");
  EXPECT_EQ(v1["text"], J(R"({"index": {"v": 1}, "title": "one"})"));
  EXPECT_EQ(v1["commit_msg"], J(R"({"n": 1})"));
  Json::Value v2 = Show("doc", "2");
  EXPECT_EQ(v2["text"], J(R"({"index": {"v": 1}, "title": "two"})"));
  EXPECT_EQ(v2["commit_msg"], J(R"({"n": 2})"));

  // The path handed out for version 1 still holds version 1's value; the current path the new one.
  EXPECT_EQ(Slurp(v1Path), R"("one")");
  std::string nowPath;
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "doc", "title", nowPath));
  EXPECT_NE(nowPath, v1Path);
  EXPECT_EQ(Slurp(nowPath), R"("two")");

  // "ver" names a version as well as "version" does; unknown versions are refused.
  Json::Value r = Req("doc");
  r["ver"] = "2";
  ZOLT_DRIVE_OBJECT obj;
  ASSERT_TRUE(obj.Get(r));
  EXPECT_EQ(obj.get_ref_text()["title"], J(R"("two")"));
  for (const char* bad : {"4", "0", "01", "../1", "x"}) {
    SCOPED_TRACE(bad);
    r["ver"] = bad;
    EXPECT_FALSE(obj.Get(r));
    EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  }
}

TEST_F(DriveObjectTest, SetWritesOnlyTheGivenKeys) {
  Make("doc", 7, R"({"index": {"order": ["sh_1", "sh_2"]}, "sh_1": {"a": 1}, "sh_2": {"b": 2}})",
       R"({"encrypt": true, "password": "p", "tag": ["x"]})");
  ASSERT_TRUE(Write("doc",
                    R"({"text": {"sh_2": {"b": 3}, "sh_3": [], "sh_1": null},
                        "metatext": {"password": null, "tag": ["y"]},
                        "commit_msg": {"listable": true, "editors": [7]}})",
                    7));
  Json::Value now = Show("doc");
  EXPECT_EQ(now["text"],
            J(R"({"index": {"order": ["sh_1", "sh_2"]}, "sh_2": {"b": 3}, "sh_3": []})"));
  EXPECT_EQ(now["metatext"], J(R"({"encrypt": true, "tag": ["y"]})"));
  EXPECT_EQ(now["commit_msg"], J(R"({"listable": true, "editors": [7]})"));
  std::string path;
  EXPECT_FALSE(ZOLTDriveGetTextPath(kNs, "doc", "sh_1", path));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);

  // A write without a commit message keeps {} with its version, not the previous message.
  ASSERT_TRUE(Write("doc", R"({"text": {"title": "t"}})", 7));
  EXPECT_EQ(Show("doc")["commit_msg"], J("{}"));
}

TEST_F(DriveObjectTest, SetMembersOfTheRecord) {
  Make("doc", 7, R"({"title": "t"})", R"({"tag": ["a", "b", "c"]})",
       R"({"parent_id": "folder", "category": "sheet", "ctime": 5, "mtime": 6})");
  // Moving to the recycle bin keeps the folder in text "parent_id".
  ASSERT_TRUE(Write("doc", R"({"text": {"recycle": true}, "reset_parent_id": true})", 7));
  Json::Value now = Show("doc");
  EXPECT_EQ(now["parent_id"], J(R"("")"));
  EXPECT_EQ(now["text"]["parent_id"], J(R"("folder")"));
  EXPECT_EQ(now["text"]["recycle"], J("true"));
  // A second reset does not lose the kept folder.
  ASSERT_TRUE(Write("doc", R"({"reset_parent_id": true})", 7));
  EXPECT_EQ(Show("doc")["text"]["parent_id"], J(R"("folder")"));

  ASSERT_TRUE(Write("doc", R"({"metatext": {"tag": []}, "remove_tag": "b"})", 7));
  EXPECT_EQ(Show("doc")["metatext"]["tag"], J(R"(["a", "c"])"));

  ASSERT_TRUE(Write("doc", R"({"mtime": 42, "ctime": 41, "parent_id": "p2"})", 7));
  now = Show("doc");
  EXPECT_EQ(now["mtime"].asInt64(), 42);
  EXPECT_EQ(now["ctime"].asInt64(), 41);
  EXPECT_EQ(now["parent_id"], J(R"("p2")"));
  EXPECT_EQ(now["category"], J(R"("sheet")"));

  // "version" names the base of the change: any version of the object, but not an unknown one.
  EXPECT_TRUE(Write("doc", R"({"version": "1", "text": {"title": "u"}})", 7));
  EXPECT_FALSE(Write("doc", R"({"version": "99", "text": {"title": "v"}})", 7));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  EXPECT_EQ(Show("doc")["text"]["title"], J(R"("u")"));
}

TEST_F(DriveObjectTest, CreateChoosesOrRefusesIds) {
  Make("taken", 7, "{}");
  Json::Value r = Req("taken", 7);
  ZOLT_DRIVE_OBJECT obj;
  EXPECT_FALSE(obj.Create(r));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_EXISTS);
  EXPECT_EQ(Show("taken")["version"], J(R"("1")"));

  r.removeMember("id");
  std::set<std::string> ids;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(obj.Create(r)) << ZOLTDriveErrMsgGet();
    EXPECT_FALSE(obj.get_ref_id().empty());
    EXPECT_TRUE(ZOLTDriveIDIsExist(kNs, obj.get_ref_id()));
    ids.insert(obj.get_ref_id());
  }
  EXPECT_EQ(ids.size(), 3u);
}

TEST_F(DriveObjectTest, IdsThatLookLikePathsStayInsideTheStore) {
  const std::vector<std::string> ids = {"../x",        "a/b",
                                        "..",          ".",
                                        "/etc/passwd", "a%2Fb",
                                        "%2E%2E",      "../../../../tmp/evil",
                                        "sp ace",      "\xC3\xA9t\xC3\xA9",
                                        "x.lock",      "HEAD"};
  for (size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(ids[i]);
    Make(ids[i], 7, "{\"n\": " + std::to_string(i) + "}");
  }
  // Every id is its own object with its own content, and text keys that look like paths too.
  for (size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(ids[i]);
    EXPECT_TRUE(ZOLTDriveIDIsExist(kNs, ids[i]));
    EXPECT_EQ(Show(ids[i])["text"]["n"].asUInt(), i);
  }
  ASSERT_TRUE(Write("../x", R"({"text": {"../../key": 1, "k/ey": 2}})"));
  EXPECT_EQ(Show("../x")["text"], J(R"({"n": 0, "../../key": 1, "k/ey": 2})"));

  // Nothing was written outside the store's directory.
  const fs::path store = fs::weakly_canonical(StoreDir());
  for (const auto& entry : fs::recursive_directory_iterator(root_.dir())) {
    const fs::path p = fs::weakly_canonical(entry.path());
    const bool inside = p.string().rfind(store.string(), 0) == 0;
    const bool ancestor = store.string().rfind(p.string(), 0) == 0;
    EXPECT_TRUE(inside || ancestor) << p;
  }
  std::string path;
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "../../../../tmp/evil", "n", path));
  EXPECT_EQ(fs::weakly_canonical(path).string().rfind(store.string(), 0), 0u) << path;

  // A namespace or id that is empty or not a string is a bad request.
  for (const char* bad : {R"({"ns": "Tabvale", "id": ""})", R"({"ns": "", "id": "a"})",
                          R"({"ns": "Tabvale", "id": 5})", R"({"id": "a"})", "[]"}) {
    SCOPED_TRACE(bad);
    ZOLT_DRIVE_OBJECT obj;
    EXPECT_FALSE(obj.Get(J(bad)));
    EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_BAD_REQUEST);
  }
}

TEST_F(DriveObjectTest, CopyTakesTheSourceWithOverrides) {
  const std::string file = root_.path("image.png");
  std::ofstream(file) << "PNGDATA";
  Make("src", 7, R"({"index": {"i": 1}, "sh_1": {"a": 1}, "title": "orig"})",
       R"({"encrypt": false, "tag": ["t"]})",
       R"({"category": "sheet", "parent_id": "f", "acl": {"enabled": true,
           "public": {"perm": "ro", "inherit": false}},
           "metabinary_files": [{"format": "raw", "name": "img", "path": ")" +
           file + R"("}]})");
  ASSERT_TRUE(Write("src", R"({"text": {"title": "changed"}})", 7));

  Json::Value r = Req("src", 9);  // another user, who can read it through the public acl
  r["version"] = "1";
  r["new_id"] = "dst";
  r["text"] = J(R"({"title": "copy", "sh_1": null, "link_id": "L"})");
  r["metatext"] = J(R"({"encrypt": true})");
  r["commit_msg"] = J(R"({"copy_from_object": "src"})");
  r["field"] = J(R"({"text": true})");
  ZOLT_DRIVE_OBJECT copy;
  ASSERT_TRUE(copy.Copy(r)) << ZOLTDriveErrMsgGet();
  EXPECT_EQ(copy.get_ref_id(), "dst");
  EXPECT_EQ(copy.get_owner(), 9u);
  EXPECT_EQ(copy.get_ref_perm(), "owner");

  Json::Value dst = Show("dst");
  EXPECT_EQ(dst["text"], J(R"({"index": {"i": 1}, "title": "copy", "link_id": "L"})"));
  EXPECT_EQ(dst["metatext"], J(R"({"encrypt": true, "tag": ["t"]})"));
  EXPECT_EQ(dst["acl"], J("{}"));
  EXPECT_EQ(dst["category"], J(R"("sheet")"));
  EXPECT_EQ(dst["parent_id"], J(R"("f")"));
  EXPECT_EQ(dst["version"], J(R"("1")"));
  EXPECT_EQ(dst["commit_msg"], J(R"({"copy_from_object": "src"})"));
  std::string path;
  ASSERT_TRUE(ZOLTDriveGetMetaBinaryPath(kNs, "dst", "img", path));
  EXPECT_EQ(Slurp(path), "PNGDATA");

  // The source is untouched.
  Json::Value src = Show("src");
  EXPECT_EQ(src["text"]["title"], J(R"("changed")"));
  EXPECT_EQ(src["owner"].asUInt(), 7u);

  // The target id must be free.
  EXPECT_FALSE(copy.Copy(r));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_EXISTS);
}

TEST_F(DriveObjectTest, MetabinaryFilesAndDownload) {
  const std::string a = root_.path("a.bin"), b = root_.path("b.bin");
  std::ofstream(a) << "first";
  std::ofstream(b) << "second";
  Make("doc", 7, "{}", "{}",
       R"({"metabinary_files": [{"format": "raw", "name": "x", "path": ")" + a + R"("}]})");
  ASSERT_TRUE(Write("doc",
                    R"({"metabinary_files": [{"format": "raw", "name": "y", "path": ")" + b +
                        R"("}], "text": {"attachment": {"1": {"name": "y"}}}})",
                    7));
  fs::remove(a);
  fs::remove(b);  // the store keeps its own copies

  ZOLT_DRIVE_OBJECT obj;
  Json::Value r = Req("doc", 7);
  r["field"] = J(R"({"metabinary_info": true, "text": {"attachment": true}})");
  ASSERT_TRUE(obj.Get(r));
  EXPECT_EQ(obj.get_ref_metabinary_info()["x"]["size"].asInt(), 5);
  EXPECT_EQ(obj.get_ref_metabinary_info()["y"]["size"].asInt(), 6);
  std::string path;
  ASSERT_TRUE(ZOLTDriveGetMetaBinaryPath(kNs, "doc", "y", path));
  EXPECT_EQ(Slurp(path), "second");
  EXPECT_FALSE(ZOLTDriveGetMetaBinaryPath(kNs, "doc", "z", path));

  const std::string out = root_.path("download");
  {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    Json::Value d = Req("doc", 7);
    d["format"] = "raw";
    d["segment"] = "metabinary";
    d["field"] = "x";
    d["filename"] = "x.png";
    EXPECT_TRUE(ZOLT_DRIVE_OBJECT::Download(d, fd));
    d["field"] = "nope";
    EXPECT_FALSE(ZOLT_DRIVE_OBJECT::Download(d, fd));
    EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
    ::close(fd);
  }
  EXPECT_EQ(Slurp(out),
            "Content-Type: image/png\r\nContent-Length: 5\r\n"
            "Content-Disposition: attachment; filename=\"x.png\"\r\n\r\nfirst");

  ASSERT_TRUE(Write("doc", R"({"remove_metabinary": ["x"]})", 7));
  EXPECT_FALSE(ZOLTDriveGetMetaBinaryPath(kNs, "doc", "x", path));
  EXPECT_TRUE(ZOLTDriveGetMetaBinaryPath(kNs, "doc", "y", path));
}

TEST_F(DriveObjectTest, DeleteRemovesEveryVersion) {
  Make("doc", 7, R"({"a": 1})");
  ASSERT_TRUE(Write("doc", R"({"text": {"a": 2}})", 7));
  EXPECT_FALSE(ZOLT_DRIVE_OBJECT::Delete(Req("doc", 8)));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
  ASSERT_TRUE(ZOLT_DRIVE_OBJECT::Delete(Req("doc", 7)));
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "doc"));
  ZOLT_DRIVE_OBJECT obj;
  EXPECT_FALSE(obj.Get(Req("doc")));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  EXPECT_FALSE(ZOLT_DRIVE_OBJECT::Delete(Req("doc")));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  EXPECT_FALSE(fs::exists(StoreDir() + "/Tabvale/objects/doc"));

  // The id is free again and starts a new history.
  Make("doc", 8, R"({"b": 1})");
  Json::Value now = Show("doc");
  EXPECT_EQ(now["version"], J(R"("1")"));
  EXPECT_EQ(now["text"], J(R"({"b": 1})"));
}

TEST_F(DriveObjectTest, MalformedRequestsAreRefusedWithACode) {
  Make("doc", 7, R"({"a": 1})");
  struct Case {
    const char* members;
    int code;
  } cases[] = {
      {R"({"text": [1]})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"metatext": "x"})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"commit_msg": "x"})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"acl": [1]})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"acl": {"vexo_user": {"abc": {"perm": "rw"}}}})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"mtime": "soon"})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"requester": "me"})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"metabinary_files": [{"name": "x"}]})", ZOLT_DRIVE_ERR_BAD_REQUEST},
      {R"({"metabinary_files": [{"name": "x", "path": "/nonexistent/file"}]})", ZOLT_DRIVE_ERR_IO},
      {R"({"id": "absent"})", ZOLT_DRIVE_ERR_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.members);
    ZOLTDriveErrCodeSet(0);
    EXPECT_FALSE(Write("doc", c.members, 7));
    EXPECT_EQ(ZOLTDriveErrCodeGet(), c.code);
    EXPECT_FALSE(ZOLTDriveErrMsgGet().empty());
  }
  // None of them wrote anything.
  Json::Value now = Show("doc");
  EXPECT_EQ(now["version"], J(R"("1")"));
  EXPECT_EQ(now["text"], J(R"({"a": 1})"));
  EXPECT_FALSE(log_.lines().empty());
}

}  // namespace
}  // namespace zoltsh::testing
