#include "common/drive_param.h"

Json::Value GetDriveParamTmplate(unsigned requester, const std::string& objectId) {
  Json::Value request(Json::objectValue);
  request["requester"] = static_cast<Json::UInt>(requester);
  request["id"] = objectId;
  request["ns"] = "Tabvale";
  return request;
}
