// The start of every Drive request the snapshot service and the image attachments send for one
// spreadsheet: who asks, which object, and the namespace every spreadsheet lives in.
//
// Callers add what the operation needs ("field" for a read, "commit_msg" and "text" for a write).
// Never fails, never throws; any thread.
#pragma once

#include <json/value.h>

#include <string>

#include "common/zoltsh_export.h"

// {"requester": requester (unsigned), "id": objectId, "ns": "Tabvale"}.
ZOLTSH_API Json::Value GetDriveParamTmplate(unsigned requester, const std::string& objectId);
