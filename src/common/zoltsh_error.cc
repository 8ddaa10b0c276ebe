#include "common/zoltsh_error.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

#include "common/zoltsh_log.h"
#include "drive/drive_error.h"
#include "json/json_text.h"

const ZOLTSHErrorRow rgErrorString[kZOLTSHErrorRows] = {
    {1000, "Operation failed.", "common", "error_system"},
    {1001, "Open DB failed.", nullptr, nullptr},
    {1002, "Read DB data failed.", nullptr, nullptr},
    {1004, "Write DB data failed.", nullptr, nullptr},
    {1003, "Create DB data failed.", nullptr, nullptr},
    {1005, "Delete DB data failed.", nullptr, nullptr},
    {1006, "User input error.", nullptr, nullptr},
    {1007, "Object not exists.", nullptr, nullptr},
    {1008, "User home is disabled.", nullptr, nullptr},
    {1009, "Allocate memory failed.", nullptr, nullptr},
    {1010, "Bad use by passing parameters.", nullptr, nullptr},
    {1011, "Sharing is not enabled for the object.", nullptr, nullptr},
    {1012, "No permission for the object.", nullptr, nullptr},
    {1013, "PostgresSQL service is disabled.", nullptr, nullptr},
    {1014, "Create ZoltDrive object failed.", nullptr, nullptr},
    {1015, "Set ZoltDrive object failed.", nullptr, nullptr},
    {1016, "Get ZoltDrive object failed.", nullptr, nullptr},
    {1017, "Delete ZoltDrive object failed.", nullptr, nullptr},
    {1018, "Change setting failed.", nullptr, nullptr},
    {1019, "Sheet not in recycle.", nullptr, nullptr},
    {1020, "Changing permission failed.", nullptr, nullptr},
    {1022, "Sheet in recycle", nullptr, nullptr},
    {1023, "New tag title is already exist.", nullptr, nullptr},
    {1024, "Cannot find available storage.", nullptr, nullptr},
    {1025, "Export operation failed.", nullptr, nullptr},
    {1026, "Import operation failed.", nullptr, nullptr},
    {1027, "HTML is not ready", nullptr, nullptr},
    {1028, "Import or export task is running.", nullptr, nullptr},
    {1029, "No import or export task.", nullptr, nullptr},
    {1030, "Search error.", nullptr, nullptr},
    {1034, "Encrypt flag is not matched", nullptr, nullptr},
    {1035, "Encrypt operation is failed", nullptr, nullptr},
};

namespace {

Json::Value& Stack() {
  static Json::Value stack;
  return stack;
}

unsigned long long g_serial = 0;

Json::Value& Detail() {
  static Json::Value detail;
  return detail;
}

const ZOLTSHErrorRow* FindRow(int code) {
  const ZOLTSHErrorRow* found = nullptr;
  for (const ZOLTSHErrorRow& row : rgErrorString) {
    if (row.code == code) found = &row;
  }
  return found;
}

// fmt formatted with args, of any length. The buffer starts at 1024 bytes and grows to the length
// the formatter reports, or doubles when it reports an error, up to a bound that keeps a formatter
// that always fails from looping; "" when no memory is left or the bound is reached.
std::string Format(const char* fmt, va_list args) {
  if (fmt == nullptr) return {};
  constexpr size_t kMaxBuffer = size_t{64} << 20;
  size_t size = 1024;
  while (size <= kMaxBuffer) {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[size]);
    if (!buf) return {};
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(buf.get(), size, fmt, copy);
    va_end(copy);
    if (len >= 0 && static_cast<size_t>(len) < size) {
      try {
        return std::string(buf.get(), static_cast<size_t>(len));
      } catch (const std::bad_alloc&) {
        return {};
      }
    }
    size = len >= 0 ? static_cast<size_t>(len) + 1 : size * 2;
  }
  return {};
}

Json::Value MakeRecord(const char* file, int line, const char* fmt, va_list args) {
  Json::Value record(Json::objectValue);
  record["file"] = file != nullptr ? file : "";
  record["line"] = line;
  record["msg"] = Format(fmt, args);
  return record;
}

}  // namespace

const char* ZOLTSHErrSetEx(int code, const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  Json::Value record = MakeRecord(file, line, fmt, args);
  va_end(args);
  record["code"] = code;
  Json::Value stack(Json::arrayValue);
  stack.append(std::move(record));
  Stack().swap(stack);
  ++g_serial;
  return "";
}

