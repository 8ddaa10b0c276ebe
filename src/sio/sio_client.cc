// The client's connection state machine over websocketpp (asio transport, no TLS), and the
// socket's methods, which hand their work to it.
//
// Every state change happens on the network thread; callers reach it by posting to the asio loop.
// Phases of one connection:
//   idle -> connecting (TCP + WebSocket handshake) -> engine (awaiting the open packet "0")
//        -> namespace (sent "40", awaiting "40{sid}") -> connected
//   a failed attempt in connecting/engine/namespace goes back to connecting after the reconnect
//   delay while attempts remain, else to failed; a refusal "44" goes to failed at once; losing a
//   connected link goes to failed; close() goes to closing from any phase.
//
// This file is compiled as C++17: the websocketpp headers of the distribution do not compile as
// C++20 (template-ids on constructors); the public headers it includes are C++17 as well.
#include "sio/sio_client.h"

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sio/sio_packet.h"

namespace sio {

namespace {
using ws_client = websocketpp::client<websocketpp::config::asio_client>;
using websocketpp::connection_hdl;
}  // namespace

class client::impl {
 public:
  impl() {
    ep_.clear_access_channels(websocketpp::log::alevel::all);
    ep_.clear_error_channels(websocketpp::log::elevel::all);
    ep_.init_asio();
    ep_.set_open_handler([this](connection_hdl) { on_ws_open(); });
    ep_.set_fail_handler([this](connection_hdl hdl) { on_ws_fail(hdl); });
    ep_.set_close_handler([this](connection_hdl hdl) { on_ws_close(hdl); });
    ep_.set_message_handler([this](connection_hdl, ws_client::message_ptr msg) {
      if (msg->get_opcode() == websocketpp::frame::opcode::text) on_frame(msg->get_payload());
    });
  }

  ~impl() { close(); }

  // Settings, read by the network thread; set before connect().
  con_listener open_listener;
  con_listener fail_listener;
  unsigned reconnect_attempts = 3;
  std::chrono::milliseconds reconnect_delay{500};
  std::chrono::milliseconds handshake_timeout{5000};
  std::chrono::milliseconds close_timeout{1000};

  void connect(std::string url) {
    if (started_) return;
    started_ = true;
    url_ = std::move(url);
    boost::asio::post(ep_.get_io_service(), [this] { start_attempt(); });
    thread_ = std::thread([this] { run(); });
  }

  bool opened() const { return open_.load(); }

  void set_error_listener(socket::error_listener listener) {
    std::lock_guard<std::mutex> guard(listener_mutex_);
    error_listener_ = std::move(listener);
  }

  void emit(const std::string& name, const message::list& args, socket::ack_handler ack) {
    if (!open_.load()) {
      report_error(string_message::create("not connected"));
      return;
    }
    std::string frame_name = name;
    boost::asio::post(ep_.get_io_service(), [this, frame_name, args, ack]() mutable {
      if (phase_ != phase::connected) {
        report_error(string_message::create("not connected"));
        return;
      }
      int64_t id = -1;
      if (ack) {
        id = next_ack_id_++;
        acks_[id] = std::move(ack);
      }
      websocketpp::lib::error_code ec;
      ep_.send(hdl_, packet::encode_event(frame_name, args, id), websocketpp::frame::opcode::text,
               ec);
      if (ec) {
        acks_.erase(id);
        report_error(string_message::create(ec.message()));
      }
    });
  }

  void close() {
    if (!thread_.joinable()) return;
    boost::asio::post(ep_.get_io_service(), [this] { begin_close(); });
    {
      std::unique_lock<std::mutex> lock(done_mutex_);
      done_cv_.wait_for(lock, close_timeout + std::chrono::milliseconds(500),
                        [this] { return done_; });
    }
    // A server that does not finish the close handshake (or a loop with work left) is cut off.
    ep_.stop();
    thread_.join();
  }

 private:
  enum class phase { idle, connecting, engine, nsp, connected, failed, closing };

  void run() {
    for (;;) {
      try {
        ep_.run();
        break;
      } catch (...) {
        // A listener threw: the client goes on; the listener's owner reports its own failures.
      }
    }
    std::lock_guard<std::mutex> guard(done_mutex_);
    done_ = true;
    done_cv_.notify_all();
  }

  void start_attempt() {
    if (phase_ == phase::closing || phase_ == phase::failed) return;
    websocketpp::lib::error_code ec;
    ws_client::connection_ptr con = ep_.get_connection(url_, ec);
    if (ec) {  // a malformed address does not get better by retrying
      give_up();
      return;
    }
    con->set_open_handshake_timeout(handshake_timeout.count());
    con->set_close_handshake_timeout(close_timeout.count());
    hdl_ = con->get_handle();
    phase_ = phase::connecting;
    ep_.connect(con);
  }

  bool is_current(const connection_hdl& hdl) const {
    return !hdl_.owner_before(hdl) && !hdl.owner_before(hdl_);
  }

  void attempt_failed() {
    hdl_.reset();
    if (failures_++ < reconnect_attempts) {
      phase_ = phase::connecting;
      retry_timer_ =
          ep_.set_timer(reconnect_delay.count(), [this](websocketpp::lib::error_code ec) {
            if (!ec && phase_ == phase::connecting) start_attempt();
          });
      return;
    }
    give_up();
  }

  void give_up() {
    phase_ = phase::failed;
    open_.store(false);
    acks_.clear();
    if (fail_listener) fail_listener();
  }

  void close_socket() {
    websocketpp::lib::error_code ec;
    ep_.close(hdl_, websocketpp::close::status::normal, "", ec);
  }

