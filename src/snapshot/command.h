// The editing commands: what a user did to an open spreadsheet, as the collaboration server sends
// it for persisting. Each command is a JSON object {"cmd": name, "id": sheet id, ...members}; the
// executor (executor.h) finds the sheet and calls the function of the command's kind, which checks
// the command's members and applies it through zoltsh::Sheet.
//
// Kinds, in order (ParseCommand returns the position, -1 for an unknown name):
//    0 value             "changes": [[row, col, text|number|null]...]
//    1 insert_row        "index", "amount", optional "data" (insert data, below)
//    2 insert_col        same
//    3 remove_row        "index", "amount"
//    4 remove_col        same
//    5 resize_row        "from", "to", "height" (one value, or an array indexed by row number)
//    6 resize_col        "from", "to", "width"
//    7 style             "changes": [[row, col, object]...], "overwrite"
//    8 meta              "changes": [{"key": text, "vals": [[row, col, value]...]}...]
//    9 merge             "range": [top, left, bottom, right]
//   10 unmerge           same
//   11 border            "changes": [[row, col, array]...], "overwrite"
//   12 fix_row           "row"
//   13 fix_col           "col"
//   14 hide_rows         "from", "to"
//   15 show_rows         same
//   16 hide_cols         same
//   17 show_cols         same
//   18 sort              "rowOrder", "range"
//   19 comment           "changes": [[row, col, null|[text, time]|[text, time, editor]]...], "uid"
//   20 create_filter     "range", "filterId"
//   21 enable_filter     "filterId"
//   22 disable_filter    "filterId"
//   23 set_filter        "filterId", "col", "condition"
//   24 create_validation "range" (A1 text), "validation"
//   25 remove_validation "range" (A1 text), "validId"
//   26 create_cf         "cf", "index"
//   27 remove_cf         "cfId"
//   28 insert_image      "imageId", "position"
//   29 resize_image      "imageId", "position"
//   30 remove_image      "imageId"
//   31 compound          "actions" (handled by the executor)
//
// Members. Absent members read as 0, "" or null. Integer members take any number that fits an
// int (a fraction is truncated) or a boolean; text members take a text or a scalar written as
// text. A member of another type (an object where a number belongs, a number beyond the int range)
// is invalid.
//
// Failure. A command whose members fail the checks throws zoltsh::InvalidParameter (1006, "invalid
// parameter") before the sheet is touched; the sheet's own checks (bounds, argument shapes) throw
// the same way. Inside a change list a single malformed change (not [row, col, payload], a cell
// outside the sheet bounds, a payload of the wrong kind) is skipped, most with an error log line,
// and the loop goes on; "meta" values go to the sheet unchecked, so one it refuses ends the
// command with the earlier changes kept. Insert data is checked after the rows or
// columns were created: invalid insert data throws and leaves them, and the parts applied before.
//
// Threads: as zoltsh::Sheet.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "common/zoltsh_export.h"
#include "snapshot/sheet.h"

namespace zoltsh::internal {

// Kind numbers of the commands; kCommandUnknown for a name that is not a command.
enum CommandKind : int {
  kCommandUnknown = -1,
  kCommandValue = 0,
  kCommandInsertRow,
  kCommandInsertCol,
  kCommandRemoveRow,
  kCommandRemoveCol,
  kCommandResizeRow,
  kCommandResizeCol,
  kCommandStyle,
  kCommandMeta,
  kCommandMerge,
  kCommandUnmerge,
  kCommandBorder,
  kCommandFixRow,
  kCommandFixCol,
  kCommandHideRows,
  kCommandShowRows,
  kCommandHideCols,
  kCommandShowCols,
  kCommandSort,
  kCommandComment,
  kCommandCreateFilter,
  kCommandEnableFilter,
  kCommandDisableFilter,
  kCommandSetFilter,
  kCommandCreateValidation,
  kCommandRemoveValidation,
  kCommandCreateCf,
  kCommandRemoveCf,
  kCommandInsertImage,
  kCommandResizeImage,
  kCommandRemoveImage,
  kCommandCompound,
};

// A login uid read as a 64-bit integer and truncated to 32 bits (-1 is 4294967295): a number
// (a fraction truncated) or a boolean. False for other types and numbers beyond the 64-bit range.
ZOLTSH_API bool ReadLoginUid(const Json::Value& value, uint32_t& uid);

// The kind of the command name (case-sensitive), or -1.
ZOLTSH_API int ParseCommand(const std::string& name);

// A command function: checks the command and applies it to the sheet.
using CommandFunction = void (*)(Sheet& sheet, const Json::Value& command);
// The function of kinds 0..30; nullptr for any other kind (compound and unknown names).
ZOLTSH_API CommandFunction CommandFunctionOf(int kind);

ZOLTSH_API void SetValue(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void InsertRow(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void InsertCol(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void RemoveRow(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void RemoveCol(Sheet& sheet, const Json::Value& command);
// Rows (columns) "from".."to" inclusive; "to" must lie inside the sheet bounds.
ZOLTSH_API void ResizeRow(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void ResizeCol(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void SetStyle(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void SetMeta(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void Merge(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void Unmerge(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void SetBorder(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void FixRow(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void FixCol(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void HideRows(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void ShowRows(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void HideCols(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void ShowCols(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void Sort(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void SetComment(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void CreateFilter(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void EnableFilter(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void DisableFilter(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void SetFilter(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void CreateValidation(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void RemoveValidation(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void CreateCf(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void RemoveCf(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void InsertImage(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void ResizeImage(Sheet& sheet, const Json::Value& command);
ZOLTSH_API void RemoveImage(Sheet& sheet, const Json::Value& command);

}  // namespace zoltsh::internal
