#include "common/zoltsh_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/zoltsh_log.h"
#include "drive/drive_error.h"
#include "json/json_text.h"
#include "support/log_capture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using zoltsh::testing::LogCapture;

// The error stack is process-wide; each test starts from a stack with one known record.
class ErrorStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZOLTSHErrSetEx(1, "setup", 0, "reset");
    ZOLTDriveErrCodeSet(0);
  }
  static const Json::Value& Stack() { return ZOLTSHErrStackGet(); }
};

TEST_F(ErrorStackTest, SetStartsANewStackWithOneRecord) {
  ZOLTSHErrAppendEx("a", 1, "one");
  ZOLTSHErrAppendEx("b", 2, "two");
  ZOLTSHErrSetEx(1016, "sheet/sheet_get", 42, "Failed [%s] %d", "x == y", 7);
  ASSERT_EQ(Stack().size(), 1u);
  const Json::Value& rec = Stack()[0u];
  EXPECT_EQ(rec["code"].asInt(), 1016);
  EXPECT_EQ(rec["file"].asString(), "sheet/sheet_get");
  EXPECT_EQ(rec["line"].asInt(), 42);
  EXPECT_EQ(rec["msg"].asString(), "Failed [x == y] 7");
}

TEST_F(ErrorStackTest, CodeFollowsRecordZero) {
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1);
  ZOLTSHErrSetEx(1016, "f", 1, "m");
  for (int i = 0; i < 5; ++i) ZOLTSHErrAppendEx("g", i, "frame %d", i);
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1016);
  EXPECT_EQ(Stack().size(), 6u);
  EXPECT_FALSE(Stack()[1u].isMember("code"));
  EXPECT_EQ(Stack()[5u]["msg"].asString(), "frame 4");
}

TEST_F(ErrorStackTest, AppendOnlyStackHasNoCode) {
  // A fresh process starts with a null stack; nothing in the API empties it, so the test does.
  Json::Value empty;
  const_cast<Json::Value&>(Stack()).swap(empty);
  EXPECT_EQ(ZOLTSHErrCodeGet(), 0);
  ZOLTSHErrAppendEx(nullptr, 3, nullptr);
  EXPECT_EQ(ZOLTSHErrCodeGet(), -1);
  EXPECT_EQ(Stack()[0u]["file"].asString(), "");
  EXPECT_EQ(Stack()[0u]["msg"].asString(), "");
}

TEST_F(ErrorStackTest, SerialCountsEveryRecord) {
  const unsigned long long before = ZOLTSHErrSerialGet();
  ZOLTSHErrCodeGet();
  ZOLTSHErrMsgGet(false);
  EXPECT_EQ(ZOLTSHErrSerialGet(), before);
  ZOLTSHErrSetEx(1016, "f", 1, "m");
  ZOLTSHErrAppendEx("g", 2, "n");
  EXPECT_EQ(ZOLTSHErrSerialGet(), before + 2);
}

TEST_F(ErrorStackTest, LongMessagesArriveWhole) {
  for (size_t len : {1023u, 1024u, 1025u, 5000u, 300000u}) {
    SCOPED_TRACE(len);
    std::string text(len, 'q');
    text.back() = 'Z';
    ZOLTSHErrSetEx(1000, "f", 1, "<%s>", text.c_str());
    EXPECT_EQ(Stack()[0u]["msg"].asString(), "<" + text + ">");
  }
}

TEST_F(ErrorStackTest, MsgGetLogsStackAndReportsDriveCode) {
  ZOLTSHErrSetEx(1016, "f", 9, "first");
  ZOLTSHErrAppendEx("g", 10, "second");
  ZOLTDriveErrCodeSet(1007);
  LogCapture log;
  const Json::Value& detail = ZOLTSHErrMsgGet(true);
  EXPECT_EQ(Json::toString(detail), R"({"zoltdrive":1007})");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.priorities()[0], LOG_ERR);
  EXPECT_THAT(log.lines()[0], MatchesRegex("common/zoltsh_error:[0-9]+ \\[.*\\]"));
  EXPECT_THAT(log.lines()[0], HasSubstr(R"("msg":"second")"));
  // The stack stays; without log nothing is written.
  log.clear();
  ZOLTSHErrMsgGet(false);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1016);
}

