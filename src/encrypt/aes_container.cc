// The encrypted container: salt, key derivation, whole-buffer encryption and decryption, and the
// header of a container file. Layout in zoltsh_encrypt.h.
#include "encrypt/aes_container.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/runas.h"
#include "common/zoltsh_log.h"
#include "encrypt/zoltsh_encrypt.h"

namespace zoltsh::encrypt {

namespace {

constexpr size_t kMagicLen = sizeof(OPENSSL_MAGIC_SALT) - 1;
static_assert(kMagicLen + OPENSSL_SALT_LENGTH == kHeaderLen);

bool HasMagic(const void* header) {
  return std::memcmp(header, OPENSSL_MAGIC_SALT, kMagicLen) == 0;
}

}  // namespace

const char* OpenSSLReason() {
  const char* reason = ERR_reason_error_string(ERR_get_error());
  ERR_clear_error();
  return reason != nullptr ? reason : "unknown";
}

bool InitAES(const unsigned char* salt, const std::string& password, EVP_CIPHER_CTX* enc,
             EVP_CIPHER_CTX* dec) {
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH];
  int keyLen = EVP_BytesToKey(EVP_aes_256_cbc(), EVP_md5(), salt,
                              reinterpret_cast<const unsigned char*>(password.data()),
                              static_cast<int>(password.size()), 1, key, iv);
  bool ok = true;
  if (keyLen != 32) {
    ZOLTSH_LOG_ERR("Key size is %d bits - should be 256 bits", keyLen);
    ok = false;
  }
  if (ok && enc != nullptr) {
    ok = EVP_EncryptInit_ex(enc, EVP_aes_256_cbc(), nullptr, key, iv) == 1;
  }
  if (ok && dec != nullptr) {
    ok = EVP_DecryptInit_ex(dec, EVP_aes_256_cbc(), nullptr, key, iv) == 1;
  }
  OPENSSL_cleanse(key, sizeof(key));
  OPENSSL_cleanse(iv, sizeof(iv));
  return ok;
}

bool EncryptContainer(std::string_view plain, const std::string& password, std::string& container) {
  char salt[OPENSSL_SALT_LENGTH + 1];
  if (ZOLTSH_FAIL_LOG(!genRandomString(salt, OPENSSL_SALT_LENGTH))) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (ZOLTSH_FAIL_LOG(!ctx)) return false;
  if (!InitAES(reinterpret_cast<const unsigned char*>(salt), password, ctx.get(), nullptr)) {
    ZOLTSH_LOG_ERR("InitAES fail");
    return false;
  }
  std::string out;
  out.resize(kHeaderLen + plain.size() + kBlockLen);
  std::memcpy(out.data(), OPENSSL_MAGIC_SALT, kMagicLen);
  std::memcpy(out.data() + kMagicLen, salt, OPENSSL_SALT_LENGTH);
  auto* dst = reinterpret_cast<unsigned char*>(out.data()) + kHeaderLen;
  const auto* src = reinterpret_cast<const unsigned char*>(plain.data());
  size_t done = 0;
  size_t written = 0;
  while (done < plain.size()) {
    int piece = static_cast<int>(std::min(plain.size() - done, kPieceLen));
    int outLen = 0;
    if (EVP_EncryptUpdate(ctx.get(), dst + written, &outLen, src + done, piece) != 1) {
      ZOLTSH_LOG_ERR("AES Encrypt fail: %s", OpenSSLReason());
      return false;
    }
    done += static_cast<size_t>(piece);
    written += static_cast<size_t>(outLen);
  }
  int finalLen = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), dst + written, &finalLen) != 1) {
    ZOLTSH_LOG_ERR("AES Encrypt Final fail: %s", OpenSSLReason());
    return false;
  }
  out.resize(kHeaderLen + written + static_cast<size_t>(finalLen));
  container.swap(out);
  return true;
}

