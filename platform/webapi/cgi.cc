// The extra-auth parameter line and the CGI value decoder.
//
// Line format: "zx1." followed by base64url without padding of nonce (12 bytes) || ciphertext ||
// tag (16 bytes), AES-256-GCM with the additional data "zolt extra-auth v1". The key is 32 random
// bytes in ZOLTRootPath("/etc/zolt/webapi/extra_auth.key") (mode 0600, in a 0700 directory),
// made at first use: written to a temporary file, fsynced, then linked to its name, so two
// processes racing to make it agree on whichever link came first.
#include "webapi/cgi.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "core/zolt_key_file.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "crypt/zolt_crypt.h"

namespace {

constexpr char kPrefix[] = "zx1.";
constexpr size_t kKeyLen = 32;
constexpr size_t kNonceLen = 12;
constexpr size_t kTagLen = 16;
constexpr char kAad[] = "zolt extra-auth v1";

using Key = std::array<unsigned char, kKeyLen>;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

std::optional<Key> GetKey() {
  Key key{};
  if (!ZOLTKeyFileGet(ZOLTCgiKeyPath(), key.data(), key.size())) return std::nullopt;
  return key;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ZOLTCgiKeyPath() { return ZOLTRootPath("/etc/zolt/webapi/extra_auth.key"); }

bool ZOLTCgiPrepareKey() { return GetKey().has_value(); }

std::string ZOLTCgiEncryptParamLine(const std::string& plain) {
  std::optional<Key> key = GetKey();
  if (!key) return "";
  std::string raw(kNonceLen + plain.size() + kTagLen, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(raw.data());
  if (RAND_bytes(bytes, kNonceLen) != 1) return "";
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int finalLen = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key->data(), bytes) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(kAad),
                        sizeof(kAad) - 1) != 1 ||
      EVP_EncryptUpdate(ctx.get(), bytes + kNonceLen, &len,
                        reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), bytes + kNonceLen + len, &finalLen) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagLen,
                          bytes + kNonceLen + plain.size()) != 1) {
    return "";
  }
  return kPrefix + ZOLTBase64UrlEncode(bytes, raw.size());
}

std::string ZOLTCgiDecryptParamLine(const std::string& line) {
  std::string_view text(line);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  if (text.substr(0, sizeof(kPrefix) - 1) != kPrefix) return "";
  std::string raw;
  if (!ZOLTBase64UrlDecode(text.substr(sizeof(kPrefix) - 1), raw) ||
      raw.size() < kNonceLen + kTagLen) {
    return "";
  }
  std::optional<Key> key = GetKey();
  if (!key) return "";
  auto* bytes = reinterpret_cast<unsigned char*>(raw.data());
  size_t cipherLen = raw.size() - kNonceLen - kTagLen;
  std::string plain(cipherLen, '\0');
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int finalLen = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key->data(), bytes) != 1 ||
      EVP_DecryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(kAad),
                        sizeof(kAad) - 1) != 1 ||
      EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &len,
                        bytes + kNonceLen, static_cast<int>(cipherLen)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagLen,
                          bytes + kNonceLen + cipherLen) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + len,
                          &finalLen) != 1) {
    return "";
  }
  return plain;
}

void ZOLTCgiDecodeParam(std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 &&
               HexValue(value[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  value.swap(out);
}

std::string ZOLTCgiEncodeParam(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
