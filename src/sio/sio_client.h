// A small socket.io v4 client (Engine.IO v4 over one WebSocket) with just what the collaboration
// link needs: connect with query parameters, the default namespace, events with acknowledgement,
// answering the server's pings, leaving and closing.
//
// One client is one connection and owns one network thread, started by connect() and stopped by
// close() or the destructor, which leave the namespace ("41"), close the WebSocket and join the
// thread within a bounded time (the loop is stopped when the server does not finish the close
// handshake). Nothing of the connection outlives the client.
//
// Connecting: the WebSocket handshake GET /socket.io/?EIO=4&transport=websocket&<query>, the
// server's open packet, then the namespace connect "40". The open listener runs when the server
// accepts the namespace (40{"sid"}); only then are events sent. A failed attempt (refused TCP
// connection, failed or dropped handshake) is retried after the reconnect delay, up to the
// reconnect attempts; a namespace refusal (44{"message"}) is not retried. The fail listener runs
// once when the client gives up, or when an open connection is lost; a refusal first reports its
// message to the socket's error listener.
//
// Threads: set the listeners and settings before connect(). The listeners, the socket's error
// listener and the acknowledgement handlers run on the network thread; they must not call
// close() or destroy the client. connect(), close(), socket() and socket().emit() may be called
// from any one caller thread.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/zoltsh_export.h"
#include "sio/sio_message.h"
#include "sio/sio_socket.h"

namespace sio {

class ZOLTSH_API client {
 public:
  using con_listener = std::function<void()>;

  client();
  ~client();
  client(const client&) = delete;
  client& operator=(const client&) = delete;

  void set_open_listener(con_listener listener);
  void set_fail_listener(con_listener listener);
  // Attempts after the first failed one (default 3) and the pause before each (default 500 ms).
  void set_reconnect_attempts(unsigned attempts);
  void set_reconnect_delay(std::chrono::milliseconds delay);
  // Bound of the WebSocket opening and closing handshakes (default 5 s and 1 s).
  void set_handshake_timeout(std::chrono::milliseconds timeout);
  void set_close_timeout(std::chrono::milliseconds timeout);
  // Switches the client's own diagnostics off (they are off by default; kept for callers that
  // say so explicitly).
  void set_logs_quiet();

  // Starts connecting to base_url ("http://127.0.0.1:3001") with the query parameters (values
  // are percent-encoded). Returns at once; the listeners tell the outcome. A second call on the
  // same client does nothing.
  void connect(const std::string& base_url, const std::map<std::string, std::string>& query);

  // True while the namespace is connected.
  bool opened() const;

  // The default namespace's socket; valid as long as the client.
  sio::socket& socket();

  // Leaves the namespace, closes the WebSocket and joins the network thread (bounded wait).
  // Listeners are not called for a close the client asked for. Safe to call more than once.
  void close();

 private:
  friend class sio::socket;
  class impl;

  std::unique_ptr<impl> impl_;
  std::unique_ptr<sio::socket> socket_;
};

}  // namespace sio
