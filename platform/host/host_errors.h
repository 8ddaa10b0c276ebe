// Error codes the host itself answers with, before or around a module's handler. Module codes
// (120, 1000 and up, ...) pass through unchanged. The table is kept in platform/host/README.md.
#pragma once

namespace ZOLT::Host {

enum HostError : int {
  kErrInternal = 100,      // the host could not serve the call (no worker, I/O failure)
  kErrBadRequest = 101,    // body not a JSON object, or "api"/"version"/"method"/"params" wrong
  kErrNoSuchAPI = 102,     // no module serves this API name
  kErrNoSuchMethod = 103,  // the API has no such method
  kErrBadVersion = 104,    // the API and method exist, but not in this version
  kErrWorkerDied = 106,    // the worker serving the call died (crash, abort, kill)
  kErrHandlerThrew = 107,  // an exception left the check function or the handler
  kErrNoAnswer = 108,      // the handler set neither success nor error
  kErrBadRawOutput = 109,  // raw output without a header block, or with a malformed header
  kErrTooLarge = 111,      // the request body is over the limit (HTTP status 413)
  kErrNoSession = 119,     // no session, or an unknown, expired or malformed sid
  kErrLoginFailed = 400,   // unknown account or wrong password
};

}  // namespace ZOLT::Host
