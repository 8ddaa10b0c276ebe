// ZOLT_SH_ENCRYPT: the encrypted container and the document password scheme.
//
// Encrypted container (the salted layout of the "enc" tool of OpenSSL, AES-256-CBC, MD5 key
// derivation), the one format for every encrypted field and file of a protected spreadsheet:
//
//   offset 0   8 bytes  "Salted__" (OPENSSL_MAGIC_SALT)
//   offset 8   8 bytes  salt: OPENSSL_SALT_LENGTH printable characters from genRandomString
//   offset 16  rest     AES-256-CBC ciphertext with PKCS#7 padding (a multiple of 16, at least 16)
//
// Key and IV come from EVP_BytesToKey(AES-256-CBC, MD5, salt, password bytes, 1 iteration). The
// file form is the raw bytes; the string form is their standard base64 (one line, "=" padding).
// `openssl enc -aes-256-cbc -md md5 -salt -pass pass:PW` (with -a -A for the string form)
// reads and writes the same bytes.
//
// Document password scheme: the content of a protected spreadsheet (each text field, each
// attached image) is a container under a random system password (GenRandPassword, 32 printable
// characters). The system password is kept in the Drive object's metatext "password" as the
// string form of a container under the document password whose plaintext is ENCRYPT_MAGIC_STR
// followed by the system password encrypted with the platform's string encryption
// (crypt/zolt_crypt.h). Changing the document password re-wraps only the system password.
//
// Failure: every operation returns false. The password operations (EncryptSysPassToBase64,
// DecryptSysPassFromBase64, GetSysPassFromMetaText) record on the error stack, code 1033 for a
// missing or wrong password and for failures of the string encryption, 1000 for exhausted memory;
// the others only log to the system log. Plaintext leaves these functions only into the caller's
// string, value or stream. A failed decryption to a path leaves whatever was at that path as it
// was.
//
// Files: inputs are opened inside root sections (common/runas.h), never through a symbolic link,
// because stored Drive files are root-only; outputs are the caller's streams.
//
// Thread safety: no shared state; every call has its own cipher context. The root sections
// change the effective identity of the whole process (see common/runas.h).
#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh::utils {
class TmpFileManager;
}

#define OPENSSL_MAGIC_SALT "Salted__"
#define OPENSSL_SALT_LENGTH 8
#define OPENSSL_PASSWORD_LENGTH 32
#define ENCRYPT_MAGIC_STR "TaBvAlEMaGiC"

// Fills buffer[0..n) with n characters from " " to "~", each drawn on its own from OpenSSL's
// random generator, and terminates it: buffer must hold n + 1 bytes. False (and logged) when the
// generator reports an error.
ZOLTSH_API bool genRandomString(char* buffer, size_t n);

class ZOLTSH_API ZOLT_SH_ENCRYPT {
 public:
  ZOLT_SH_ENCRYPT() = delete;

  // out := the string form of a container of `plain` under `password`. An empty plain fails
  // (without a log).
  static bool EncryptStringToBase64(const std::string& plain, const std::string& password,
                                    Json::Value& out);

  // out := the plaintext of the string form `cipher`, up to its first NUL. Text that is not
  // base64, a container shorter than its header or without the magic, and a wrong password or
  // damaged data (bad padding) fail and leave out unchanged. Wrapped base64 (CR/LF) is accepted.
  static bool DecryptStringFromBase64(const std::string& cipher, const std::string& password,
                                      std::string& out);

  // The same, the plaintext parsed as JSON text into out ("Failed to parse" when it does not).
  static bool DecryptStringFromBase64(const std::string& cipher, const std::string& password,
                                      Json::Value& out);

  // Writes the file form of a container of the bytes of inputPath to `out`.
  static bool EncryptFileToStream(const std::string& inputPath, const std::string& password,
                                  FILE* out);

  // Writes the plaintext of the container file inputPath to `out` and flushes it. The plaintext
  // is streamed: on a wrong password or damaged data all but the last block may already have been
  // written when the call fails.
  static bool DecryptFileToStream(const std::string& inputPath, const std::string& password,
                                  FILE* out);

  // Decrypts the container file inputPath into outputPath (created or replaced, mode 0600). The
  // plaintext goes to a new file beside outputPath, which replaces it only on success, so a
  // failure leaves outputPath as it was (or absent).
  static bool DecryptFileToPath(const std::string& inputPath, const std::string& password,
                                const std::string& outputPath);

  // Decrypts a file holding a string form enclosed in one leading and one trailing character (a
  // Drive text field: the quotes of a JSON string) and writes the plaintext to `out`. A file
  // shorter than 3 bytes writes nothing and succeeds. The file is only read (mapped private).
  static bool DecryptFileFromBase64ToStream(const std::string& inputPath,
                                            const std::string& password, FILE* out);

  // out := a new system password (OPENSSL_PASSWORD_LENGTH printable characters).
  static bool GenRandPassword(std::string& out);

  // out := the stored form of sysPass under the document password `password`.
  static bool EncryptSysPassToBase64(const std::string& sysPass, const std::string& password,
                                     Json::Value& out);

  // sysPass := the system password of the stored form `cipher` under `password`. An empty cipher
  // or password, a wrong password and a damaged stored form fail with 1033; sysPass is changed
  // only on success.
  static bool DecryptSysPassFromBase64(const std::string& cipher, const std::string& password,
                                       std::string& sysPass);

  // sysPass from a Drive object's metatext: a document with "encrypt" true and a string
  // "password" gives its system password (failure: 1033); any other object leaves sysPass as it
  // was and succeeds (the document is not protected). A metatext that is not an object fails.
  static bool GetSysPassFromMetaText(const Json::Value& metatext, const std::string& password,
                                     std::string& sysPass);

  // Reads the metatext of the spreadsheet objectId as uid and checks `password` against it,
  // giving the system password ("" for an unprotected document).
  static bool CheckSysPass(const std::string& objectId, unsigned uid, const std::string& password,
                           std::string& sysPass);
  static bool CheckSysPass(const std::string& objectId, unsigned uid, const std::string& password);

  // Encrypts (encrypt true) or decrypts with sysPass the stored image files of objectId named by
  // `attachments` (each entry's "name" and "thumb") that metabinaryInfo lists, each into a new
  // temporary file registered with tfm, and sets out := [{"format": "raw", "name", "path"}] for
  // the files done (the request member "metabinary_files" of the Drive store). Null attachments
  // or metabinaryInfo or an empty sysPass do nothing and succeed; no temporary storage fails; a
  // file that cannot be done is logged and left out.
  static bool UpdateMetaBinary(Json::Value attachments, const Json::Value& metabinaryInfo,
                               const std::string& objectId, std::string sysPass, bool encrypt,
                               zoltsh::utils::TmpFileManager& tfm, Json::Value& out);
};
