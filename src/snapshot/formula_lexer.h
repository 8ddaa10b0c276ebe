// The formula scanner: splits the text of a rule formula (the "f1" and "f2" of data validations and
// conditional formats) into tokens, so that ChangeFormula (snapshot/formula.h) can rewrite cell
// references and copy everything else byte for byte. The server never parses or evaluates
// formulas; the scanner only tells references apart from strings, function names, times, names,
// numbers and sheet names.
//
// Every byte of the text belongs to exactly one token, so the tokens' texts joined in order give
// the text back unchanged; any byte sequence scans, NULs and non-ASCII bytes included.
//
// The rules live in formula_scanner.l (a flex C++ scanner with its own prefix, so it cannot clash
// with other scanners linked into the same program).
//
// Ownership and threads: a FormulaLexer owns a copy of the text, its input stream and its scanner
// state; it writes no output. Make one per formula; one object is used by one thread at a time,
// separate objects are independent. Failure: an internal scanner error (out of memory) throws
// zoltsh::ZoltError with code 1000.
#pragma once

#include <memory>
#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh {

class ZOLTSH_API FormulaLexer {
 public:
  // Token kinds returned by yylex. 6, 7 and 8 are the kinds that ChangeFormula rewrites.
  enum Token : int {
    kEnd = 0,          // end of the text
    kString = 1,       // "..." with "" standing for one quote; may span lines
    kFunction = 2,     // a function name directly followed by "(" (the "(" is the next token)
    kTime = 3,         // 10:30, 1:05:59, 1:30 PM
    kName = 4,         // R1C1, A1A1, TRUE, _x
    kNumber = 5,       // 12, 3.25
    kCellRef = 6,      // B3, $B$3, b3
    kColRange = 7,     // A:C, $A:$C
    kRowRange = 8,     // 3:5, $3:$5
    kErrorValue = 9,   // #N/A
    kOther = 10,       // any other single byte, line feed included
    kSheetPrefix = 11  // Sheet1! or 'My ''Q1'' sheet'! : a sheet name with its "!"
  };

  explicit FormulaLexer(const std::string& formula);
  ~FormulaLexer();
  FormulaLexer(const FormulaLexer&) = delete;
  FormulaLexer& operator=(const FormulaLexer&) = delete;

  // The next token's kind; kEnd (0) once the text is used up, and on every call after that.
  int yylex();
  // The current token's bytes (NUL-terminated; may itself hold NULs, so use yyleng) and length.
  // Valid until the next yylex.
  const char* yytext() const;
  int yyleng() const;
  // 1 plus the number of line feeds in the tokens scanned so far.
  int lineno() const;

 private:
  class Scanner;
  std::unique_ptr<Scanner> scanner_;
};

}  // namespace zoltsh
