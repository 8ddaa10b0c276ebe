// Test support: a real zolt-webapi-host process on port 0 and calls to it through HTTP.
#pragma once

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "json/json_text.h"

namespace zoltsh::testing {

// A running host; stopped with SIGTERM on destruction (or by Stop).
class HostProcess {
 public:
  HostProcess(const std::string& hostBin, const std::string& root, int workers,
              std::vector<std::string> modules) {
    std::vector<std::string> args{
        hostBin, "--root", root, "--port", "0", "--workers", std::to_string(workers)};
    for (const std::string& m : modules) {
      args.push_back("--module");
      args.push_back(m);
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    std::string line;
    char c;
    while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
    if (line.rfind("listening ", 0) == 0) port_ = std::stoi(line.substr(10));
  }
  ~HostProcess() { Stop(); }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  // Stops the host; its exit status (-1 when killed by a signal) and what else it printed.
  int Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(out_, buffer, sizeof(buffer))) > 0) rest_.append(buffer, n);
      ::close(out_);
    }
    return status_;
  }
  const std::string& restOfOutput() const { return rest_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  int status_ = -1;
  std::string rest_;
};

struct Reply {
  int status = 0;
  Json::Value json;
  std::string body;
  httplib::Headers headers;
};

// POSTs body to path of the host on port; status 0 when the call failed.
inline Reply HostPost(int port, const std::string& path, const std::string& body,
                      httplib::Headers headers = {}) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(30, 0);
  Reply reply;
  auto res = client.Post(path.c_str(), headers, body, "application/json");
  if (!res) return reply;
  reply.status = res->status;
  reply.body = res->body;
  reply.headers = res->headers;
  Json::fromString(reply.json, res->body);
  return reply;
}

// Calls api/method with params through /webapi/entry, with the session sid when not empty.
inline Reply HostCall(int port, const std::string& api, const std::string& method,
                      const Json::Value& params, const std::string& sid, int version = 1,
                      httplib::Headers headers = {}) {
  Json::Value body(Json::objectValue);
  body["api"] = api;
  body["version"] = version;
  body["method"] = method;
  body["params"] = params;
  if (!sid.empty()) headers.emplace("X-Zolt-Sid", sid);
  return HostPost(port, "/webapi/entry", Json::toString(body), std::move(headers));
}

// Logs in and returns the sid ("" when refused).
inline std::string HostLogin(int port, const std::string& account, const std::string& password) {
  Json::Value body(Json::objectValue);
  body["account"] = account;
  body["passwd"] = password;
  Reply reply = HostPost(port, "/webapi/auth", Json::toString(body));
  return reply.json["data"]["sid"].asString();
}

}  // namespace zoltsh::testing
