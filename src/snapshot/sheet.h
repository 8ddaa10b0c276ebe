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
#include "snapshot/range.h"

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
  // element beyond the array's end leaves the array as it is; clearing its last element drops the
  // nulls at its end.
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
  // Every write that stores something at a row or column (a cell's value, style, border, comment
  // or meta, a size or hidden flag, a merge, the filter, a validation, a sorted block) grows the
  // sheet this way, so everything stored lies inside the counts and a later insertion cannot push
  // it past the bounds.
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

  // --- Features: filter, validations, conditional formats, drawings, sorting ---
  // A four-number range argument (filter, sort) must hold four integers, each row in
  // 0..kMaxRows-1 and each column in 0..kMaxCols-1; an A1 range text (validations) must parse
  // (Range) into a non-empty range inside the same bounds; cf and image ids must not be empty.
  // Otherwise, and for arguments of the wrong type, InvalidParameter with nothing changed.
  //
  // Filter ("filter", one per sheet). Sets "id", "enabled" := true, "range" := range as given and
  // "filters" := []; other members of an earlier filter stay.
  void CreateFilter(const std::string& id, const Json::Value& range);
  // "enabled" := true / false when the filter's "id" is id; otherwise nothing.
  void EnableFilter(const std::string& id);
  void DisableFilter(const std::string& id);
  // "filters"[col - left] := condition (the array grows with nulls) when the filter's "id" is id,
  // it is enabled and col lies between the left and right columns of its range; otherwise nothing.
  void SetFilter(const std::string& id, int col, const Json::Value& condition);

  // Data validations ("validation", keyed by "validId"). A cell belongs to at most one validation:
  // rangeText is first cut out of every validation, then added to validation's "validId" (an
  // existing one keeps its members and gains the range, its relative formula references following
  // its moved first cell; a new one is stored with "ranges" [rangeText]). validation must be an
  // object with a non-empty string "validId".
  void CreateValidation(const Json::Value& validation, const std::string& rangeText);
  // Cuts rangeText out of validation validId's ranges; the validation disappears when nothing is
  // left. Nothing when there is no such validation.
  void RemoveValidation(const std::string& validId, const std::string& rangeText);

  // Conditional formats ("cfs"). Inserts the object cf at index (at or beyond the end: appended);
  // a negative index is invalid.
  void CreateCf(const Json::Value& cf, int index);
  // Removes the first object whose "cfId" is cfId (not empty); nothing when there is none.
  void RemoveCf(const std::string& cfId);

  // Drawings ("drawing"). The member, replaced by an empty array first when it is not an array.
  Json::Value& GetDrawings();
  // Appends {"type": "img", "id": imageId, "pos": pos} ("pos" left out when pos is null).
  void InsertImage(const std::string& imageId, const Json::Value& pos);
  // Removes every image with that id.
  void RemoveImage(const std::string& imageId);
  // "pos" := pos on the first image with that id; nothing when there is none.
  void ResizeImage(const std::string& imageId, const Json::Value& pos);

  // Sorting. order is an array of n distinct ints 0..n-1, n no larger than the range's height: row
  // top + i moves to row top + order[i]. A range spanning every column of the sheet moves
  // whole row objects (SortRow); any other moves only the cells of its columns (SortRange) and then
  // drops the null cells and rows left in its rows. Sizes, hidden flags, merges and features stay.
  void Sort(const Json::Value& order, const Json::Value& range);
  void SortRow(const Json::Value& order, const Json::Value& range);
  void SortRange(const Json::Value& order, const Json::Value& range);

  // --- Row and column insertion and removal ---
  // Insertions and removals check their arguments and the bounds before changing anything:
  // index >= 0, amount >= 1, no int overflow, the counts stay within kMaxRows/kMaxCols, removed
  // rows or columns lie inside the sheet; otherwise InvalidParameter (1006) and nothing changes.
  // Members of the wrong type (a "cells" that is an array, a merge that is not four numbers, a
  // range text that does not parse) are left as they are.
  // Cost: cells are renumbered by swapping values (no cell is copied) and the per-row and
  // per-column arrays are spliced with moves; growing the sheet at its end touches no cell.
  // Inserts amount rows (columns) before index: cells, sizes, hidden flags, merges, filter,
  // validations, conditional formats and their formulas follow, then the count grows. At or after
  // the sheet's end (as EnsureRowColExists grows it) only the count grows: what the client stored
  // beyond the end stays on its rows.
  void CreateRow(int index, int amount);
  void CreateColumn(int index, int amount);
  // Removes amount rows (columns) from index, with the same parts following.
  void RemoveRow(int index, int amount);
  void RemoveColumn(int index, int amount);
  // The steps of the four operations above; axis is &utils::Coord::row or &utils::Coord::col.
  // They do not check their arguments.
  void CreateMergeCellRowCol(utils::Axis axis, int index, int amount);
  void RemoveMergeCellRowCol(utils::Axis axis, int index, int amount);
  void CreateFilterRow(int index, int amount);
  void RemoveFilterRow(int index, int amount);
  void CreateFilterColumn(int index, int amount);
  void RemoveFilterColumn(int index, int amount);
  void CreateValidRowCol(utils::Axis axis, int index, int amount);
  void RemoveValidRowCol(utils::Axis axis, int index, int amount);
  void CreateCfRowCol(utils::Axis axis, int index, int amount);
  void RemoveCfRowCol(utils::Axis axis, int index, int amount);
  // Repair after rows (columns) removed earlier were inserted again at index, from the data the
  // client saved at removal time (see snapshot/repair.h). saved is the four-number part of the
  // filter range that lay in the removed block, counted on the axis from its first row (column).
  // Malformed data throws InvalidParameter; changes made before the throw stay.
  void RepairFilterRow(const std::string& filterId, const Json::Value& filters,
                       const Json::Value& saved, int index, int amount);
  void RepairFilterCol(const std::string& filterId, const Json::Value& filters,
                       const Json::Value& saved, int index, int amount);
  void RepairValidation(const Json::Value& payload, utils::Axis axis, int index);
  void RepairMergeCell(const Json::Value& payload);
  // Each element {"cf", "index"}: the stored rule with cf's "cfId" is removed, then cf is inserted
  // at index.
  void RepairConditionalFormat(const Json::Value& payload);

 private:
  // The member key of the content for writing: created with an empty value of `type` when absent
  // or null. Throws InvalidParameter when it holds another type (an int setting may replace any
  // other scalar, never an object or array), or when the content is neither null nor an object.
  Json::Value& MutableMember(const char* key, Json::ValueType type);
  // Throws InvalidParameter unless MutableMember(key, type) would succeed; changes nothing.
  void CheckMember(const char* key, Json::ValueType type) const;
  // array[index] := value in the member key, which grows with nulls up to index. A null value
  // beyond the end changes nothing; one that leaves nulls at the end shortens the array.
  void SetArrayElement(const char* key, int index, Json::Value&& value);
  // SetArrayElement of a per-row (per-column) array; a value that is not null grows the sheet to
  // hold its row (column) first.
  void SetRowElement(const char* key, int row, Json::Value&& value);
  void SetColElement(const char* key, int col, Json::Value&& value);
  // Throws InvalidParameter unless every slot on the path "cells"/row/col (and the cell's "m" with
  // withMeta) is an object or missing (null). Changes nothing.
  void CheckCellPath(int row, int col, bool withMeta) const;
  // The cell's "m" object, created along with the cell and its row when missing. Call
  // CheckCellPath first.
  Json::Value& MutableMetaOf(int row, int col);
  // The existing cell object or null when missing or not an object (for removals).
  Json::Value* ExistingCell(int row, int col);
  // Raise one count so that the row (column) lies inside the sheet; the index must lie inside the
  // bounds. Throw InvalidParameter before any change when the count member has the wrong type.
  void GrowToRow(int row);
  void GrowToCol(int col);
  // Row and column bounds of writes.
  static void CheckRow(int row);
  static void CheckCol(int col);

  Json::Value* content_;  // not owned
  int rowCount_;
  int colCount_;
};

}  // namespace zoltsh
