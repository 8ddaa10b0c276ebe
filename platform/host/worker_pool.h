// The parent's set of prefork workers.
//
// Each slot holds one worker process (see worker.h) and the parent's end of its channel. A call
// takes an idle slot with Acquire, talks to the worker through the returned Lease and gives the
// slot back when the lease ends: healthy (the worker sent 'R') or broken (the worker is killed,
// reaped by the parent's signal loop, and a fresh one takes the slot at once).
//
// Ownership: the pool owns the worker processes and their channels; a Lease borrows one slot.
// Failure: Start returns false (with a message) when a worker does not report its modules loaded;
// Acquire returns an empty lease once Shutdown began or when no worker can be started.
// Thread safety: Acquire, leases and WorkerExited may be used from any thread.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/channel.h"

namespace ZOLT::Host {

class WorkerPool;

class Lease {
 public:
  Lease() = default;
  Lease(WorkerPool* pool, size_t slot, Channel* channel, pid_t pid)
      : pool_(pool), slot_(slot), channel_(channel), pid_(pid) {}
  ~Lease() { Finish(false); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  explicit operator bool() const { return channel_ != nullptr; }
  Channel& channel() { return *channel_; }
  pid_t pid() const { return pid_; }
  // Gives the slot back. healthy: the worker finished its call and is ready for the next.
  void Finish(bool healthy);

 private:
  WorkerPool* pool_ = nullptr;
  size_t slot_ = 0;
  Channel* channel_ = nullptr;
  pid_t pid_ = -1;
};

class WorkerPool {
 public:
  // exe: this program; args: the worker's arguments after the program name (descriptor 3 is
  // the channel).
  WorkerPool(std::string exe, std::vector<std::string> args);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  bool Start(size_t count, std::string* error);
  std::unique_ptr<Lease> Acquire();
  // Called by the signal loop for a reaped child; an idle slot gets a new worker.
  void WorkerExited(pid_t pid);
  // Stops every worker (SIGTERM, then SIGKILL after a grace period) and reaps them.
  void Shutdown();

 private:
  friend class Lease;
  struct Slot {
    pid_t pid = -1;
    Channel channel;
    bool busy = false;
  };
  void Release(size_t slot, bool healthy);
  // Starts a worker into the slot (lock held); false when it did not come up.
  bool Spawn(Slot& slot, std::string* error);

  std::string exe_;
  std::vector<std::string> args_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::unique_ptr<Slot>> slots_;
  bool stopping_ = false;
};

}  // namespace ZOLT::Host
