// Rewriting the cell references of rule formulas when rows or columns move.
//
// Data validations and conditional formats keep formulas in their "f1" and "f2" members. When rows
// or columns are inserted or removed, or a rule's anchor moves, the references in those formulas
// must follow. ChangeFormula scans the text with FormulaLexer (snapshot/formula_lexer.h) and
// rewrites only cell references (B3, $B$3), column ranges (A:C) and row ranges (3:5); strings,
// function names (LOG10(), times (10:30), names (R1C1), numbers and sheet names before "!" are
// copied byte for byte.
//
// A reference that is rewritten is written in canonical form: upper-case letters, no leading
// zeros, "$" kept where it was. A row moved above the first row is written as row 1, a column
// moved left of the first column as "A"; references into removed rows or columns therefore move
// like those after them, they are not marked as errors. A row number or column name too large
// for an int is copied unchanged; a result beyond the int range is written as the largest int.
//
// Pure functions: no shared state, any thread. Failure: zoltsh::ZoltError (1000) only on an
// internal scanner failure, std::bad_alloc when memory runs out.
#pragma once

#include <boost/optional.hpp>
#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh::utils {

// A pair of optional ints, used in two roles:
// - as a delta: the number added to a reference's row (when row is set) and column (when col is
//   set); an axis that is not set is not rewritten at all;
// - as a threshold: 0-based rows above row and columns left of col stay unchanged; an axis that is
//   not set imposes no limit.
struct ShiftArg {
  boost::optional<int> row;
  boost::optional<int> col;
};

// The formula with its references moved by delta, leaving those before threshold in place. With
// keepAbsolute, parts marked with "$" stay (only relative parts follow a moved anchor).
// Inserting `amount` rows at `index`: delta {amount, none}, threshold {index, none}, false.
ZOLTSH_API std::string ChangeFormula(const std::string& formula, ShiftArg delta, ShiftArg threshold,
                                     bool keepAbsolute);

}  // namespace zoltsh::utils
