// The reversible string encryption: AES-256-CTR under a root-only key with a 6-byte random
// nonce; the format and its reasons are described in zolt_crypt.h.
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/zolt_key_file.h"
#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "crypt/zolt_crypt.h"

namespace {

constexpr char kVersion = '1';
constexpr size_t kKeyLen = 32;
constexpr size_t kNonceLen = 6;

using Key = std::array<unsigned char, kKeyLen>;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// Clears a key copy when it goes out of scope.
struct KeyWipe {
  Key& key;
  ~KeyWipe() { OPENSSL_cleanse(key.data(), key.size()); }
};

std::optional<Key> GetKey() {
  Key key{};
  if (!ZOLTKeyFileGet(ZOLTCryptKeyPath(), key.data(), key.size())) return std::nullopt;
  return key;
}

// AES-256-CTR over `len` bytes; the same operation encrypts and decrypts.
bool Ctr(const Key& key, const unsigned char* nonce, const unsigned char* in, size_t len,
         unsigned char* out) {
  unsigned char iv[16] = {0};
  std::memcpy(iv, nonce, kNonceLen);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, key.data(), iv) != 1) {
    return false;
  }
  size_t done = 0;
  while (done < len) {
    int piece = static_cast<int>(std::min<size_t>(len - done, 1 << 20));
    int outLen = 0;
    if (EVP_EncryptUpdate(ctx.get(), out + done, &outLen, in + done, piece) != 1 ||
        outLen != piece) {
      return false;
    }
    done += static_cast<size_t>(piece);
  }
  return true;
}

}  // namespace

std::string ZOLTCryptKeyPath() { return ZOLTRootPath("/etc/zolt/crypt/string.key"); }

bool ZOLTStringEncrypt(const char* plain, char* out, size_t outSize) {
  if (plain == nullptr || out == nullptr) return false;
  size_t len = std::strlen(plain);
  std::optional<Key> key = GetKey();
  if (!key) return false;
  KeyWipe wipe{*key};
  std::string raw(kNonceLen + len, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(raw.data());
  if (RAND_bytes(bytes, static_cast<int>(kNonceLen)) != 1) return false;
  if (!Ctr(*key, bytes, reinterpret_cast<const unsigned char*>(plain), len, bytes + kNonceLen)) {
    return false;
  }
  std::string text = kVersion + ZOLTBase64UrlEncode(raw.data(), raw.size());
  OPENSSL_cleanse(raw.data(), raw.size());
  if (text.size() + 1 > outSize) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

bool ZOLTStringDecrypt(const char* cipher, char* out, size_t outSize) {
  if (cipher == nullptr || out == nullptr || cipher[0] != kVersion) return false;
  std::string raw;
  if (!ZOLTBase64UrlDecode(cipher + 1, raw) || raw.size() < kNonceLen) return false;
  size_t len = raw.size() - kNonceLen;
  if (len + 1 > outSize) return false;
  std::optional<Key> key = GetKey();
  if (!key) return false;
  KeyWipe wipe{*key};
  std::string plain(len, '\0');
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  bool ok =
      Ctr(*key, bytes, bytes + kNonceLen, len, reinterpret_cast<unsigned char*>(plain.data()));
  // A NUL inside cannot come from a C string: the text was altered or is from another key.
  ok = ok && plain.find('\0') == std::string::npos;
  if (ok) std::memcpy(out, plain.c_str(), len + 1);
  OPENSSL_cleanse(plain.data(), plain.size());
  return ok;
}
