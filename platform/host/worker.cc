#include "host/worker.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "core/zolt_fd.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "host/channel.h"
#include "host/host_errors.h"
#include "json/json_text.h"
#include "webapi/cgi.h"
#include "webapi/webapi.h"

namespace ZOLT::Host {
namespace {

constexpr char kExtraAuthEnv[] = "HTTP_X_EXTRA_AUTH_PARAMS";
constexpr size_t kMaxHeaderBlock = 64 * 1024;

using Fd = ZOLTUniqueFd;

struct Row {
  APIHandler handler = nullptr;
  APICheckHandler check = nullptr;
};

using Key = std::tuple<std::string, int, std::string>;

struct Table {
  std::map<Key, Row> rows;
  std::set<std::string> apis;
  std::set<std::pair<std::string, std::string>> methods;
};

struct DlClose {
  void operator()(void* handle) const { ::dlclose(handle); }
};

bool LoadModules(const std::vector<std::string>& modules, Table& table,
                 std::vector<std::unique_ptr<void, DlClose>>& handles, std::string& error) {
  for (const std::string& path : modules) {
    std::unique_ptr<void, DlClose> handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
      const char* why = ::dlerror();
      error = "cannot load " + path + ": " + (why ? why : "?");
      return false;
    }
    auto getTable = reinterpret_cast<ZOLTGetAPITableFn>(::dlsym(handle.get(), "GetAPITable"));
    auto getCheck =
        reinterpret_cast<ZOLTGetAPICheckTableFn>(::dlsym(handle.get(), "GetAPICheckTable"));
    if (getTable == nullptr) {
      error = path + " has no GetAPITable";
      return false;
    }
    for (const APIHandlerInfo* info = getTable(); info != nullptr && info->szName != nullptr;
         ++info) {
      if (info->szMethod == nullptr || info->handler == nullptr) continue;
      Key key{info->szName, info->version, info->szMethod};
      if (table.rows.count(key) && table.rows[key].handler != nullptr) {
        ZOLTSyslog(LOG_WARNING, "host/worker:%d %s %d %s served twice; the first module wins",
                   __LINE__, info->szName, info->version, info->szMethod);
        continue;
      }
      table.rows[key].handler = info->handler;
      table.apis.insert(info->szName);
      table.methods.emplace(info->szName, info->szMethod);
    }
    if (getCheck != nullptr) {
      for (const APICheckHandlerInfo* info = getCheck(); info != nullptr && info->szName != nullptr;
           ++info) {
        if (info->szMethod == nullptr || info->check == nullptr) continue;
        Key key{info->szName, info->version, info->szMethod};
        if (table.rows[key].check == nullptr) table.rows[key].check = info->check;
      }
    }
    handles.push_back(std::move(handle));
  }
  return true;
}

Json::Value ErrorBody(int code, const Json::Value& detail) {
  Json::Value body(Json::objectValue);
  body["success"] = false;
  body["error"]["code"] = code;
  if (!detail.isNull()) body["error"]["errors"] = detail;
  return body;
}

// What the worker sends back for one call.
struct Answer {
  int status = 200;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int fd = -1;  // borrowed: body from this descriptor instead of `body`
  off_t offset = 0;
  off_t length = 0;
};

Answer JsonAnswer(const Json::Value& body) {
  Answer answer;
  answer.body = Json::toString(body);
  return answer;
}

Answer ErrorAnswer(int code, const Json::Value& detail = Json::Value()) {
  return JsonAnswer(ErrorBody(code, detail));
}

bool ValidHeaderName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!(std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) !=
                                 std::string_view::npos)) {
      return false;
    }
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Parses the CGI-style header block at the start of the capture file: header lines ("Status:"
// sets the status), an empty line, then the body.
bool ParseRawOutput(int fd, Answer& answer) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::string head(std::min<off_t>(st.st_size, kMaxHeaderBlock), '\0');
  if (::pread(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size())) return false;
  size_t pos = 0;
  answer.contentType = "text/plain";
  for (;;) {
    size_t eol = head.find('\n', pos);
    if (eol == std::string::npos) return false;
    std::string line = head.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string name = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (!ValidHeaderName(name)) return false;
    for (unsigned char c : value) {
      if (c < 0x20 && c != '\t') return false;
    }
    std::string lower = Lower(name);
    if (lower == "status") {
      int status = std::atoi(value.c_str());
      if (status < 100 || status > 599) return false;
      answer.status = status;
    } else if (lower == "content-type") {
      answer.contentType = value;
    } else if (lower == "content-length" || lower == "transfer-encoding" || lower == "connection") {
      // framing is the host's
    } else {
      answer.headers.emplace_back(name, value);
    }
  }
  answer.offset = static_cast<off_t>(pos);
  answer.length = st.st_size - answer.offset;
  answer.fd = fd;
  return true;
}

