// The system log.
//
// ZOLTSyslog formats like syslog(3) (printf conversions plus %m for strerror(errno)) and hands the
// line to the system log, or to the capture hook when one is installed. The hook exists for tests:
// they assert on the lines a piece of code logged without reading /var/log.
//
// Thread safety: ZOLTSyslog may be called from any thread. Install or remove the hook only while no
// other thread logs.
#pragma once

#include <syslog.h>

#include <functional>
#include <string>

#include "core/zolt_export.h"

// Receives the priority (facility bits included) and the formatted line, without a newline.
using ZOLTSyslogHook = std::function<void(int priority, const std::string& line)>;

// Installs `hook` (an empty function restores the system log) and returns the previous one.
ZOLT_PLATFORM_API ZOLTSyslogHook ZOLTSyslogSetHook(ZOLTSyslogHook hook);

// Logs one line. errno is left as the caller had it.
ZOLT_PLATFORM_API void ZOLTSyslog(int priority, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
ZOLT_PLATFORM_API void ZOLTVSyslog(int priority, const char* fmt, va_list args)
    __attribute__((format(printf, 2, 0)));
