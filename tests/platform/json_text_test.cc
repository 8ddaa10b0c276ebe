#include "json/json_text.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "support/temp_root.h"

namespace {

Json::Value Parse(std::string_view text) {
  Json::Value v;
  std::string error;
  EXPECT_TRUE(Json::fromString(v, text, &error)) << text << ": " << error;
  return v;
}

// JsonCpp's own reader, as the reference for what a text means.
Json::Value ParseWithJsonCpp(const std::string& text) {
  Json::CharReaderBuilder builder;
  builder["allowSpecialFloats"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value v;
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << errors;
  return v;
}

TEST(JsonText, ExactRoundTripOfTexts) {
  const char* texts[] = {
      "null",
      "true",
      "false",
      "0",
      "-1",
      "[]",
      "{}",
      R"("")",
      R"({"a":1,"b":[true,false,null],"c":"x"})",
      "1234.56",
      "0.1",
      "1.0",
      "-0.0",
      "1e+20",
      "1.5e-07",
      "5e-324",
      "1.7976931348623157e+308",
      "2147483647",
      "2147483648",
      "-2147483649",
      "9223372036854775807",
      "-9223372036854775808",
      "9223372036854775808",
      "18446744073709551615",
      R"("tab\tnewline\nquote\"backslash\\nul\u0000ctl\u001f")",
      R"("é€𝄞 raw UTF-8")",
      R"({"\u0000key":"v","k\"2":[[],{}]})",
      R"([1,[2,[3,[4,{"deep":[5]}]]]])",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Json::toString(Parse(text)), text);
  }
}

