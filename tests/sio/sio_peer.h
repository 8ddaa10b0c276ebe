// Test support for the collaboration link: the socket.io test peer (tests/peers/sio/peer.js, a
// real socket.io v4 server in Node.js) as a child process on a port of its own, its control
// channel, and the thread count of this process.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "json/json_text.h"

namespace zoltsh::testing {

// Entries of /proc/self/task: the threads of this process.
inline int ThreadCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

// A loopback port on which nothing listens (bound, then released).
inline int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

inline std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

inline std::string SourceDir() {
  if (const char* dir = std::getenv("ZOLT_SOURCE_DIR"); dir != nullptr && *dir != '\0') return dir;
#ifdef ZOLTSH_SOURCE_DIR_FALLBACK
  return ZOLTSH_SOURCE_DIR_FALLBACK;
#else
  return ".";
#endif
}

// The peer process; stopped (standard input closed, SIGTERM, reaped) on destruction.
class SioPeer {
 public:
  explicit SioPeer(const std::string& token, int pingIntervalMs = 25000,
                   int pingTimeoutMs = 20000) {
    std::vector<std::string> args{FindOnPath("node"), SourceDir() + "/tests/peers/sio/peer.js",
                                  "--port",           "0",
                                  "--token",          token,
                                  "--ping-interval",  std::to_string(pingIntervalMs),
                                  "--ping-timeout",   std::to_string(pingTimeoutMs)};
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(in[0], STDIN_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    out_ = out[0];
    in_ = in[1];
    std::string line;
    char c;
    while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
    if (line.rfind("listening ", 0) == 0) port_ = std::stoi(line.substr(10));
  }
  ~SioPeer() {
    if (in_ >= 0) ::close(in_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SioPeer(const SioPeer&) = delete;
  SioPeer& operator=(const SioPeer&) = delete;

  int port() const { return port_; }

  // Changes the peer's behaviour (see peer.js); true when the peer took it.
  bool Control(const Json::Value& change) const {
    httplib::Client client("127.0.0.1", port_);
    auto res = client.Post("/control", Json::toString(change), "application/json");
    return res && res->status == 200;
  }
  bool Rule(const std::string& event, const Json::Value& rule) const {
    Json::Value change;
    change["rules"]["*"]["mode"] = "ack";
    change["rules"][event] = rule;
    return Control(change);
  }
  // {"connections", "events", "clientPings", "disconnects"} as the peer recorded them.
  Json::Value Record() const {
    httplib::Client client("127.0.0.1", port_);
    Json::Value value;
    auto res = client.Get("/events");
    if (res) Json::fromString(value, res->body);
    return value;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  int port_ = 0;
};

}  // namespace zoltsh::testing
