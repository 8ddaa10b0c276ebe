// The process runner: starts an external program from an argument vector and waits for it.
//
// argv[0] is the program's path; the program is started with execv (no shell, no PATH search), so
// no argument is ever interpreted. The child inherits the caller's effective identity, working
// directory and environment; the descriptors the caller opened close-on-exec are not inherited.
//
// Thread safety: callable from any thread. Waits for its own child only.
#pragma once

#include <string>
#include <vector>

#include "core/zolt_export.h"

// Runs argv and waits. Returns 0 when the program exited with status 0; -1 when it could not be
// started, was killed by a signal or exited with another status. *exitStatus (when not null)
// receives the exit status, or -1 when there is none.
ZOLT_PLATFORM_API int ZOLTExecWait(const std::vector<std::string>& argv, int* exitStatus = nullptr);
