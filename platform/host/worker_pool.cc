#include "host/worker_pool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/zolt_syslog.h"
#include "json/json_text.h"

namespace ZOLT::Host {

void Lease::Finish(bool healthy) {
  if (pool_ == nullptr) return;
  WorkerPool* pool = pool_;
  pool_ = nullptr;
  channel_ = nullptr;
  pool->Release(slot_, healthy);
}

WorkerPool::WorkerPool(std::string exe, std::vector<std::string> args)
    : exe_(std::move(exe)), args_(std::move(args)) {}

WorkerPool::~WorkerPool() { Shutdown(); }

bool WorkerPool::Spawn(Slot& slot, std::string* error) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    if (error) *error = "socketpair failed";
    return false;
  }
  Channel parentEnd(pair[0]);
  Channel childEnd(pair[1]);
  int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devnull < 0) {
    if (error) *error = "cannot open /dev/null";
    return false;
  }
  // Everything the child needs is built before fork: between fork and exec only
  // async-signal-safe calls run.
  std::vector<std::string> argStrings;
  argStrings.push_back(exe_);
  argStrings.insert(argStrings.end(), args_.begin(), args_.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  sigset_t none;
  sigemptyset(&none);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(devnull, STDIN_FILENO) < 0 || ::dup2(devnull, STDOUT_FILENO) < 0 ||
        ::dup2(childEnd.fd(), 3) < 0) {
      ::_exit(127);
    }
    ::close_range(4, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(devnull);
  if (pid < 0) {
    if (error) *error = "fork failed";
    return false;
  }
  childEnd.Close();
  std::string helloText;
  Json::Value hello;
  if (!parentEnd.RecvFrame(helloText) || !Json::fromString(hello, helloText) ||
      !hello["ok"].asBool()) {
    std::string why =
        hello["error"].isString() ? hello["error"].asString() : "worker did not start";
    if (error) *error = why;
    ZOLTSyslog(LOG_ERR, "host/worker_pool:%d worker %d failed: %s", __LINE__, static_cast<int>(pid),
               why.c_str());
    ::kill(pid, SIGKILL);
    return false;
  }
  slot.pid = pid;
  slot.channel = std::move(parentEnd);
  slot.busy = false;
  return true;
}

bool WorkerPool::Start(size_t count, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < count; ++i) {
    auto slot = std::make_unique<Slot>();
    if (!Spawn(*slot, error)) return false;
    slots_.push_back(std::move(slot));
  }
  return true;
}

std::unique_ptr<Lease> WorkerPool::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return std::make_unique<Lease>();
    for (size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = *slots_[i];
      if (slot.busy) continue;
      if (!slot.channel.valid() && !Spawn(slot, nullptr)) continue;
      slot.busy = true;
      return std::make_unique<Lease>(this, i, &slot.channel, slot.pid);
    }
    bool anyBusy = false;
    for (auto& slot : slots_) anyBusy = anyBusy || slot->busy;
    if (!anyBusy) return std::make_unique<Lease>();  // no worker can be started
    idle_.wait(lock);
  }
}

void WorkerPool::Release(size_t index, bool healthy) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& slot = *slots_[index];
  if (!healthy) {
    if (slot.pid > 0) ::kill(slot.pid, SIGKILL);
    slot.pid = -1;
    slot.channel.Close();
    if (!stopping_) {
      std::string error;
      if (!Spawn(slot, &error)) {
        ZOLTSyslog(LOG_ERR, "host/worker_pool:%d cannot replace a worker: %s", __LINE__,
                   error.c_str());
      }
    }
  }
  slot.busy = false;
  idle_.notify_all();
}

void WorkerPool::WorkerExited(pid_t pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& slot : slots_) {
    if (slot->pid != pid) continue;
    slot->pid = -1;
    if (!slot->busy) {
      // An idle worker died on its own; the busy case is seen by its call, which replaces it.
      slot->channel.Close();
      if (!stopping_) Spawn(*slot, nullptr);
      idle_.notify_all();
    }
  }
}

void WorkerPool::Shutdown() {
  std::vector<pid_t> pids;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && slots_.empty()) return;
    stopping_ = true;
    for (auto& slot : slots_) {
      if (slot->pid > 0) {
        pids.push_back(slot->pid);
        ::kill(slot->pid, SIGTERM);
      }
      slot->channel.Close();
      slot->pid = -1;
    }
    idle_.notify_all();
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (pid_t pid : pids) {
    for (;;) {
      pid_t r = ::waitpid(pid, nullptr, WNOHANG);
      if (r == pid || (r < 0 && errno != EINTR)) break;
      if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

}  // namespace ZOLT::Host
