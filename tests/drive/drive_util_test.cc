// The store's free functions: SQL list text, namespace settings, existence and paths.
#include <fstream>
#include "drive/drive_fault.h"
#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

using DriveUtilTest = DriveTest;

TEST(DriveEscapeTest, StringArraysBecomeQuotedLists) {
  struct Case {
    const char* array;
    const char* sql;
  } cases[] = {
      {R"(["a", "b"])", "('a','b')"},
      {R"(["it's", "x''y"])", "('it''s','x''''y')"},
      {R"(["back\\slash", "semi;colon", "new\nline"])", "('back\\slash','semi;colon','new\nline')"},
      {R"([1, 18446744073709551615, -2, true, null, {}, "s"])",
       "('1','18446744073709551615','-2','s')"},
      {R"(["nul\u0000byte", "ok"])", "('ok')"},
      {"[]", "(NULL)"},
      {"{}", "(NULL)"},
      {R"("a")", "(NULL)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.array);
    EXPECT_EQ(ZOLTDriveObjectEscapeStringArray(J(c.array)), c.sql);
  }
}

TEST(DriveEscapeTest, UIntArraysBecomeNumberLists) {
  struct Case {
    const char* array;
    const char* sql;
  } cases[] = {
      {"[1, 2, 4294967295]", "(1,2,4294967295)"},
      {R"(["100", "x", "1; DROP TABLE sheet", -1, 2.5, true, "", "007"])", "(100,7)"},
      {"[]", "(NULL)"},
      {"null", "(NULL)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.array);
    EXPECT_EQ(ZOLTDriveObjectEscapeUIntArray(J(c.array)), c.sql);
  }
}

TEST_F(DriveUtilTest, SettingsAreStoredAndReplaced) {
  Json::Value got;
  EXPECT_FALSE(ZOLTDriveSettingsIndexGet(kNs, got));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  const Json::Value first = J(R"({"text": {"key": {"index": false}, "prefix": {"sh_": false}}})");
  ASSERT_TRUE(ZOLTDriveSettingsIndexSet(kNs, first));
  ASSERT_TRUE(ZOLTDriveSettingsIndexGet(kNs, got));
  EXPECT_EQ(got, first);
  {
    // A replacement that fails half-way keeps the previous settings.
    ZOLTDriveFaultHook previous = ZOLTDriveSetFaultHook([](const char*) { return false; });
    EXPECT_FALSE(ZOLTDriveSettingsIndexSet(kNs, J("{}")));
    EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_IO);
    ZOLTDriveSetFaultHook(previous);
  }
  ASSERT_TRUE(ZOLTDriveSettingsIndexGet(kNs, got));
  EXPECT_EQ(got, first);
  EXPECT_FALSE(ZOLTDriveSettingsIndexSet("", first));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_BAD_REQUEST);
}

TEST_F(DriveUtilTest, TextPathsHoldTheCurrentValueAsJsonText) {
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "doc"));
  std::string path = "unchanged";
  EXPECT_FALSE(ZOLTDriveGetTextPath(kNs, "doc", "index", path));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
  EXPECT_EQ(path, "unchanged");

  Make("doc", 7, R"({"index": {"order": ["sh_1"], "n": 1.5}, "enc": "U2FsdGVkX1+abc="})");
  EXPECT_TRUE(ZOLTDriveIDIsExist(kNs, "doc"));
  EXPECT_FALSE(ZOLTDriveIDIsExist("Other", "doc"));
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "doc", "index", path));
  Json::Value index;
  ASSERT_TRUE(Json::fromFile(index, path));
  EXPECT_EQ(index, J(R"({"order": ["sh_1"], "n": 1.5})"));
  // A string value is stored as a JSON string: its text is the base64 between two quotes.
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "doc", "enc", path));
  std::ifstream in(path);
  std::string raw((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(raw, "\"U2FsdGVkX1+abc=\"");
  EXPECT_FALSE(ZOLTDriveGetTextPath(kNs, "doc", "missing", path));
  EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_NOT_FOUND);
}

}  // namespace
}  // namespace zoltsh::testing
