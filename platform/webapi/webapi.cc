// Request, response and download objects that the host hands to module handlers.
#include "webapi/webapi.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <climits>
#include <memory>

namespace ZOLT {

APIRequest::APIRequest(std::string api, int version, std::string method, Json::Value params,
                       unsigned loginUid, std::string loginUserName, std::string uiLanguage,
                       std::string remoteAddress)
    : api_(std::move(api)),
      version_(version),
      method_(std::move(method)),
      params_(std::move(params)),
      loginUid_(loginUid),
      loginUserName_(std::move(loginUserName)),
      uiLanguage_(std::move(uiLanguage)),
      remoteAddress_(std::move(remoteAddress)) {}

bool APIRequest::HasParam(const std::string& name) const {
  return params_.isObject() && params_.isMember(name);
}

const Json::Value& APIRequest::GetParamRef(const std::string& name, const Json::Value& def) const {
  if (!params_.isObject()) return def;
  const Json::Value* found = params_.find(name.data(), name.data() + name.size());
  return found != nullptr ? *found : def;
}

Json::Value APIRequest::GetParam(const std::string& name, const Json::Value& def) const {
  return GetParamRef(name, def);
}

namespace {

// Shared shape of the typed getters: absent is invalid only when required; present but of the
// wrong kind or refused by the validator is invalid.
template <typename T, typename Convert, typename Validator>
APIParameter<T> GetAndCheck(const APIRequest& request, const std::string& name, int necessity,
                            Convert convert, const Validator& validator) {
  if (!request.HasParam(name)) {
    return APIParameter<T>(false, necessity == API_PARAM_REQUIRED, T{});
  }
  T value{};
  if (!convert(request.GetParamRef(name, Json::Value::nullSingleton()), value)) {
    return APIParameter<T>(true, true, T{});
  }
  if (validator && !validator(value)) return APIParameter<T>(true, true, std::move(value));
  return APIParameter<T>(true, false, std::move(value));
}

}  // namespace

APIParameter<std::string> APIRequest::GetAndCheckString(
    const std::string& name, int necessity,
    const std::function<bool(const std::string&)>& validator) const {
  return GetAndCheck<std::string>(
      *this, name, necessity,
      [](const Json::Value& v, std::string& out) {
        if (!v.isString()) return false;
        out = v.asString();
        return true;
      },
      validator);
}

APIParameter<int> APIRequest::GetAndCheckInt(const std::string& name, int necessity,
                                             const std::function<bool(int)>& validator) const {
  return GetAndCheck<int>(
      *this, name, necessity,
      [](const Json::Value& v, int& out) {
        // Only JSON integers within int range; 2.5, "2" and true are of the wrong type.
        if (v.type() != Json::intValue && v.type() != Json::uintValue) return false;
        if (!v.isInt()) return false;
        out = v.asInt();
        return true;
      },
      validator);
}

APIParameter<Json::Value> APIRequest::GetAndCheckArray(
    const std::string& name, int necessity,
    const std::function<bool(const Json::Value&)>& validator) const {
  return GetAndCheck<Json::Value>(
      *this, name, necessity,
      [](const Json::Value& v, Json::Value& out) {
        if (!v.isArray()) return false;
        out = v;
        return true;
      },
      validator);
}

APIParameter<Json::Value> APIRequest::GetAndCheckUnitArray(
    const std::string& name, int necessity,
    const std::function<bool(const Json::Value&)>& validator) const {
  return GetAndCheckArray(name, necessity, validator);
}

void APIResponse::SetSuccess(const Json::Value& data) {
  hasSuccess_ = true;
  hasError_ = false;
  errorCode_ = 0;
  data_ = data;
  errorDetail_ = Json::Value();
}

void APIResponse::SetError(int code, const Json::Value& detail) {
  hasError_ = true;
  hasSuccess_ = false;
  errorCode_ = code;
  errorDetail_ = detail;
  data_ = Json::Value();
}

void APIResponse::SetCallbackFunc(APICallback fn, void* arg) {
  if (fn != nullptr) callbacks_.emplace_back(fn, arg);
}

void APIDownload::SetMimeType(const std::string& type) { response_->GetDownload().mimeType = type; }

void APIDownload::SetHeader(const std::string& name, const std::string& value) {
  response_->GetDownload().headers.emplace_back(name, value);
}

bool APIDownload::Output(const std::string& path) {
  // The file is opened now, by the identity the handler runs as, and the host sends from this
  // descriptor: a file the handler removes or replaces afterwards still goes out as it was.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  APIResponse::Download& download = response_->GetDownload();
  download.path = path;
  download.fd = std::shared_ptr<int>(new int(fd), [](int* p) {
    ::close(*p);
    delete p;
  });
  response_->MarkDownload();
  return true;
}

namespace HTTP {
namespace {
bool gFastOutput = true;
}

bool FileOutputerHelper::SetFastOutputEnabled(bool on) {
  // The host always sends downloads from the descriptor, so both modes are available.
  gFastOutput = on;
  return true;
}

bool FileOutputerHelper::IsFastOutputEnabled() { return gFastOutput; }
}  // namespace HTTP

}  // namespace ZOLT
