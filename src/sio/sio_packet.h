// Wire form of the socket.io link: Engine.IO v4 packets carrying socket.io v5 packets, one
// WebSocket text frame each.
//
//   0{...}        open (server -> client): the Engine.IO session
//   1             close;  2 ping (server -> client);  3 pong (client -> server);  6 noop
//   4<sio>        message, whose socket.io packet is
//     0[/nsp,][{...}]        namespace connect (client: "40"; server: 40{"sid":...})
//     1[/nsp,]               leave the namespace ("41"; it does not close the socket)
//     2[/nsp,][N][...]       event ["name", arg...], N the acknowledgement id when one is wanted
//     3[/nsp,]N[...]         acknowledgement of event N with its argument list
//     4[/nsp,]{"message"}    namespace connect refused
//   5 and 6 (binary event and acknowledgement) are not used by this link.
//
// Pure functions without state; any thread. Kept to C++17 (the transport includes it).
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/zoltsh_export.h"
#include "sio/sio_message.h"

namespace sio::packet {

enum class engine_type { open, close, ping, pong, message, upgrade, noop, invalid };
enum class sio_type {
  none = -1,
  connect = 0,
  disconnect = 1,
  event = 2,
  ack = 3,
  connect_error = 4,
  binary_event = 5,
  binary_ack = 6
};

struct decoded {
  engine_type engine = engine_type::invalid;
  sio_type type = sio_type::none;  // for engine_type::message
  std::string nsp = "/";
  int64_t ack_id = -1;  // -1: none
  Json::Value data;     // JSON payload (null when none)
};

// Parses one frame. False (and engine_type::invalid) for anything malformed: unknown types, a
// payload that is not JSON, an acknowledgement without an id or whose payload is not an array.
ZOLTSH_API bool decode(std::string_view frame, decoded& out);

// "42" [ack id] ["name", args...] on the default namespace; ack_id < 0 asks for no acknowledgement.
ZOLTSH_API std::string encode_event(const std::string& name, const message::list& args,
                                    int64_t ack_id);

inline constexpr const char* kConnect = "40";
inline constexpr const char* kDisconnect = "41";
inline constexpr const char* kPong = "3";

// Percent-encodes a query value (RFC 3986 unreserved characters stay as they are).
ZOLTSH_API std::string url_encode(std::string_view value);

}  // namespace sio::packet
