#include "snapshot/range.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "json/json_text.h"

namespace {

using zoltsh::utils::Coord;
using zoltsh::utils::Range;
namespace u = zoltsh::utils;

constexpr u::Axis kRow = &Coord::row;
constexpr u::Axis kCol = &Coord::col;

struct Corners {
  int r1, c1, r2, c2, kind;
};

void ExpectCorners(const Range& r, const Corners& c) {
  EXPECT_EQ(r.start.row, c.r1);
  EXPECT_EQ(r.start.col, c.c1);
  EXPECT_EQ(r.end.row, c.r2);
  EXPECT_EQ(r.end.col, c.c2);
  EXPECT_EQ(r.kind, c.kind);
}

TEST(RangeParse, A1Texts) {
  struct Case {
    const char* text;
    Corners expected;
  } cases[] = {
      {"$b$3", {2, 1, 2, 1, 2}},
      {"B3", {2, 1, 2, 1, 2}},
      {"B3:D5", {2, 1, 4, 3, 2}},
      {"D5:B3", {4, 3, 2, 1, 2}},  // kept in text order
      {"$A$1:$c7", {0, 0, 6, 2, 2}},
      {"A:C", {0, 0, 99, 2, 1}},
      {"$zz:a", {0, 701, 99, 0, 1}},
      {"3:5", {2, 0, 4, 25, 0}},
      {"$3:$5", {2, 0, 4, 25, 0}},
      {"XFD1048576", {1048575, 16383, 1048575, 16383, 2}},
      {"A0", {-1, 0, -1, 0, 2}},
      // Malformed texts leave the range empty.
      {"B3:", {-1, -1, -1, -1, 3}},
      {"3", {-1, -1, -1, -1, 3}},
      {"", {-1, -1, -1, -1, 3}},
      {"B3:D5:E6", {-1, -1, -1, -1, 3}},
      {" B3", {-1, -1, -1, -1, 3}},
      {"B$$3", {-1, -1, -1, -1, 3}},
      {"Ä1", {-1, -1, -1, -1, 3}},
      {"1A", {-1, -1, -1, -1, 3}},
      {"A-1", {-1, -1, -1, -1, 3}},
      {"Sheet1!A1", {-1, -1, -1, -1, 3}},
      // Out of the int range saturates instead of overflowing.
      {"A99999999999999999999", {INT_MAX - 1, 0, INT_MAX - 1, 0, 2}},
      {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1", {0, INT_MAX - 1, 0, INT_MAX - 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectCorners(Range(c.text, 100, 26), c.expected);
  }
}

TEST(RangeParse, WholeRowsAndColumnsAtExtremeSheetSizes) {
  ExpectCorners(Range("A:B", 0, 0), {0, 0, -1, 1, 1});
  ExpectCorners(Range("1:2", INT_MIN, INT_MIN), {0, 0, 1, INT_MIN, 0});
  ExpectCorners(Range("A:B", INT_MAX, INT_MAX), {0, 0, INT_MAX - 1, 1, 1});
}

TEST(RangePrint, RoundTripsOverASweepOfRowsAndColumns) {
  const std::vector<int> cols = {0, 1, 25, 26, 51, 52, 701, 702, 18277, 18278, 16383};
  const std::vector<int> rows = {0, 1, 8, 9, 99, 1048575, 999999999};
  for (int c : cols) {
    for (int r : rows) {
      Range cell(r, c, r, c);
      std::string text = cell.toString();
      SCOPED_TRACE(text);
      EXPECT_EQ(Range(text, 10, 10), cell);
      Range block(0, 0, r, c);
      EXPECT_EQ(Range(block.toString(), 10, 10), block);
    }
  }
}

TEST(RangePrint, Forms) {
  struct Case {
    Range range;
    const char* expected;
  } cases[] = {
      {Range("D5:B3", 10, 10), "D5:B3"},
      {Range("$b$3", 10, 10), "B3"},
      {Range("A:C", 10, 10), "A:C"},
      {Range("3:5", 10, 10), "3:5"},
      {Range(), ""},
      {Range(-1, -1, -1, -1), "A1"},  // below the first row and column prints as the first
  };
  for (const Case& c : cases) EXPECT_EQ(c.range.toString(), c.expected);
}

TEST(ColumnLetters, Conversions) {
  struct Case {
    int n;
    const char* letters;
  } cases[] = {{0, "A"},    {25, "Z"},    {26, "AA"},     {51, "AZ"},          {52, "BA"},
               {701, "ZZ"}, {702, "AAA"}, {16383, "XFD"}, {INT_MAX, "FXSHRXX"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(u::numToAlpha(c.n), c.letters);
    EXPECT_EQ(u::numToAlpha(c.n, true), std::string("$") + c.letters);
    if (c.n < INT_MAX) {
      EXPECT_EQ(u::alphaToNum(c.letters), c.n);
    }
    EXPECT_EQ(u::alphaToNum(std::string("$") + c.letters), c.n < INT_MAX ? c.n : INT_MAX - 1);
  }
  EXPECT_EQ(u::numToAlpha(-5), "A");
  EXPECT_EQ(u::numToAlpha(-5, true), "$A");
  EXPECT_EQ(u::alphaToNum("aaa"), 702);
  for (const char* zero : {"", "$", "A", "1", "$$"}) EXPECT_EQ(u::alphaToNum(zero), 0) << zero;
  // Hundreds of letters overflow a double's powers of 26; the result saturates.
  EXPECT_EQ(u::alphaToNum(std::string(400, 'A')), INT_MAX - 1);
  EXPECT_EQ(u::alphaToNum(std::string(399, '1') + "B"), 1);
}

TEST(NumberHelpers, Conversions) {
  EXPECT_EQ(u::digitToNum("$12"), 12);
  EXPECT_EQ(u::digitToNum("x"), 0);
  EXPECT_EQ(u::digitToNum("99999999999999"), INT_MAX);
  EXPECT_EQ(u::digitToNum("-99999999999999"), INT_MIN);
  EXPECT_TRUE(u::hasDollar("$A"));
  EXPECT_FALSE(u::hasDollar(""));
  EXPECT_EQ(u::numToString(0), "1");
  EXPECT_EQ(u::numToString(-7, true), "$1");
  EXPECT_EQ(u::numToString(12, true), "$12");
  EXPECT_EQ(u::toString(-3), "-3");
  EXPECT_EQ(u::toInt(nullptr), -1);
  EXPECT_EQ(u::toInt("17abc"), 17);
}

TEST(SplitRange, AtFirstColon) {
  std::string l = "keep", r = "keep";
  EXPECT_FALSE(u::splitRange("B3", l, r));
  EXPECT_EQ(l, "keep");
  EXPECT_FALSE(u::splitRange(nullptr, l, r));
  EXPECT_TRUE(u::splitRange("B3:D5:E6", l, r));
  EXPECT_EQ(l, "B3");
  EXPECT_EQ(r, "D5:E6");
  EXPECT_TRUE(u::splitRange(":", l, r));
  EXPECT_EQ(l, "");
  EXPECT_EQ(r, "");
}

TEST(RangeGeometry, Queries) {
  Range r(4, 3, 2, 1);
  EXPECT_EQ(r.GetTopLeftCorner(), Coord(2, 1));
  EXPECT_EQ(r.GetBottomRightCorner(), Coord(4, 3));
  EXPECT_EQ(r.GetWidth(), 3);
  EXPECT_EQ(r.GetHeight(), 3);
  EXPECT_TRUE(r.Has(Coord(2, 3)));
  EXPECT_FALSE(r.Has(Coord(5, 3)));
  EXPECT_EQ(Range(INT_MIN, INT_MIN, INT_MAX, INT_MAX).GetWidth(), INT_MAX);
  EXPECT_FALSE(Range(3, 0, 3, 0) < Range(3, 1, 0, 9));  // top-left (0, 1) comes first
  EXPECT_TRUE(Range(3, 1, 0, 9) < Range(3, 0, 3, 0));
  EXPECT_TRUE(Range(1, 1, 1, 1) < Range(1, 2, 1, 2));
}

TEST(RangeGeometry, OverlapAndNeighbours) {
  struct Case {
    Range a, b;
    bool overlap, neighbor, hori, verti;
  } cases[] = {
      {Range(0, 0, 2, 2), Range(1, 1, 3, 3), true, false, false, false},
      {Range(0, 0, 2, 2), Range(2, 2, 4, 4), true, false, false, false},
      {Range(0, 0, 2, 2), Range(3, 0, 4, 2), false, false, false, true},
      {Range(0, 0, 2, 2), Range(0, 3, 2, 4), false, true, true, false},
      {Range(0, 3, 2, 4), Range(0, 0, 2, 2), false, true, true, false},
      {Range(0, 0, 2, 2), Range(1, 3, 5, 4), false, true, false, false},
      {Range(0, 0, 2, 2), Range(0, 4, 2, 5), false, false, false, false},
      {Range(0, 0, 2, 2), Range(0, 1, 2, 5), true, false, true, false},
      {Range(INT_MIN, INT_MIN, INT_MAX, INT_MAX), Range(INT_MAX, INT_MAX, INT_MAX, INT_MAX), true,
       false, false, false},
      {Range(INT_MAX, INT_MAX, INT_MAX, INT_MAX), Range(INT_MIN, 0, INT_MIN, 0), false, false,
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.toString() + " vs " + c.b.toString());
    EXPECT_EQ(c.a.Overlap(c.b), c.overlap);
    EXPECT_EQ(c.a.IsNeighbor(c.b), c.neighbor);
    EXPECT_EQ(c.a.IsHoriMergeable(c.b), c.hori);
    EXPECT_EQ(c.a.IsVertiMergeable(c.b), c.verti);
  }
}

TEST(RangeChanges, InsertRowCol) {
  struct Case {
    Range range;
    u::Axis axis;
    int index, amount;
    bool changed;
    Corners expected;
  } cases[] = {
      {Range(5, 0, 8, 2), kRow, 5, 2, true, {7, 0, 10, 2, 2}},
      {Range(3, 0, 8, 2), kRow, 5, 2, true, {3, 0, 10, 2, 2}},
      {Range(1, 0, 4, 2), kRow, 5, 2, false, {1, 0, 4, 2, 2}},
      {Range(8, 2, 3, 0), kRow, 5, 2, true, {3, 0, 10, 2, 2}},  // normalised first
      {Range(0, 5, 0, 8), kCol, 5, 1, true, {0, 6, 0, 9, 2}},
      {Range("A:C", 100, 26), kRow, 0, 5, false, {0, 0, 99, 2, 1}},
      {Range("3:5", 100, 26), kCol, 0, 5, false, {2, 0, 4, 25, 0}},
      {Range("3:5", 100, 26), kRow, 0, 5, true, {7, 0, 9, 25, 0}},
      {Range(), kRow, -1, 5, false, {-1, -1, -1, -1, 3}},
      {Range(5, 0, INT_MAX - 1, 0), kRow, 0, 10, true, {15, 0, INT_MAX, 0, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range.toString());
    Range r = c.range;
    EXPECT_EQ(r.InsertRowCol(c.axis, c.index, c.amount), c.changed);
    ExpectCorners(r, c.expected);
  }
}

TEST(RangeChanges, RemoveRowCol) {
  struct Case {
    Range range;
    u::Axis axis;
    int index, amount;
    bool changed;
    Corners expected;
  } cases[] = {
      {Range(5, 0, 8, 2), kRow, 3, 10, true, {-1, -1, -1, -1, 3}},
      {Range(5, 0, 10, 2), kRow, 3, 4, true, {3, 0, 6, 2, 2}},
      {Range(2, 0, 10, 2), kRow, 5, 3, true, {2, 0, 7, 2, 2}},
      {Range(5, 0, 8, 2), kRow, 0, 2, true, {3, 0, 6, 2, 2}},
      {Range(5, 0, 8, 2), kRow, 9, 2, false, {5, 0, 8, 2, 2}},
      {Range(5, 0, 8, 2), kRow, 8, 5, true, {5, 0, 7, 2, 2}},
      {Range(5, 0, 8, 2), kRow, 5, 4, true, {-1, -1, -1, -1, 3}},
      {Range(0, 2, 0, 6), kCol, 0, 3, true, {0, 0, 0, 3, 2}},
      {Range("3:5", 100, 26), kCol, 0, 1, false, {2, 0, 4, 25, 0}},
      {Range("A:C", 100, 26), kRow, 0, 1, false, {0, 0, 99, 2, 1}},
      {Range(5, 0, 8, 2), kRow, INT_MAX, INT_MAX, false, {5, 0, 8, 2, 2}},
      {Range(5, 0, 8, 2), kRow, INT_MIN, INT_MAX, true, {5 - INT_MAX, 0, 8 - INT_MAX, 2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range.toString() + " remove " + std::to_string(c.index) + "+" +
                 std::to_string(c.amount));
    Range r = c.range;
    EXPECT_EQ(r.RemoveRowCol(c.axis, c.index, c.amount), c.changed);
    ExpectCorners(r, c.expected);
  }
}

TEST(RangeChanges, ShiftClampsAtZero) {
  Range r(2, 1, 8, 3);
  r.ShiftRange(kRow, -5);
  ExpectCorners(r, {0, 1, 3, 3, 2});
  r.ShiftRange(kCol, INT_MAX);
  ExpectCorners(r, {0, INT_MAX, 3, INT_MAX, 2});
  r.ShiftRange(kCol, INT_MIN);
  ExpectCorners(r, {0, 0, 3, 0, 2});
}

TEST(RangeChanges, ExpandAndRemove) {
  Range r(5, 5, 3, 3);
  r.ExpandRow(4, 9);
  ExpectCorners(r, {3, 3, 9, 5, 2});
  r.ExpandCol(0, 4);
  ExpectCorners(r, {3, 0, 9, 5, 2});
  r.Remove();
  ExpectCorners(r, {-1, -1, -1, -1, 3});
}

TEST(RangeChanges, RepairRange) {
  struct Case {
    const char* direction;
    Range range, other;
    bool grew;
    Corners expected;
  } cases[] = {
      {"top", Range(5, 0, 8, 2), Range(2, 0, 4, 2), true, {2, 0, 8, 2, 2}},
      {"bottom", Range(5, 0, 8, 2), Range(9, 0, 12, 2), true, {5, 0, 12, 2, 2}},
      {"bottom", Range(5, 0, 8, 2), Range(2, 0, 4, 2), false, {5, 0, 8, 2, 2}},
      {"left", Range(0, 5, 2, 8), Range(0, 2, 2, 4), true, {0, 2, 2, 8, 2}},
      {"right", Range(0, 5, 2, 8), Range(0, 9, 2, 11), true, {0, 5, 2, 11, 2}},
      {"left", Range(0, 5, 2, 8), Range(0, 6, 2, 10), true, {0, 5, 2, 8, 2}},
      {"top", Range(0, 5, 2, 8), Range(0, 2, 2, 4), false, {0, 5, 2, 8, 2}},
      {"top", Range(5, 0, 8, 2), Range(0, 0, 1, 2), false, {5, 0, 8, 2, 2}},  // not adjacent
      {"top", Range(8, 2, 5, 0), Range(4, 2, 2, 0), true, {2, 0, 8, 2, 2}},   // unordered input
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.direction) + " " + c.range.toString() + " + " + c.other.toString());
    Range r = c.range;
    Range other = c.other;
    EXPECT_EQ(r.RepairRange(c.direction, other), c.grew);
    ExpectCorners(r, c.expected);
  }
}

TEST(RemoveValidationRange, CutsIntoPieces) {
  std::vector<Range> ranges = {Range("B2:E6", 100, 26)};
  std::vector<std::string> texts;
  for (const Range& r : u::validation::RemoveValidationRange(ranges, Range("C3:D4", 100, 26))) {
    texts.push_back(r.toString());
  }
  EXPECT_THAT(texts, ::testing::ElementsAre("B2:E2", "B5:E6", "B3:B4", "E3:E4"));
}

TEST(RemoveValidationRange, KeepsMissesAndDropsCovered) {
  std::vector<Range> ranges = {Range("A:A", 100, 26), Range("C3:D4", 100, 26),
                               Range("H1:H2", 100, 26), Range()};
  auto out = u::validation::RemoveValidationRange(ranges, Range("B2:F8", 100, 26));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].kind, Range::kCols);  // copied unchanged, kind included
  EXPECT_EQ(out[1].toString(), "H1:H2");
  EXPECT_EQ(out[2].kind, Range::kEmpty);
}

TEST(RangeFromJson, TakesFourInts) {
  Json::Value v;
  ASSERT_TRUE(Json::fromString(v, "[4,3,2,1]"));
  ExpectCorners(Range(v), {4, 3, 2, 1, 2});
  ASSERT_TRUE(Json::fromString(v, "[1,2]"));
  ExpectCorners(Range(v), {1, 2, 0, 0, 2});
  ASSERT_TRUE(Json::fromString(v, R"([1,"x",2,3])"));
  EXPECT_ANY_THROW(Range{v});
  ASSERT_TRUE(Json::fromString(v, "[1,1e300,2,3]"));
  EXPECT_ANY_THROW(Range{v});
}

}  // namespace
