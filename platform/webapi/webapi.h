// The web-API host's interface to its plug-in modules.
//
// The host (platform/host) loads a module with dlopen, reads its method table (GetAPITable) and,
// when the module has one, its check table (GetAPICheckTable), and serves each call of an API name,
// version and method by running the matching check function and then the handler with the same
// request and response objects. One request is served at a time per worker process, on one thread.
//
// Ownership: the host owns the request and the response for one call; handlers borrow them. A
// response callback's argument belongs to the host until the callback runs once, after the answer
// has been sent; the callback then owns (and normally deletes) it.
#pragma once

#include <json/value.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/zolt_export.h"

namespace ZOLT {

class APIRequest;
class APIResponse;

using APIHandler = void (*)(APIRequest*, APIResponse*);
using APICheckHandler = bool (*)(APIRequest*, APIResponse*);
using APICallback = void (*)(void*);

// A row of a module's method table; a row whose name is null ends the table.
struct APIHandlerInfo {
  const char* szName;
  int version;
  const char* szMethod;
  APIHandler handler;
};

// A row of a module's check table; the two last words are always 0.
struct APICheckHandlerInfo {
  const char* szName;
  int version;
  const char* szMethod;
  APICheckHandler check;
  int reserved1;
  int reserved2;
};

// Necessity of a parameter for the GetAndCheck getters.
enum APIParameterNecessity : int { API_PARAM_REQUIRED = 0, API_PARAM_OPTIONAL = 1 };

// A parameter read by a GetAndCheck getter.
template <typename T>
class APIParameter {
 public:
  APIParameter() = default;
  APIParameter(bool set, bool invalid, T value)
      : set_(set), invalid_(invalid), value_(std::move(value)) {}

  // The parameter was sent.
  bool IsSet() const { return set_; }
  // Required and absent, of the wrong type, or refused by the validator.
  bool IsInvalid() const { return invalid_; }
  // The value when set and valid, else the default.
  const T& Get() const { return (set_ && !invalid_) ? value_ : default_; }
  void SetDefault(const T& value) { default_ = value; }

 private:
  bool set_ = false;
  bool invalid_ = false;
  T value_{};
  T default_{};
};

class ZOLT_PLATFORM_API APIRequest {
 public:
  APIRequest(std::string api, int version, std::string method, Json::Value params,
             unsigned loginUid, std::string loginUserName, std::string uiLanguage = "enu",
             std::string remoteAddress = "127.0.0.1");

  const std::string& GetAPIName() const { return api_; }
  int GetAPIVersion() const { return version_; }
  const std::string& GetAPIMethod() const { return method_; }

  // The caller's login uid; all ones when unknown (share-link viewers).
  unsigned GetLoginUID() const { return loginUid_; }
  const std::string& GetLoginUserName() const { return loginUserName_; }
  const std::string& GetUILanguage() const { return uiLanguage_; }
  const std::string& GetRemoteAddress() const { return remoteAddress_; }

  bool HasParam(const std::string& name) const;
  // The parameter's value, or `def` when absent. The reference lives as long as the request or
  // `def`, whichever applies.
  const Json::Value& GetParamRef(const std::string& name, const Json::Value& def) const;
  Json::Value GetParam(const std::string& name, const Json::Value& def) const;
  const Json::Value& GetParams() const { return params_; }

  APIParameter<std::string> GetAndCheckString(
      const std::string& name, int necessity,
      const std::function<bool(const std::string&)>& validator = nullptr) const;
  APIParameter<int> GetAndCheckInt(const std::string& name, int necessity,
                                   const std::function<bool(int)>& validator = nullptr) const;
  APIParameter<Json::Value> GetAndCheckArray(
      const std::string& name, int necessity,
      const std::function<bool(const Json::Value&)>& validator = nullptr) const;
  APIParameter<Json::Value> GetAndCheckUnitArray(
      const std::string& name, int necessity,
      const std::function<bool(const Json::Value&)>& validator = nullptr) const;

 private:
  std::string api_;
  int version_;
  std::string method_;
  Json::Value params_;
  unsigned loginUid_;
  std::string loginUserName_;
  std::string uiLanguage_;
  std::string remoteAddress_;
};

class ZOLT_PLATFORM_API APIResponse {
 public:
  // The last of SetSuccess and SetError wins.
  void SetSuccess(const Json::Value& data = Json::Value());
  void SetError(int code, const Json::Value& detail = Json::Value());
  // The error code set, 0 when none.
  int GetError() const { return hasError_ ? errorCode_ : 0; }
  bool HasSuccess() const { return hasSuccess_; }
  const Json::Value& GetData() const { return data_; }
  const Json::Value& GetErrorDetail() const { return errorDetail_; }

  // Registers fn(arg) to run once after the answer went out; may be called several times.
  void SetCallbackFunc(APICallback fn, void* arg);
  const std::vector<std::pair<APICallback, void*>>& GetCallbacks() const { return callbacks_; }

  // With false, the host writes no answer of its own: what the handler writes to standard output
  // (header lines, an empty line, the body), or the file given to APIDownload, is the answer.
  void SetEnableOutput(bool enable) { outputEnabled_ = enable; }
  bool IsOutputEnabled() const { return outputEnabled_; }

  // Set by APIDownload: the file that becomes the body, its type and extra headers.
  struct Download {
    std::string path;
    std::string mimeType = "application/octet-stream";
    std::vector<std::pair<std::string, std::string>> headers;
    // The file opened by APIDownload::Output (a descriptor, closed with the last copy); the host
    // sends from it, so the file may be removed once Output returned.
    std::shared_ptr<int> fd;
  };
  Download& GetDownload() { return download_; }
  bool HasDownload() const { return hasDownload_; }
  void MarkDownload() { hasDownload_ = true; }

 private:
  bool hasSuccess_ = false;
  bool hasError_ = false;
  int errorCode_ = 0;
  Json::Value data_;
  Json::Value errorDetail_;
  std::vector<std::pair<APICallback, void*>> callbacks_;
  bool outputEnabled_ = true;
  Download download_;
  bool hasDownload_ = false;
};

// Sends a file as the answer of the response it was made for.
class ZOLT_PLATFORM_API APIDownload {
 public:
  explicit APIDownload(APIResponse* response) : response_(response) {}
  void SetMimeType(const std::string& type);
  void SetHeader(const std::string& name, const std::string& value);
  // The file at path becomes the body; false when it cannot be read.
  bool Output(const std::string& path);

 private:
  APIResponse* response_;
};

namespace HTTP {
class ZOLT_PLATFORM_API FileOutputerHelper {
 public:
  // True when the switch took effect.
  static bool SetFastOutputEnabled(bool on);
  // The current setting (process-wide; the host resets it to true before each request).
  static bool IsFastOutputEnabled();
};
}  // namespace HTTP

}  // namespace ZOLT

// Module entry points the host looks up with dlsym.
extern "C" {
using ZOLTGetAPITableFn = const ZOLT::APIHandlerInfo* (*)();
using ZOLTGetAPICheckTableFn = const ZOLT::APICheckHandlerInfo* (*)();
}
