// One short connection to the collaboration server: connect with the access token, send events
// and wait for their acknowledgements, close.
//
// Callers make one emitter on the stack per notification and destroy it afterwards; it is neither
// copyable nor shared. The destructor leaves the namespace, closes the connection and joins the
// client's network thread before anything the listeners use goes away.
//
// Failure: Connect and Emit report failure through their result and the log, never by throwing
// (errors of the mutex itself surface as std::system_error):
// - token empty or unreadable: "sio token is empty", Connect false without connecting;
// - no namespace connection within the connection wait (20 s), the client giving up after its
//   reconnect attempts, or the server refusing the token: Connect false;
// - an acknowledgement missing after the timeout: "Emit[<event>] timeout", Emit false;
// - a namespace error while waiting: "Failed to emit: <message>", Emit false; a connection lost
//   while waiting: Emit false at once.
// A wake-up of the waiting thread that brings none of these results does not end the wait.
//
// Threads: Connect, SetTimeout and Emit run on the caller's thread; OnConnected, OnFail, the error
// handler and the acknowledgement handlers (with the caller's acknowledgement callback) run on the
// client's network thread. The acknowledgement callback runs with the emitter's mutex held: it
// must not call back into the emitter. A callback whose Emit already returned is not called.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "common/zoltsh_export.h"
#include "sio/sio_client.h"
#include "sio/sio_message.h"
#include "sio/sio_settings.h"

namespace zoltsh {

class ZOLTSH_API SioEmitter {
 public:
  using AckCallback = std::function<void(const sio::message::list&)>;

  // The process's settings (SioGetSettings), or the given ones.
  SioEmitter();
  explicit SioEmitter(const SioSettings& settings);
  ~SioEmitter();
  SioEmitter(const SioEmitter&) = delete;
  SioEmitter& operator=(const SioEmitter&) = delete;

  // Reads the token, connects and waits for the namespace connection. True when connected.
  bool Connect();
  // Acknowledgement timeout of later Emit calls, in seconds (default 20).
  void SetTimeout(int seconds);
  // Sends `event` with `args` and waits for its acknowledgement; `callback` (may be empty)
  // receives the acknowledgement's argument list. True when acknowledged in time.
  bool Emit(const std::string& event, const sio::message::list& args, const AckCallback& callback);

  void OnConnected();
  void OnFail();

 private:
  sio::client client;
  bool connected;  // guarded by lock
  bool failed;     // guarded by lock: the client gave up or lost the connection
  std::mutex lock;
  std::condition_variable cond;
  int timeout;  // seconds
  SioSettings settings_;
};

}  // namespace zoltsh
