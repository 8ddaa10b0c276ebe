// ZOLT.Tabvale.Sheet: the web-API module of the spreadsheet management pages. Its methods arrive
// with the catalogue; until then its table holds only the end row, so the host loads it and
// answers "no such method" for every call.
#include "webapi/webapi.h"

#define SHEET_EXPORT __attribute__((visibility("default")))

SHEET_EXPORT extern const ZOLT::APIHandlerInfo gTable[];
const ZOLT::APIHandlerInfo gTable[] = {
    {nullptr, 0, nullptr, nullptr},
};

extern "C" SHEET_EXPORT const ZOLT::APIHandlerInfo* GetAPITable() { return gTable; }
