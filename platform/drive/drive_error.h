// The Drive object store's last error code and message.
//
// Every failing store operation records its code (and a one-line description) here before it
// returns false; a successful one leaves the previous code alone, as the appliance's store does.
// The codes share the system's error number space, so a caller that maps the store's code onto its
// own answer (the handler frames do) reports something meaningful:
//   1000 ZOLT_DRIVE_ERR_IO         reading or writing the store's files failed
//   1006 ZOLT_DRIVE_ERR_BAD_REQUEST a request member is missing, of the wrong type or out of range
//   1007 ZOLT_DRIVE_ERR_NOT_FOUND   no such object, version, text key or metabinary file
//   1012 ZOLT_DRIVE_ERR_PERMISSION  the requester's right on the object is too low
//   1014 ZOLT_DRIVE_ERR_EXISTS      Create with an id that is already taken
//
// The code is process-wide: the web-API host serves one request at a time per process. The message
// is for operators (the command-line tool prints it); callers must not parse it.
#pragma once

#include <string>

#include "core/zolt_export.h"

enum ZOLTDriveErr : int {
  ZOLT_DRIVE_ERR_NONE = 0,
  ZOLT_DRIVE_ERR_IO = 1000,
  ZOLT_DRIVE_ERR_BAD_REQUEST = 1006,
  ZOLT_DRIVE_ERR_NOT_FOUND = 1007,
  ZOLT_DRIVE_ERR_PERMISSION = 1012,
  ZOLT_DRIVE_ERR_EXISTS = 1014,
};

ZOLT_PLATFORM_API int ZOLTDriveErrCodeGet();
ZOLT_PLATFORM_API void ZOLTDriveErrCodeSet(int code);

// The description recorded with the last failure ("" after ZOLTDriveErrCodeSet alone).
ZOLT_PLATFORM_API std::string ZOLTDriveErrMsgGet();
// Records code and message together; what every failing operation of the store calls.
ZOLT_PLATFORM_API void ZOLTDriveErrSet(int code, const std::string& message);
