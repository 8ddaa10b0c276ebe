// zolt-webapi-host: serves the web-API modules over HTTP on 127.0.0.1.
//
//   zolt-webapi-host [--root DIR] [--port N] [--workers N] --module PATH...
//   zolt-webapi-host [--root DIR] extra-auth 'name=value&...'
//
// The parent process accepts HTTP calls (cpp-httplib, one thread per connection), checks the body
// and the session, and hands each call to an idle prefork worker (worker.h) that runs the module's
// check function and handler. See platform/host/README.md for the wire form and the error codes.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "account/account.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "host/host_errors.h"
#include "host/session_store.h"
#include "host/worker.h"
#include "host/worker_pool.h"
#include "json/json_text.h"
#include "webapi/cgi.h"

namespace ZOLT::Host {
namespace {

constexpr size_t kMaxBody = 64u << 20;
constexpr unsigned kNoUid = 0xffffffffu;
constexpr char kJsonType[] = "application/json";

struct Options {
  std::string root;
  int port = 0;
  int workers = 2;
  std::vector<std::string> modules;
  int workerFd = -1;
  std::vector<std::string> command;
};

int Usage() {
  std::fprintf(stderr,
               "usage: zolt-webapi-host [--root DIR] [--port N] [--workers N] --module PATH...\n"
               "       zolt-webapi-host [--root DIR] extra-auth 'name=value&...'\n");
  return 2;
}

bool ParseInt(const std::string& text, int lo, int hi, int& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& opt) {
  if (const char* root = std::getenv("ZOLT_ROOT")) opt.root = root;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasNext = i + 1 < args.size();
    if (a == "--root" && hasNext) {
      opt.root = args[++i];
    } else if (a == "--port" && hasNext) {
      if (!ParseInt(args[++i], 0, 65535, opt.port)) return false;
    } else if (a == "--workers" && hasNext) {
      if (!ParseInt(args[++i], 1, 256, opt.workers)) return false;
    } else if (a == "--module" && hasNext) {
      opt.modules.push_back(args[++i]);
    } else if (a == "--worker-fd" && hasNext) {
      if (!ParseInt(args[++i], 0, 1 << 20, opt.workerFd)) return false;
    } else if (!a.empty() && a[0] != '-') {
      opt.command.assign(args.begin() + static_cast<long>(i), args.end());
      return true;
    } else {
      return false;
    }
  }
  return true;
}

std::string ErrorText(int code, const Json::Value& detail = Json::Value()) {
  Json::Value body(Json::objectValue);
  body["success"] = false;
  body["error"]["code"] = code;
  if (!detail.isNull()) body["error"]["errors"] = detail;
  return Json::toString(body);
}

void AnswerError(httplib::Response& res, int code) { res.set_content(ErrorText(code), kJsonType); }

// The sid of a call: header X-Zolt-Sid, else the cookie "id".
std::string SidOf(const httplib::Request& req) {
  if (req.has_header("X-Zolt-Sid")) return req.get_header_value("X-Zolt-Sid");
  std::string cookies = req.get_header_value("Cookie");
  size_t pos = 0;
  while (pos < cookies.size()) {
    size_t end = cookies.find(';', pos);
    if (end == std::string::npos) end = cookies.size();
    std::string item = cookies.substr(pos, end - pos);
    size_t start = item.find_first_not_of(' ');
    if (start != std::string::npos) item.erase(0, start);
    if (item.compare(0, 3, "id=") == 0) return item.substr(3);
    pos = end + 1;
  }
  return "";
}

// Methods that serve share-link viewers: they run without a session, as the unknown user.
bool AllowedWithoutSession(const std::string& api, const std::string& method) {
  return (api == "ZOLT.Tabvale.Sheet" && method == "get") ||
         (api == "ZOLT.Tabvale.Sheet.Encrypt" && method == "check");
}

class Host {
 public:
  Host(const Options& opt, std::string exe) : opt_(opt), pool_(std::move(exe), WorkerArgs(opt)) {}

  int Run();

 private:
  static std::vector<std::string> WorkerArgs(const Options& opt) {
    std::vector<std::string> args{"--worker-fd", "3", "--root", opt.root};
    for (const std::string& m : opt.modules) {
      args.push_back("--module");
      args.push_back(m);
    }
    return args;
  }
  void HandleAuth(const httplib::Request& req, httplib::Response& res);
  void HandleLogout(const httplib::Request& req, httplib::Response& res);
  void HandleEntry(const httplib::Request& req, httplib::Response& res);

