#include "snapshot/range.h"

#include <pcrecpp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zoltsh::utils {
namespace {

// Sign of a - b as -1, 0 or 1, without overflow.
int Cmp(long long a, long long b) { return (a > b) - (a < b); }

// Text to long as strtol reads it, then saturated to the int range.
int ToIntSaturated(const char* s) {
  errno = 0;
  long v = std::strtol(s, nullptr, 10);
  errno = 0;
  return ClampToInt(v);
}

const pcrecpp::RE& CellPattern() {
  static const pcrecpp::RE re("(\\$?[A-Za-z]+)(\\$?[0-9]+)");
  return re;
}
const pcrecpp::RE& BlockPattern() {
  static const pcrecpp::RE re("(\\$?[A-Za-z]+)(\\$?[0-9]+):(\\$?[A-Za-z]+)(\\$?[0-9]+)");
  return re;
}
const pcrecpp::RE& ColsPattern() {
  static const pcrecpp::RE re("(\\$?[A-Za-z]+):(\\$?[A-Za-z]+)");
  return re;
}
const pcrecpp::RE& RowsPattern() {
  static const pcrecpp::RE re("(\\$?[0-9]+):(\\$?[0-9]+)");
  return re;
}

}  // namespace

int ClampToInt(long long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int AddSaturated(int a, long long b) { return ClampToInt(static_cast<long long>(a) + b); }

Range::Range() : start(-1, -1), end(-1, -1), kind(kEmpty) {}

Range::Range(const Json::Value& value)
    : start(value[0].asInt(), value[1].asInt()),
      end(value[2].asInt(), value[3].asInt()),
      kind(kBlock) {}

Range::Range(int r1, int c1, int r2, int c2) : start(r1, c1), end(r2, c2), kind(kBlock) {}

Range::Range(const std::string& text, int rowCount, int colCount) : Range() {
  std::string a, b, c, d;
  if (CellPattern().FullMatch(text, &a, &b)) {
    start = end = Coord(AddSaturated(digitToNum(b), -1), alphaToNum(a));
    kind = kBlock;
  } else if (BlockPattern().FullMatch(text, &a, &b, &c, &d)) {
    start = Coord(AddSaturated(digitToNum(b), -1), alphaToNum(a));
    end = Coord(AddSaturated(digitToNum(d), -1), alphaToNum(c));
    kind = kBlock;
  } else if (ColsPattern().FullMatch(text, &a, &b)) {
    start = Coord(0, alphaToNum(a));
    end = Coord(AddSaturated(rowCount, -1), alphaToNum(b));
    kind = kCols;
  } else if (RowsPattern().FullMatch(text, &a, &b)) {
    start = Coord(AddSaturated(digitToNum(a), -1), 0);
    end = Coord(AddSaturated(digitToNum(b), -1), AddSaturated(colCount, -1));
    kind = kRows;
  }
}

Coord Range::GetTopLeftCorner() const {
  return Coord(std::min(start.row, end.row), std::min(start.col, end.col));
}

Coord Range::GetBottomRightCorner() const {
  return Coord(std::max(start.row, end.row), std::max(start.col, end.col));
}

int Range::GetWidth() const {
  return ClampToInt(static_cast<long long>(GetBottomRightCorner().col) - GetTopLeftCorner().col +
                    1);
}

int Range::GetHeight() const {
  return ClampToInt(static_cast<long long>(GetBottomRightCorner().row) - GetTopLeftCorner().row +
                    1);
}

bool Range::Has(const Coord& coord) const {
  Coord tl = GetTopLeftCorner();
  Coord br = GetBottomRightCorner();
  return tl.row <= coord.row && coord.row <= br.row && tl.col <= coord.col && coord.col <= br.col;
}

bool Range::Overlap(const Range& other) const {
  Coord otl = other.GetTopLeftCorner();
  Coord obr = other.GetBottomRightCorner();
  // (start - other far) x (end - other near) > 0 means both ends lie on one side.
  bool rows = Cmp(start.row, obr.row) * Cmp(end.row, otl.row) <= 0;
  bool cols = Cmp(start.col, obr.col) * Cmp(end.col, otl.col) <= 0;
  return rows && cols;
}

bool Range::IsNeighbor(const Range& other) const {
  Coord tl = GetTopLeftCorner(), br = GetBottomRightCorner();
  Coord otl = other.GetTopLeftCorner(), obr = other.GetBottomRightCorner();
  if (!(tl.row <= obr.row && otl.row <= br.row)) return false;
  return static_cast<long long>(tl.col) == static_cast<long long>(obr.col) + 1 ||
         static_cast<long long>(otl.col) == static_cast<long long>(br.col) + 1;
}

bool Range::IsHoriMergeable(const Range& other) const {
  Coord tl = GetTopLeftCorner(), br = GetBottomRightCorner();
  Coord otl = other.GetTopLeftCorner(), obr = other.GetBottomRightCorner();
  return tl.row == otl.row && br.row == obr.row && static_cast<long long>(obr.col) + 1 >= tl.col &&
         static_cast<long long>(br.col) + 1 >= otl.col;
}

bool Range::IsVertiMergeable(const Range& other) const {
  Coord tl = GetTopLeftCorner(), br = GetBottomRightCorner();
  Coord otl = other.GetTopLeftCorner(), obr = other.GetBottomRightCorner();
  return tl.col == otl.col && br.col == obr.col && static_cast<long long>(obr.row) + 1 >= tl.row &&
         static_cast<long long>(br.row) + 1 >= otl.row;
}

bool Range::operator<(const Range& other) const {
  Coord a = GetTopLeftCorner(), b = other.GetTopLeftCorner();
  return a.row != b.row ? a.row < b.row : a.col < b.col;
}

bool Range::operator==(const Range& other) const {
  return start == other.start && end == other.end && kind == other.kind;
}

std::string Range::toString() const {
  switch (kind) {
    case kRows:
      return numToString(AddSaturated(start.row, 1)) + ":" + numToString(AddSaturated(end.row, 1));
    case kCols:
      return numToAlpha(start.col) + ":" + numToAlpha(end.col);
    case kBlock: {
      std::string first = numToAlpha(start.col) + numToString(AddSaturated(start.row, 1));
      if (start == end) return first;
      return first + ":" + numToAlpha(end.col) + numToString(AddSaturated(end.row, 1));
    }
    default:
      return "";
  }
}

void Range::Normalize() {
  Coord tl = GetTopLeftCorner();
  Coord br = GetBottomRightCorner();
  start = tl;
  end = br;
}

void Range::Remove() {
  start = Coord(-1, -1);
  end = Coord(-1, -1);
  kind = kEmpty;
}

void Range::ExpandRow(int top, int bottom) {
  Normalize();
  if (top < start.row) start.row = top;
  if (bottom > end.row) end.row = bottom;
}

void Range::ExpandCol(int left, int right) {
  Normalize();
  if (left < start.col) start.col = left;
  if (right > end.col) end.col = right;
}

void Range::ShiftRange(Axis axis, int delta) {
  start.*axis = std::max(0, AddSaturated(start.*axis, delta));
  end.*axis = std::max(0, AddSaturated(end.*axis, delta));
}

namespace {
// Whether a range of this kind ignores changes on this axis.
bool IgnoresAxis(int kind, Axis axis) {
  if (kind == Range::kEmpty) return true;
  if (kind == Range::kCols && axis == &Coord::row) return true;
  if (kind == Range::kRows && axis == &Coord::col) return true;
  return false;
}
}  // namespace

bool Range::InsertRowCol(Axis axis, int index, int amount) {
  if (IgnoresAxis(kind, axis)) return false;
  Normalize();
  int& s = start.*axis;
  int& e = end.*axis;
  if (s < index) {
    if (e < index) return false;
    e = AddSaturated(e, amount);
    return true;
  }
  s = AddSaturated(s, amount);
  e = AddSaturated(e, amount);
  return true;
}

bool Range::RemoveRowCol(Axis axis, int index, int amount) {
  if (IgnoresAxis(kind, axis)) return false;
  Normalize();
  int& s = start.*axis;
  int& e = end.*axis;
  const long long last = static_cast<long long>(index) + amount - 1;
  if (last < s) {
    s = AddSaturated(s, -static_cast<long long>(amount));
    e = AddSaturated(e, -static_cast<long long>(amount));
    return true;
  }
  if (index > e) return false;
  const long long from = std::max<long long>(s, index);
  const long long covered = std::min<long long>(last, e) - from + 1;
  const long long size = static_cast<long long>(e) - s + 1;
  if (covered >= size) {
    Remove();
    return true;
  }
  s = ClampToInt(static_cast<long long>(s) + index - from);
  e = ClampToInt(static_cast<long long>(e) + index - covered - from);
  return true;
}

bool Range::RepairRange(const std::string& direction, Range& other) {
  Normalize();
  other.Normalize();
  if (IsVertiMergeable(other)) {
    if (direction == "top" && other.start.row < start.row) {
      ExpandRow(other.start.row, end.row);
      return true;
    }
    if (direction == "bottom" && end.row < other.end.row) {
      ExpandRow(start.row, other.end.row);
      return true;
    }
    return false;
  }
  if (IsHoriMergeable(other)) {
    if (direction == "left" && other.start.col < end.col) {
      ExpandCol(other.start.col, end.col);
      return true;
    }
    if (direction == "right" && end.col < other.end.col) {
      ExpandCol(start.col, other.end.col);
      return true;
    }
    return false;
  }
  return false;
}

std::string numToAlpha(int n, bool dollar) {
  std::string letters;
  if (n < 0) {
    letters = "A";
  } else {
    long long v = static_cast<long long>(n) + 1;  // bijective base 26
    while (v > 0) {
      long long digit = (v - 1) % 26;
      letters.push_back(static_cast<char>('A' + digit));
      v = (v - 1) / 26;
    }
    std::reverse(letters.begin(), letters.end());
  }
  return dollar ? "$" + letters : letters;
}

int alphaToNum(const std::string& s) {
  size_t begin = (!s.empty() && s[0] == '$') ? 1 : 0;
  const size_t len = s.size() - begin;
  double sum = 0;
  for (size_t i = 0; i < len; ++i) {
    unsigned char ch = static_cast<unsigned char>(s[begin + i]);
    if (ch >= 'a' && ch <= 'z') ch = static_cast<unsigned char>(ch - 'a' + 'A');
    int digit = (ch >= 'A' && ch <= 'Z') ? ch - 'A' + 1 : 0;
    if (digit == 0) continue;  // adds nothing (and 0 times an infinite power is NaN)
    sum += digit * std::pow(26.0, static_cast<double>(len - 1 - i));
    // The running sum is kept as an int, saturated where it would leave the int range.
    sum = sum >= static_cast<double>(INT_MAX) ? static_cast<double>(INT_MAX) : std::trunc(sum);
  }
  int total = static_cast<int>(sum);
  return total == 0 ? 0 : total - 1;
}

int digitToNum(const std::string& s) {
  const char* p = s.c_str();
  if (*p == '$') ++p;
  return ToIntSaturated(p);
}

bool hasDollar(const std::string& s) { return !s.empty() && s[0] == '$'; }

std::string numToString(int n, bool dollar) {
  std::string digits = n < 1 ? "1" : std::to_string(n);
  return dollar ? "$" + digits : digits;
}

std::string toString(int n) { return std::to_string(n); }

int toInt(const char* s) { return s == nullptr ? -1 : ToIntSaturated(s); }

bool splitRange(const char* text, std::string& left, std::string& right) {
  if (text == nullptr) return false;
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) return false;
  left.assign(text, static_cast<size_t>(colon - text));
  right.assign(colon + 1);
  return true;
}

namespace validation {

std::vector<Range> RemoveValidationRange(std::vector<Range>& ranges, const Range& cut) {
  std::vector<Range> out;
  Range c = cut;
  c.Normalize();
  for (const Range& range : ranges) {
    Range r = range;
    r.Normalize();
    if (range.kind == Range::kEmpty || cut.kind == Range::kEmpty || !r.Overlap(c)) {
      out.push_back(range);
      continue;
    }
    int r1 = r.start.row, c1 = r.start.col, r2 = r.end.row, c2 = r.end.col;
    const int R1 = c.start.row, C1 = c.start.col, R2 = c.end.row, C2 = c.end.col;
    if (r1 < R1) {
      out.emplace_back(r1, c1, R1 - 1, c2);
      r1 = R1;
    }
    if (R2 < r2) {
      out.emplace_back(R2 + 1, c1, r2, c2);
      r2 = R2;
    }
    if (c1 < C1) out.emplace_back(r1, c1, r2, C1 - 1);
    if (C2 < c2) out.emplace_back(r1, C2 + 1, r2, c2);
  }
  return out;
}

}  // namespace validation
}  // namespace zoltsh::utils
