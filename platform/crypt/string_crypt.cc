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

#include "core/zolt_root.h"
#include "core/zolt_syslog.h"
#include "crypt/zolt_crypt.h"

namespace {

constexpr char kVersion = '1';
constexpr size_t kKeyLen = 32;
constexpr size_t kNonceLen = 6;

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

// Clears a key copy when it goes out of scope.
struct KeyWipe {
  Key& key;
  ~KeyWipe() { OPENSSL_cleanse(key.data(), key.size()); }
};

std::mutex gKeyMutex;
std::map<std::string, Key>& KeyCache() {
  static std::map<std::string, Key> cache;
  return cache;
}

bool MakeDirs(const std::string& dir, mode_t lastMode) {
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
    ZOLTSyslog(LOG_ERR, "crypt/string_crypt:%d key file %s has a wrong type, mode or size",
               __LINE__, path.c_str());
    errno = EINVAL;
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
              ::fchmod(fd.get(), 0600) == 0 && ::fsync(fd.get()) == 0;
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
    errno = linkErrno;
    return std::nullopt;
  }
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return key;
}

std::optional<Key> GetKey() {
  int savedErrno = errno;
  std::string path = ZOLTCryptKeyPath();
  std::lock_guard<std::mutex> lock(gKeyMutex);
  auto it = KeyCache().find(path);
  if (it != KeyCache().end()) return it->second;
  errno = 0;
  std::optional<Key> key = ReadKey(path);
  if (!key && errno == ENOENT) key = CreateKey(path);
  if (!key) {
    ZOLTSyslog(LOG_ERR, "crypt/string_crypt:%d cannot read or make the key %s [%m]", __LINE__,
               path.c_str());
    errno = savedErrno;
    return std::nullopt;
  }
  KeyCache().emplace(path, *key);
  errno = savedErrno;
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
