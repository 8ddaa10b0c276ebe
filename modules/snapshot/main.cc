// ZOLT.Tabvale.Snapshot: the web-API module through which the collaboration server reads stored
// spreadsheets, persists editing-command batches and manages the sheets of a document.
//
// This file is the frame every method shares: the method and check tables the host reads, the
// parameter checks (error 120 with {"name", "reason"}), and the exported handlers, which run one
// SnapshotHandler method and turn whatever it throws into an error answer whose detail comes from
// the error stack. The module keeps no state between requests.
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "snapshot_handler.h"
#include "webapi/webapi.h"

#define SNAPSHOT_EXPORT __attribute__((visibility("default")))

namespace {

constexpr int kParamError = 120;

enum class ParamType { kString, kInt, kArray };

struct ParamSpec {
  const char* name;
  ParamType type;
  int necessity;
};

// Reads every parameter with its typed getter, then reports the first invalid one in order: 120
// with {"name", "reason": "type"} when it was sent, "required" when it was not.
bool CheckParams(ZOLT::APIRequest* req, ZOLT::APIResponse* resp,
                 std::initializer_list<ParamSpec> specs) {
  struct Read {
    const ParamSpec* spec;
    bool set;
    bool invalid;
  };
  std::vector<Read> reads;
  reads.reserve(specs.size());
  for (const ParamSpec& spec : specs) {
    switch (spec.type) {
      case ParamType::kString: {
        auto p = req->GetAndCheckString(spec.name, spec.necessity);
        reads.push_back({&spec, p.IsSet(), p.IsInvalid()});
        break;
      }
      case ParamType::kInt: {
        auto p = req->GetAndCheckInt(spec.name, spec.necessity);
        reads.push_back({&spec, p.IsSet(), p.IsInvalid()});
        break;
      }
      case ParamType::kArray: {
        auto p = req->GetAndCheckUnitArray(spec.name, spec.necessity);
        reads.push_back({&spec, p.IsSet(), p.IsInvalid()});
        break;
      }
    }
  }
  for (const Read& read : reads) {
    if (!read.invalid) continue;
    Json::Value detail(Json::objectValue);
    detail["name"] = read.spec->name;
    detail["reason"] = read.set ? "type" : "required";
    resp->SetError(kParamError, detail);
    return false;
  }
  return true;
}

// When `name` was sent, every element must be of the kind `isKind` accepts.
bool CheckElements(ZOLT::APIRequest* req, ZOLT::APIResponse* resp, const char* name,
                   bool (Json::Value::*isKind)() const) {
  if (!req->HasParam(name)) return true;
  for (const Json::Value& element : req->GetParamRef(name, Json::Value::nullSingleton())) {
    if (!(element.*isKind)()) {
      Json::Value detail(Json::objectValue);
      detail["name"] = name;
      detail["reason"] = "type";
      resp->SetError(kParamError, detail);
      return false;
    }
  }
  return true;
}

constexpr int kRequired = ZOLT::API_PARAM_REQUIRED;
constexpr int kOptional = ZOLT::API_PARAM_OPTIONAL;
constexpr ParamSpec kObjectId{"object_id", ParamType::kString, kRequired};
constexpr ParamSpec kPassword{"password", ParamType::kString, kOptional};

}  // namespace

// Replaces the code of an error answer by the code on the error stack, when there is one, and sets
// the error stack's detail {"zoltdrive": n}. A success answer is left alone.
SNAPSHOT_EXPORT void FillErrorDetail(ZOLT::APIResponse* resp) {
  if (resp->GetError() == 0) return;
  int code = resp->GetError();
  if (ZOLTSHErrCodeGet() > 0) code = ZOLTSHErrCodeGet();
  resp->SetError(code, ZOLTSHErrMsgGet(true));
}

namespace {

// Runs one SnapshotHandler method and answers for whatever it throws.
void RunHandler(ZOLT::APIRequest* req, ZOLT::APIResponse* resp,
                void (zoltsh::webapi_handler::SnapshotHandler::*method)()) {
  // The error stack is process-wide and a worker serves many requests: a code an earlier request
  // left on it must not replace the code of this request's failure.
  const unsigned long long serialBefore = ZOLTSHErrSerialGet();
  try {
    zoltsh::webapi_handler::SnapshotHandler handler(req, resp);
    (handler.*method)();
  } catch (const zoltsh::ZoltError& e) {
    ZOLTSyslog(LOG_ERR, "%s:%d %s", e.file.c_str(), e.line, e.what());
    resp->SetError(e.code, Json::Value());
  } catch (const std::exception& e) {
    ZOLTSH_LOG_ERR("error: %s", e.what());
    resp->SetError(ZOLTSH_ERR_OPERATION_FAILED, Json::Value());
  } catch (...) {
    ZOLTSH_LOG_ERR("error: %s", "unknown exception");
    resp->SetError(ZOLTSH_ERR_OPERATION_FAILED, Json::Value());
  }
  if (resp->GetError() != 0 && ZOLTSHErrSerialGet() == serialBefore) {
    // Nothing was recorded during this request: keep its own code, add the detail.
    resp->SetError(resp->GetError(), ZOLTSHErrMsgGet(false));
    return;
  }
  FillErrorDetail(resp);
}

}  // namespace

