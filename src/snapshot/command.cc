// The editing commands: member checks and the calls into zoltsh::Sheet.
#include "snapshot/command.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "json/json_text.h"
#include "snapshot/repair.h"

namespace zoltsh::internal {
namespace {

constexpr uint32_t kNoEditor = 4294967295u;

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

// value[key], or null when value is not an object or has no such member. Never throws.
const Json::Value& Member(const Json::Value& value, const char* key) {
  if (!value.isObject()) return Json::Value::nullSingleton();
  const Json::Value* found = value.find(key, key + std::strlen(key));
  return found != nullptr ? *found : Json::Value::nullSingleton();
}

// The int of a number (a fraction truncated), a boolean or null (0). False for other types and
// for numbers outside the int range.
bool ToInt(const Json::Value& value, int& out) {
  switch (value.type()) {
    case Json::nullValue:
      out = 0;
      return true;
    case Json::booleanValue:
      out = value.asBool() ? 1 : 0;
      return true;
    case Json::intValue:
    case Json::uintValue:
      if (!value.isInt()) return false;
      out = value.asInt();
      return true;
    case Json::realValue: {
      const double d = std::trunc(value.asDouble());
      if (!(d >= std::numeric_limits<int>::min() && d <= std::numeric_limits<int>::max())) {
        return false;
      }
      out = static_cast<int>(d);
      return true;
    }
    default:
      return false;
  }
}

// The text of a text or of a scalar written as text ("" for null). False for arrays and objects.
bool ToText(const Json::Value& value, std::string& out) {
  if (value.isArray() || value.isObject()) return false;
  out = value.isNull() ? std::string() : value.asString();
  return true;
}

int IntMember(const Json::Value& command, const char* key) {
  int n = 0;
  if (!ToInt(Member(command, key), n)) ThrowInvalid(__LINE__);
  return n;
}

std::string TextMember(const Json::Value& command, const char* key) {
  std::string text;
  if (!ToText(Member(command, key), text)) ThrowInvalid(__LINE__);
  return text;
}

bool IsRangeArgument(const Json::Value& range) { return range.isArray() && range.size() == 4; }

std::string Text(const Json::Value& value) { return Json::toString(value); }

// The first two elements of a change [row, col, payload] as a cell inside the sheet bounds.
bool CellOf(const Json::Value& change, int& row, int& col) {
  return ToInt(change[0], row) && ToInt(change[1], col) && row >= 0 && col >= 0 && row < kMaxRows &&
         col < kMaxCols;
}

bool IsChange(const Json::Value& change) { return change.isArray() && change.size() == 3; }

// The change-list loops. Each throws InvalidParameter when changes is not an array, skips the
// invalid changes and applies the others in order.

void ApplyValues(Sheet& sheet, const Json::Value& changes) {
  if (!changes.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& change : changes) {
    if (!IsChange(change)) continue;
    int row = 0, col = 0;
    const Json::Value& value = change[2];
    if (!CellOf(change, row, col) || !(value.isString() || value.isNumeric() || value.isNull())) {
      ZOLTSH_LOG_ERR("Wrong change format: %s", Text(change).c_str());
      continue;
    }
    sheet.SetValue(row, col, value);
  }
}

void ApplyStyles(Sheet& sheet, const Json::Value& changes, bool overwrite) {
  if (!changes.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& change : changes) {
    if (!IsChange(change)) continue;
    int row = 0, col = 0;
    if (!CellOf(change, row, col) || !change[2].isObject()) {
      ZOLTSH_LOG_ERR("Wrong style change format: %s", Text(change).c_str());
      continue;
    }
    sheet.SetStyle(row, col, change[2], overwrite);
  }
}

void ApplyBorders(Sheet& sheet, const Json::Value& changes, bool overwrite) {
  if (!changes.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& change : changes) {
    int row = 0, col = 0;
    if (!IsChange(change) || !CellOf(change, row, col) || !change[2].isArray()) continue;
    sheet.SetBorder(row, col, change[2], overwrite);
  }
}

void ApplyComments(Sheet& sheet, const Json::Value& changes, uint32_t defaultEditor) {
  if (!changes.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& change : changes) {
    if (!IsChange(change)) continue;
    int row = 0, col = 0;
    const Json::Value& payload = change[2];
    if (!CellOf(change, row, col) || !(payload.isArray() || payload.isNull())) {
      ZOLTSH_LOG_ERR("Wrong change format: %s", Text(change).c_str());
      continue;
    }
    if (payload.isNull()) {
      sheet.SetComment(row, col, "", 0, defaultEditor);
      continue;
    }
    uint32_t editor = defaultEditor;
    const bool shaped =
        (payload.size() == 2 || payload.size() == 3) && payload[0].isString() &&
        payload[1].isIntegral() && payload[1].isUInt64() &&
        (payload.size() == 2 || (payload[2].isNumeric() && ReadLoginUid(payload[2], editor)));
    if (!shaped) {
      ZOLTSH_LOG_ERR("Wrong value format: %s", Text(payload).c_str());
      continue;
    }
    sheet.SetComment(row, col, payload[0].asString(), payload[1].asUInt64(), editor);
  }
}

void ApplyMeta(Sheet& sheet, const Json::Value& changes) {
  if (!changes.isArray()) ThrowInvalid(__LINE__);
  for (const Json::Value& change : changes) {
    if (!change.isObject()) {
      ZOLTSH_LOG_ERR("changes [%s] should be a object", Text(changes).c_str());
      continue;
    }
    const Json::Value& vals = Member(change, "vals");
    std::string key;
    if (!vals.isArray() || !ToText(Member(change, "key"), key) || key.empty()) {
      ZOLTSH_LOG_ERR("vals [%s] should be a array and key can't be empty", Text(vals).c_str());
      continue;
    }
    for (const Json::Value& val : vals) {
      int row = 0, col = 0;
      if (!IsChange(val) || !ToInt(val[0], row) || !ToInt(val[1], col)) {
        ZOLTSH_LOG_ERR("jChange [%s] is not a valid change array", Text(val).c_str());
        continue;
      }
      sheet.SetMeta(row, col, key, val[2]);
    }
  }
}

// Reads "from" and "to" of a range loop; to must lie below bound.
void ReadSpan(const Json::Value& command, int bound, int& from, int& to) {
  from = IntMember(command, "from");
  to = IntMember(command, "to");
  if (from < 0 || to < from || to >= bound) ThrowInvalid(__LINE__);
}

// The size for row (column) number n: the element n of an array, else the one value.
const Json::Value& SizeAt(const Json::Value& sizes, int n) {
  return sizes.isArray() ? sizes[static_cast<Json::ArrayIndex>(n)] : sizes;
}

void Resize(Sheet& sheet, const Json::Value& command, bool rows) {
  int from = 0, to = 0;
  ReadSpan(command, rows ? kMaxRows : kMaxCols, from, to);
  const Json::Value& sizes = Member(command, rows ? "height" : "width");
  for (int n = from; n <= to; ++n) {
    if (rows) {
      sheet.SetRowHeight(n, SizeAt(sizes, n));
    } else {
      sheet.SetColWidth(n, SizeAt(sizes, n));
    }
  }
}

void SetHidden(Sheet& sheet, const Json::Value& command, bool rows, bool hidden) {
  int from = 0, to = 0;
  ReadSpan(command, rows ? kMaxRows : kMaxCols, from, to);
  for (int n = from; n <= to; ++n) {
    if (rows) {
      sheet.SetRowHidden(n, hidden);
    } else {
      sheet.SetColHidden(n, hidden);
    }
  }
}

void Insert(Sheet& sheet, const Json::Value& command, bool rows) {
  const int index = IntMember(command, "index");
  const int amount = IntMember(command, "amount");
  if (amount < 1 || index < 0) ThrowInvalid(__LINE__);
  if (rows) {
    sheet.CreateRow(index, amount);
  } else {
    sheet.CreateColumn(index, amount);
  }
  if (!command.isMember("data")) return;

  // The cells of the inserted rows (columns): formats first, then values, each part merged into
  // what is there; then the features cut by an earlier removal of the same rows are restored.
  const Json::Value& data = command["data"];
  const Json::Value& format = Member(data, "format");
  ApplyStyles(sheet, Member(format, "style"), false);
  ApplyBorders(sheet, Member(format, "border"), false);
  ApplyComments(sheet, Member(format, "comment"), kNoEditor);
  ApplyMeta(sheet, Member(format, "extra"));
  ApplyValues(sheet, Member(data, "changes"));
  if (rows) {
    RepairRow(sheet, Member(data, "info"), index, amount);
  } else {
    RepairCol(sheet, Member(data, "info"), index, amount);
  }
}

void Remove(Sheet& sheet, const Json::Value& command, bool rows) {
  const int index = IntMember(command, "index");
  const int amount = IntMember(command, "amount");
  if (amount < 1 || index < 0) ThrowInvalid(__LINE__);
  if (rows) {
    sheet.RemoveRow(index, amount);
  } else {
    sheet.RemoveColumn(index, amount);
  }
}

// "overwrite": false when absent; a boolean or a number (non-zero is true).
bool Overwrite(const Json::Value& command) {
  const Json::Value& overwrite = Member(command, "overwrite");
  if (overwrite.isNull()) return false;
  if (!overwrite.isBool() && !overwrite.isNumeric()) ThrowInvalid(__LINE__);
  return overwrite.asBool();
}

const Json::Value& RangeArgument(const Json::Value& command) {
  const Json::Value& range = Member(command, "range");
  if (!IsRangeArgument(range)) ThrowInvalid(__LINE__);
  return range;
}

std::string ImageId(const Json::Value& command) {
  std::string id = TextMember(command, "imageId");
  if (id.empty()) ThrowInvalid(__LINE__);
  return id;
}

constexpr const char* kNames[] = {
    "value",
    "insert_row",
    "insert_col",
    "remove_row",
    "remove_col",
    "resize_row",
    "resize_col",
    "style",
    "meta",
    "merge",
    "unmerge",
    "border",
    "fix_row",
    "fix_col",
    "hide_rows",
    "show_rows",
    "hide_cols",
    "show_cols",
    "sort",
    "comment",
    "create_filter",
    "enable_filter",
    "disable_filter",
    "set_filter",
    "create_validation",
    "remove_validation",
    "create_cf",
    "remove_cf",
    "insert_image",
    "resize_image",
    "remove_image",
    "compound",
};
static_assert(std::size(kNames) == kCommandCompound + 1);

constexpr CommandFunction kFunctions[] = {
    SetValue,         InsertRow,    InsertCol,     RemoveRow,   RemoveCol,
    ResizeRow,        ResizeCol,    SetStyle,      SetMeta,     Merge,
    Unmerge,          SetBorder,    FixRow,        FixCol,      HideRows,
    ShowRows,         HideCols,     ShowCols,      Sort,        SetComment,
    CreateFilter,     EnableFilter, DisableFilter, SetFilter,   CreateValidation,
    RemoveValidation, CreateCf,     RemoveCf,      InsertImage, ResizeImage,
    RemoveImage,
};
static_assert(std::size(kFunctions) == kCommandCompound);

}  // namespace

bool ReadLoginUid(const Json::Value& value, uint32_t& out) {
  switch (value.type()) {
    case Json::booleanValue:
    case Json::intValue:
      out = static_cast<uint32_t>(value.asInt64());
      return true;
    case Json::uintValue:
      out = static_cast<uint32_t>(value.asUInt64());
      return true;
    case Json::realValue: {
      const double d = std::trunc(value.asDouble());
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
      out = static_cast<uint32_t>(static_cast<int64_t>(d));
      return true;
    }
    default:
      return false;
  }
}

int ParseCommand(const std::string& name) {
  for (int kind = 0; kind < static_cast<int>(std::size(kNames)); ++kind) {
    if (name == kNames[kind]) return kind;
  }
  return kCommandUnknown;
}

CommandFunction CommandFunctionOf(int kind) {
  if (kind < 0 || kind >= static_cast<int>(std::size(kFunctions))) return nullptr;
  return kFunctions[kind];
}

void SetValue(Sheet& sheet, const Json::Value& command) {
  ApplyValues(sheet, Member(command, "changes"));
}
void InsertRow(Sheet& sheet, const Json::Value& command) { Insert(sheet, command, true); }
void InsertCol(Sheet& sheet, const Json::Value& command) { Insert(sheet, command, false); }
void RemoveRow(Sheet& sheet, const Json::Value& command) { Remove(sheet, command, true); }
void RemoveCol(Sheet& sheet, const Json::Value& command) { Remove(sheet, command, false); }
void ResizeRow(Sheet& sheet, const Json::Value& command) { Resize(sheet, command, true); }
void ResizeCol(Sheet& sheet, const Json::Value& command) { Resize(sheet, command, false); }

void SetStyle(Sheet& sheet, const Json::Value& command) {
  ApplyStyles(sheet, Member(command, "changes"), Overwrite(command));
}

void SetMeta(Sheet& sheet, const Json::Value& command) {
  ApplyMeta(sheet, Member(command, "changes"));
}

void Merge(Sheet& sheet, const Json::Value& command) { sheet.MergeCells(RangeArgument(command)); }

void Unmerge(Sheet& sheet, const Json::Value& command) {
  sheet.UnmergeCell(RangeArgument(command));
}

void SetBorder(Sheet& sheet, const Json::Value& command) {
  ApplyBorders(sheet, Member(command, "changes"), Overwrite(command));
}

void FixRow(Sheet& sheet, const Json::Value& command) {
  const int row = IntMember(command, "row");
  if (row < 0) ThrowInvalid(__LINE__);
  sheet.FixRowTop(row);
}

void FixCol(Sheet& sheet, const Json::Value& command) {
  const int col = IntMember(command, "col");
  if (col < 0) ThrowInvalid(__LINE__);
  sheet.FixColLeft(col);
}

void HideRows(Sheet& sheet, const Json::Value& command) { SetHidden(sheet, command, true, true); }
void ShowRows(Sheet& sheet, const Json::Value& command) { SetHidden(sheet, command, true, false); }
void HideCols(Sheet& sheet, const Json::Value& command) { SetHidden(sheet, command, false, true); }
void ShowCols(Sheet& sheet, const Json::Value& command) { SetHidden(sheet, command, false, false); }

void Sort(Sheet& sheet, const Json::Value& command) {
  const Json::Value& order = Member(command, "rowOrder");
  if (!order.isArray()) ThrowInvalid(__LINE__);
  sheet.Sort(order, RangeArgument(command));
}

void SetComment(Sheet& sheet, const Json::Value& command) {
  const Json::Value& changes = Member(command, "changes");
  uint32_t editor = kNoEditor;
  const Json::Value& uid = Member(command, "uid");
  if (!uid.isNull() && !ReadLoginUid(uid, editor)) ThrowInvalid(__LINE__);
  ApplyComments(sheet, changes, editor);
}

void CreateFilter(Sheet& sheet, const Json::Value& command) {
  const Json::Value& range = RangeArgument(command);
  sheet.CreateFilter(TextMember(command, "filterId"), range);
}

void EnableFilter(Sheet& sheet, const Json::Value& command) {
  sheet.EnableFilter(TextMember(command, "filterId"));
}

void DisableFilter(Sheet& sheet, const Json::Value& command) {
  sheet.DisableFilter(TextMember(command, "filterId"));
}

void SetFilter(Sheet& sheet, const Json::Value& command) {
  const std::string id = TextMember(command, "filterId");
  const int col = IntMember(command, "col");
  sheet.SetFilter(id, col, Member(command, "condition"));
}

void CreateValidation(Sheet& sheet, const Json::Value& command) {
  const std::string range = TextMember(command, "range");
  const Json::Value& validation = Member(command, "validation");
  if (range.empty() || validation.isNull()) ThrowInvalid(__LINE__);
  sheet.CreateValidation(validation, range);
}

void RemoveValidation(Sheet& sheet, const Json::Value& command) {
  const std::string range = TextMember(command, "range");
  const std::string id = TextMember(command, "validId");
  if (range.empty()) ThrowInvalid(__LINE__);
  sheet.RemoveValidation(id, range);
}

void CreateCf(Sheet& sheet, const Json::Value& command) {
  const Json::Value& cf = Member(command, "cf");
  const int index = IntMember(command, "index");
  if (cf.isNull() || index < 0) ThrowInvalid(__LINE__);
  sheet.CreateCf(cf, index);
}

void RemoveCf(Sheet& sheet, const Json::Value& command) {
  const std::string id = TextMember(command, "cfId");
  if (id.empty()) ThrowInvalid(__LINE__);
  sheet.RemoveCf(id);
}

void InsertImage(Sheet& sheet, const Json::Value& command) {
  const std::string id = ImageId(command);
  sheet.InsertImage(id, Member(command, "position"));
}

void ResizeImage(Sheet& sheet, const Json::Value& command) {
  const std::string id = ImageId(command);
  const Json::Value& position = Member(command, "position");
  if (position.isNull()) ThrowInvalid(__LINE__);
  sheet.ResizeImage(id, position);
}

void RemoveImage(Sheet& sheet, const Json::Value& command) { sheet.RemoveImage(ImageId(command)); }

}  // namespace zoltsh::internal
