// Re-encrypting or decrypting the stored image files of a spreadsheet into temporary files, for
// the Drive store to take in as the object's new metabinary files.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "common/file.h"
#include "common/zoltsh_log.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"

namespace {

struct FileClose {
  void operator()(FILE* f) const { fclose(f); }
};

// Encrypts or decrypts `stored` into a new temporary file under tmpDir. The path of the whole
// file, or "" (logged; nothing left behind) on failure.
std::string Transform(const std::string& stored, const std::string& tmpDir,
                      const std::string& sysPass, bool encrypt) {
  std::string path = tmpDir + (encrypt ? "/encrypt_file.XXXXXX" : "/decrypt_file.XXXXXX");
  int fdTemp = ::mkostemp(path.data(), O_CLOEXEC);
  if (ZOLTSH_FAIL_LOG(0 > fdTemp)) return "";
  std::unique_ptr<FILE, FileClose> fOut(fdopen(fdTemp, "wb"));
  if (ZOLTSH_FAIL_LOG(NULL == fOut)) {
    ::close(fdTemp);
    ::unlink(path.c_str());
    return "";
  }
  bool ok = encrypt ? ZOLT_SH_ENCRYPT::EncryptFileToStream(stored, sysPass, fOut.get())
                    : ZOLT_SH_ENCRYPT::DecryptFileToStream(stored, sysPass, fOut.get());
  ok = ok && !ZOLTSH_FAIL_LOG(0 != fclose(fOut.release()));
  if (!ok) {
    fOut.reset();
    ::unlink(path.c_str());
    return "";
  }
  return path;
}

}  // namespace

bool ZOLT_SH_ENCRYPT::UpdateMetaBinary(Json::Value attachments, const Json::Value& metabinaryInfo,
                                       const std::string& objectId, std::string sysPass,
                                       bool encrypt, zoltsh::utils::TmpFileManager& tfm,
                                       Json::Value& out) {
  if (attachments.isNull() || metabinaryInfo.isNull() || sysPass.empty()) return true;
  std::string tmpDir;
  if (ZOLTSH_FAIL_LOG(!ZOLTSHFindTmpStorage(tmpDir))) return false;

  std::set<std::string> names;
  if (attachments.isObject() || attachments.isArray()) {
    for (const Json::Value& entry : attachments) {
      if (!entry.isObject()) continue;
      if (entry["name"].isString()) names.insert(entry["name"].asString());
      if (entry["thumb"].isString()) names.insert(entry["thumb"].asString());
    }
  }

  Json::Value files(Json::arrayValue);
  for (const std::string& name : names) {
    if (!metabinaryInfo.isObject() || !metabinaryInfo.isMember(name)) continue;
    std::string stored;
    if (!ZOLTDriveGetMetaBinaryPath("Tabvale", objectId, name, stored)) {
      ZOLTSH_LOG_ERR("cannot get metabinary path %s [%s]", objectId.c_str(), name.c_str());
      continue;
    }
    std::string path = Transform(stored, tmpDir, sysPass, encrypt);
    if (path.empty()) {
      if (encrypt) {
        ZOLTSH_LOG_ERR("cannot encrypt file [%s] under [%s]", stored.c_str(), tmpDir.c_str());
      } else {
        ZOLTSH_LOG_ERR("Cannot DecryptFile [%s] under [%s]", stored.c_str(), tmpDir.c_str());
      }
      continue;
    }
    tfm.Register(path);
    Json::Value file(Json::objectValue);
    file["format"] = "raw";
    file["name"] = name;
    file["path"] = path;
    files.append(std::move(file));
  }
  out.swap(files);
  return true;
}
