// Lists of objects (filters, paging, batch writes) and lists of versions.
#include <vector>

#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

using DriveListTest = DriveTest;

std::vector<std::string> Ids(const ZOLT_DRIVE_OBJECT_LIST& list) {
  std::vector<std::string> ids;
  for (const ZOLT_DRIVE_OBJECT& obj : list) ids.push_back(obj.get_ref_id());
  return ids;
}

TEST_F(DriveListTest, FiltersSelectTheMatchingObjects) {
  Make("a", 7, R"({"recycle": true, "title": "A"})", R"({"tag": ["t1", "t2"]})",
       R"({"category": "sheet", "parent_id": "p", "ctime": 30})");
  Make("b", 7, R"({"recycle": false, "title": "B"})", R"({"tag": ["t2"]})",
       R"({"category": "sheet", "ctime": 10})");
  Make("c", 8, R"({"recycle": true, "n": 5})", R"({"tag": ["t1"]})",
       R"({"category": "tag", "ctime": 20})");
  Make("d", 7, R"({"n": 5})", "{}", R"({"category": "shortcut", "ctime": 40})");

  struct Case {
    const char* request;
    std::vector<std::string> ids;
    int total;
  } cases[] = {
      {"{}", {"a", "b", "c", "d"}, 4},
      {R"({"filter": {"owner_uid": 7}})", {"a", "b", "d"}, 3},
      {R"({"filter": {"owner": "8"}})", {"c"}, 1},
      {R"({"filter": {"category": "sheet"}})", {"a", "b"}, 2},
      {R"({"filter": {"category": ["tag", "shortcut"]}})", {"c", "d"}, 2},
      {R"({"filter": {"owner_uid": 7, "category": "sheet", "text": {"recycle": true}}})", {"a"}, 1},
      {R"({"filter": {"text": {"recycle": false}}})", {"b"}, 1},
      {R"({"filter": {"text": {"n": 5}}})", {"c", "d"}, 2},
      {R"({"filter": {"metatext": {"tag": ["t1"]}}})", {"a", "c"}, 2},
      {R"({"filter": {"metatext": {"tag": ["t2", "t1"]}}})", {"a"}, 1},
      {R"({"filter": {"metatext": {"tag": []}}})", {"a", "b", "c"}, 3},
      {R"({"filter": {"parent_id": "p"}})", {"a"}, 1},
      {R"({"filter": {"id": ["d", "b", "zz"]}})", {"b", "d"}, 2},
      {R"({"sort_by": "ctime"})", {"b", "c", "a", "d"}, 4},
      {R"({"sort_by": "ctime", "sort_direction": "desc", "offset": 1, "limit": 2})", {"a", "c"}, 4},
      {R"({"offset": 3, "limit": 5})", {"d"}, 4},
      {R"({"offset": 9})", {}, 4},
      {R"({"requester": 8})", {"c"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    Json::Value r = J(c.request);
    r["ns"] = kNs;
    if (!r.isMember("requester")) r["requester"] = 0;
    ZOLT_DRIVE_OBJECT_LIST list;
    int total = -1;
    ASSERT_EQ(list.ListObject(r, total), static_cast<int>(c.ids.size())) << ZOLTDriveErrMsgGet();
    EXPECT_EQ(Ids(list), c.ids);
    EXPECT_EQ(total, c.total);
  }
}

TEST_F(DriveListTest, ListedObjectsCarryTheSelectedFieldsAndPerm) {
  Make("a", 7, R"({"title": "A", "big": [1, 2, 3]})", R"({"m": 1})");
  Json::Value r = J(R"({"ns": "Tabvale", "requester": 7,
                        "field": {"text": {"title": true}, "metatext": true}})");
  ZOLT_DRIVE_OBJECT_LIST list;
  int total = 0;
  ASSERT_EQ(list.ListObject(r, total), 1);
  EXPECT_EQ(list[0].get_ref_text(), J(R"({"title": "A"})"));
  EXPECT_EQ(list[0].get_ref_metatext(), J(R"({"m": 1})"));
  EXPECT_EQ(list[0].get_ref_perm(), "owner");

  // A malformed filter fails without touching the list.
  r["filter"] = "x";
  EXPECT_EQ(list.ListObject(r, total), -1);
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_BAD_REQUEST);
  EXPECT_EQ(list.size(), 1u);
  list.clear();
  EXPECT_TRUE(list.empty());
}