const char* ZOLTSHErrAppendEx(const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  Json::Value record = MakeRecord(file, line, fmt, args);
  va_end(args);
  Stack().append(std::move(record));
  ++g_serial;
  return "";
}

int ZOLTSHErrCodeGet() {
  const Json::Value& stack = Stack();
  if (!stack.isArray() || stack.empty()) return 0;
  const Json::Value& code = stack[0u]["code"];
  return code.isInt() ? code.asInt() : -1;
}

const Json::Value& ZOLTSHErrMsgGet(bool log) {
  const Json::Value& stack = Stack();
  if (log && stack.isArray() && !stack.empty()) {
    ZOLTSH_LOG_ERR("%s", Json::toString(stack).c_str());
  }
  Json::Value detail(Json::objectValue);
  detail["zoltdrive"] = ZOLTDriveErrCodeGet();
  Detail().swap(detail);
  return Detail();
}

const Json::Value& ZOLTSHErrStackGet() { return Stack(); }

unsigned long long ZOLTSHErrSerialGet() { return g_serial; }

int ZOLTSHErrPrint(FILE* out) {
  if (out == nullptr) out = stderr;
  const Json::Value& stack = Stack();
  if (!stack.isArray() || stack.empty()) return 0;
  std::fputs("zoltsh call stack:\n", out);
  for (Json::ArrayIndex i = stack.size() - 1; i >= 1; --i) {
    const Json::Value& rec = stack[i];
    std::string msg = rec["msg"].isString() ? rec["msg"].asString() : "----";
    std::string file = rec["file"].isString() ? rec["file"].asString() : "----";
    int line = rec["line"].isInt() ? rec["line"].asInt() : 0;
    std::fprintf(out, "  %s (%s:%d)\n", msg.c_str(), file.c_str(), line);
  }
  const Json::Value& code = stack[0u]["code"];
  if (code.isInt()) {
    if (const ZOLTSHErrorRow* row = FindRow(code.asInt())) {
      std::fprintf(out, "  ErrNo=[%d] (%s)\n", row->code, row->message);
    }
  }
  return 0;
}

const char* ZOLTSHErrGetString(int code, const char** section) {
  const ZOLTSHErrorRow* row = FindRow(code);
  if (row == nullptr) return "";
  if (section != nullptr) *section = row->section != nullptr ? row->section : "";
  return row->key;
}

int ZOLTSHErrCodeGetFromDrive(int fallback) {
  int code = ZOLTDriveErrCodeGet();
  return (code >= 1000 && code <= 1030) ? code : fallback;
}

namespace zoltsh {

ZoltError::ZoltError(int line, const std::string& file, const std::string& message, int code)
    : std::runtime_error(message), line(line), file(file), code(code) {}

ZoltError::~ZoltError() = default;
ZoltDriveError::~ZoltDriveError() = default;
ZoltDriveGetError::~ZoltDriveGetError() = default;
ZoltDriveSetError::~ZoltDriveSetError() = default;
ZoltDriveDownloadError::~ZoltDriveDownloadError() = default;
NoPassError::~NoPassError() = default;
ImageNotFound::~ImageNotFound() = default;
NotValidImage::~NotValidImage() = default;
InvalidParameter::~InvalidParameter() = default;
SheetNotFound::~SheetNotFound() = default;
SpreadSheetNotFound::~SpreadSheetNotFound() = default;
RpcError::~RpcError() = default;

namespace internal {

void LogFailed(const char* file, int line, const char* cond, const char* detail) {
  const bool errnoSet = errno != 0;
  if (detail != nullptr) {
    if (errnoSet) {
      ZOLTSyslog(LOG_ERR, "%s:%d Failed [%s], %s, err=%m [err: %m]", file, line, cond, detail);
    } else {
      ZOLTSyslog(LOG_ERR, "%s:%d Failed [%s], %s, err=%m", file, line, cond, detail);
    }
  } else if (errnoSet) {
    ZOLTSyslog(LOG_ERR, "%s:%d Failed [%s], err=%m [err: %m]", file, line, cond);
  } else {
    ZOLTSyslog(LOG_ERR, "%s:%d Failed [%s], err=%m", file, line, cond);
  }
  if (errnoSet) errno = 0;
}

void RecordFailed(const char* file, int line, const char* cond, const char* detail, int code) {
  LogFailed(file, line, cond, detail);
  if (code != 0) {
    ZOLTSHErrSetEx(code, file, line, "%s", cond);
  } else {
    ZOLTSHErrAppendEx(file, line, "%s", cond);
  }
}

}  // namespace internal
}  // namespace zoltsh

runas_error::~runas_error() = default;
