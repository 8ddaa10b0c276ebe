// The file form of the container: streams from a stored file to the caller's FILE*.
#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/runas.h"
#include "common/zoltsh_log.h"
#include "encrypt/aes_container.h"
#include "encrypt/zoltsh_encrypt.h"

using zoltsh::encrypt::CheckAndGetSaltFromFile;
using zoltsh::encrypt::CipherCtx;
using zoltsh::encrypt::Fd;
using zoltsh::encrypt::InitAES;
using zoltsh::encrypt::kBlockLen;
using zoltsh::encrypt::kPieceLen;
using zoltsh::encrypt::OpenInputAsRoot;
using zoltsh::encrypt::OpenSSLReason;
using zoltsh::encrypt::ReadPieceAsRoot;

namespace {

// A plaintext buffer that is wiped when it goes out of scope.
class SecretBuffer {
 public:
  explicit SecretBuffer(size_t len) : bytes_(len) {}
  ~SecretBuffer() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;
  unsigned char* data() { return bytes_.data(); }

 private:
  std::vector<unsigned char> bytes_;
};

bool WriteAll(const void* data, size_t len, FILE* out) {
  return len == 0 || fwrite(data, 1, len, out) == len;
}

struct FileClose {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

bool ZOLT_SH_ENCRYPT::EncryptFileToStream(const std::string& strInput, const std::string& password,
                                          FILE* fOut) {
  if (ZOLTSH_FAIL_LOG(strInput.empty() || NULL == fOut)) return false;
  Fd fd(OpenInputAsRoot(strInput));
  if (fd.get() < 0) return false;
  char salt[OPENSSL_SALT_LENGTH + 1];
  if (ZOLTSH_FAIL_LOG(!genRandomString(salt, OPENSSL_SALT_LENGTH))) return false;
  if (ZOLTSH_FAIL_LOG(!WriteAll(OPENSSL_MAGIC_SALT, sizeof(OPENSSL_MAGIC_SALT) - 1, fOut)) ||
      ZOLTSH_FAIL_LOG(!WriteAll(salt, OPENSSL_SALT_LENGTH, fOut))) {
    return false;
  }
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (ZOLTSH_FAIL_LOG(!ctx)) return false;
  if (!InitAES(reinterpret_cast<const unsigned char*>(salt), password, ctx.get(), nullptr)) {
    ZOLTSH_LOG_ERR("InitAES fail");
    return false;
  }
  SecretBuffer in(kPieceLen);
  std::vector<unsigned char> enc(kPieceLen + kBlockLen);
  for (;;) {
    ssize_t n = ReadPieceAsRoot(fd.get(), in.data(), kPieceLen);
    if (ZOLTSH_FAIL_LOG(0 > n)) return false;
    if (n == 0) break;
    int outLen = 0;
    if (EVP_EncryptUpdate(ctx.get(), enc.data(), &outLen, in.data(), static_cast<int>(n)) != 1) {
      ZOLTSH_LOG_ERR("AES Encrypt fail: %s", OpenSSLReason());
      return false;
    }
    if (ZOLTSH_FAIL_LOG(!WriteAll(enc.data(), static_cast<size_t>(outLen), fOut))) return false;
    if (static_cast<size_t>(n) < kPieceLen) break;
  }
  int finalLen = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), enc.data(), &finalLen) != 1) {
    ZOLTSH_LOG_ERR("AES Encrypt Final fail: %s", OpenSSLReason());
    return false;
  }
  if (ZOLTSH_FAIL_LOG(!WriteAll(enc.data(), static_cast<size_t>(finalLen), fOut))) return false;
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptFileToStream(const std::string& strInput, const std::string& password,
                                          FILE* fOut) {
  if (ZOLTSH_FAIL_LOG(strInput.empty() || NULL == fOut)) return false;
  Fd fd(OpenInputAsRoot(strInput));
  if (fd.get() < 0) return false;
  unsigned char salt[OPENSSL_SALT_LENGTH];
  if (!CheckAndGetSaltFromFile(fd.get(), salt)) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (ZOLTSH_FAIL_LOG(!ctx)) return false;
  if (!InitAES(salt, password, nullptr, ctx.get())) {
    ZOLTSH_LOG_ERR("InitAES fail");
    return false;
  }
  std::vector<unsigned char> in(kPieceLen);
  SecretBuffer plain(kPieceLen + kBlockLen);
  for (;;) {
    ssize_t n = ReadPieceAsRoot(fd.get(), in.data(), kPieceLen);
    if (ZOLTSH_FAIL_LOG(0 > n)) return false;
    if (n == 0) break;
    int outLen = 0;
    if (EVP_DecryptUpdate(ctx.get(), plain.data(), &outLen, in.data(), static_cast<int>(n)) != 1) {
      ZOLTSH_LOG_ERR("AES Decrypt fail: %s", OpenSSLReason());
      return false;
    }
    if (ZOLTSH_FAIL_LOG(!WriteAll(plain.data(), static_cast<size_t>(outLen), fOut))) return false;
    if (static_cast<size_t>(n) < kPieceLen) break;
  }
  int finalLen = 0;
  if (EVP_DecryptFinal_ex(ctx.get(), plain.data(), &finalLen) != 1) {
    // A wrong password or damaged data: the padding of the last block does not check.
    ZOLTSH_LOG_ERR("AES Decrypt fail: %s", OpenSSLReason());
    return false;
  }
  if (ZOLTSH_FAIL_LOG(!WriteAll(plain.data(), static_cast<size_t>(finalLen), fOut))) return false;
  int flushRc = 0;
  ENTERCriticalSection;
  flushRc = fflush(fOut);
  LEAVECriticalSection;
  if (ZOLTSH_FAIL_LOG(0 != flushRc)) return false;
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptFileToPath(const std::string& strInput, const std::string& password,
                                        const std::string& strOutput) {
  if (ZOLTSH_FAIL_LOG(strInput.empty() || strOutput.empty())) return false;
  // The plaintext goes to a new file beside the output and replaces it only once it is whole, so
  // a wrong password or a damaged container leaves an existing output as it was.
  std::string tmpPath = strOutput + ".XXXXXX";
  int tmpFd = ::mkostemp(tmpPath.data(), O_CLOEXEC);
  if (ZOLTSH_FAIL_LOG_DETAIL(0 > tmpFd, strOutput.c_str())) return false;
  std::unique_ptr<FILE, FileClose> fOut(fdopen(tmpFd, "wb"));
  if (ZOLTSH_FAIL_LOG(NULL == fOut)) {
    ::close(tmpFd);
    ::unlink(tmpPath.c_str());
    return false;
  }
  bool ok = DecryptFileToStream(strInput, password, fOut.get());
  ok = ok && !ZOLTSH_FAIL_LOG(0 != fsync(fileno(fOut.get())));
  ok = ok && !ZOLTSH_FAIL_LOG(0 != fclose(fOut.release()));
  ok = ok &&
       !ZOLTSH_FAIL_LOG_DETAIL(0 != rename(tmpPath.c_str(), strOutput.c_str()), strOutput.c_str());
  if (!ok) {
    fOut.reset();
    ::unlink(tmpPath.c_str());
  }
  return ok;
}