// Opens an unnamed root-only file for one call's standard output.
int OpenCaptureFile() {
  std::string dir = OutputDir();
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // File systems without O_TMPFILE: a named file made exclusively and removed at once.
  char name[64];
  std::snprintf(name, sizeof(name), "/out-%d-%ld", static_cast<int>(::getpid()),
                static_cast<long>(::random()));
  std::string path = dir + name;
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

// Standard output of the worker goes to `fd` while the object lives, then back to where it was.
class StdoutCapture {
 public:
  explicit StdoutCapture(int fd) {
    std::fflush(stdout);
    std::cout.flush();
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
  }
  ~StdoutCapture() {
    std::fflush(stdout);
    std::cout.flush();
    if (saved_ >= 0) {
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
    }
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

 private:
  int saved_ = -1;
};

// Sets HTTP_X_EXTRA_AUTH_PARAMS for one call; always unset afterwards.
class ExtraAuthEnv {
 public:
  explicit ExtraAuthEnv(const Json::Value& value) {
    ::unsetenv(kExtraAuthEnv);
    if (value.isString()) ::setenv(kExtraAuthEnv, value.asCString(), 1);
  }
  ~ExtraAuthEnv() { ::unsetenv(kExtraAuthEnv); }
  ExtraAuthEnv(const ExtraAuthEnv&) = delete;
  ExtraAuthEnv& operator=(const ExtraAuthEnv&) = delete;
};

bool SendAnswer(Channel& channel, const Answer& answer) {
  Json::Value meta(Json::objectValue);
  meta["status"] = answer.status;
  meta["content_type"] = answer.contentType;
  meta["headers"] = Json::Value(Json::arrayValue);
  for (const auto& [name, value] : answer.headers) {
    Json::Value pair(Json::arrayValue);
    pair.append(name);
    pair.append(value);
    meta["headers"].append(pair);
  }
  meta["fd"] = answer.fd >= 0;
  meta["offset"] = static_cast<Json::Int64>(answer.offset);
  meta["length"] = static_cast<Json::Int64>(answer.length);
  if (!channel.SendFrame(Json::toString(meta)) ||
      !channel.SendFrame(answer.fd >= 0 ? std::string() : answer.body)) {
    return false;
  }
  return answer.fd < 0 || channel.SendFd(answer.fd);
}

void RunCallbacks(const APIResponse& response) {
  for (const auto& [fn, arg] : response.GetCallbacks()) {
    try {
      fn(arg);
    } catch (const std::exception& e) {
      ZOLTSyslog(LOG_ERR, "host/worker:%d a response callback threw: %s", __LINE__, e.what());
    } catch (...) {
      ZOLTSyslog(LOG_ERR, "host/worker:%d a response callback threw", __LINE__);
    }
  }
}

// The identity the worker started with; every call ends in it again.
struct Identity {
  uid_t euid = ::geteuid();
  gid_t egid = ::getegid();
  std::vector<gid_t> groups = [] {
    std::vector<gid_t> out(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    if (!out.empty())
      out.resize(static_cast<size_t>(::getgroups(static_cast<int>(out.size()), out.data())));
    return out;
  }();
};

// A handler that left its identity switched must not hand it to the next call: switch back, or
// end the worker when that fails.
void RestoreIdentity(const Identity& identity) {
  if (::geteuid() == identity.euid && ::getegid() == identity.egid) return;
  ZOLTSyslog(LOG_ERR, "host/worker:%d a call left the identity %u/%u; restoring", __LINE__,
             static_cast<unsigned>(::geteuid()), static_cast<unsigned>(::getegid()));
  if (::seteuid(identity.euid) != 0 || ::setegid(identity.egid) != 0 ||
      ::setgroups(identity.groups.size(), identity.groups.data()) != 0) {
    ZOLTSyslog(LOG_ERR, "host/worker:%d cannot restore the identity [%m]; ending", __LINE__);
    ::_exit(3);
  }
}

// Serves one call; false when the channel failed (the worker then ends).
bool ServeOne(Channel& channel, const Table& table, const Identity& identity) {
  std::string metaText;
  std::string bodyText;
  if (!channel.RecvFrame(metaText) || !channel.RecvFrame(bodyText)) return false;
  Json::Value meta;
  Json::Value envelope;
  if (!Json::fromString(meta, metaText) || !meta.isObject()) return false;

  APIResponse response;
  Answer answer;
  Fd capture;
  bool parsed = Json::fromString(envelope, bodyText) && envelope.isObject() &&
                envelope["api"].isString() && envelope["method"].isString() &&
                envelope["version"].isInt() &&
                (envelope["params"].isNull() || envelope["params"].isObject());
  const Row* row = nullptr;
  if (!parsed) {
    answer = ErrorAnswer(kErrBadRequest);
  } else {
    std::string api = envelope["api"].asString();
    std::string method = envelope["method"].asString();
    int version = envelope["version"].asInt();
    auto it = table.rows.find(Key{api, version, method});
    if (!table.apis.count(api)) {
      answer = ErrorAnswer(kErrNoSuchAPI);
    } else if (!table.methods.count({api, method})) {
      answer = ErrorAnswer(kErrNoSuchMethod);
    } else if (it == table.rows.end() || it->second.handler == nullptr) {
      answer = ErrorAnswer(kErrBadVersion);
    } else {
      row = &it->second;
    }
  }

  if (row != nullptr) {
    capture.reset(OpenCaptureFile());
    if (capture.get() < 0) {
      ZOLTSyslog(LOG_ERR, "host/worker:%d cannot open a capture file [%m]", __LINE__);
      answer = ErrorAnswer(kErrInternal);
    } else {
      Json::Value params =
          envelope["params"].isObject() ? envelope["params"] : Json::Value(Json::objectValue);
      APIRequest request(envelope["api"].asString(), envelope["version"].asInt(),
                         envelope["method"].asString(), std::move(params), meta["uid"].asUInt(),
                         meta["user"].asString(), meta["lang"].asString(),
                         meta["remote"].asString());
      HTTP::FileOutputerHelper::SetFastOutputEnabled(true);
      {
        ExtraAuthEnv env(meta["extra"]);
        StdoutCapture redirect(capture.get());
        try {
          if (row->check == nullptr || row->check(&request, &response)) {
            row->handler(&request, &response);
          }
        } catch (const std::exception& e) {
          ZOLTSyslog(LOG_ERR, "host/worker:%d %s %s: exception: %s", __LINE__,
                     request.GetAPIName().c_str(), request.GetAPIMethod().c_str(), e.what());
          response.SetError(kErrHandlerThrew);
        } catch (...) {
          ZOLTSyslog(LOG_ERR, "host/worker:%d %s %s: exception", __LINE__,
                     request.GetAPIName().c_str(), request.GetAPIMethod().c_str());
          response.SetError(kErrHandlerThrew);
        }
      }
      RestoreIdentity(identity);
      if (response.GetError() != 0) {
        answer = ErrorAnswer(response.GetError(), response.GetErrorDetail());
      } else if (!response.HasSuccess()) {
        ZOLTSyslog(LOG_ERR, "host/worker:%d %s %s ended without an answer", __LINE__,
                   request.GetAPIName().c_str(), request.GetAPIMethod().c_str());
        answer = ErrorAnswer(kErrNoAnswer);
      } else if (response.IsOutputEnabled()) {
        Json::Value body(Json::objectValue);
        body["success"] = true;
        body["data"] = response.GetData();
        answer = JsonAnswer(body);
      } else if (response.HasDownload() && response.GetDownload().fd) {
        APIResponse::Download& download = response.GetDownload();
        struct stat st {};
        if (::fstat(*download.fd, &st) != 0) {
          answer = ErrorAnswer(kErrInternal);
        } else {
          answer.contentType = download.mimeType;
          answer.headers = download.headers;
          answer.fd = *download.fd;
          answer.length = st.st_size;
        }
      } else if (!ParseRawOutput(capture.get(), answer)) {
        ZOLTSyslog(LOG_ERR, "host/worker:%d %s %s wrote a malformed raw answer", __LINE__,
                   request.GetAPIName().c_str(), request.GetAPIMethod().c_str());
        answer = ErrorAnswer(kErrBadRawOutput);
      }
    }
  }

  if (!SendAnswer(channel, answer)) {
    RunCallbacks(response);
    return false;
  }
  char ack = 0;
  bool acked = channel.RecvByte(ack);
  RunCallbacks(response);
  RestoreIdentity(identity);
  return acked && channel.SendByte('R');
}

}  // namespace

std::string OutputDir() { return ZOLTRootPath("/var/run/zolt-webapi/out"); }

int RunWorker(int channelFd, const std::vector<std::string>& modules) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  ::signal(SIGPIPE, SIG_IGN);
  Channel channel(channelFd);
  ::fcntl(channelFd, F_SETFD, FD_CLOEXEC);
  Table table;
  std::vector<std::unique_ptr<void, DlClose>> handles;
  std::string error;
  Json::Value hello(Json::objectValue);
  bool loaded = LoadModules(modules, table, handles, error);
  // The extra-auth key is read now, so a handler that switched identity can still decrypt.
  if (loaded && !ZOLTCgiPrepareKey()) {
    loaded = false;
    error = "cannot read or make the extra-auth key";
  }
  hello["ok"] = loaded;
  if (!loaded) hello["error"] = error;
  if (!channel.SendFrame(Json::toString(hello)) || !loaded) return loaded ? 1 : 2;
  Identity identity;
  while (ServeOne(channel, table, identity)) {
  }
  // Modules stay loaded until exit: static destructors of a module may still be referenced
  // from callbacks or atexit handlers.
  for (auto& handle : handles) handle.release();
  return 0;
}

}  // namespace ZOLT::Host
