// Errors of the system: one code space, two styles of reporting.
//
// The document model throws zoltsh::ZoltError and its subclasses, each carrying the source position
// of the throw, a message and a code. The procedural modules return false, a negative count or null
// and record the failure on the process-wide error stack: ZOLTSHErrSetEx where a failure starts
// (a new stack whose record 0 holds the code), ZOLTSHErrAppendEx for each frame it travels through.
// The web-API handler frames turn either into an answer.
//
// Thread safety: the error stack and the error detail object are process-wide and unguarded. The
// web-API host serves one request at a time per process, and nothing else touches them.
#pragma once

#include <json/value.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/zoltsh_export.h"

#ifndef ZOLTSH_FILE
#define ZOLTSH_FILE __FILE__
#endif

// Codes of the error space. 1021, 1031, 1032, 1033 and 1036 have no row in rgErrorString.
enum ZOLTSHErrCode : int {
  ZOLTSH_ERR_OPERATION_FAILED = 1000,
  ZOLTSH_ERR_OPEN_DB = 1001,
  ZOLTSH_ERR_READ_DB = 1002,
  ZOLTSH_ERR_CREATE_DB = 1003,
  ZOLTSH_ERR_WRITE_DB = 1004,
  ZOLTSH_ERR_DELETE_DB = 1005,
  ZOLTSH_ERR_USER_INPUT = 1006,
  ZOLTSH_ERR_OBJECT_NOT_EXISTS = 1007,
  ZOLTSH_ERR_HOME_DISABLED = 1008,
  ZOLTSH_ERR_ALLOC = 1009,
  ZOLTSH_ERR_BAD_PARAMETER = 1010,
  ZOLTSH_ERR_SHARING_DISABLED = 1011,
  ZOLTSH_ERR_NO_PERMISSION = 1012,
  ZOLTSH_ERR_PGSQL_DISABLED = 1013,
  ZOLTSH_ERR_DRIVE_CREATE = 1014,
  ZOLTSH_ERR_DRIVE_SET = 1015,
  ZOLTSH_ERR_DRIVE_GET = 1016,
  ZOLTSH_ERR_DRIVE_DELETE = 1017,
  ZOLTSH_ERR_CHANGE_SETTING = 1018,
  ZOLTSH_ERR_NOT_IN_RECYCLE = 1019,
  ZOLTSH_ERR_CHANGE_PERMISSION = 1020,
  ZOLTSH_ERR_HOME_SERVICE_DISABLED = 1021,
  ZOLTSH_ERR_IN_RECYCLE = 1022,
  ZOLTSH_ERR_TAG_EXISTS = 1023,
  ZOLTSH_ERR_NO_STORAGE = 1024,
  ZOLTSH_ERR_EXPORT = 1025,
  ZOLTSH_ERR_IMPORT = 1026,
  ZOLTSH_ERR_HTML_NOT_READY = 1027,
  ZOLTSH_ERR_TASK_RUNNING = 1028,
  ZOLTSH_ERR_NO_TASK = 1029,
  ZOLTSH_ERR_SEARCH = 1030,
  ZOLTSH_ERR_INDEX_MISSING = 1031,
  ZOLTSH_ERR_SHEET_NOT_FOUND = 1032,
  ZOLTSH_ERR_PASSWORD = 1033,
  ZOLTSH_ERR_ENCRYPT_FLAG = 1034,
  ZOLTSH_ERR_ENCRYPT = 1035,
  ZOLTSH_ERR_NOT_IMAGE = 1036,
};

// One row of the error table.
struct ZOLTSHErrorRow {
  int code;
  const char* message;
  const char* section;  // null but for 1000
  const char* key;      // null but for 1000
};

// The error table: 32 rows, in the order the appliance's interface strings expect.
inline constexpr int kZOLTSHErrorRows = 32;
ZOLTSH_API extern const ZOLTSHErrorRow rgErrorString[kZOLTSHErrorRows];

