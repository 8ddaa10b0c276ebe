// Standard base64 and base64url, strict in what they accept.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypt/zolt_crypt.h"

namespace {

constexpr char kStd[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

struct DecodeTable {
  int8_t value[256];
  explicit constexpr DecodeTable(const char* alphabet) : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 64; ++i)
      value[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
  }
};
constexpr DecodeTable kStdTable(kStd);
constexpr DecodeTable kUrlTable(kUrl);

std::string Encode(const void* data, size_t len, const char* alphabet, bool pad) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((len + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= len; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  size_t rest = len - i;
  if (rest == 1) {
    uint32_t v = uint32_t{in[i]} << 16;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    if (pad) out += "==";
  } else if (rest == 2) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    if (pad) out += '=';
  }
  return out;
}

// Decodes `digits` (alphabet characters only, no padding); a length of 1 mod 4 and unused low bits
// that are not zero are refused, so every accepted text is the one encoding of its bytes.
bool DecodeDigits(std::string_view digits, const DecodeTable& table, std::string& out) {
  if (digits.size() % 4 == 1) return false;
  std::string bytes;
  bytes.reserve(digits.size() / 4 * 3 + 2);
  uint32_t acc = 0;
  int bits = 0;
  for (char c : digits) {
    int v = table.value[static_cast<unsigned char>(c)];
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((acc >> bits) & 0xff);
    }
  }
  if ((acc & ((1u << bits) - 1)) != 0) return false;
  out.swap(bytes);
  return true;
}

}  // namespace

std::string ZOLTBase64Encode(const void* data, size_t len) { return Encode(data, len, kStd, true); }

std::string ZOLTBase64UrlEncode(const void* data, size_t len) {
  return Encode(data, len, kUrl, false);
}

bool ZOLTBase64Decode(std::string_view text, std::string& out) {
  std::string digits;
  digits.reserve(text.size());
  size_t padding = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    if (padding != 0) return false;  // a digit after "="
    digits += c;
  }
  if ((digits.size() + padding) % 4 != 0) return false;
  // The padding must be exactly what the digits need: 2 for a last group of 2, 1 for 3, 0 for 4.
  size_t need = (4 - digits.size() % 4) % 4;
  if (need != padding) return false;
  return DecodeDigits(digits, kStdTable, out);
}

bool ZOLTBase64UrlDecode(std::string_view text, std::string& out) {
  return DecodeDigits(text, kUrlTable, out);
}