TEST(JsonText, NumbersKeepTheirType) {
  struct Case {
    const char* text;
    Json::ValueType type;
  } cases[] = {
      {"0", Json::intValue},
      {"-5", Json::intValue},
      {"9223372036854775807", Json::intValue},
      {"9223372036854775808", Json::uintValue},
      {"18446744073709551615", Json::uintValue},
      {"18446744073709551616", Json::realValue},
      {"-9223372036854775808", Json::intValue},
      {"-9223372036854775809", Json::realValue},
      {"1.0", Json::realValue},
      {"1e2", Json::realValue},
      {"1E2", Json::realValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Json::Value v = Parse(c.text);
    EXPECT_EQ(v.type(), c.type);
    // The same meaning as JsonCpp's reader gives the text.
    EXPECT_EQ(v, ParseWithJsonCpp(c.text));
  }
}

TEST(JsonText, DoublesReadCorrectlyRoundedAndWriteShortest) {
  EXPECT_EQ(Json::toString(Json::Value(1234.56)), "1234.56");
  EXPECT_EQ(Json::toString(Json::Value(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(Json::toString(Json::Value(100.0)), "100.0");
  EXPECT_EQ(Json::toString(Json::Value(1e21)), "1e+21");
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    Json::Value back = Parse(Json::toString(Json::Value(d)));
    ASSERT_TRUE(back.isDouble());
    ASSERT_EQ(back.asDouble(), d) << Json::toString(Json::Value(d));
  }
  // Digits beyond what a double holds still round correctly.
  EXPECT_EQ(Parse("0.1000000000000000055511151231257827021181583404541015625").asDouble(), 0.1);
  EXPECT_EQ(Parse("1e-400").asDouble(), 0.0);
}

TEST(JsonText, NonFiniteDoublesWriteNullAndHugeNumbersAreRefused) {
  EXPECT_EQ(Json::toString(Json::Value(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(Json::toString(Json::Value(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(Json::toString(Json::Value(-std::numeric_limits<double>::infinity())), "null");
  for (const char* huge : {"1e+9999", "-1e309", "[1e400]", "-922337721e300",
                           "[\"e\",18446744073709551614,-922337721e300]"}) {
    Json::Value v;
    std::string error;
    EXPECT_FALSE(Json::fromString(v, huge, &error)) << huge;
    EXPECT_NE(error.find("too big"), std::string::npos) << error;
  }
}

TEST(JsonText, StringsKeepEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  Json::Value v(all.data(), all.data() + all.size());
  Json::Value object(Json::objectValue);
  object[all] = v;
  Json::Value back = Parse(Json::toString(object));
  ASSERT_TRUE(back.isMember(all));
  EXPECT_EQ(back[all].asString(), all);
  // Escaped forms decode to their characters, surrogate pairs included.
  EXPECT_EQ(Parse(R"("\u00e9\ud834\udd1e\/")").asString(), "é𝄞/");
}

// Random values of every kind, for round trips and for agreement with JsonCpp.
// With anyBytes, strings hold arbitrary bytes (invalid UTF-8 included); else valid UTF-8.
Json::Value RandomValue(std::mt19937_64& rng, int depth, bool anyBytes) {
  switch (rng() % (depth > 4 ? 6 : 8)) {
    case 0:
      return Json::Value();
    case 1:
      return Json::Value(rng() % 2 == 0);
    case 2:
      return Json::Value(static_cast<Json::Int64>(rng()));
    case 3:
      return Json::Value(static_cast<Json::UInt64>(rng() | (1ull << 63)));
    case 4:
      return Json::Value(std::ldexp(static_cast<double>(rng() % 1000000) - 500000.0,
                                    static_cast<int>(rng() % 80) - 40));
    case 5: {
      static const char* const kPieces[] = {
          "a", "Z", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9d\x84\x9e", "\n", "\"", "\\", "\x01", "/"};
      std::string s;
      for (int i = rng() % 12; i > 0; --i) {
        if (anyBytes) {
          s.push_back(static_cast<char>(rng() % 256));
        } else {
          s += kPieces[rng() % 10];
        }
      }
      return Json::Value(s.data(), s.data() + s.size());
    }
    case 6: {
      Json::Value a(Json::arrayValue);
      for (int i = rng() % 6; i > 0; --i) a.append(RandomValue(rng, depth + 1, anyBytes));
      return a;
    }
    default: {
      Json::Value o(Json::objectValue);
      for (int i = rng() % 6; i > 0; --i)
        o["k" + std::to_string(rng() % 100)] = RandomValue(rng, depth + 1, anyBytes);
      return o;
    }
  }
}

TEST(JsonText, RandomValuesRoundTripAndAgreeWithJsonCpp) {
  std::mt19937_64 rng(20261211);
  Json::StreamWriterBuilder jsoncppWriter;
  jsoncppWriter["indentation"] = "";
  for (int i = 0; i < 500; ++i) {
    Json::Value v = RandomValue(rng, 0, true);
    std::string ours = Json::toString(v);
    EXPECT_EQ(Parse(ours), v) << ours;
    // JsonCpp reads our text the same way, and we read JsonCpp's (whose writer replaces invalid
    // UTF-8, so only valid strings go that way).
    EXPECT_EQ(ParseWithJsonCpp(ours), v) << ours;
    Json::Value valid = RandomValue(rng, 0, false);
    EXPECT_EQ(Parse(Json::writeString(jsoncppWriter, valid)), valid);
  }
}

TEST(JsonText, MalformedTextsFailAndLeaveTheValue) {
  const char* bad[] = {
      "",         " ",        "{",          "[1,]",     R"({"a":1,})", "01",
      "1.",       ".5",       "-",          "+1",       "nul",         "\"abc",
      R"("\x")",  "[1] x",    "// c\n1",    "{'a':1}",  "\"\x01\"",    "NaN",
      "Infinity", "[1 2]",    R"({"a" 1})", R"({1:2})", R"("\ud800")", "\xef\xbb\xbf{}",
      "{}}",      "[\"a\",]",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    Json::Value v("kept");
    std::string error;
    EXPECT_FALSE(Json::fromString(v, text, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(v.asString(), "kept");
  }
  // A text with a NUL inside is not JSON either.
  Json::Value v;
  EXPECT_FALSE(Json::fromString(v, std::string_view("[1]\0[2]", 7)));
}

TEST(JsonText, NestingIsBounded) {
  auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, nested(Json::kJsonMaxDepth)));
  std::string error;
  EXPECT_FALSE(Json::fromString(v, nested(Json::kJsonMaxDepth + 1), &error));
  EXPECT_NE(error.find("nesting too deep"), std::string::npos) << error;
  // Far deeper than any stack: refused without recursion.
  EXPECT_FALSE(Json::fromString(v, std::string(5000000, '[')));
  EXPECT_FALSE(Json::fromString(v, std::string(5000000, '{')));
}

TEST(JsonText, Files) {
  zoltsh::testing::TempRoot root;
  const std::string path = root.path("sheet.json");
  Json::Value sheet = Parse(R"({"cells":[[1,2.5,"x"]],"title":"Q1"})");
  ASSERT_TRUE(Json::toFile(sheet, path));
  Json::Value back;
  ASSERT_TRUE(Json::fromFile(back, path));
  EXPECT_EQ(back, sheet);
  // Rewriting a file replaces its whole content.
  ASSERT_TRUE(Json::toFile(Json::Value(1), path));
  ASSERT_TRUE(Json::fromFile(back, path));
  EXPECT_EQ(back, Json::Value(1));

  std::string error;
  EXPECT_FALSE(Json::fromFile(back, root.path("missing.json"), &error));
  EXPECT_NE(error.find("missing.json"), std::string::npos);
  EXPECT_FALSE(Json::toFile(sheet, root.dir()));  // a directory
  EXPECT_FALSE(Json::toFile(sheet, root.path("no/such/dir/x.json")));
  EXPECT_FALSE(Json::fromFile(back, root.dir()));
  EXPECT_EQ(back, Json::Value(1));
}

TEST(JsonText, SearchArrayIndex) {
  Json::Value a = Parse(R"([1,"1",2,{"a":1},1])");
  EXPECT_EQ(Json::searchArrayIndex(a, Json::Value(1)), 0u);
  EXPECT_EQ(Json::searchArrayIndex(a, Json::Value("1")), 1u);
  EXPECT_EQ(Json::searchArrayIndex(a, Parse(R"({"a":1})")), 3u);
  EXPECT_EQ(Json::searchArrayIndex(a, Json::Value(3)), Json::kNotFound);
  EXPECT_EQ(Json::kNotFound, std::numeric_limits<Json::ArrayIndex>::max());
  EXPECT_EQ(Json::searchArrayIndex(Json::Value(), Json::Value()), Json::kNotFound);
  EXPECT_EQ(Json::searchArrayIndex(Parse(R"({"a":1})"), Json::Value(1)), Json::kNotFound);
}

}  // namespace