std::string PrintToString() {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  ZOLTSHErrPrint(out);
  std::fclose(out);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

TEST_F(ErrorStackTest, PrintWalksFramesNewestFirst) {
  ZOLTSHErrSetEx(1016, "f0", 1, "origin");
  EXPECT_EQ(PrintToString(), "zoltsh call stack:\n  ErrNo=[1016] (Get ZoltDrive object failed.)\n");
  ZOLTSHErrAppendEx("f1", 2, "middle");
  ZOLTSHErrAppendEx("f2", 3, "outer");
  EXPECT_EQ(PrintToString(),
            "zoltsh call stack:\n  outer (f2:3)\n  middle (f1:2)\n"
            "  ErrNo=[1016] (Get ZoltDrive object failed.)\n");
  ZOLTSHErrSetEx(1031, "f0", 1, "no row");
  EXPECT_EQ(PrintToString(), "zoltsh call stack:\n");
}

TEST(ErrorTable, HasThirtyTwoRowsInOrder) {
  EXPECT_EQ(rgErrorString[0].code, 1000);
  EXPECT_EQ(rgErrorString[3].code, 1004);
  EXPECT_EQ(rgErrorString[4].code, 1003);
  EXPECT_EQ(rgErrorString[kZOLTSHErrorRows - 1].code, 1035);
  for (int code : {1021, 1031, 1032, 1033, 1036}) {
    for (const auto& row : rgErrorString) EXPECT_NE(row.code, code);
  }
}

TEST(ErrorTable, GetString) {
  const char* section = "untouched";
  EXPECT_STREQ(ZOLTSHErrGetString(1000, &section), "error_system");
  EXPECT_STREQ(section, "common");
  EXPECT_EQ(ZOLTSHErrGetString(1001, &section), nullptr);
  EXPECT_STREQ(section, "");
  section = "untouched";
  EXPECT_STREQ(ZOLTSHErrGetString(1031, &section), "");
  EXPECT_STREQ(section, "untouched");
  EXPECT_EQ(ZOLTSHErrGetString(1002, nullptr), nullptr);
}

TEST(ErrorTable, CodeFromDrive) {
  struct Case {
    int drive, fallback, expected;
  } cases[] = {{999, 7, 7}, {1031, 7, 7}, {1030, 7, 1030}, {1000, 7, 1000}, {0, 5, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    ZOLTDriveErrCodeSet(c.drive);
    EXPECT_EQ(ZOLTSHErrCodeGetFromDrive(c.fallback), c.expected);
  }
  ZOLTDriveErrCodeSet(0);
}

TEST(Exceptions, SubclassesCarryAllFourValues) {
  try {
    ZOLTSH_THROW(NoPassError, "no Password", 1033);
  } catch (const zoltsh::ZoltError& e) {
    EXPECT_EQ(e.code, 1033);
    EXPECT_STREQ(e.what(), "no Password");
    EXPECT_EQ(e.file, "tests/common/zoltsh_error_test");
    EXPECT_GT(e.line, 0);
    EXPECT_NE(dynamic_cast<const zoltsh::NoPassError*>(&e), nullptr);
  }
  try {
    throw zoltsh::ZoltDriveGetError(12, "snapshot/spreadsheet", "get zoltdrive error", 1016);
  } catch (const zoltsh::ZoltDriveError& e) {
    EXPECT_EQ(e.code, 1016);
    EXPECT_EQ(e.line, 12);
  }
  EXPECT_THROW(throw runas_error("RUN_AS(0, 0)"), std::runtime_error);
}

TEST(CheckFailures, LogFormatsFollowErrno) {
  struct Case {
    const char* name;
    int err;
    const char* detail;
    const char* expected;
  } cases[] = {
      {"plain", 0, nullptr, "f.cc:7 Failed [NULL == p], err=Success"},
      {"errno", ENOENT, nullptr,
       "f.cc:7 Failed [NULL == p], err=No such file or directory [err: No such file or directory]"},
      {"detail", 0, "relation missing", "f.cc:7 Failed [NULL == p], relation missing, err=Success"},
      {"detail+errno", EACCES, "db",
       "f.cc:7 Failed [NULL == p], db, err=Permission denied "
       "[err: Permission denied]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    errno = c.err;
    zoltsh::internal::LogFailed("f.cc", 7, "NULL == p", c.detail);
    EXPECT_EQ(errno, 0);
    EXPECT_THAT(log.lines(), ElementsAre(c.expected));
  }
}

bool FailingCallee() {
  const char* p = nullptr;
  if (ZOLTSH_FAIL_SET(NULL == p, ZOLTSH_ERR_ALLOC)) return false;
  return true;
}

bool Caller() {
  if (ZOLTSH_FAIL_APPEND(!FailingCallee())) return false;
  return true;
}

TEST_F(ErrorStackTest, CheckMacrosRecordWhereTheFailureStartsAndTravels) {
  errno = 0;  // the expected lines carry "err=Success"
  LogCapture log;
  EXPECT_FALSE(Caller());
  EXPECT_EQ(ZOLTSHErrCodeGet(), ZOLTSH_ERR_ALLOC);
  ASSERT_EQ(Stack().size(), 2u);
  EXPECT_EQ(Stack()[0u]["msg"].asString(), "NULL == p");
  EXPECT_EQ(Stack()[1u]["msg"].asString(), "!FailingCallee()");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_THAT(log.lines()[0],
              MatchesRegex("tests/common/zoltsh_error_test:[0-9]+ Failed \\[NULL == p\\], "
                           "err=Success"));
  // A check that holds records and logs nothing.
  log.clear();
  EXPECT_FALSE(ZOLTSH_FAIL_SET(1 == 2, 1000));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(ZOLTSHErrCodeGet(), ZOLTSH_ERR_ALLOC);
}

TEST(LogLines, StartWithSourcePosition) {
  LogCapture log;
  ZOLTSH_LOG_ERR("json conversion failed: %s", "bad");
  ZOLTSH_LOG_INFO("plain");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_THAT(log.lines()[0],
              MatchesRegex("tests/common/zoltsh_error_test:[0-9]+ json conversion failed: bad"));
  EXPECT_EQ(log.priorities()[1], LOG_INFO);
}

}  // namespace
