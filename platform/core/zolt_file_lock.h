// Timed exclusive file lock.
//
// The lock is an flock(2) lock on an open file: it belongs to the descriptor, so closing it (or the
// death of the process) releases it. The lock file is opened read-only, created mode 0644 when
// missing, never truncated, never through a symbolic link (O_NOFOLLOW), close-on-exec, and must be
// a regular file.
//
// Thread safety: callable from any thread; a descriptor belongs to its caller.
#pragma once

#include <string>

#include "core/zolt_export.h"

// Opens (creating if needed) the lock file `path`. Returns the descriptor, or -1 with errno set.
ZOLT_PLATFORM_API int ZOLTFileLockOpen(const std::string& path);

// Takes an exclusive lock on `fd`, waiting at most `timeoutUs` microseconds (0 or less: one try).
// True when the lock is held.
ZOLT_PLATFORM_API bool ZOLTFileLockWait(int fd, long long timeoutUs);

// ZOLTFileLockOpen, then ZOLTFileLockWait. Returns the locked descriptor (the caller unlocks and
// closes it), or -1 when the file cannot be opened or the lock is not obtained in time.
ZOLT_PLATFORM_API int ZOLTFileLockTimed(const std::string& path, long long timeoutUs);
