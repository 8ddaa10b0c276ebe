// The Drive object store's last error code.
//
// Every failing store operation records its code here before it returns false; a successful one
// leaves the previous code alone, as the appliance's store does. The code is process-wide: the
// web-API host serves one request at a time per process.
#pragma once

#include "core/zolt_export.h"

ZOLT_PLATFORM_API int ZOLTDriveErrCodeGet();
ZOLT_PLATFORM_API void ZOLTDriveErrCodeSet(int code);
