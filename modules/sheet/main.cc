// ZOLT.Tabvale.Sheet: the web-API module of the spreadsheet management pages. Its method tables
// arrive with the catalogue.
#include "common/zoltsh_error.h"

extern "C" __attribute__((visibility("default"))) const char* ZOLTSHSheetModuleName() {
  return "ZOLT.Tabvale.Sheet";
}
