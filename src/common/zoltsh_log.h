// Log lines of the system, in its own formats, to the system log.
//
// Every line starts with the source position "%s:%d " of the statement that logs it; the source
// file is named by its path below the source folder without extension ("sheet/sheet_copy"), which
// the build passes to each source as ZOLTSH_FILE.
//
// Checks in the procedural modules log their failures with the "Failed [...]" forms below; the
// condition text is the source text of the condition that signalled the failure, such as
// "NULL == szSQLQuery". Tests read the lines through ZOLTSyslogSetHook (core/zolt_syslog.h).
#pragma once

#include <syslog.h>

#include "common/zoltsh_export.h"
#include "core/zolt_syslog.h"

#ifndef ZOLTSH_FILE
#define ZOLTSH_FILE __FILE__
#endif

// "%s:%d " + fmt at the given priority.
#define ZOLTSH_LOG(priority, fmt, ...) \
  ZOLTSyslog(priority, "%s:%d " fmt, ZOLTSH_FILE, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define ZOLTSH_LOG_ERR(fmt, ...) ZOLTSH_LOG(LOG_ERR, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZOLTSH_LOG_WARN(fmt, ...) ZOLTSH_LOG(LOG_WARNING, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZOLTSH_LOG_INFO(fmt, ...) ZOLTSH_LOG(LOG_INFO, fmt __VA_OPT__(, ) __VA_ARGS__)

namespace zoltsh::internal {

// Logs "file:line Failed [cond], err=%m" at error priority, or with ", detail" before "err=" when
// detail is not null; when errno is set, " [err: %m]" follows and errno is reset to 0.
ZOLTSH_API void LogFailed(const char* file, int line, const char* cond, const char* detail);

// LogFailed, then records the failure on the error stack: a new stack with `code`
// (ZOLTSHErrSetEx), or, with code 0, a frame appended to the stack a callee started
// (ZOLTSHErrAppendEx).
ZOLTSH_API void RecordFailed(const char* file, int line, const char* cond, const char* detail,
                             int code);

}  // namespace zoltsh::internal

// Check-failure forms. Each evaluates `cond` once and yields it as a bool, so a check reads
//   if (ZOLTSH_FAIL_SET(NULL == szSQLQuery, ZOLTSH_ERR_ALLOC)) goto End;
// _LOG only logs; _SET logs and starts the error stack with `code`; _APPEND logs and appends a
// frame to the stack a callee started. _DETAIL forms add one detail text to the log line.
#define ZOLTSH_FAIL_LOG(cond) \
  ((cond) ? (zoltsh::internal::LogFailed(ZOLTSH_FILE, __LINE__, #cond, nullptr), true) : false)
#define ZOLTSH_FAIL_LOG_DETAIL(cond, detail) \
  ((cond) ? (zoltsh::internal::LogFailed(ZOLTSH_FILE, __LINE__, #cond, (detail)), true) : false)
#define ZOLTSH_FAIL_SET(cond, code)                                                               \
  ((cond) ? (zoltsh::internal::RecordFailed(ZOLTSH_FILE, __LINE__, #cond, nullptr, (code)), true) \
          : false)
#define ZOLTSH_FAIL_SET_DETAIL(cond, code, detail)                                                 \
  ((cond) ? (zoltsh::internal::RecordFailed(ZOLTSH_FILE, __LINE__, #cond, (detail), (code)), true) \
          : false)
#define ZOLTSH_FAIL_APPEND(cond)                                                             \
  ((cond) ? (zoltsh::internal::RecordFailed(ZOLTSH_FILE, __LINE__, #cond, nullptr, 0), true) \
          : false)
#define ZOLTSH_FAIL_APPEND_DETAIL(cond, detail)                                               \
  ((cond) ? (zoltsh::internal::RecordFailed(ZOLTSH_FILE, __LINE__, #cond, (detail), 0), true) \
          : false)
