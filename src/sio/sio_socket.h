// The default namespace of a sio::client: sends events, optionally asking for an
// acknowledgement, and reports namespace errors.
//
// Owned by its client (sio::client::socket()); valid as long as the client. Events are sent in the
// order emit() is called, each with a fresh acknowledgement id. An event emitted while the
// namespace is not connected is not sent: the error listener receives the text "not connected".
//
// Threads: emit() and set_error_listener() may be called from any thread; the error listener and
// the acknowledgement handlers run on the client's network thread. Acknowledgements that never
// come are dropped when the client closes.
#pragma once

#include <functional>
#include <string>

#include "common/zoltsh_export.h"
#include "sio/sio_message.h"

namespace sio {

class ZOLTSH_API socket {
 public:
  using ack_handler = std::function<void(const message::list&)>;
  // The error's message: a text, or the JSON payload of the refusal as a message.
  using error_listener = std::function<void(const message::ptr&)>;

  explicit socket(class client* owner) : owner_(owner) {}
  socket(const socket&) = delete;
  socket& operator=(const socket&) = delete;

  // Sends ["name", args...]; with an acknowledgement handler the event carries an id and the
  // handler receives the acknowledgement's argument list.
  void emit(const std::string& name, const message::list& args = {}, ack_handler ack = nullptr);

  void set_error_listener(error_listener listener);
  void clear_error_listener() { set_error_listener(nullptr); }

 private:
  class client* owner_;
};

}  // namespace sio
