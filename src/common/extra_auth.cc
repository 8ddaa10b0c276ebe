#include "common/extra_auth.h"

#include <json/value.h>

#include <cstdlib>

#include "webapi/cgi.h"

bool ZOLTSHDecodePassFromHeader(std::string& password) {
  password.clear();
  const char* header = std::getenv("HTTP_X_EXTRA_AUTH_PARAMS");
  if (header == nullptr) return true;
  std::string line = ZOLTCgiDecryptParamLine(header);
  if (line.empty()) return true;

  Json::Value items(Json::objectValue);
  size_t pos = 0;
  while (pos <= line.size()) {
    size_t amp = line.find('&', pos);
    if (amp == std::string::npos) amp = line.size();
    std::string item = line.substr(pos, amp - pos);
    size_t eq = item.find('=');
    if (eq == std::string::npos) break;
    std::string value = item.substr(eq + 1);
    ZOLTCgiDecodeParam(value);
    items[item.substr(0, eq)] = value;
    pos = amp + 1;
  }
  if (items.isMember("password") && items["password"].isString()) {
    password = items["password"].asString();
  }
  return true;
}
