// Repair of an undone removal: when a client undoes the removal of rows or columns, it inserts
// them again ("insert_row"/"insert_col") and sends, as "info", the data it saved at removal time so
// that filters, validations, conditional formats and merges cut by the removal are restored.
//
// "info" is an array of plug-in entries {"pluginName", "rowInfo" or "colInfo"}:
//   "ZoltFilter"            {"filterId", "range": four numbers counted on the axis from the first
//                           removed row or column, "filters": the conditions of those columns}
//   "ZoltValidation"        [validation with "ranges": [{"dir", "range"}] and an optional
//                           "repairList": {"dir", "range"}; dir is top, bottom, left, right, none]
//   "ZoltConditionalFormat" [{"cf": conditional format, "index": its position in "cfs"}]
//   "ZoltMergeCell"         [four-number ranges in sheet coordinates]
//
// Failure: each entry is applied on its own. A malformed entry or an unknown plug-in name is
// logged at error priority ("Invalid Parameter:..." or "Error: ...") and skipped; what the entry
// changed before the failure stays, and the next entry is applied. Nothing is thrown.
//
// Threads: as zoltsh::Sheet (the caller serialises use of one sheet).
#pragma once

#include <json/value.h>

#include "common/zoltsh_export.h"
#include "snapshot/sheet.h"

namespace zoltsh::internal {

// Applies "info" after amount rows were inserted at index (payloads under "rowInfo").
ZOLTSH_API void RepairRow(Sheet& sheet, const Json::Value& info, int index, int amount);
// Applies "info" after amount columns were inserted at index (payloads under "colInfo").
ZOLTSH_API void RepairCol(Sheet& sheet, const Json::Value& info, int index, int amount);

}  // namespace zoltsh::internal
