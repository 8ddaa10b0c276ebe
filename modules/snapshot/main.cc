// ZOLT.Tabvale.Snapshot: the web-API module through which the collaboration server persists
// editing-command batches. Its method tables arrive with the web-API host.
#include "common/zoltsh_error.h"

extern "C" __attribute__((visibility("default"))) const char* ZOLTSHSnapshotModuleName() {
  return "ZOLT.Tabvale.Snapshot";
}
