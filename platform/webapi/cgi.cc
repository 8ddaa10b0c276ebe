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

#include "core/zolt_root.h"
#include "core/zolt_syslog.h"

namespace {

constexpr char kPrefix[] = "zx1.";
constexpr size_t kKeyLen = 32;
constexpr size_t kNonceLen = 12;
constexpr size_t kTagLen = 16;
constexpr char kAad[] = "zolt extra-auth v1";

using Key = std::array<unsigned char, kKeyLen>;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

std::mutex gKeyMutex;
std::map<std::string, Key>& KeyCache() {
  static std::map<std::string, Key> cache;
  return cache;
}

bool MakeDirs(const std::string& dir, mode_t lastMode) {
  // Each missing component below the root is made; the last one gets lastMode.
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (::mkdir(path.c_str(), pos == std::string::npos ? lastMode : 0755) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

std::optional<Key> ReadKey(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 ||
      st.st_size != static_cast<off_t>(kKeyLen)) {
    ZOLTSyslog(LOG_ERR, "webapi/cgi:%d key file %s has a wrong type, mode or size", __LINE__,
               path.c_str());
    return std::nullopt;
  }
  Key key{};
  if (::pread(fd.get(), key.data(), key.size(), 0) != static_cast<ssize_t>(key.size())) {
    return std::nullopt;
  }
  return key;
}

std::optional<Key> CreateKey(const std::string& path) {
  std::string dir = path.substr(0, path.rfind('/'));
  if (!MakeDirs(dir, 0700)) return std::nullopt;
  Key key{};
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) return std::nullopt;
  std::array<unsigned char, 8> rnd{};
  if (RAND_bytes(rnd.data(), static_cast<int>(rnd.size())) != 1) return std::nullopt;
  std::string tmp = dir + "/.key-";
  for (unsigned char c : rnd) tmp += "0123456789abcdef"[c & 15];
  {
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return std::nullopt;
    bool ok = ::write(fd.get(), key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
              ::fsync(fd.get()) == 0;
    if (!ok) {
      ::unlink(tmp.c_str());
      return std::nullopt;
    }
  }
  int rc = ::link(tmp.c_str(), path.c_str());
  int linkErrno = errno;
  ::unlink(tmp.c_str());
  if (rc != 0) {
    if (linkErrno == EEXIST) return ReadKey(path);
    return std::nullopt;
  }
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return key;
}

std::optional<Key> GetKey() {
  std::string path = ZOLTCgiKeyPath();
  std::lock_guard<std::mutex> lock(gKeyMutex);
  auto it = KeyCache().find(path);
  if (it != KeyCache().end()) return it->second;
  std::optional<Key> key = ReadKey(path);
  if (!key && errno == ENOENT) key = CreateKey(path);
  if (!key) {
    ZOLTSyslog(LOG_ERR, "webapi/cgi:%d cannot read or make the key %s [%m]", __LINE__,
               path.c_str());
    return std::nullopt;
  }
  KeyCache().emplace(path, *key);
  return key;
}

std::string Base64UrlEncode(const unsigned char* data, size_t len) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  out.reserve((len + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < len; i += 3) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (len - i == 1) {
    unsigned v = data[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (len - i == 2) {
    unsigned v = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

int Base64UrlValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

bool Base64UrlDecode(std::string_view text, std::string& out) {
  if (text.size() % 4 == 1) return false;
  out.clear();
  unsigned acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = Base64UrlValue(c);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xff);
    }
  }
  // Canonical form only: the bits left over must be zero, so each line has one spelling.
  return (acc & ((1u << bits) - 1)) == 0;
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
  return kPrefix + Base64UrlEncode(bytes, raw.size());
}

std::string ZOLTCgiDecryptParamLine(const std::string& line) {
  std::string_view text(line);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  if (text.substr(0, sizeof(kPrefix) - 1) != kPrefix) return "";
  std::string raw;
  if (!Base64UrlDecode(text.substr(sizeof(kPrefix) - 1), raw) || raw.size() < kNonceLen + kTagLen) {
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
