// Fault seam of the Drive object store, for tests.
//
// The store calls the installed hook at each durable step of a write, naming the step:
//   "text-staged"       one text key or metabinary file of the new version was written and fsynced
//                       into the version's staging directory (once per file)
//   "version-staged"    the staging directory is complete and fsynced, not yet renamed into place
//   "version-published" the staging directory was renamed to its version name; HEAD still names
//                       the previous version
//   "head-staged"       the new HEAD was written to its temporary file and fsynced, not yet renamed
//   "settings-staged"   the same for a namespace's settings file
// A hook that returns false makes that step fail as an I/O error (code 1000): the write is undone
// and the previous version stays current. A hook may also block, so that a test can kill the
// process in the middle of a write. Without a hook every step proceeds.
//
// Thread safety: install or remove the hook only while no other thread uses the store.
#pragma once

#include <functional>

#include "core/zolt_export.h"

using ZOLTDriveFaultHook = std::function<bool(const char* stage)>;

// Installs `hook` (an empty function removes it) and returns the previous one.
ZOLT_PLATFORM_API ZOLTDriveFaultHook ZOLTDriveSetFaultHook(ZOLTDriveFaultHook hook);
