// A worker process of the web-API host.
//
// The parent starts each worker as `zolt-webapi-host --worker-fd 3 --root DIR --module PATH...`
// with its end of a socket pair on descriptor 3 and /dev/null on standard input and output. The
// worker loads every module (dlopen), reads its method table and check table, reports
// {"ok": true} (or {"ok": false, "error": text}) and then serves one call at a time:
//   1. parent -> worker: frame {"uid", "user", "lang", "remote", "extra"?}, frame body (JSON text);
//   2. worker -> parent: frame {"status", "content_type", "headers": [[name, value]...], "fd",
//      "offset", "length"}, frame inline body, and when "fd" the descriptor of the body;
//   3. parent -> worker: one byte, 'S' when the answer went out, 'F' when it could not;
//   4. the worker runs the response callbacks (each once, in registration order) and then sends
//      'R'; only then does the parent hand it the next call.
// During a call the environment variable HTTP_X_EXTRA_AUTH_PARAMS holds the request's
// X-Extra-Auth-Params header (unset otherwise) and descriptor 1 is a fresh unnamed root-only file,
// so what a handler prints becomes its raw answer and never reaches anyone else.
//
// Failure: the worker exits when the parent goes away; a module that fails to load ends the
// worker at start.
#pragma once

#include <string>
#include <vector>

namespace ZOLT::Host {

// Directory of the capture files of standard output (root-only).
std::string OutputDir();

// Runs the worker on the channel descriptor; returns the process exit status.
int RunWorker(int channelFd, const std::vector<std::string>& modules);

}  // namespace ZOLT::Host
