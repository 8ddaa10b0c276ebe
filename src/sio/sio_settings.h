// Where and how long the collaboration link talks to the collaboration server.
//
// The defaults are the appliance's fixed values: plain WebSocket to 127.0.0.1 port 3001, the token
// file "/var/run/spreadsheet_token" below the appliance root, 20 seconds to connect, 3 reconnect
// attempts. Tests, tools and the demo may change them for the whole process:
// - SioSetSettings (in-process callers, such as tests);
// - the environment, read when the settings are first used: ZOLTSH_SIO_PORT (the port) and
//   ZOLTSH_SIO_WAIT_LIMIT_MS (an upper bound of every connection and acknowledgement wait), so
//   that a host process started by a test reaches that test's server.
//
// Thread safety: SioGetSettings and SioSetSettings may be called from any thread.
#pragma once

#include <chrono>
#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh {

struct SioSettings {
  std::string address = "127.0.0.1";
  unsigned short port = 3001;
  // The token file; empty: ZOLTRootPath("/var/run/spreadsheet_token"), resolved at each read.
  std::string tokenFile;
  std::chrono::milliseconds connectWait{20000};
  // Upper bound of every acknowledgement wait; zero: none (the callers' timeouts apply).
  std::chrono::milliseconds waitLimit{0};
  unsigned reconnectAttempts = 3;
  std::chrono::milliseconds reconnectDelay{500};
};

ZOLTSH_API SioSettings SioGetSettings();
ZOLTSH_API void SioSetSettings(const SioSettings& settings);
// Back to the defaults (and the environment).
ZOLTSH_API void SioResetSettings();

}  // namespace zoltsh
