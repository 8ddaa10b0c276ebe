#include "sio/sio_packet.h"

#include "json/json_text.h"

namespace sio::packet {

namespace {

engine_type EngineType(char c) {
  switch (c) {
    case '0':
      return engine_type::open;
    case '1':
      return engine_type::close;
    case '2':
      return engine_type::ping;
    case '3':
      return engine_type::pong;
    case '4':
      return engine_type::message;
    case '5':
      return engine_type::upgrade;
    case '6':
      return engine_type::noop;
    default:
      return engine_type::invalid;
  }
}

bool Fail(decoded& out) {
  out = decoded();
  return false;
}

}  // namespace

bool decode(std::string_view frame, decoded& out) {
  out = decoded();
  if (frame.empty()) return false;
  out.engine = EngineType(frame[0]);
  std::string_view rest = frame.substr(1);
  switch (out.engine) {
    case engine_type::invalid:
      return false;
    case engine_type::open:
      if (!Json::fromString(out.data, rest) || !out.data.isObject()) return Fail(out);
      return true;
    case engine_type::message:
      break;
    default:
      return true;  // close, ping, pong, upgrade, noop: any probe text is ignored
  }

  if (rest.empty() || rest[0] < '0' || rest[0] > '6') return Fail(out);
  out.type = static_cast<sio_type>(rest[0] - '0');
  rest.remove_prefix(1);
  if (out.type == sio_type::binary_event || out.type == sio_type::binary_ack) {
    // "<attachments>-" precedes the rest; the link never asks for binary data.
    size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return Fail(out);
    rest.remove_prefix(dash + 1);
  }
  if (!rest.empty() && rest[0] == '/') {
    size_t comma = rest.find(',');
    out.nsp = std::string(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  if (digits > 0) {
    if (digits > 15) return Fail(out);
    out.ack_id = std::stoll(std::string(rest.substr(0, digits)));
    rest.remove_prefix(digits);
  }
  if (!rest.empty() && !Json::fromString(out.data, rest)) return Fail(out);

  switch (out.type) {
    case sio_type::event:
    case sio_type::binary_event:
      if (!out.data.isArray() || out.data.empty() || !out.data[0].isString()) return Fail(out);
      break;
    case sio_type::ack:
    case sio_type::binary_ack:
      if (out.ack_id < 0 || !out.data.isArray()) return Fail(out);
      break;
    case sio_type::connect_error:
      if (!out.data.isObject() && !out.data.isString()) return Fail(out);
      break;
    default:
      break;
  }
  return true;
}

std::string encode_event(const std::string& name, const message::list& args, int64_t ack_id) {
  Json::Value array(Json::arrayValue);
  array.append(name);
  for (const message::ptr& item : args.get_vector()) array.append(to_json(item));
  std::string frame = "42";
  if (ack_id >= 0) frame += std::to_string(ack_id);
  Json::appendString(frame, array);
  return frame;
}

std::string url_encode(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace sio::packet
