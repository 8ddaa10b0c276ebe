// The system password of a protected spreadsheet: made at random, kept in the Drive object's
// metatext "password" wrapped under the document password (format in zoltsh_encrypt.h).
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/runas.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "crypt/zolt_crypt.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"

namespace {

constexpr size_t kMagicLen = sizeof(ENCRYPT_MAGIC_STR) - 1;

// A heap buffer for a secret, wiped and freed when it goes out of scope.
class SecretChars {
 public:
  explicit SecretChars(size_t len) : len_(len), chars_(new (std::nothrow) char[len]) {}
  ~SecretChars() {
    if (chars_) OPENSSL_cleanse(chars_.get(), len_);
  }
  SecretChars(const SecretChars&) = delete;
  SecretChars& operator=(const SecretChars&) = delete;
  char* get() const { return chars_.get(); }
  size_t size() const { return len_; }

 private:
  size_t len_;
  std::unique_ptr<char[]> chars_;
};

struct Wipe {
  std::string& text;
  ~Wipe() { OPENSSL_cleanse(text.data(), text.size()); }
};

// The platform's string encryption reads a root-only key.
bool PlatformEncrypt(const std::string& plain, SecretChars& out) {
  bool ok = false;
  ENTERCriticalSection;
  ok = ZOLTStringEncrypt(plain.c_str(), out.get(), out.size());
  LEAVECriticalSection;
  return ok;
}

bool PlatformDecrypt(const std::string& cipher, SecretChars& out) {
  bool ok = false;
  ENTERCriticalSection;
  ok = ZOLTStringDecrypt(cipher.c_str(), out.get(), out.size());
  LEAVECriticalSection;
  return ok;
}

}  // namespace

bool ZOLT_SH_ENCRYPT::GenRandPassword(std::string& out) {
  char buffer[OPENSSL_PASSWORD_LENGTH + 1];
  if (ZOLTSH_FAIL_LOG(!genRandomString(buffer, OPENSSL_PASSWORD_LENGTH))) return false;
  out.assign(buffer, OPENSSL_PASSWORD_LENGTH);
  OPENSSL_cleanse(buffer, sizeof(buffer));
  return true;
}

bool ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(const std::string& sysPass,
                                             const std::string& password, Json::Value& out) {
  // A stored form that could never be unwrapped (no system password, no document password, or
  // one cut short at a NUL) would lock the document for good: refuse to make one.
  if (ZOLTSH_FAIL_SET(sysPass.empty() || password.empty(), ZOLTSH_ERR_PASSWORD)) return false;
  if (ZOLTSH_FAIL_SET(std::string::npos != sysPass.find('\0'), ZOLTSH_ERR_PASSWORD)) return false;
  SecretChars pszEncrypted(ZOLTStringEncryptBufSize(sysPass.size()));
  if (ZOLTSH_FAIL_SET(NULL == pszEncrypted.get(), ZOLTSH_ERR_OPERATION_FAILED)) return false;
  if (ZOLTSH_FAIL_SET(!PlatformEncrypt(sysPass, pszEncrypted), ZOLTSH_ERR_PASSWORD)) return false;
  std::string plain = ENCRYPT_MAGIC_STR;
  plain += pszEncrypted.get();
  Wipe wipe{plain};
  Json::Value wrapped;
  if (ZOLTSH_FAIL_SET(!EncryptStringToBase64(plain, password, wrapped), ZOLTSH_ERR_PASSWORD)) {
    return false;
  }
  out.swap(wrapped);
  return true;
}

bool ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(const std::string& cipher,
                                               const std::string& password, std::string& sysPass) {
  if (cipher.empty() || password.empty()) {
    // Nothing to check: no log line, but the caller's answer says why.
    ZOLTSHErrSetEx(ZOLTSH_ERR_PASSWORD, ZOLTSH_FILE, __LINE__, "no password");
    return false;
  }
  std::string plain;
  Wipe wipe{plain};
  if (ZOLTSH_FAIL_SET(!DecryptStringFromBase64(cipher, password, plain), ZOLTSH_ERR_PASSWORD)) {
    return false;
  }
  if (0 != plain.compare(0, kMagicLen, ENCRYPT_MAGIC_STR)) {
    // The padding happened to check under a wrong password (about one in 256): still a wrong
    // password, and the caller's answer must say so.
    ZOLTSH_LOG_ERR("wrong pass");
    ZOLTSHErrSetEx(ZOLTSH_ERR_PASSWORD, ZOLTSH_FILE, __LINE__, "wrong pass");
    return false;
  }
  std::string rest = plain.substr(kMagicLen);
  Wipe wipeRest{rest};
  SecretChars pszDecrypted(rest.size() + 1);
  if (ZOLTSH_FAIL_SET(NULL == pszDecrypted.get(), ZOLTSH_ERR_OPERATION_FAILED)) return false;
  if (ZOLTSH_FAIL_SET(!PlatformDecrypt(rest, pszDecrypted) || '\0' == pszDecrypted.get()[0],
                      ZOLTSH_ERR_PASSWORD)) {
    return false;
  }
  sysPass = pszDecrypted.get();
  return true;
}

bool ZOLT_SH_ENCRYPT::GetSysPassFromMetaText(const Json::Value& metatext,
                                             const std::string& password, std::string& sysPass) {
  if (ZOLTSH_FAIL_LOG(!metatext.isObject())) return false;
  const Json::Value& encrypt = metatext["encrypt"];
  const Json::Value& stored = metatext["password"];
  if (!encrypt.isBool() || !encrypt.asBool() || !stored.isString()) return true;
  if (ZOLTSH_FAIL_SET(!DecryptSysPassFromBase64(stored.asString(), password, sysPass),
                      ZOLTSH_ERR_PASSWORD)) {
    return false;
  }
  return true;
}

bool ZOLT_SH_ENCRYPT::CheckSysPass(const std::string& objectId, unsigned uid,
                                   const std::string& password, std::string& sysPass) {
  Json::Value param(Json::objectValue);
  param["requester"] = uid;
  param["id"] = objectId;
  param["ns"] = "Tabvale";
  param["field"]["text"] = false;
  param["field"]["metatext"] = true;
  ZOLT_DRIVE_OBJECT object;
  if (!object.Get(param)) {
    ZOLTSH_LOG_ERR("Failed to load from zoltdrive: %s", Json::toString(param).c_str());
    return false;
  }
  if (!GetSysPassFromMetaText(object.get_ref_metatext(), password, sysPass)) {
    ZOLTSH_LOG_ERR("Pass error: User %u access %s", uid, objectId.c_str());
    return false;
  }
  return true;
}

bool ZOLT_SH_ENCRYPT::CheckSysPass(const std::string& objectId, unsigned uid,
                                   const std::string& password) {
  std::string sysPass;
  Wipe wipe{sysPass};
  return CheckSysPass(objectId, uid, password, sysPass);
}
