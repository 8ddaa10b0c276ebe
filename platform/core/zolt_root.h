// The appliance root.
//
// Every fixed appliance path ("/var/packages/Tabvale/...", "/etc/zoltinfo.conf",
// "/tmp/.zoltsh_lock") is resolved through ZOLTRootPath, which prefixes the directory named by the
// environment variable ZOLT_ROOT. Unset or empty, the paths are the machine's own. Tests,
// benchmarks and the demo each set a root of their own so nothing touches the real /etc or /var.
// External programs ("/usr/bin/php",
// "/bin/cp") are not resolved through it.
//
// Thread safety: reads the environment on every call; callers must not change ZOLT_ROOT while other
// threads resolve paths.
#pragma once

#include <string>
#include <string_view>

#include "core/zolt_export.h"

// The root directory without a trailing slash; "" for the machine's own root.
ZOLT_PLATFORM_API std::string ZOLTRootDir();

// `path` (absolute, such as "/etc/zoltinfo.conf") below the appliance root.
ZOLT_PLATFORM_API std::string ZOLTRootPath(std::string_view path);
