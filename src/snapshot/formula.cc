#include "snapshot/formula.h"

#include <climits>
#include <cstddef>

#include "snapshot/formula_lexer.h"
#include "snapshot/range.h"

namespace zoltsh::utils {
namespace {

int Clamp(long long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Whether the column letters of `part` (after an optional "$") name a column whose bijective
// base-26 value fits an int, so that alphaToNum reads it exactly.
bool ColumnFits(const std::string& part) {
  long long sum = 0;
  for (size_t i = hasDollar(part) ? 1 : 0; i < part.size(); ++i) {
    sum = sum * 26 + ((part[i] | 0x20) - 'a' + 1);
    if (sum > INT_MAX) return false;
  }
  return true;
}

// Whether the digits of `part` (after an optional "$") give a number that fits an int.
bool RowFits(const std::string& part) {
  long long value = 0;
  for (size_t i = hasDollar(part) ? 1 : 0; i < part.size(); ++i) {
    value = value * 10 + (part[i] - '0');
    if (value > INT_MAX) return false;
  }
  return true;
}

// Column letters, with an optional leading "$".
std::string ShiftColumn(const std::string& part, int delta, const boost::optional<int>& threshold,
                        bool keepAbsolute) {
  const bool dollar = hasDollar(part);
  if ((keepAbsolute && dollar) || !ColumnFits(part)) return part;
  const int col = alphaToNum(part);
  if (threshold && col < *threshold) return part;
  return numToAlpha(Clamp(static_cast<long long>(col) + delta), dollar);
}

// A 1-based row number, with an optional leading "$".
std::string ShiftRow(const std::string& part, int delta, const boost::optional<int>& threshold,
                     bool keepAbsolute) {
  const bool dollar = hasDollar(part);
  if ((keepAbsolute && dollar) || !RowFits(part)) return part;
  const int row = digitToNum(part);
  if (threshold && static_cast<long long>(row) - 1 < *threshold) return part;
  return numToString(Clamp(static_cast<long long>(row) + delta), dollar);
}

// Where the digits (with their optional "$") of a cell reference begin.
size_t RowPartStart(const std::string& ref) {
  size_t i = hasDollar(ref) ? 1 : 0;
  while (i < ref.size() && ref[i] != '$' && (ref[i] < '0' || ref[i] > '9')) ++i;
  return i;
}

}  // namespace

std::string ChangeFormula(const std::string& formula, ShiftArg delta, ShiftArg threshold,
                          bool keepAbsolute) {
  std::string out;
  out.reserve(formula.size() + 8);
  FormulaLexer lexer(formula);
  std::string token, left, right;
  for (int kind = lexer.yylex(); kind != FormulaLexer::kEnd; kind = lexer.yylex()) {
    token.assign(lexer.yytext(), static_cast<size_t>(lexer.yyleng()));
    switch (kind) {
      case FormulaLexer::kCellRef: {
        // (\$?[A-Za-z]+)(\$?[0-9]+): the column part, then the row part.
        const size_t split = RowPartStart(token);
        std::string column = token.substr(0, split);
        std::string row = token.substr(split);
        if (delta.col) column = ShiftColumn(column, *delta.col, threshold.col, keepAbsolute);
        if (delta.row) row = ShiftRow(row, *delta.row, threshold.row, keepAbsolute);
        out += column;
        out += row;
        break;
      }
      case FormulaLexer::kColRange:
        if (delta.col && splitRange(token.c_str(), left, right)) {
          out += ShiftColumn(left, *delta.col, threshold.col, keepAbsolute);
          out += ':';
          out += ShiftColumn(right, *delta.col, threshold.col, keepAbsolute);
        } else {
          out += token;
        }
        break;
      case FormulaLexer::kRowRange:
        if (delta.row && splitRange(token.c_str(), left, right)) {
          out += ShiftRow(left, *delta.row, threshold.row, keepAbsolute);
          out += ':';
          out += ShiftRow(right, *delta.row, threshold.row, keepAbsolute);
        } else {
          out += token;
        }
        break;
      default:
        out += token;
        break;
    }
  }
  return out;
}

}  // namespace zoltsh::utils
