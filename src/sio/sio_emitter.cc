#include "sio/sio_emitter.h"

#include <memory>

#include "common/zoltsh_log.h"
#include "core/zolt_root.h"
#include "sio/sio_token.h"

namespace zoltsh {

namespace {

constexpr int kDefaultTimeout = 20;

// One Emit call's completion, shared with its handlers: a handler that runs after the call has
// returned finds it abandoned and leaves the caller's (gone) state alone.
struct EmitCall {
  bool done = false;
  bool errored = false;
  bool abandoned = false;
  SioEmitter::AckCallback callback;
};

}  // namespace

SioEmitter::SioEmitter() : SioEmitter(SioGetSettings()) {}

SioEmitter::SioEmitter(const SioSettings& settings)
    : connected(false), failed(false), timeout(kDefaultTimeout), settings_(settings) {
  client.set_reconnect_attempts(settings_.reconnectAttempts);
  client.set_reconnect_delay(settings_.reconnectDelay);
  client.set_open_listener([this] { OnConnected(); });
  client.set_fail_listener([this] { OnFail(); });
  client.set_logs_quiet();
}

SioEmitter::~SioEmitter() {
  // First stop the network thread: its handlers use the mutex and the condition variable.
  client.close();
}

bool SioEmitter::Connect() {
  std::string tokenFile = settings_.tokenFile.empty() ? ZOLTRootPath("/var/run/spreadsheet_token")
                                                      : settings_.tokenFile;
  std::string token = SioReadToken(tokenFile);
  if (token.empty()) {
    ZOLTSH_LOG_ERR("sio token is empty");
    return false;
  }
  client.connect("http://" + settings_.address + ":" + std::to_string(settings_.port),
                 {{"token", token}});

  std::unique_lock<std::mutex> guard(lock);
  auto deadline = std::chrono::steady_clock::now() + settings_.connectWait;
  // Only the open event or the client's failure ends the wait; anything else waits on.
  if (cond.wait_until(guard, deadline, [this] { return connected || failed; })) return connected;
  // Deadline passed: stop the attempts so that a late open cannot revive this emitter.
  guard.unlock();
  client.close();
  guard.lock();
  connected = false;
  return false;
}

void SioEmitter::SetTimeout(int seconds) { timeout = seconds; }

bool SioEmitter::Emit(const std::string& event, const sio::message::list& args,
                      const AckCallback& callback) {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!connected) return false;
  }
  sio::socket& socket = client.socket();
  auto call = std::make_shared<EmitCall>();
  call->callback = callback;

  socket.set_error_listener([this, call](const sio::message::ptr& message) {
    std::lock_guard<std::mutex> guard(lock);
    if (message && message->get_flag() == sio::message::flag_string) {
      ZOLTSH_LOG_ERR("Failed to emit: %s", message->get_string().c_str());
    }
    call->errored = true;
    cond.notify_all();
  });
  socket.emit(event, args, [this, call](const sio::message::list& reply) {
    std::lock_guard<std::mutex> guard(lock);
    if (call->abandoned) return;
    call->done = true;
    if (call->callback) call->callback(reply);
    cond.notify_all();
  });

  std::unique_lock<std::mutex> guard(lock);
  std::chrono::milliseconds wait = std::chrono::seconds(timeout < 0 ? 0 : timeout);
  if (settings_.waitLimit.count() > 0 && wait > settings_.waitLimit) wait = settings_.waitLimit;
  auto deadline = std::chrono::steady_clock::now() + wait;
  bool ended = cond.wait_until(guard, deadline,
                               [this, &call] { return call->done || call->errored || !connected; });
  if (call->done) return true;
  call->abandoned = true;  // a late acknowledgement must not reach the caller's callback
  if (!ended) ZOLTSH_LOG_ERR("Emit[%s] timeout", event.c_str());
  return false;
}

void SioEmitter::OnConnected() {
  std::lock_guard<std::mutex> guard(lock);
  connected = true;
  cond.notify_all();
}

void SioEmitter::OnFail() {
  std::lock_guard<std::mutex> guard(lock);
  connected = false;
  failed = true;
  cond.notify_all();
}

}  // namespace zoltsh
