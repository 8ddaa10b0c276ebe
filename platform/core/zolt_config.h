// Reader of the appliance's key-value configuration files ("/etc.defaults/zoltinfo.conf").
//
// Format: one `key=value` or `key="value"` per line; blank lines and lines starting with "#" are
// skipped; spaces around key and value are ignored; the last line of a key wins. Callers pass a
// real file path (resolve appliance paths with ZOLTRootPath first).
//
// Thread safety: reads the file on every call; callable from any thread.
#pragma once

#include <string>

#include "core/zolt_export.h"

// The value of `key` in `path`. False when the file cannot be read or has no such key.
ZOLT_PLATFORM_API bool ZOLTConfigGetKeyValue(const std::string& path, const std::string& key,
                                             std::string* value);

// Whether `key` in `path` has exactly `value` (false when the file or key is missing).
ZOLT_PLATFORM_API bool ZOLTConfigKeyValueIs(const std::string& path, const std::string& key,
                                            const std::string& value);
