#include "drive/drive_error.h"

namespace {
int g_lastError = 0;
std::string& LastMessage() {
  static std::string message;
  return message;
}
}  // namespace

int ZOLTDriveErrCodeGet() { return g_lastError; }

void ZOLTDriveErrCodeSet(int code) {
  g_lastError = code;
  LastMessage().clear();
}

std::string ZOLTDriveErrMsgGet() { return LastMessage(); }

void ZOLTDriveErrSet(int code, const std::string& message) {
  g_lastError = code;
  LastMessage() = message;
}
