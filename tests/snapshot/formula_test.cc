#include "snapshot/formula.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "snapshot/formula_lexer.h"
#include "support/temp_root.h"

namespace {

using zoltsh::FormulaLexer;
using zoltsh::utils::ChangeFormula;
using zoltsh::utils::ShiftArg;

const boost::optional<int> kNone = boost::none;

// Each test gets its own appliance root, although formulas never touch the disk.
class FormulaTest : public ::testing::Test {
 protected:
  zoltsh::testing::TempRoot root_;
};

using Tokens = std::vector<std::pair<int, std::string>>;

Tokens Scan(const std::string& text) {
  Tokens tokens;
  FormulaLexer lexer(text);
  for (int kind = lexer.yylex(); kind != FormulaLexer::kEnd; kind = lexer.yylex()) {
    tokens.emplace_back(kind, std::string(lexer.yytext(), lexer.yyleng()));
  }
  return tokens;
}

TEST_F(FormulaTest, ScannerTokens) {
  constexpr int kStr = FormulaLexer::kString, kFn = FormulaLexer::kFunction,
                kTime = FormulaLexer::kTime, kName = FormulaLexer::kName,
                kNum = FormulaLexer::kNumber, kRef = FormulaLexer::kCellRef,
                kCols = FormulaLexer::kColRange, kRows = FormulaLexer::kRowRange,
                kErr = FormulaLexer::kErrorValue, kChr = FormulaLexer::kOther,
                kSheet = FormulaLexer::kSheetPrefix;
  static_assert(FormulaLexer::kCellRef == 6 && FormulaLexer::kColRange == 7 &&
                FormulaLexer::kRowRange == 8);
  struct Case {
    std::string text;
    Tokens tokens;
  } cases[] = {
      {"SUM(A3:A6)",
       {{kFn, "SUM"}, {kChr, "("}, {kRef, "A3"}, {kChr, ":"}, {kRef, "A6"}, {kChr, ")"}}},
      {"$B$3+b3", {{kRef, "$B$3"}, {kChr, "+"}, {kRef, "b3"}}},
      {"$A:$C", {{kCols, "$A:$C"}}},
      {"$3:5", {{kRows, "$3:5"}}},
      // Function names that have the shape of references stay function names.
      {"LOG10(", {{kFn, "LOG10"}, {kChr, "("}}},
      {"ATAN2(", {{kFn, "ATAN2"}, {kChr, "("}}},
      {"DAYS360(", {{kFn, "DAYS360"}, {kChr, "("}}},
      {"A1(", {{kFn, "A1"}, {kChr, "("}}},
      {"STDEV.S(", {{kFn, "STDEV.S"}, {kChr, "("}}},
      {"NORM.S.DIST(", {{kFn, "NORM.S.DIST"}, {kChr, "("}}},
      {"T.DIST.2T(", {{kFn, "T.DIST.2T"}, {kChr, "("}}},
      {"F..X(", {{kFn, "F..X"}, {kChr, "("}}},
      {"SUM.(", {{kFn, "SUM."}, {kChr, "("}}},
      {"A.B.(", {{kFn, "A.B."}, {kChr, "("}}},
      // Without the "(" a reference-shaped name is a reference.
      {"DAYS360", {{kRef, "DAYS360"}}},
      {"R1C1 A1A1 TRUE _x",
       {{kName, "R1C1"},
        {kChr, " "},
        {kName, "A1A1"},
        {kChr, " "},
        {kName, "TRUE"},
        {kChr, " "},
        {kName, "_x"}}},
      // Hours 0 to 23 with two-digit minutes are times; anything else of that shape is rows.
      {"12:30", {{kTime, "12:30"}}},
      {"1:10", {{kTime, "1:10"}}},
      {"23:59:59", {{kTime, "23:59:59"}}},
      {"1:30 PM", {{kTime, "1:30 PM"}}},
      {"11:05am", {{kTime, "11:05am"}}},
      {"3:5", {{kRows, "3:5"}}},
      {"1:60", {{kRows, "1:60"}}},
      {"24:00", {{kRows, "24:00"}}},
      {"3.25+12", {{kNum, "3.25"}, {kChr, "+"}, {kNum, "12"}}},
      {"#N/A", {{kErr, "#N/A"}}},
      {"\"B2\"", {{kStr, "\"B2\""}}},
      {"\"say \"\"A1\"\"\"&A1", {{kStr, "\"say \"\"A1\"\"\""}, {kChr, "&"}, {kRef, "A1"}}},
      {"\"two\nlines\"", {{kStr, "\"two\nlines\""}}},
      {"A1\nB1", {{kRef, "A1"}, {kChr, "\n"}, {kRef, "B1"}}},
      // Sheet names before "!" are one token, bare or quoted.
      {"Sheet1!A5", {{kSheet, "Sheet1!"}, {kRef, "A5"}}},
      {"'Q1 Sheet1'!A5", {{kSheet, "'Q1 Sheet1'!"}, {kRef, "A5"}}},
      {"'It''s B2'!$B$2", {{kSheet, "'It''s B2'!"}, {kRef, "$B$2"}}},
      {"Jan1:Mar1!A:C", {{kSheet, "Jan1:Mar1!"}, {kCols, "A:C"}}},
      {"#REF!", {{kChr, "#"}, {kSheet, "REF!"}}},
      // A quote that closes no sheet name is an ordinary character.
      {"'a'&A1", {{kChr, "'"}, {kName, "a"}, {kChr, "'"}, {kChr, "&"}, {kRef, "A1"}}},
      // Letters and digits right after non-ASCII bytes belong to that name.
      {"Gr\xC3\xB6\xC3\x9F"
       "e1",
       {{kName, "Gr"},
        {kName,
         "\xC3\xB6\xC3\x9F"
         "e1"}}},
      {"A1\xC2\xA0", {{kRef, "A1"}, {kChr, "\xC2"}, {kChr, "\xA0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Scan(c.text), c.tokens);
  }
}

TEST_F(FormulaTest, ScannerCoversEveryByteAndCountsLines) {
  const std::string texts[] = {
      "",
      "=IF(A1>0,\"x\ny\",B2)\n+C3",
      std::string("A1\0B2", 5),
      "\"unterminated A1\n",
      "'unterminated!A1",
      "\xff\xfe\x80",
      std::string(20000, '('),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    FormulaLexer lexer(text);
    std::string joined;
    for (int kind = lexer.yylex(); kind != FormulaLexer::kEnd; kind = lexer.yylex()) {
      ASSERT_GT(lexer.yyleng(), 0);
      joined.append(lexer.yytext(), lexer.yyleng());
    }
    EXPECT_EQ(joined, text);
    int lines = 1;
    for (char ch : text) lines += ch == '\n';
    EXPECT_EQ(lexer.lineno(), lines);
    // The end stays the end.
    EXPECT_EQ(lexer.yylex(), FormulaLexer::kEnd);
    EXPECT_EQ(lexer.yyleng(), 0);
  }
}

struct ShiftCase {
  std::string formula;
  std::string expected;
};

void ExpectShifts(const std::vector<ShiftCase>& cases, ShiftArg delta, ShiftArg threshold,
                  bool keepAbsolute) {
  for (const ShiftCase& c : cases) {
    SCOPED_TRACE(c.formula);
    EXPECT_EQ(ChangeFormula(c.formula, delta, threshold, keepAbsolute), c.expected);
  }
}

// Two rows inserted before row 5 (0-based index 4).
TEST_F(FormulaTest, RowInsertionMovesReferencesAtOrBelowTheInsertion) {
  ExpectShifts(
      {
          {"A5", "A7"},
          {"A4", "A4"},
          {"$A$5", "$A$7"},
          {"$A5", "$A7"},
          {"A$5", "A$7"},
          {"a5", "a7"},  // the column part is not rewritten without a column delta
          {"SUM(A3:A6)", "SUM(A3:A8)"},
          {"5:9", "7:11"},
          {"3:5", "3:7"},
          {"$5:$9", "$7:$11"},
          {"A:C", "A:C"},
          {"\"A5\"&A5", "\"A5\"&A7"},
          {"LOG10(A5)+ATAN2(A5,B6)", "LOG10(A7)+ATAN2(A7,B8)"},
          {"DAYS360(A1,A9)", "DAYS360(A1,A11)"},
          {"R5C5+A1A5", "R5C5+A1A5"},
          {"12:30+1:10", "12:30+1:10"},
          {"=IF(AND(A5>0,B10<>\"\"),A5*2,#N/A)", "=IF(AND(A7>0,B12<>\"\"),A7*2,#N/A)"},
      },
      ShiftArg{2, kNone}, ShiftArg{4, kNone}, false);
}

// One column inserted before column B (index 1).
TEST_F(FormulaTest, ColumnInsertionMovesReferencesAtOrRightOfTheInsertion) {
  ExpectShifts(
      {
          {"B2", "C2"},
          {"A2", "A2"},
          {"A:C", "A:D"},
          {"B:$C", "C:$D"},
          {"\"B2\"", "\"B2\""},
          {"$B$2+B$2+$B2", "$C$2+C$2+$C2"},
          {"b2", "C2"},  // rewritten parts are written in upper case
          {"Z1+AZ1+ZZ1", "AA1+BA1+AAA1"},
          {"3:5", "3:5"},
          {"SUM(A1:B9)", "SUM(A1:C9)"},
      },
      ShiftArg{kNone, 1}, ShiftArg{kNone, 1}, false);
}

// Three rows removed from row 3 (index 2): references into the removed rows move like those
// after them, and a row above the first one is written as row 1; nothing becomes #REF!.
TEST_F(FormulaTest, RowRemovalClampsAtTheFirstRow) {
  ExpectShifts(
      {
          {"A10", "A7"},
          {"A5", "A2"},
          {"A4", "A1"},
          {"A3", "A1"},
          {"A2", "A2"},
          {"$A$10", "$A$7"},
          {"$3:$10", "$1:$7"},
          {"3:10", "3:10"},  // a time of day, not rows
          {"SUM(A1:A10)", "SUM(A1:A7)"},
      },
      ShiftArg{-3, kNone}, ShiftArg{2, kNone}, false);
}

// Two columns removed from column B (index 1).
TEST_F(FormulaTest, ColumnRemovalClampsAtTheFirstColumn) {
  ExpectShifts(
      {
          {"D4", "B4"},
          {"C1", "A1"},
          {"B1", "A1"},
          {"A1", "A1"},
          {"$D$4", "$B$4"},
          {"B:E", "A:C"},
      },
      ShiftArg{kNone, -2}, ShiftArg{kNone, 1}, false);
}

// A rule's anchor moved one row down and one column right: only relative parts follow it.
TEST_F(FormulaTest, KeepAbsoluteMovesOnlyRelativeParts) {
  ExpectShifts(
      {
          {"$A$1", "$A$1"},
          {"$A1", "$A2"},
          {"A$1", "B$1"},
          {"A1", "B2"},
          {"$A:B", "$A:C"},
          {"$3:4", "$3:5"},
          {"A1\nB1", "B2\nC2"},
      },
      ShiftArg{1, 1}, ShiftArg{}, true);
}

TEST_F(FormulaTest, LineFeedsAndTimesAreCopied) {
  ExpectShifts({{"A1\nB1", "A2\nB2"}, {"12:30", "12:30"}, {"1:10", "1:10"}, {"3:5", "4:6"}},
               ShiftArg{1, kNone}, ShiftArg{}, false);
}

// Sheet names of reference shape used to be rewritten into the name of another sheet.
TEST_F(FormulaTest, SheetNamesAreNeverRewritten) {
  ExpectShifts(
      {
          {"Sheet1!A5", "Sheet1!A7"},
          {"Sheet1!A4", "Sheet1!A4"},
          {"Sheet1!$A$5:$B$9", "Sheet1!$A$7:$B$11"},
          {"'Q1 Sheet1'!A5", "'Q1 Sheet1'!A7"},
          {"'It''s A5'!A5", "'It''s A5'!A7"},
          {"'A5'!5:9", "'A5'!7:11"},
          {"SUM(Sheet5!A5,Data.B9!B9)", "SUM(Sheet5!A7,Data.B9!B11)"},
          {"Jan5:Mar5!A5", "Jan5:Mar5!A7"},
          {"\"Sheet5!A5\"", "\"Sheet5!A5\""},
          {"#REF!+A5", "#REF!+A7"},
      },
      ShiftArg{2, kNone}, ShiftArg{4, kNone}, false);
  ExpectShifts({{"AB1!B1", "AB1!C1"}, {"'B1'!B:C", "'B1'!C:D"}}, ShiftArg{kNone, 1},
               ShiftArg{kNone, 1}, false);
}

TEST_F(FormulaTest, NonAsciiNamesAreNotRewritten) {
  ExpectShifts(
      {
          {"Gr\xC3\xB6\xC3\x9F"
           "e1+A1",
           "Gr\xC3\xB6\xC3\x9F"
           "e1+A2"},
          {"\xC3\x84"
           "B1",
           "\xC3\x84"
           "B1"},
          {"\"\xC3\xBC\"&A1", "\"\xC3\xBC\"&A2"},
          {"'\xC3\x9C"
           "bersicht'!A1",
           "'\xC3\x9C"
           "bersicht'!A2"},
          {"\xC3\x9C"
           "bersicht1!A1",
           "\xC3\x9C"
           "bersicht1!A2"},
      },
      ShiftArg{1, kNone}, ShiftArg{}, false);
}

TEST_F(FormulaTest, UnsetDeltaCopiesEverything) {
  const std::string texts[] = {"A5+$B$3", "A:C", "3:5", "Sheet1!A1", "a1", "A007", "A0"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ChangeFormula(text, ShiftArg{}, ShiftArg{}, false), text);
    EXPECT_EQ(ChangeFormula(text, ShiftArg{}, ShiftArg{0, 0}, true), text);
  }
}

// A delta of 0 is still a rewrite: references come out in canonical form.
TEST_F(FormulaTest, ZeroDeltaWritesCanonicalReferences) {
  ExpectShifts({{"a1+$b$2", "A1+$B$2"},
                {"A007", "A7"},
                {"A0", "A1"},
                {"03:5", "3:5"},
                {"Sheet1!b2", "Sheet1!B2"}},
               ShiftArg{0, 0}, ShiftArg{}, false);
}

TEST_F(FormulaTest, MalformedInputIsScannedWithoutHarm) {
  const std::string nested = std::string(10000, '(') + "A1" + std::string(10000, ')');
  ExpectShifts(
      {
          {"", ""},
          {"this is not a formula", "this is not a formula"},
          {"=\"unterminated A1", "=\"unterminated A2"},
          {"'unterminated!A1", "'unterminated!A2"},
          {"\"\"\"", "\"\"\""},
          {nested, std::string(10000, '(') + "A2" + std::string(10000, ')')},
          {std::string("A1\0B1", 5), std::string("A2\0B2", 5)},
          {"\xff\xfe"
           "A1",
           "\xff\xfe"
           "A1"},
          {"A1\xff", "A2\xff"},
          {"$$A1", "$$A2"},
          {"A$$1", "A$$1"},
      },
      ShiftArg{1, kNone}, ShiftArg{}, false);
}

TEST_F(FormulaTest, NumbersBeyondIntAreLeftAloneAndResultsSaturate) {
  ExpectShifts(
      {
          {"A99999999999", "A99999999999"},
          {"A2147483648", "A2147483648"},
          {"A2147483647", "A2147483647"},
          {"A2147483646", "A2147483647"},
          {"99999999999:3", "99999999999:4"},
          {"A00000000000000000000001", "A2"},
      },
      ShiftArg{1, kNone}, ShiftArg{0, kNone}, false);
  ExpectShifts({{"AAAAAAAAAAAAAAAA1", "AAAAAAAAAAAAAAAA1"},
                {"FXSHRXX1", "FXSHRXX1"},  // one past the int range: left alone
                {"FXSHRXW1", "FXSHRXX1"}},
               ShiftArg{kNone, 1}, ShiftArg{}, false);
  ExpectShifts({{"B2", "A1"}, {"FXSHRXW2147483647", "A1"}}, ShiftArg{INT_MIN, INT_MIN},
               ShiftArg{INT_MIN, INT_MIN}, false);
  ExpectShifts({{"B2", "FXSHRXX2147483647"}}, ShiftArg{INT_MAX, INT_MAX}, ShiftArg{}, false);
  ExpectShifts({{"B2", "B2"}}, ShiftArg{INT_MAX, INT_MAX}, ShiftArg{INT_MAX, INT_MAX}, false);
}

}  // namespace
