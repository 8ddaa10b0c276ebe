// The access token of the collaboration server.
//
// The collaboration server writes its token to "/var/run/spreadsheet_token" (below the appliance
// root), readable by root only; the token is the whole file content as it is, line end included.
//
// Failure: a missing or unreadable file gives an empty token and logs
// "Failed to get access toekn: <reason>". Never throws.
// Thread safety: switches the process's effective ids to root while it reads (every thread of the
// process sees the switch); call it from the one thread that handles the request.
#pragma once

#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh {

// Reads the token file at `path` as root.
ZOLTSH_API std::string SioReadToken(const std::string& path);

}  // namespace zoltsh
