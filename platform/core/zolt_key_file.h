// Secret keys of the platform stand-ins (the reversible string encryption, the extra-auth line).
//
// A key lives in a file of its own under the appliance root: exactly `len` random bytes, mode 0600,
// in a directory of mode 0700, made at first use. The file is created beside its final name with
// O_EXCL|O_NOFOLLOW, synced, and linked into place, so two processes racing to make it agree on
// one key. A key file that is not a regular file, is readable by others or has the wrong size is
// refused. Loaded keys are cached per path for the life of the process, so a caller keeps its key
// after switching to an identity that cannot read the file.
//
// Thread safety: any thread. errno is left as the caller had it.
#pragma once

#include <cstddef>
#include <string>

#include "core/zolt_export.h"

// Fills key[0..len) with the key kept at path, making it when there is none. False (and a log
// line) when it can be neither read nor made.
ZOLT_PLATFORM_API bool ZOLTKeyFileGet(const std::string& path, unsigned char* key, size_t len);
