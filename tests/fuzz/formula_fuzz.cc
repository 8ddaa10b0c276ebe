// Fuzzes the formula scanner and reference shifting with any text and any shift arguments:
// nothing crashes or overflows, the tokens joined give the text back, an unset delta copies the
// text, and a delta of 0 changes references only into canonical form (upper case, no leading
// zeros, row 0 written as row 1), so the text keeps its length or shrinks, and without any "0"
// it stays the same but for case.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "snapshot/formula.h"
#include "snapshot/formula_lexer.h"

using zoltsh::FormulaLexer;
using zoltsh::utils::ChangeFormula;
using zoltsh::utils::ShiftArg;

namespace {

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

boost::optional<int> Pick(bool set, int value) {
  return set ? boost::optional<int>(value) : boost::none;
}

}  // namespace

// Input: one byte of flags, four ints (delta row, delta col, threshold row, threshold col), then
// the formula text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t flags = size > 0 ? data[0] : 0;
  int nums[4] = {0, 0, 0, 0};
  size_t head = size > 0 ? 1 : 0;
  size_t numBytes = size - head < sizeof(nums) ? size - head : sizeof(nums);
  std::memcpy(nums, data + head, numBytes);
  head += numBytes;
  const std::string text(reinterpret_cast<const char*>(data) + head, size - head);
  const bool keepAbsolute = flags & 0x10;

  {
    FormulaLexer lexer(text);
    std::string joined;
    int lines = 1;
    for (char ch : text) lines += ch == '\n';
    for (int kind = lexer.yylex(); kind != FormulaLexer::kEnd; kind = lexer.yylex()) {
      if (lexer.yyleng() <= 0) __builtin_trap();
      joined.append(lexer.yytext(), static_cast<size_t>(lexer.yyleng()));
    }
    if (joined != text || lexer.lineno() != lines) __builtin_trap();
  }

  // Small deltas and thresholds most of the time, the fuzzer's own ints otherwise.
  ShiftArg delta{Pick(flags & 1, flags & 0x20 ? nums[0] : nums[0] % 8),
                 Pick(flags & 2, flags & 0x20 ? nums[1] : nums[1] % 8)};
  ShiftArg threshold{Pick(flags & 4, flags & 0x40 ? nums[2] : nums[2] % 16),
                     Pick(flags & 8, flags & 0x40 ? nums[3] : nums[3] % 16)};
  const std::string shifted = ChangeFormula(text, delta, threshold, keepAbsolute);
  if (shifted.empty() != text.empty()) __builtin_trap();

  if (ChangeFormula(text, ShiftArg{}, threshold, keepAbsolute) != text) __builtin_trap();

  const std::string zero = ChangeFormula(text, ShiftArg{0, 0}, threshold, keepAbsolute);
  if (zero.size() > text.size()) __builtin_trap();
  if (text.find('0') == std::string::npos && !EqualIgnoringAsciiCase(zero, text)) __builtin_trap();
  return 0;
}
