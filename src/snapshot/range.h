// Cell coordinates and rectangular ranges of a sheet, with their A1 text.
//
// Rows and columns are 0-based inside the system; A1 text numbers rows from 1 and columns from "A".
// A range arrives either as a JSON array [top, left, bottom, right] or as A1 text ("B3:D5", "A:C",
// "3:5"). Row and column insertion and removal (the sheet's row and column changes) move ranges
// with InsertRowCol and RemoveRowCol.
//
// Arithmetic saturates at the int range instead of overflowing, so any input, however large or
// negative, gives a defined range; sheets bound their own size elsewhere.
//
// Value types: no shared state, any thread.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "common/zoltsh_export.h"

namespace zoltsh::utils {

struct ZOLTSH_API Coord {
  int row;
  int col;

  Coord(int r = 0, int c = 0) : row(r), col(c) {}
  bool operator==(const Coord& other) const { return row == other.row && col == other.col; }
};

// Names one axis of a Coord: &Coord::row or &Coord::col.
using Axis = int Coord::*;

class ZOLTSH_API Range {
 public:
  enum Kind : int { kRows = 0, kCols = 1, kBlock = 2, kEmpty = 3 };

  Coord start;  // one corner
  Coord end;    // the opposite corner; not ordered until Normalize
  int kind;     // Kind

  // An empty range: corners (-1, -1), kind 3.
  Range();
  // [r1, c1, r2, c2] taken with asInt (a member that does not convert throws Json::LogicError),
  // kind 2, not normalised.
  explicit Range(const Json::Value& value);
  Range(int r1, int c1, int r2, int c2);
  // A1 text: one cell ("B3", "$B$3"), a block ("B3:D5"), whole columns ("A:C", rows 0 to
  // rowCount - 1) or whole rows ("3:5", columns 0 to colCount - 1), each as a full match. Anything
  // else leaves the range empty. Corners are kept in text order.
  Range(const std::string& text, int rowCount, int colCount);

  Coord GetTopLeftCorner() const;
  Coord GetBottomRightCorner() const;
  int GetWidth() const;
  int GetHeight() const;
  bool Has(const Coord& coord) const;
  // Uses this range's own start and end: normalise it first.
  bool Overlap(const Range& other) const;
  // Row spans intersect and the ranges touch side by side (horizontal neighbours only).
  bool IsNeighbor(const Range& other) const;
  bool IsHoriMergeable(const Range& other) const;
  bool IsVertiMergeable(const Range& other) const;
  // Compares top-left corners, by row, then by column.
  bool operator<(const Range& other) const;
  bool operator==(const Range& other) const;
  // A1 text of the stored corners, never with "$"; "" for an empty range.
  std::string toString() const;

  void Normalize();
  void Remove();
  void ExpandRow(int top, int bottom);
  void ExpandCol(int left, int right);
  // Adds delta to both corners on axis, each clamped at 0 from below.
  void ShiftRange(Axis axis, int delta);
  // The effect of inserting `amount` rows or columns before `index`; true when the range changed.
  // Whole columns ignore row insertion and whole rows column insertion; an empty range stays empty.
  bool InsertRowCol(Axis axis, int index, int amount);
  // The effect of removing `amount` rows or columns from `index`; true when the range changed
  // (possibly into an empty range). Same kind rules as InsertRowCol.
  bool RemoveRowCol(Axis axis, int index, int amount);
  // Grows this range over the adjacent `other` on the side `direction` ("top", "bottom", "left",
  // "right"); both are normalised first. True when it grew.
  bool RepairRange(const std::string& direction, Range& other);
};

// v, saturated to the int range.
ZOLTSH_API int ClampToInt(long long v);
// a + b, saturated to the int range.
ZOLTSH_API int AddSaturated(int a, long long b);

ZOLTSH_API std::string numToAlpha(int n, bool dollar = false);
ZOLTSH_API int alphaToNum(const std::string& s);
ZOLTSH_API int digitToNum(const std::string& s);
ZOLTSH_API bool hasDollar(const std::string& s);
ZOLTSH_API std::string numToString(int n, bool dollar = false);
ZOLTSH_API std::string toString(int n);
ZOLTSH_API int toInt(const char* s);
ZOLTSH_API bool splitRange(const char* text, std::string& left, std::string& right);

namespace validation {
// `ranges` minus `cut`: ranges that miss it are kept as they are; others are replaced by up to four
// block pieces (above, below, left, right of the cut).
ZOLTSH_API std::vector<Range> RemoveValidationRange(std::vector<Range>& ranges, const Range& cut);
}  // namespace validation

}  // namespace zoltsh::utils