  void on_ws_open() {
    if (phase_ == phase::connecting) phase_ = phase::engine;
  }

  void on_ws_fail(connection_hdl hdl) {
    if (!is_current(hdl)) return;
    if (phase_ == phase::connecting || phase_ == phase::engine || phase_ == phase::nsp) {
      attempt_failed();
    }
  }

  void on_ws_close(connection_hdl hdl) {
    if (!is_current(hdl)) return;
    switch (phase_) {
      case phase::connecting:
      case phase::engine:
      case phase::nsp:
        attempt_failed();  // dropped before the namespace was joined
        break;
      case phase::connected:
        give_up();  // lost: an event in flight will never be acknowledged
        break;
      default:
        break;
    }
  }

  void on_frame(const std::string& frame) {
    packet::decoded p;
    if (!packet::decode(frame, p)) return;
    websocketpp::lib::error_code ec;
    switch (p.engine) {
      case packet::engine_type::open:
        if (phase_ == phase::engine) {
          phase_ = phase::nsp;
          ep_.send(hdl_, packet::kConnect, websocketpp::frame::opcode::text, ec);
        }
        return;
      case packet::engine_type::ping:
        ep_.send(hdl_, packet::kPong, websocketpp::frame::opcode::text, ec);
        return;
      case packet::engine_type::close:
        close_socket();  // the close handler decides what it means
        return;
      case packet::engine_type::message:
        break;
      default:
        return;
    }
    if (p.nsp != "/") return;
    switch (p.type) {
      case packet::sio_type::connect:
        if (phase_ == phase::nsp) {
          phase_ = phase::connected;
          open_.store(true);
          if (open_listener) open_listener();
        }
        break;
      case packet::sio_type::connect_error: {
        const Json::Value& text = p.data.isObject() ? p.data["message"] : p.data;
        report_error(text.isString() ? string_message::create(text.asString()) : from_json(p.data));
        if (phase_ == phase::nsp) {  // refused: the token will not change by retrying
          give_up();
          close_socket();
        }
        break;
      }
      case packet::sio_type::ack: {
        auto it = acks_.find(p.ack_id);
        if (it == acks_.end()) break;
        socket::ack_handler handler = std::move(it->second);
        acks_.erase(it);
        handler(list_from_json(p.data));
        break;
      }
      case packet::sio_type::disconnect:
        if (phase_ == phase::connected) {
          give_up();
          close_socket();
        }
        break;
      default:
        break;  // events from the server are not used by this link
    }
  }

  void report_error(const message::ptr& msg) {
    socket::error_listener listener;
    {
      std::lock_guard<std::mutex> guard(listener_mutex_);
      listener = error_listener_;
    }
    if (listener) listener(msg);
  }

  void begin_close() {
    phase previous = phase_;
    phase_ = phase::closing;
    open_.store(false);
    acks_.clear();
    if (retry_timer_) retry_timer_->cancel();
    websocketpp::lib::error_code ec;
    ws_client::connection_ptr con = ep_.get_con_from_hdl(hdl_, ec);
    if (ec || !con || con->get_state() != websocketpp::session::state::open) {
      ep_.stop();  // nothing to say goodbye to
      return;
    }
    if (previous == phase::connected) {
      ep_.send(hdl_, packet::kDisconnect, websocketpp::frame::opcode::text, ec);
    }
    close_socket();
  }

  ws_client ep_;
  std::thread thread_;
  bool started_ = false;  // caller thread
  std::string url_;

  // Network thread only.
  phase phase_ = phase::idle;
  unsigned failures_ = 0;
  connection_hdl hdl_;
  ws_client::timer_ptr retry_timer_;
  std::map<int64_t, socket::ack_handler> acks_;
  int64_t next_ack_id_ = 0;

  std::atomic<bool> open_{false};
  std::mutex listener_mutex_;
  socket::error_listener error_listener_;  // guarded by listener_mutex_

  std::mutex done_mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;  // guarded by done_mutex_: the loop has returned
};

client::client() : impl_(std::make_unique<impl>()), socket_(std::make_unique<sio::socket>(this)) {}

client::~client() { close(); }

void client::set_open_listener(con_listener listener) {
  impl_->open_listener = std::move(listener);
}

void client::set_fail_listener(con_listener listener) {
  impl_->fail_listener = std::move(listener);
}

void client::set_reconnect_attempts(unsigned attempts) { impl_->reconnect_attempts = attempts; }

void client::set_reconnect_delay(std::chrono::milliseconds delay) {
  impl_->reconnect_delay = delay;
}

void client::set_handshake_timeout(std::chrono::milliseconds timeout) {
  impl_->handshake_timeout = timeout;
}

void client::set_close_timeout(std::chrono::milliseconds timeout) {
  impl_->close_timeout = timeout;
}

void client::set_logs_quiet() {}

void client::connect(const std::string& base_url, const std::map<std::string, std::string>& query) {
  std::string url = base_url;
  if (url.rfind("http://", 0) == 0) url = "ws://" + url.substr(7);
  url += "/socket.io/?EIO=4&transport=websocket";
  for (const auto& [key, value] : query) {
    url += '&';
    url += packet::url_encode(key);
    url += '=';
    url += packet::url_encode(value);
  }
  impl_->connect(std::move(url));
}

bool client::opened() const { return impl_->opened(); }

sio::socket& client::socket() { return *socket_; }

void client::close() { impl_->close(); }

void socket::emit(const std::string& name, const message::list& args, ack_handler ack) {
  owner_->impl_->emit(name, args, std::move(ack));
}

void socket::set_error_listener(error_listener listener) {
  owner_->impl_->set_error_listener(std::move(listener));
}

}  // namespace sio