// Starts a new error stack whose only record is {code, file, line, msg}; msg is fmt formatted in
// printf style, of any length ("" when no memory was left for it). The result carries nothing.
ZOLTSH_API const char* ZOLTSHErrSetEx(int code, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Appends {file, line, msg} (no code) to the error stack.
ZOLTSH_API const char* ZOLTSHErrAppendEx(const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// 0 for an empty stack, the code of record 0, or -1 when record 0 has none.
ZOLTSH_API int ZOLTSHErrCodeGet();

// With log, writes the stack as JSON text to the system log ("%s:%d %s") when it is not empty.
// Returns the error detail object {"zoltdrive": the Drive store's last error code}, valid until the
// next call. The stack is left as it is.
ZOLTSH_API const Json::Value& ZOLTSHErrMsgGet(bool log);

// The whole error stack (an array of records, null when nothing was recorded).
ZOLTSH_API const Json::Value& ZOLTSHErrStackGet();

// A count of the records made so far in this process (by ZOLTSHErrSetEx and ZOLTSHErrAppendEx).
// The stack outlives requests; comparing counts tells whether a stretch of code recorded anything.
ZOLTSH_API unsigned long long ZOLTSHErrSerialGet();

// Prints the stack for a person to `out` (standard error when null). Returns 0.
ZOLTSH_API int ZOLTSHErrPrint(FILE* out);

// The key of code's table row (null for every row but 1000), with its section ("" when none)
// stored through `section` when not null. A code without a row gives "" and leaves *section.
ZOLTSH_API const char* ZOLTSHErrGetString(int code, const char** section);

// The Drive store's last error code when it lies in 1000..1030, else `fallback`.
ZOLTSH_API int ZOLTSHErrCodeGetFromDrive(int fallback);

namespace zoltsh {

// Base of the document model's exceptions. The members are read directly by the catch sites.
class ZOLTSH_API ZoltError : public std::runtime_error {
 public:
  ZoltError(int line, const std::string& file, const std::string& message, int code);
  ~ZoltError() override;

  int line;          // source line of the throw
  std::string file;  // source file of the throw, such as "snapshot/spreadsheet"
  int code;          // error code
};

#define ZOLTSH_DECLARE_ERROR(Name, Base) \
  class ZOLTSH_API Name : public Base {  \
   public:                               \
    using Base::Base;                    \
    ~Name() override;                    \
  }

ZOLTSH_DECLARE_ERROR(ZoltDriveError, ZoltError);
ZOLTSH_DECLARE_ERROR(ZoltDriveGetError, ZoltDriveError);       // 1016 "get zoltdrive error"
ZOLTSH_DECLARE_ERROR(ZoltDriveSetError, ZoltDriveError);       // 1015 "set zoltdrive error"
ZOLTSH_DECLARE_ERROR(ZoltDriveDownloadError, ZoltDriveError);  // 1000 "download zoltdrive error"
ZOLTSH_DECLARE_ERROR(NoPassError, ZoltError);                  // 1033 "no Password"
ZOLTSH_DECLARE_ERROR(ImageNotFound, ZoltError);                // 1006 "image not found"
ZOLTSH_DECLARE_ERROR(NotValidImage, ZoltError);                // 1036
ZOLTSH_DECLARE_ERROR(InvalidParameter, ZoltError);             // 1006
ZOLTSH_DECLARE_ERROR(SheetNotFound, ZoltError);                // 1032 "sheet not found"
ZOLTSH_DECLARE_ERROR(SpreadSheetNotFound, ZoltError);          // 1031 "spreadSheet not found"
ZOLTSH_DECLARE_ERROR(RpcError, ZoltError);                     // 1000 "Failed to send " + event

#undef ZOLTSH_DECLARE_ERROR

}  // namespace zoltsh

// A failed switch of identity; carries the text of the switch, such as "RUN_AS(0, 0)".
class ZOLTSH_API runas_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~runas_error() override;
};

// Throws zoltsh::Type with the source position of the throw.
#define ZOLTSH_THROW(Type, message, code) \
  throw zoltsh::Type(__LINE__, ZOLTSH_FILE, (message), (code))