using zoltsh::webapi_handler::SnapshotHandler;

SNAPSHOT_EXPORT void Create_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::Create_v1);
}
SNAPSHOT_EXPORT void UpdateIndex_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::UpdateIndex_v1);
}
SNAPSHOT_EXPORT void GetSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::GetSheet_v1);
}
SNAPSHOT_EXPORT void CreateSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::CreateSheet_v1);
}
SNAPSHOT_EXPORT void DeleteSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::DeleteSheet_v1);
}
SNAPSHOT_EXPORT void UpdateSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::UpdateSheet_v1);
}
SNAPSHOT_EXPORT void DupSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::DupSheet_v1);
}
SNAPSHOT_EXPORT void RecoverSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::RecoverSheet_v1);
}
SNAPSHOT_EXPORT void GetHistory_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::GetHistory_v1);
}
SNAPSHOT_EXPORT void ListEditor_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  RunHandler(req, resp, &SnapshotHandler::ListEditor_v1);
}

SNAPSHOT_EXPORT bool CheckCreate_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId,
                      {"commands", ParamType::kArray, kOptional},
                      {"queue_file", ParamType::kString, kOptional},
                      kPassword}) &&
         CheckElements(req, resp, "commands", &Json::Value::isObject);
}
SNAPSHOT_EXPORT bool CheckUpdateIndex_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp, {kObjectId, {"order", ParamType::kArray, kOptional}, kPassword}) &&
         CheckElements(req, resp, "order", &Json::Value::isString);
}
SNAPSHOT_EXPORT bool CheckGetSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId, {"sheet_id", ParamType::kString, kOptional}, kPassword});
}
SNAPSHOT_EXPORT bool CheckCreateSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp, {kObjectId, {"title", ParamType::kString, kOptional}, kPassword});
}
SNAPSHOT_EXPORT bool CheckUpdateSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId,
                      {"sheet_id", ParamType::kString, kRequired},
                      {"title", ParamType::kString, kOptional},
                      kPassword});
}
SNAPSHOT_EXPORT bool CheckDupSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId,
                      {"sheet_id", ParamType::kString, kRequired},
                      {"title", ParamType::kString, kRequired},
                      kPassword});
}
SNAPSHOT_EXPORT bool CheckRecoverSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId,
                      {"sheet_id", ParamType::kString, kRequired},
                      {"pos", ParamType::kInt, kOptional},
                      kPassword});
}
SNAPSHOT_EXPORT bool CheckDeleteSheet_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp,
                     {kObjectId, {"sheet_id", ParamType::kString, kRequired}, kPassword});
}
SNAPSHOT_EXPORT bool CheckGetHistory_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp, {kObjectId, {"ver", ParamType::kString, kRequired}, kPassword});
}
SNAPSHOT_EXPORT bool CheckListEditor_v1(ZOLT::APIRequest* req, ZOLT::APIResponse* resp) {
  return CheckParams(req, resp, {kObjectId, kPassword});
}

SNAPSHOT_EXPORT extern const ZOLT::APIHandlerInfo gTable[];
const ZOLT::APIHandlerInfo gTable[] = {
    {"ZOLT.Tabvale.Snapshot", 1, "create", Create_v1},
    {"ZOLT.Tabvale.Snapshot", 1, "update", UpdateIndex_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "get", GetSheet_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "create", CreateSheet_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "delete", DeleteSheet_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "update", UpdateSheet_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "dup", DupSheet_v1},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "recover", RecoverSheet_v1},
    {"ZOLT.Tabvale.Snapshot.History", 1, "get", GetHistory_v1},
    {"ZOLT.Tabvale.Snapshot.Editor", 1, "list", ListEditor_v1},
    {nullptr, 0, nullptr, nullptr},
};

SNAPSHOT_EXPORT extern const ZOLT::APICheckHandlerInfo gCheckTable[];
const ZOLT::APICheckHandlerInfo gCheckTable[] = {
    {"ZOLT.Tabvale.Snapshot", 1, "create", CheckCreate_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot", 1, "update", CheckUpdateIndex_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "get", CheckGetSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "create", CheckCreateSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "update", CheckUpdateSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "dup", CheckDupSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "recover", CheckRecoverSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Sheet", 1, "delete", CheckDeleteSheet_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.History", 1, "get", CheckGetHistory_v1, 0, 0},
    {"ZOLT.Tabvale.Snapshot.Editor", 1, "list", CheckListEditor_v1, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0},
};

extern "C" {
SNAPSHOT_EXPORT const ZOLT::APIHandlerInfo* GetAPITable() { return gTable; }
SNAPSHOT_EXPORT const ZOLT::APICheckHandlerInfo* GetAPICheckTable() { return gCheckTable; }
}
