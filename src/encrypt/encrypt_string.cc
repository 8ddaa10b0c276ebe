// The string form of the container: base64 text in JSON fields and in Drive text files.
#include <errno.h>
#include <openssl/crypto.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "common/runas.h"
#include "common/zoltsh_log.h"
#include "crypt/zolt_crypt.h"
#include "encrypt/aes_container.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"

using zoltsh::encrypt::DecryptContainer;
using zoltsh::encrypt::EncryptContainer;

namespace {

// Wipes a plaintext buffer when it goes out of scope.
struct Wipe {
  std::string& text;
  ~Wipe() { OPENSSL_cleanse(text.data(), text.size()); }
};

// Owns a read-only private mapping.
class Mapping {
 public:
  Mapping(void* addr, size_t len) : addr_(addr), len_(len) {}
  ~Mapping() {
    if (addr_ != MAP_FAILED) ::munmap(addr_, len_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  bool ok() const { return addr_ != MAP_FAILED; }
  const char* data() const { return static_cast<const char*>(addr_); }

 private:
  void* addr_;
  size_t len_;
};

// The common step of the string decryptions: plain := the whole plaintext of the string form.
bool DecryptString(std::string_view strCipher, const std::string& password, std::string& plain) {
  if (ZOLTSH_FAIL_LOG(strCipher.empty())) return false;
  std::string container;
  if (ZOLTSH_FAIL_LOG(!ZOLTBase64Decode(strCipher, container))) return false;
  return DecryptContainer(container, password, plain);
}

// The plaintext up to its first NUL, as the callers of the string form read it.
std::string UpToNul(const std::string& plain) { return plain.substr(0, plain.find('\0')); }

}  // namespace

bool ZOLT_SH_ENCRYPT::EncryptStringToBase64(const std::string& plain, const std::string& password,
                                            Json::Value& out) {
  if (plain.empty()) return false;
  std::string container;
  if (!EncryptContainer(plain, password, container)) return false;
  out = ZOLTBase64Encode(container.data(), container.size());
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptStringFromBase64(const std::string& cipher,
                                              const std::string& password, std::string& out) {
  std::string plain;
  Wipe wipe{plain};
  if (!DecryptString(cipher, password, plain)) return false;
  out = UpToNul(plain);
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptStringFromBase64(const std::string& cipher,
                                              const std::string& password, Json::Value& out) {
  std::string plain;
  Wipe wipe{plain};
  if (!DecryptString(cipher, password, plain)) return false;
  std::string text = UpToNul(plain);
  Wipe wipeText{text};
  Json::Value value;
  if (!Json::fromString(value, text)) {
    // The plaintext of a protected document stays out of the system log; its size is enough to
    // tell a truncated text from a wrong one.
    std::string what = "plaintext of " + std::to_string(text.size()) + " bytes";
    ZOLTSH_LOG_ERR("Failed to parse %s", what.c_str());
    return false;
  }
  out.swap(value);
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(const std::string& inputPath,
                                                    const std::string& password, FILE* out) {
  if (ZOLTSH_FAIL_LOG(inputPath.empty() || NULL == out)) return false;
  zoltsh::encrypt::Fd fd(zoltsh::encrypt::OpenInputAsRoot(inputPath));
  if (fd.get() < 0) return false;
  struct stat st {};
  int statRc = -1;
  int statErrno = 0;
  ENTERCriticalSection;
  statRc = ::fstat(fd.get(), &st);
  statErrno = errno;
  LEAVECriticalSection;
  if (statRc != 0) errno = statErrno;
  if (ZOLTSH_FAIL_LOG(0 != statRc)) return false;
  if (ZOLTSH_FAIL_LOG(!S_ISREG(st.st_mode))) return false;
  if (st.st_size < 3) return true;
  size_t size = static_cast<size_t>(st.st_size);
  // Mapped private and read-only: the stored text file is never written through.
  Mapping map(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0), size);
  if (!map.ok()) {
    ZOLTSH_LOG_ERR("mmamp failed [%m]");
    errno = 0;
    return false;
  }
  // The text between the enclosing characters; nothing is written into the mapping.
  std::string_view text(map.data() + 1, size - 2);
  std::string plain;
  Wipe wipe{plain};
  if (!DecryptString(text, password, plain)) return false;
  size_t written = 0;
  ENTERCriticalSection;
  written = fwrite(plain.data(), 1, plain.size(), out);
  LEAVECriticalSection;
  if (ZOLTSH_FAIL_LOG(written != plain.size())) return false;
  return true;
}
