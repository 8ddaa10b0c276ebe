// zoltsh::Sheet: the operating view over one sheet's content, the JSON object that holds a sheet's
// grid, sizes, merges and features. The layout of that object is described in sheet_layout.h.
//
// Ownership: a Sheet keeps a pointer to a Json::Value owned by its caller (the spreadsheet
// document) and caches its "rowCount" and "colCount". It never copies the content and must not
// outlive it. Copying a Sheet copies the view, not the content.
//
// Bounds: a sheet holds at most kMaxRows rows and kMaxCols columns (A1 text up to XFD1048576). Any
// write that would create a row index outside 0..kMaxRows-1 or a column index outside
// 0..kMaxCols-1, or a count beyond the bounds, throws zoltsh::InvalidParameter (1006,
// "invalid parameter") and changes nothing.
//
// Failure: writes throw zoltsh::InvalidParameter for bad arguments and for a stored member of the
// wrong type that they would have to write into (for instance "cells" that is an array); they check
// everything before they change anything, so a throw leaves the content as it was. Reads never
// throw: a missing member or one of the wrong type reads as the default.
//
// Cost: every cell and per-row or per-column write is O(log n) in the size of the member it
// touches; arrays grow with nulls only up to the index written.
//
// Threads: none inside; the caller serialises all use of one content (the document's lock).
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh {

// Largest number of rows and of columns of a sheet.
inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxCols = 16384;

class ZOLTSH_API Sheet {
 public:
  // Keeps a pointer to content and caches "rowCount" (100 when absent) and "colCount" (30 when
  // absent). A count that is not a number reads as its default; one outside the bounds is clamped
  // to them.
  explicit Sheet(Json::Value& content);

  // Writes the default layout of a new sheet into the content, overwriting those members (a null
  // content becomes an object): 100 rows, 30 columns, nothing frozen, no merges, sizes, hidden rows
  // or columns, cells, filter, validations, conditional formats or drawings.
  void Init();

  // The whole content, for readers such as the search indexer.
  const Json::Value& GetContent() const { return *content_; }

  int GetRowCount() const { return rowCount_; }
  int GetColCount() const { return colCount_; }
  // Set cache and member together; n must lie in 0..kMaxRows (0..kMaxCols).
  void SetRowCount(int n);
  void SetColCount(int n);

  // Sizes, freezing, hiding. The getters return the member, null when absent.
  const Json::Value& GetRowHeights() const;
  const Json::Value& GetColWidths() const;
  const Json::Value& GetHiddenRows() const;
  const Json::Value& GetHiddenCols() const;
  const Json::Value& GetMergeCells() const;
  // "rowHeights"[row] := value when it is an integer, else null (the default height). Clearing an
  // element beyond the array's end leaves the array as it is.
  void SetRowHeight(int row, const Json::Value& value);
  void SetColWidth(int col, const Json::Value& value);
  // "hiddenRows"[row] := true, or null when hidden is false.
  void SetRowHidden(int row, bool hidden);
  void SetColHidden(int col, bool hidden);
  // The frozen-rows and frozen-columns settings, 0 when absent or not a number.
  int GetFixedRowTop() const;
  int GetFixedColLeft() const;
  // n must lie in 0..kMaxRows (0..kMaxCols).
  void FixRowTop(int n);
  void FixColLeft(int n);

  // Cells. Reads take any row and column and find nothing outside the sheet.
  // True when the cell exists and is not null (a null cell counts as absent).
  bool HasCell(int row, int col) const;
  // The cell at "cells"[row][col], null when missing.
  const Json::Value& GetCell(int row, int col) const;
  // The cell at "cells"[row][col] for writing; a missing cell is created as null (which reads as
  // absent) together with its row object.
  Json::Value& GetCellMutable(int row, int col);
  // The cell's "v", or "" when the cell or "v" is missing.
  Json::Value GetValue(int row, int col) const;
  // The cell's "m", and its "s", "b" and "c"; null when missing.
  const Json::Value& GetMeta(int row, int col) const;
  const Json::Value& GetStyle(int row, int col) const;
  const Json::Value& GetBorder(int row, int col) const;
  const Json::Value& GetComment(int row, int col) const;

  // Grows the sheet so that the cell lies inside it, then sets "v" := value (type kept), or removes
  // "v" when value is null or "". Value must be a string, number, boolean or null.
  void SetValue(int row, int col, const Json::Value& value);
  // Raises the row and column counts so that (row, col) lies inside the sheet; never shrinks it.
  void EnsureRowColExists(int row, int col);

  // "m"[key] := value, or "m"[key] removed when value is null.
  void SetMeta(int row, int col, const std::string& key, const Json::Value& value);
  // style must be null or an object, else nothing happens. overwrite: "m"."s" := style (removed
  // when null). Merge: "m"."s" becomes an object when it is not one, then each member of style sets
  // that property, a null member removes it.
  void SetStyle(int row, int col, const Json::Value& style, bool overwrite);
  // border must be null or an array of at least four entries, else nothing happens. overwrite:
  // "m"."b" := border (removed when null). Merge: "m"."b" starts as [null, null, null, null] when
  // it is missing or not an array, then each non-null border[i], i < 4, replaces side i.
  void SetBorder(int row, int col, const Json::Value& border, bool overwrite);
  // An empty text removes "m"."c"; otherwise "m"."c" := {"c": text, "t": time, "e": editor}.
  void SetComment(int row, int col, const std::string& text, uint64_t time, uint32_t editor);
  // For the row keys r in from..to (from -1: 0, to -1: rowCount): removes a null row, or the null
  // cells of a row object. Rows that become empty objects stay.
  void Compact(int fromRow = -1, int toRow = -1);

  // Merged cells. range is [top, left, bottom, right]: four integers, each a row or column inside
  // the bounds, else InvalidParameter.
  // Removes every merge that overlaps range and every entry that is not a four-number range
  // (exchanging it with the last entry kept), then appends range as given.
  void MergeCells(const Json::Value& range);
  // Removes the first merge that contains range's top-left cell (the last entry takes its place),
  // then removes "v" from every existing cell of range but its top-left one.
  void UnmergeCell(const Json::Value& range);

 private:
  // The member key of the content for writing: created with an empty value of `type` when absent
  // or null. Throws InvalidParameter when it holds another type (an int setting may replace any
  // other scalar, never an object or array), or when the content is neither null nor an object.
  Json::Value& MutableMember(const char* key, Json::ValueType type);
  // Throws InvalidParameter unless MutableMember(key, type) would succeed; changes nothing.
  void CheckMember(const char* key, Json::ValueType type) const;
  // array[index] := value in the member key, which grows with nulls up to index. A null value
  // beyond the end changes nothing.
  void SetArrayElement(const char* key, int index, Json::Value&& value);
  // Throws InvalidParameter unless every slot on the path "cells"/row/col (and the cell's "m" with
  // withMeta) is an object or missing (null). Changes nothing.
  void CheckCellPath(int row, int col, bool withMeta) const;
  // The cell's "m" object, created along with the cell and its row when missing. Call
  // CheckCellPath first.
  Json::Value& MutableMetaOf(int row, int col);
  // The existing cell object or null when missing or not an object (for removals).
  Json::Value* ExistingCell(int row, int col);
  // Row and column bounds of writes.
  static void CheckRow(int row);
  static void CheckCol(int col);

  Json::Value* content_;  // not owned
  int rowCount_;
  int colCount_;
};

}  // namespace zoltsh
