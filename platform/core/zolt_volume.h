// The appliance's volumes.
//
// The stand-in keeps the list of volumes in the file "/etc/zoltvolumes.conf" below the appliance
// root: one mount path per line ("/volume1"), itself below the root; blank lines and lines starting
// with "#" are skipped. A volume is usable when its mount path is a directory. Each volume carries
// a "@tmp" folder directly under its mount path, made by whoever adds the volume.
//
// Thread safety: reads the list on every call; callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/zolt_export.h"

// The appliance path of the volume list.
inline constexpr const char* kZOLTVolumeListPath = "/etc/zoltvolumes.conf";

// The real paths (below the root) of the usable volumes, in list order.
ZOLT_PLATFORM_API std::vector<std::string> ZOLTVolumeList();

// The first usable volume whose file system has at least `minFree` bytes available to unprivileged
// users (statvfs f_bavail); its real mount path goes to *mountPath. False when none qualifies.
ZOLT_PLATFORM_API bool ZOLTVolumeFindWithFreeSpace(unsigned long long minFree,
                                                   std::string* mountPath);
