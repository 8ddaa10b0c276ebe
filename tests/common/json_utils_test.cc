#include "common/json_utils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "json/json_text.h"
#include "support/log_capture.h"

namespace {

using zoltsh::utils::InsertToJsonArray;
using zoltsh::utils::JsonArrayToVector;
using zoltsh::utils::JsonArrayWrapper;
using zoltsh::utils::SpliceJsonArray;
using zoltsh::operator<<;

Json::Value J(const char* text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

TEST(SpliceJsonArray, Table) {
  struct Case {
    const char* array;
    unsigned start, deleteCount;
    const char* items;
    const char* expected;
  } cases[] = {
      {R"(["a","b","c","d"])", 1, 2, R"(["x"])", R"(["a","x","d"])"},
      {R"(["a","b","c","d"])", 9, 0, R"(["x"])", R"(["a","b","c","d","x"])"},
      {R"(["a","b","c","d"])", 0, 0, "[null,null]", R"([null,null,"a","b","c","d"])"},
      {R"(["a","b","c","d"])", 1, 2, "null", R"(["a","d"])"},
      {R"(["a","b","c","d"])", 1, 2, R"({"k":1})", R"(["a","d"])"},
      {R"(["a","b","c","d"])", 2, 4000000000u, "[]", R"(["a","b"])"},
      {R"(["a","b"])", 4294967295u, 4294967295u, "[1]", R"(["a","b",1])"},
      {"[]", 0, 3, "[1,2]", "[1,2]"},
      {"null", 0, 0, "[1]", "[1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.array + std::string(" ") + std::to_string(c.start));
    Json::Value array = J(c.array);
    SpliceJsonArray(array, c.start, c.deleteCount, J(c.items));
    EXPECT_EQ(Json::toString(array), c.expected);
  }
}

// The splice against a plain vector model, over every start and count of small arrays.
TEST(SpliceJsonArray, MatchesAVectorModel) {
  for (unsigned size = 0; size <= 5; ++size) {
    for (unsigned start = 0; start <= size + 1; ++start) {
      for (unsigned cut = 0; cut <= size + 1; ++cut) {
        for (unsigned count = 0; count <= 3; ++count) {
          Json::Value array(Json::arrayValue), items(Json::arrayValue);
          std::vector<int> model;
          for (unsigned i = 0; i < size; ++i) {
            array.append(static_cast<int>(i));
            model.push_back(static_cast<int>(i));
          }
          for (unsigned i = 0; i < count; ++i) items.append(100 + static_cast<int>(i));
          const size_t from = std::min<size_t>(start, model.size());
          const size_t to = std::min<size_t>(from + cut, model.size());
          model.erase(model.begin() + from, model.begin() + to);
          for (unsigned i = 0; i < count; ++i) model.insert(model.begin() + from + i, 100 + i);
          SpliceJsonArray(array, start, cut, items);
          Json::Value expected(Json::arrayValue);
          for (int v : model) expected.append(v);
          ASSERT_EQ(array, expected) << size << " " << start << " " << cut << " " << count;
        }
      }
    }
  }
}

TEST(SpliceJsonArray, IntoItself) {
  Json::Value array = J("[1,2,3]");
  SpliceJsonArray(array, 1, 1, array);
  EXPECT_EQ(Json::toString(array), "[1,1,2,3,3]");
}

TEST(InsertToJsonArray, PlacesItemAtIndexOrEnd) {
  struct Case {
    unsigned index;
    const char* expected;
  } cases[] = {{0, R"(["i","a","b"])"},
               {1, R"(["a","i","b"])"},
               {2, R"(["a","b","i"])"},
               {7, R"(["a","b","i"])"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    Json::Value array = J(R"(["a","b"])");
    JsonArrayWrapper(&array).Insert("i", c.index);
    EXPECT_EQ(Json::toString(array), c.expected);
  }
  Json::Value null;
  InsertToJsonArray(null, 5, 3);
  EXPECT_EQ(Json::toString(null), "[5]");
}

TEST(JsonArrayWrapper, RemoveIfKeepsOrderOfSurvivors) {
  Json::Value array = J("[1,2,3,4,5,6]");
  JsonArrayWrapper(&array).RemoveIf([](const Json::Value& v) { return v.asInt() % 2 == 0; });
  EXPECT_EQ(Json::toString(array), "[1,3,5]");
  JsonArrayWrapper(&array).RemoveIf([](const Json::Value&) { return false; });
  EXPECT_EQ(Json::toString(array), "[1,3,5]");
  JsonArrayWrapper(&array).RemoveIf([](const Json::Value&) { return true; });
  EXPECT_EQ(Json::toString(array), "[]");
}

TEST(JsonArrayWrapper, FailingPredicateLeavesArrayWhole) {
  Json::Value array = J(R"([1,{"big":[1,2,3]},3])");
  EXPECT_THROW(JsonArrayWrapper(&array).RemoveIf(nullptr), std::bad_function_call);
  EXPECT_THROW(JsonArrayWrapper(&array).RemoveIf([](const Json::Value& v) {
    if (v.isObject()) throw std::runtime_error("boom");
    return false;
  }),
               std::runtime_error);
  EXPECT_EQ(Json::toString(array), R"([1,{"big":[1,2,3]},3])");
}

TEST(JsonArrayWrapper, Chains) {
  Json::Value array = J("[1,2,3]");
  JsonArrayWrapper(&array).Splice(0, 1, J("[9]")).Insert(0, 0).RemoveIf([](const Json::Value& v) {
    return v.asInt() == 3;
  });
  EXPECT_EQ(Json::toString(array), "[0,9,2]");
}

TEST(JsonArrayToVector, SkipsElementsThatDoNotConvert) {
  zoltsh::testing::LogCapture log;
  EXPECT_THAT(JsonArrayToVector<int>(J("[1,[2],3]")), ::testing::ElementsAre(1, 3));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_THAT(log.lines()[0], ::testing::HasSubstr("json conversion failed: "));
  EXPECT_THAT(JsonArrayToVector<std::string>(J(R"(["a",1,true,{"x":1}])")),
              ::testing::ElementsAre("a", "1", "true"));
  EXPECT_TRUE(JsonArrayToVector<int>(J("[]")).empty());
  EXPECT_TRUE(JsonArrayToVector<int>(J(R"({"a":1})")).empty());
  EXPECT_TRUE(JsonArrayToVector<int>(J("7")).empty());
  // Out of the int range does not convert either.
  EXPECT_THAT(JsonArrayToVector<int>(J("[5000000000,-1]")), ::testing::ElementsAre(-1));
}

TEST(TypedExtraction, ConvertsOrThrowsRuntimeError) {
  int i = 0;
  std::string s;
  double d = 0;
  unsigned long long u = 0;
  i << J("42");
  s << J(R"("text")");
  d << J("1.5");
  u << J("18446744073709551615");
  EXPECT_EQ(i, 42);
  EXPECT_EQ(s, "text");
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(u, 18446744073709551615ull);
  EXPECT_THROW(i << J("[1]"), std::runtime_error);
  EXPECT_THROW(i << J("1e20"), std::runtime_error);
  EXPECT_THROW(s << J("{}"), std::runtime_error);
  bool b = false;
  EXPECT_TRUE(std::move(b) << J("true"));
  Json::Value copy;
  copy << J("[1,2]");
  EXPECT_EQ(Json::toString(copy), "[1,2]");
}

TEST(JsonVal, TakesValuesBySwapping) {
  Json::Value big = J(R"({"rows":[1,2,3]})");
  zoltsh::JsonVal holder(std::move(big));
  EXPECT_TRUE(big.isNull());
  EXPECT_EQ(Json::toString(holder.get()), R"({"rows":[1,2,3]})");
  Json::Value next = J("[7]");
  holder = std::move(next);
  EXPECT_TRUE(next.isNull());
  zoltsh::JsonVal list;
  Json::Value a = J("1"), b = J(R"("two")");
  list.append(std::move(a)).append(std::move(b));
  EXPECT_TRUE(a.isNull());
  EXPECT_EQ(Json::toString(list.get()), R"([1,"two"])");
}

TEST(RangeToJsonArray, NormalisedCorners) {
  zoltsh::utils::Range range(5, 4, 1, 2);
  EXPECT_EQ(Json::toString(zoltsh::utils::RangeToJsonArray(range)), "[1,2,5,4]");
}

}  // namespace