  Options opt_;
  WorkerPool pool_;
  httplib::Server server_;
};

void Host::HandleAuth(const httplib::Request& req, httplib::Response& res) {
  Json::Value body;
  if (!Json::fromString(body, req.body) || !body.isObject() || !body["account"].isString() ||
      !body["passwd"].isString()) {
    AnswerError(res, kErrBadRequest);
    return;
  }
  std::string account = body["account"].asString();
  std::optional<Account::User> user = Account::CheckPassword(account, body["passwd"].asString());
  if (!user) {
    ZOLTSyslog(LOG_WARNING, "host/host_main:%d login failed for [%s] from %s", __LINE__,
               account.c_str(), req.remote_addr.c_str());
    AnswerError(res, kErrLoginFailed);
    return;
  }
  std::string sid = CreateSession(user->uid, user->name);
  if (sid.empty()) {
    AnswerError(res, kErrInternal);
    return;
  }
  Json::Value answer(Json::objectValue);
  answer["success"] = true;
  answer["data"]["sid"] = sid;
  res.set_header("Set-Cookie", "id=" + sid + "; Path=/; HttpOnly; SameSite=Strict");
  res.set_content(Json::toString(answer), kJsonType);
}

void Host::HandleLogout(const httplib::Request& req, httplib::Response& res) {
  if (!RemoveSession(SidOf(req))) {
    AnswerError(res, kErrNoSession);
    return;
  }
  res.set_content("{\"success\":true}", kJsonType);
}

// Closes the descriptor of a body sent from a file when the last copy of the holder goes.
struct BodyFd {
  int fd = -1;
  ~BodyFd() {
    if (fd >= 0) ::close(fd);
  }
};

void Host::HandleEntry(const httplib::Request& req, httplib::Response& res) {
  Json::Value envelope;
  if (!Json::fromString(envelope, req.body) || !envelope.isObject() ||
      !envelope["api"].isString() || !envelope["method"].isString() ||
      !envelope["version"].isInt() ||
      !(envelope["params"].isNull() || envelope["params"].isObject())) {
    AnswerError(res, kErrBadRequest);
    return;
  }
  std::string api = envelope["api"].asString();
  std::string method = envelope["method"].asString();

  Json::Value meta(Json::objectValue);
  std::optional<Session> session = LookupSession(SidOf(req));
  if (session) {
    meta["uid"] = session->uid;
    meta["user"] = session->name;
  } else if (AllowedWithoutSession(api, method)) {
    meta["uid"] = kNoUid;
    meta["user"] = "";
  } else {
    AnswerError(res, kErrNoSession);
    return;
  }
  meta["lang"] = "enu";
  meta["remote"] = req.remote_addr;
  if (req.has_header("X-Extra-Auth-Params")) {
    meta["extra"] = req.get_header_value("X-Extra-Auth-Params");
  }

  std::shared_ptr<Lease> lease = pool_.Acquire();
  if (!*lease) {
    AnswerError(res, kErrInternal);
    return;
  }
  std::string answerMetaText;
  std::string inlineBody;
  Json::Value answerMeta;
  auto bodyFd = std::make_shared<BodyFd>();
  bool ok = lease->channel().SendFrame(Json::toString(meta)) &&
            lease->channel().SendFrame(req.body) && lease->channel().RecvFrame(answerMetaText) &&
            Json::fromString(answerMeta, answerMetaText) && answerMeta.isObject() &&
            lease->channel().RecvFrame(inlineBody) &&
            (!answerMeta["fd"].asBool() || lease->channel().RecvFd(&bodyFd->fd));
  if (!ok) {
    ZOLTSyslog(LOG_ERR, "host/host_main:%d worker %d died serving %s %s", __LINE__,
               static_cast<int>(lease->pid()), api.c_str(), method.c_str());
    lease->Finish(false);
    AnswerError(res, kErrWorkerDied);
    return;
  }

  res.status = answerMeta["status"].asInt();
  for (const Json::Value& header : answerMeta["headers"]) {
    res.set_header(header[0].asString().c_str(), header[1].asString());
  }
  std::string contentType = answerMeta["content_type"].asString();
  // The provider's releaser runs when httplib has written the answer (or failed to): only then
  // does the worker learn it may run the response callbacks.
  auto release = [lease](bool sent) {
    bool healthy = lease->channel().SendByte(sent ? 'S' : 'F');
    char ready = 0;
    healthy = healthy && lease->channel().RecvByte(ready) && ready == 'R';
    lease->Finish(healthy);
  };
  if (bodyFd->fd >= 0) {
    auto offset = static_cast<off_t>(answerMeta["offset"].asInt64());
    auto length = static_cast<size_t>(answerMeta["length"].asInt64());
    res.set_content_provider(
        length, contentType,
        [bodyFd, offset](size_t at, size_t length, httplib::DataSink& sink) {
          char buffer[64 * 1024];
          size_t want = std::min(length, sizeof(buffer));
          ssize_t n = ::pread(bodyFd->fd, buffer, want, offset + static_cast<off_t>(at));
          if (n <= 0) return false;
          return sink.write(buffer, static_cast<size_t>(n));
        },
        release);
  } else {
    auto body = std::make_shared<std::string>(std::move(inlineBody));
    res.set_content_provider(
        body->size(), contentType,
        [body](size_t at, size_t length, httplib::DataSink& sink) {
          return sink.write(body->data() + at, std::min(length, body->size() - at));
        },
        release);
  }
}

bool PrepareDirs() {
  for (const char* dir : {"/var", "/var/run", "/var/run/zolt-webapi"}) {
    std::string path = ZOLTRootPath(dir);
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  std::string out = OutputDir();
  if ((::mkdir(out.c_str(), 0700) != 0 && errno != EEXIST) || ::chmod(out.c_str(), 0700) != 0) {
    return false;
  }
  return PrepareSessionDir();
}

int Host::Run() {
  if (!PrepareDirs()) {
    std::fprintf(stderr, "zolt-webapi-host: cannot prepare %s\n",
                 ZOLTRootPath("/var/run/zolt-webapi").c_str());
    return 1;
  }
  if (!ZOLTCgiPrepareKey()) {
    std::fprintf(stderr, "zolt-webapi-host: cannot read or make %s\n", ZOLTCgiKeyPath().c_str());
    return 1;
  }
  std::string error;
  if (!pool_.Start(static_cast<size_t>(opt_.workers), &error)) {
    std::fprintf(stderr, "zolt-webapi-host: %s\n", error.c_str());
    return 1;
  }

  server_.set_payload_max_length(kMaxBody);
  server_.set_keep_alive_timeout(2);
  // Answers go out as headers and body in separate writes: without this, a kept-alive client
  // waits for the delayed acknowledgement of the first before it gets the second.
  server_.set_tcp_nodelay(true);
  size_t threads = static_cast<size_t>(opt_.workers) + 8;
  // httplib takes ownership of the queue it gets from this factory.
  server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server_.Post("/webapi/auth",
               [this](const httplib::Request& q, httplib::Response& r) { HandleAuth(q, r); });
  server_.Post("/webapi/logout",
               [this](const httplib::Request& q, httplib::Response& r) { HandleLogout(q, r); });
  server_.Post("/webapi/entry",
               [this](const httplib::Request& q, httplib::Response& r) { HandleEntry(q, r); });
  server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty() && !res.content_provider_) {
      AnswerError(res, res.status == 413 ? kErrTooLarge : kErrBadRequest);
    }
  });
  server_.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 200;
        AnswerError(res, kErrInternal);
      });

  int port = opt_.port;
  if (port == 0) {
    port = server_.bind_to_any_port("127.0.0.1");
  } else if (!server_.bind_to_port("127.0.0.1", port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "zolt-webapi-host: cannot listen on 127.0.0.1:%d\n", opt_.port);
    pool_.Shutdown();
    return 1;
  }
  std::thread listener([this] { server_.listen_after_bind(); });
  std::printf("listening %d\n", port);
  std::fflush(stdout);
  ZOLTSyslog(LOG_INFO, "host/host_main:%d listening on 127.0.0.1:%d with %d workers", __LINE__,
             port, opt_.workers);

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGCHLD);
  for (;;) {
    int sig = 0;
    if (::sigwait(&set, &sig) != 0) continue;
    if (sig == SIGCHLD) {
      int status = 0;
      pid_t pid;
      while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        if (WIFSIGNALED(status) || WEXITSTATUS(status) != 0) {
          ZOLTSyslog(LOG_ERR, "host/host_main:%d worker %d ended (%s %d)", __LINE__,
                     static_cast<int>(pid), WIFSIGNALED(status) ? "signal" : "status",
                     WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
        }
        pool_.WorkerExited(pid);
      }
      continue;
    }
    break;
  }
  ZOLTSyslog(LOG_INFO, "host/host_main:%d stopping", __LINE__);
  server_.stop();
  pool_.Shutdown();
  listener.join();
  return 0;
}

std::string SelfPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace
}  // namespace ZOLT::Host

int main(int argc, char** argv) {
  using namespace ZOLT::Host;
  Options opt;
  if (!ParseOptions(argc, argv, opt)) return Usage();
  if (!opt.root.empty()) ::setenv("ZOLT_ROOT", opt.root.c_str(), 1);

  if (opt.workerFd >= 0) return RunWorker(opt.workerFd, opt.modules);

  if (!opt.command.empty()) {
    if (opt.command[0] == "extra-auth" && opt.command.size() == 2) {
      std::string line = ZOLTCgiEncryptParamLine(opt.command[1]);
      if (line.empty()) {
        std::fprintf(stderr, "zolt-webapi-host: cannot read or make %s\n",
                     ZOLTCgiKeyPath().c_str());
        return 1;
      }
      std::printf("%s\n", line.c_str());
      return 0;
    }
    return Usage();
  }
  if (opt.modules.empty()) return Usage();

  // The parent handles its signals in one loop; every other thread has them blocked.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::string exe = SelfPath();
  if (exe.empty()) {
    std::fprintf(stderr, "zolt-webapi-host: cannot find its own program\n");
    return 1;
  }
  Host host(opt, exe);
  return host.Run();
}