bool DecryptContainer(std::string_view container, const std::string& password, std::string& plain) {
  if (container.size() < kHeaderLen || !HasMagic(container.data())) {
    ZOLTSH_LOG_ERR("File doesn't contain magic salt");
    return false;
  }
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (ZOLTSH_FAIL_LOG(!ctx)) return false;
  const auto* salt = reinterpret_cast<const unsigned char*>(container.data()) + kMagicLen;
  if (!InitAES(salt, password, nullptr, ctx.get())) {
    ZOLTSH_LOG_ERR("AES Decrypt fail: %s", OpenSSLReason());
    return false;
  }
  std::string_view body = container.substr(kHeaderLen);
  std::string out;
  out.resize(body.size() + kBlockLen);
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  const auto* src = reinterpret_cast<const unsigned char*>(body.data());
  size_t done = 0;
  size_t written = 0;
  while (done < body.size()) {
    int piece = static_cast<int>(std::min(body.size() - done, kPieceLen));
    int outLen = 0;
    if (EVP_DecryptUpdate(ctx.get(), dst + written, &outLen, src + done, piece) != 1) {
      ZOLTSH_LOG_ERR("AES Decrypt fail: %s", OpenSSLReason());
      OPENSSL_cleanse(out.data(), out.size());
      return false;
    }
    done += static_cast<size_t>(piece);
    written += static_cast<size_t>(outLen);
  }
  int finalLen = 0;
  if (EVP_DecryptFinal_ex(ctx.get(), dst + written, &finalLen) != 1) {
    // A wrong password or damaged data: the padding of the last block does not check.
    ZOLTSH_LOG_ERR("AES Decrypt fail: %s", OpenSSLReason());
    OPENSSL_cleanse(out.data(), out.size());
    return false;
  }
  out.resize(written + static_cast<size_t>(finalLen));
  plain.swap(out);
  return true;
}

int OpenInputAsRoot(const std::string& path) {
  int fd = -1;
  int openErrno = 0;
  ENTERCriticalSection;
  fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  openErrno = errno;
  LEAVECriticalSection;
  if (fd < 0) errno = openErrno;
  ZOLTSH_FAIL_LOG_DETAIL(0 > fd, path.c_str());
  return fd;
}

ssize_t ReadPieceAsRoot(int fd, unsigned char* buf, size_t len) {
  size_t got = 0;
  int readErrno = 0;
  ENTERCriticalSection;
  while (got < len) {
    ssize_t n = ::read(fd, buf + got, len - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      readErrno = errno;
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  LEAVECriticalSection;
  if (readErrno != 0) {
    errno = readErrno;
    return -1;
  }
  return static_cast<ssize_t>(got);
}

bool CheckAndGetSaltFromFile(int fd, unsigned char* salt) {
  unsigned char header[kHeaderLen];
  ssize_t n = ReadPieceAsRoot(fd, header, sizeof(header));
  if (n != static_cast<ssize_t>(kHeaderLen)) {
    ZOLTSH_LOG_ERR("Length of salt is incorrect[%zd, %zd]", n, static_cast<ssize_t>(kHeaderLen));
    return false;
  }
  if (!HasMagic(header)) {
    ZOLTSH_LOG_ERR("File doesn't contain magic salt");
    return false;
  }
  std::memcpy(salt, header + kMagicLen, OPENSSL_SALT_LENGTH);
  return true;
}

}  // namespace zoltsh::encrypt

bool genRandomString(char* buffer, size_t n) {
  if (buffer == nullptr) return false;
  for (size_t i = 0; i < n; ++i) {
    uint32_t value = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof(value)) != 1) {
      unsigned long err = ERR_get_error();
      const char* reason = ERR_reason_error_string(err);
      char text[256];
      ERR_error_string_n(err, text, sizeof(text));
      ZOLTSH_LOG_ERR("Error: %s", reason != nullptr ? reason : "unknown");
      ZOLTSH_LOG_ERR("%s", text);
      OPENSSL_cleanse(buffer, i);
      buffer[0] = '\0';
      return false;
    }
    buffer[i] = static_cast<char>(value % 95 + 32);
  }
  buffer[n] = '\0';
  return true;
}
