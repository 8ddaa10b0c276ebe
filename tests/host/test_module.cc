// A web-API module for the host's tests: one method per behaviour the host must handle.
// API "Test.Host" version 1 (the method "versioned" also exists in version 2), plus the two
// share-link methods of the host's allow-list, which report who called them.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "webapi/cgi.h"
#include "webapi/webapi.h"

namespace {

using ZOLT::APIRequest;
using ZOLT::APIResponse;

Json::Value Caller(APIRequest* req) {
  Json::Value out(Json::objectValue);
  out["uid"] = req->GetLoginUID();
  out["user"] = req->GetLoginUserName();
  out["pid"] = static_cast<int>(::getpid());
  return out;
}

void Echo(APIRequest* req, APIResponse* res) {
  Json::Value out = Caller(req);
  out["params"] = req->GetParams();
  out["lang"] = req->GetUILanguage();
  res->SetSuccess(out);
}

void Error(APIRequest* req, APIResponse* res) {
  res->SetSuccess(Json::Value("overridden"));
  res->SetError(req->GetParam("code", 117).asInt(), req->GetParam("detail", Json::Value()));
}

void NoAnswer(APIRequest*, APIResponse* res) { res->SetEnableOutput(true); }

void Throw(APIRequest*, APIResponse* res) {
  res->SetSuccess();
  throw std::runtime_error("thrown by the test module");
}

void Abort(APIRequest*, APIResponse*) { std::abort(); }

void Crash(APIRequest*, APIResponse*) { ::raise(SIGSEGV); }

// Writes a CGI-style answer to standard output through the channel named by "via".
void Raw(APIRequest* req, APIResponse* res) {
  res->SetEnableOutput(false);
  std::string via = req->GetParam("via", "stdio").asString();
  std::string text =
      "Status: 201 Created\r\nContent-Type: text/plain\r\nX-Test: raw\r\n\r\nhello raw " + via;
  if (via == "stdio") {
    std::printf("%s", text.c_str());
  } else if (via == "cout") {
    std::cout << text;
  } else if (via == "fd") {
    std::fflush(stdout);
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) return;
  } else if (via == "noheader") {
    std::printf("just a body without headers");
  }
  res->SetSuccess();
}

// Prints without switching output off: the answer stays JSON and the text goes nowhere.
void Chatty(APIRequest*, APIResponse* res) {
  std::printf("stray output\n");
  std::cout << "more stray output" << std::endl;
  res->SetSuccess(Json::Value("json"));
}

void Download(APIRequest* req, APIResponse* res) {
  res->SetEnableOutput(false);
  ZOLT::HTTP::FileOutputerHelper::SetFastOutputEnabled(false);
  ZOLT::APIDownload download(res);
  download.SetMimeType("application/json");
  download.SetHeader("X-Spreadsheet-Sheet-Id", "sh_7");
  std::string path = req->GetParam("path", "").asString();
  if (!download.Output(path)) {
    res->SetError(117);
    return;
  }
  if (req->GetParam("remove", false).asBool()) std::filesystem::remove(path);
  res->SetSuccess();
}

// Callback argument: where to wait and where to record.
struct Gate {
  std::string gate;
  std::string marker;
  std::string label;
};

