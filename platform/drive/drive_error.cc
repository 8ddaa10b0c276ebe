#include "drive/drive_error.h"

namespace {
int g_lastError = 0;
}

int ZOLTDriveErrCodeGet() { return g_lastError; }
void ZOLTDriveErrCodeSet(int code) { g_lastError = code; }