TEST_F(DriveListTest, BatchSetAndDeleteReportEveryId) {
  Make("a", 7, R"({"title": "A"})");
  Make("b", 8, R"({"title": "B"})");
  Make("c", 7, R"({"title": "C"})");

  Json::Value r = J(R"({"ns": "Tabvale", "requester": 7, "id": ["a", "b", "c", "zz"],
                        "recursive": false, "text": {"recycle": true},
                        "commit_msg": {"listable": true}})");
  ZOLT_DRIVE_OBJECT_LIST list;
  Json::Value result;
  ASSERT_TRUE(list.Set(r, result));
  EXPECT_EQ(result, J(R"({"a": true, "b": false, "c": true, "zz": false})"));
  EXPECT_EQ(Ids(list), (std::vector<std::string>{"a", "b", "c", "zz"}));
  EXPECT_EQ(list[0].get_ref_version(), "2");
  EXPECT_EQ(list[1].get_ref_version(), "");
  EXPECT_EQ(Show("a")["text"], J(R"({"title": "A", "recycle": true})"));
  EXPECT_EQ(Show("b")["text"], J(R"({"title": "B"})"));

  // Tag removal over many objects keeps each object's other tags.
  Make("t1", 7, "{}", R"({"tag": ["x", "y"]})");
  Make("t2", 7, "{}", R"({"tag": ["y"]})");
  ASSERT_TRUE(list.Set(J(R"({"ns": "Tabvale", "requester": 7, "id": ["t1", "t2"],
                             "metatext": {"tag": []}, "remove_tag": "y"})"),
                       result));
  EXPECT_EQ(Show("t1")["metatext"]["tag"], J(R"(["x"])"));
  EXPECT_EQ(Show("t2")["metatext"]["tag"], J("[]"));

  ASSERT_TRUE(list.Delete(J(R"({"ns": "Tabvale", "requester": 7, "id": ["a", "b", "zz"],
                                "recursive": false})"),
                          result));
  EXPECT_EQ(result, J(R"({"a": true, "b": false, "zz": false})"));
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "a"));
  EXPECT_TRUE(ZOLTDriveIDIsExist(kNs, "b"));

  // A single id as a string works too; a malformed id list is refused as a whole.
  ASSERT_TRUE(list.Delete(J(R"({"ns": "Tabvale", "id": "c"})"), result));
  EXPECT_EQ(result, J(R"({"c": true})"));
  EXPECT_FALSE(list.Set(J(R"({"ns": "Tabvale", "id": [1, "b"], "text": {"x": 1}})"), result));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_BAD_REQUEST);
  EXPECT_EQ(Show("b")["version"], J(R"("1")"));
}

TEST_F(DriveListTest, VersionListsPageAndFilterNewestFirst) {
  Make("doc", 7, R"({"n": 1})", "{}", R"({"commit_msg": {"first_version": true}})");
  for (int n = 2; n <= 6; ++n) {
    const bool listable = n % 2 == 0;  // versions 2, 4, 6
    ASSERT_TRUE(Write("doc",
                      "{\"text\": {\"n\": " + std::to_string(n) +
                          "}, \"commit_msg\": {\"listable\": " + (listable ? "true" : "false") +
                          ", \"editors\": [7]}}",
                      7));
  }
  struct Case {
    const char* request;
    std::vector<std::string> versions;
  } cases[] = {
      {"{}", {"6", "5", "4", "3", "2", "1"}},
      {R"({"filter": {"listable": true}})", {"6", "4", "2"}},
      {R"({"filter_not": {"listable": true}})", {"5", "3", "1"}},
      {R"({"offset": 1, "limit": 2})", {"5", "4"}},
      {R"({"filter": {"listable": true}, "offset": 2, "limit": 10})", {"2"}},
      {R"({"offset": 6})", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    Json::Value r = J(c.request);
    r["ns"] = kNs;
    r["id"] = "doc";
    r["requester"] = 7;
    ZOLT_DRIVE_OBJECT_VERSION_LIST list;
    int total = 0, listable = 0;
    ASSERT_EQ(list.ListVersion(r, total, listable), static_cast<int>(c.versions.size()));
    EXPECT_EQ(total, 6);
    EXPECT_EQ(listable, 3);
    std::vector<std::string> got;
    for (const ZOLT_DRIVE_OBJECT_VERSION& v : list) got.push_back(v.get_ref_version());
    EXPECT_EQ(got, c.versions);
  }

  ZOLT_DRIVE_OBJECT_VERSION_LIST list;
  int total = 0;
  ASSERT_EQ(list.ListVersion(Req("doc", 7), total), 6);
  Json::Value json;
  ASSERT_TRUE(list[1].toJson(Json::Value(), json));
  EXPECT_EQ(json["id"], J(R"("5")"));
  EXPECT_EQ(json["object_id"], J(R"("doc")"));
  EXPECT_EQ(json["commit_msg"], J(R"({"listable": false, "editors": [7]})"));
  EXPECT_EQ(json["listable"], J("false"));
  EXPECT_FALSE(json.isMember("text"));

  // Someone who may not read the object may not list its history.
  EXPECT_EQ(list.ListVersion(Req("doc", 8), total), -1);
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_PERMISSION);
}

TEST_F(DriveListTest, OneVersionReadsItsContentOnRequest) {
  Make("doc", 7, R"({"n": 1})", R"({"m": 1})", R"({"commit_msg": {"listable": true}})");
  ASSERT_TRUE(Write("doc", R"({"text": {"n": 2}, "metatext": {"m": 2}})", 7));

  ZOLT_DRIVE_OBJECT_VERSION v;
  Json::Value r = Req("doc", 7);
  r["ver"] = "1";
  ASSERT_TRUE(v.Get(r));
  Json::Value json;
  ASSERT_TRUE(v.toJson(Json::Value(), json));
  EXPECT_EQ(json["version"], J(R"("1")"));
  EXPECT_EQ(json["listable"], J("true"));
  EXPECT_FALSE(json.isMember("text"));

  r["field"] = J(R"({"text": true, "metatext": true})");
  ASSERT_TRUE(v.Get(r));
  ASSERT_TRUE(v.toJson(J(R"({"commit_msg": false})"), json));
  EXPECT_EQ(json["text"], J(R"({"n": 1})"));
  EXPECT_EQ(json["metatext"], J(R"({"m": 1})"));
  EXPECT_FALSE(json.isMember("commit_msg"));

  r["ver"] = "3";
  EXPECT_FALSE(v.Get(r));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  EXPECT_EQ(v.get_ref_version(), "1");  // a failed read leaves the version as it was
}

}  // namespace
}  // namespace zoltsh::testing