// Waits (up to 10 s) for the test to create the gate file, which it does only after it received
// the answer, then appends a line to the marker file.
void GateCallback(void* arg) {
  std::unique_ptr<Gate> gate(static_cast<Gate*>(arg));
  const char* outcome = "timeout";
  for (int i = 0; i < 1000; ++i) {
    if (std::filesystem::exists(gate->gate)) {
      outcome = "after";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ofstream(gate->marker, std::ios::app) << gate->label << " " << outcome << "\n";
}

void Callback(APIRequest* req, APIResponse* res) {
  for (const char* label : {"first", "second"}) {
    res->SetCallbackFunc(GateCallback, new Gate{req->GetParam("gate", "").asString(),
                                                req->GetParam("marker", "").asString(), label});
  }
  if (req->GetParam("fail", false).asBool()) {
    res->SetError(118);
  } else {
    res->SetSuccess(Json::Value("registered"));
  }
}

void ReadFile(APIRequest* req, APIResponse* res) {
  std::ifstream in(req->GetParam("path", "").asString());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  res->SetSuccess(Json::Value(text));
}

void Extra(APIRequest*, APIResponse* res) {
  Json::Value out(Json::objectValue);
  const char* env = std::getenv("HTTP_X_EXTRA_AUTH_PARAMS");
  if (env != nullptr) {
    out["env"] = env;
    out["plain"] = ZOLTCgiDecryptParamLine(env);
  }
  res->SetSuccess(out);
}

void Sleep(APIRequest* req, APIResponse* res) {
  std::this_thread::sleep_for(std::chrono::milliseconds(req->GetParam("ms", 0).asInt()));
  res->SetSuccess(Caller(req));
}

void Versioned1(APIRequest*, APIResponse* res) { res->SetSuccess(1); }
void Versioned2(APIRequest*, APIResponse* res) { res->SetSuccess(2); }

// Parameter check in the modules' style: the first invalid parameter answers 120.
bool CheckChecked(APIRequest* req, APIResponse* res) {
  auto name = req->GetAndCheckString("name", ZOLT::API_PARAM_REQUIRED);
  auto count = req->GetAndCheckInt("count", ZOLT::API_PARAM_OPTIONAL, [](int v) { return v >= 0; });
  auto list = req->GetAndCheckUnitArray("list", ZOLT::API_PARAM_OPTIONAL);
  for (auto [param, invalid, set] : {std::tuple{"name", name.IsInvalid(), name.IsSet()},
                                     std::tuple{"count", count.IsInvalid(), count.IsSet()},
                                     std::tuple{"list", list.IsInvalid(), list.IsSet()}}) {
    if (invalid) {
      Json::Value detail(Json::objectValue);
      detail["name"] = param;
      detail["reason"] = set ? "type" : "required";
      res->SetError(120, detail);
      return false;
    }
  }
  return true;
}

void Checked(APIRequest* req, APIResponse* res) {
  Json::Value out(Json::objectValue);
  out["name"] = req->GetAndCheckString("name", 0).Get();
  out["count"] = req->GetAndCheckInt("count", 1).Get();
  res->SetSuccess(out);
}

void ShareLink(APIRequest* req, APIResponse* res) { res->SetSuccess(Caller(req)); }

const ZOLT::APIHandlerInfo gTable[] = {
    {"Test.Host", 1, "echo", Echo},
    {"Test.Host", 1, "error", Error},
    {"Test.Host", 1, "none", NoAnswer},
    {"Test.Host", 1, "throw", Throw},
    {"Test.Host", 1, "abort", Abort},
    {"Test.Host", 1, "crash", Crash},
    {"Test.Host", 1, "raw", Raw},
    {"Test.Host", 1, "chatty", Chatty},
    {"Test.Host", 1, "download", Download},
    {"Test.Host", 1, "callback", Callback},
    {"Test.Host", 1, "read", ReadFile},
    {"Test.Host", 1, "extra", Extra},
    {"Test.Host", 1, "sleep", Sleep},
    {"Test.Host", 1, "checked", Checked},
    {"Test.Host", 1, "versioned", Versioned1},
    {"Test.Host", 2, "versioned", Versioned2},
    {"ZOLT.Tabvale.Sheet", 1, "get", ShareLink},
    {"ZOLT.Tabvale.Sheet", 1, "list", ShareLink},
    {"ZOLT.Tabvale.Sheet.Encrypt", 1, "check", ShareLink},
    {nullptr, 0, nullptr, nullptr},
};

const ZOLT::APICheckHandlerInfo gCheckTable[] = {
    {"Test.Host", 1, "checked", CheckChecked, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0},
};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) const ZOLT::APIHandlerInfo* GetAPITable() { return gTable; }
__attribute__((visibility("default"))) const ZOLT::APICheckHandlerInfo* GetAPICheckTable() {
  return gCheckTable;
}
}
