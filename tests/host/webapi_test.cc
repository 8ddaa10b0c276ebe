// The request's typed getters and the response's answer rules.
#include "webapi/webapi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "json/json_text.h"
#include "support/temp_root.h"

namespace {

using ZOLT::API_PARAM_OPTIONAL;
using ZOLT::API_PARAM_REQUIRED;
using ZOLT::APIRequest;
using ZOLT::APIResponse;

APIRequest MakeRequest(const char* paramsJson) {
  Json::Value params;
  EXPECT_TRUE(Json::fromString(params, paramsJson));
  return APIRequest("A", 1, "m", params, 1001, "alice");
}

struct GetterCase {
  const char* params;
  int necessity;
  bool set;
  bool invalid;
};

TEST(APIRequestTest, GetAndCheckStringMarksAbsentWrongAndRefused) {
  const GetterCase cases[] = {
      {R"({"p":"x"})", API_PARAM_REQUIRED, true, false},
      {R"({"p":""})", API_PARAM_REQUIRED, true, false},
      {R"({})", API_PARAM_REQUIRED, false, true},
      {R"({})", API_PARAM_OPTIONAL, false, false},
      {R"({"p":5})", API_PARAM_OPTIONAL, true, true},
      {R"({"p":null})", API_PARAM_REQUIRED, true, true},
      {R"({"p":["x"]})", API_PARAM_REQUIRED, true, true},
      {R"({"p":"refuse"})", API_PARAM_REQUIRED, true, true},
  };
  for (const GetterCase& c : cases) {
    SCOPED_TRACE(c.params);
    APIRequest req = MakeRequest(c.params);
    auto p =
        req.GetAndCheckString("p", c.necessity, [](const std::string& v) { return v != "refuse"; });
    EXPECT_EQ(p.IsSet(), c.set);
    EXPECT_EQ(p.IsInvalid(), c.invalid);
  }
  APIRequest req = MakeRequest(R"({"p":"value"})");
  EXPECT_EQ(req.GetAndCheckString("p", API_PARAM_REQUIRED).Get(), "value");
  auto absent = req.GetAndCheckString("q", API_PARAM_OPTIONAL);
  absent.SetDefault("fallback");
  EXPECT_EQ(absent.Get(), "fallback");
}

TEST(APIRequestTest, GetAndCheckIntTakesOnlyIntegersInRange) {
  const GetterCase cases[] = {
      {R"({"p":7})", API_PARAM_REQUIRED, true, false},
      {R"({"p":-7})", API_PARAM_REQUIRED, true, false},
      {R"({"p":2.5})", API_PARAM_REQUIRED, true, true},
      {R"({"p":2.0})", API_PARAM_REQUIRED, true, true},
      {R"({"p":"7"})", API_PARAM_REQUIRED, true, true},
      {R"({"p":true})", API_PARAM_REQUIRED, true, true},
      {R"({"p":4294967296})", API_PARAM_REQUIRED, true, true},
      {R"({"p":1000})", API_PARAM_REQUIRED, true, true},  // refused by the validator
      {R"({})", API_PARAM_OPTIONAL, false, false},
  };
  for (const GetterCase& c : cases) {
    SCOPED_TRACE(c.params);
    APIRequest req = MakeRequest(c.params);
    auto p = req.GetAndCheckInt("p", c.necessity, [](int v) { return v < 1000; });
    EXPECT_EQ(p.IsSet(), c.set);
    EXPECT_EQ(p.IsInvalid(), c.invalid);
  }
  EXPECT_EQ(MakeRequest(R"({"p":-7})").GetAndCheckInt("p", 0).Get(), -7);
}

TEST(APIRequestTest, GetAndCheckArraysWantArrays) {
  const GetterCase cases[] = {
      {R"({"p":[]})", API_PARAM_REQUIRED, true, false},
      {R"({"p":[1,{"a":2}]})", API_PARAM_REQUIRED, true, false},
      {R"({"p":{"a":1}})", API_PARAM_REQUIRED, true, true},
      {R"({"p":"x"})", API_PARAM_OPTIONAL, true, true},
      {R"({})", API_PARAM_REQUIRED, false, true},
  };
  for (const GetterCase& c : cases) {
    SCOPED_TRACE(c.params);
    APIRequest req = MakeRequest(c.params);
    for (const auto& p :
         {req.GetAndCheckArray("p", c.necessity), req.GetAndCheckUnitArray("p", c.necessity)}) {
      EXPECT_EQ(p.IsSet(), c.set);
      EXPECT_EQ(p.IsInvalid(), c.invalid);
    }
  }
  auto refused = MakeRequest(R"({"p":[1]})")
                     .GetAndCheckArray("p", API_PARAM_REQUIRED,
                                       [](const Json::Value& v) { return v.size() > 1; });
  EXPECT_TRUE(refused.IsInvalid());
}

TEST(APIRequestTest, ParamsByReferenceAndDefault) {
  APIRequest req = MakeRequest(R"({"a":1,"n":null})");
  Json::Value def("default");
  EXPECT_TRUE(req.HasParam("a"));
  EXPECT_TRUE(req.HasParam("n"));
  EXPECT_FALSE(req.HasParam("b"));
  EXPECT_EQ(req.GetParamRef("a", def).asInt(), 1);
  EXPECT_EQ(&req.GetParamRef("b", def), &def);
  EXPECT_EQ(req.GetParam("b", def), def);
  EXPECT_TRUE(req.GetParamRef("n", def).isNull());
  APIRequest noObject("A", 1, "m", Json::Value(5), 0, "");
  EXPECT_FALSE(noObject.HasParam("a"));
  EXPECT_EQ(&noObject.GetParamRef("a", def), &def);
}

TEST(APIResponseTest, LastOfSuccessAndErrorWins) {
  APIResponse res;
  EXPECT_EQ(res.GetError(), 0);
  EXPECT_FALSE(res.HasSuccess());
  res.SetError(117, Json::Value("d"));
  res.SetSuccess(Json::Value(1));
  EXPECT_EQ(res.GetError(), 0);
  EXPECT_TRUE(res.HasSuccess());
  res.SetError(120);
  EXPECT_EQ(res.GetError(), 120);
  EXPECT_FALSE(res.HasSuccess());
  EXPECT_TRUE(res.GetErrorDetail().isNull());
}

TEST(APIDownloadTest, OutputKeepsTheFileOpenAndRefusesWhatItCannotRead) {
  zoltsh::testing::TempRoot root;
  std::string path = root.path("f.json");
  std::ofstream(path) << "{\"a\":1}";
  APIResponse res;
  ZOLT::APIDownload download(&res);
  EXPECT_FALSE(download.Output(root.path("missing")));
  EXPECT_FALSE(download.Output(root.dir()));  // a directory is no body
  EXPECT_FALSE(res.HasDownload());
  download.SetMimeType("application/json");
  download.SetHeader("X-Id", "7");
  ASSERT_TRUE(download.Output(path));
  std::filesystem::remove(path);
  ASSERT_TRUE(res.HasDownload());
  char buffer[16] = {};
  EXPECT_EQ(::pread(*res.GetDownload().fd, buffer, sizeof(buffer), 0), 7);
  EXPECT_STREQ(buffer, "{\"a\":1}");
  EXPECT_EQ(res.GetDownload().mimeType, "application/json");
  ASSERT_EQ(res.GetDownload().headers.size(), 1u);
}

}  // namespace
