// The steps of the encrypted container shared by the string and file forms (layout in
// zoltsh_encrypt.h): the random salt, the key derivation, whole-buffer encryption and decryption,
// and reading and checking the 16-byte header of a container file. Internal to the encryption
// subsystem; nothing here is exported.
//
// Failure: each function returns false and logs in the system's formats; none records on the
// error stack. Thread safety: no shared state.
#pragma once

#include <openssl/evp.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include <string_view>
#include "core/zolt_fd.h"

namespace zoltsh::encrypt {

inline constexpr size_t kHeaderLen = 16;    // magic + salt
inline constexpr size_t kPieceLen = 32768;  // bytes fed to the cipher at a time
inline constexpr size_t kBlockLen = 16;     // AES block

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
// Owns one EVP_CIPHER_CTX.
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// Owns one file descriptor.
using Fd = ZOLTUniqueFd;

// OpenSSL's reason text for its most recent error (taken off its queue), "unknown" when none.
const char* OpenSSLReason();

// Derives key and IV from the 8 salt bytes and the password (EVP_BytesToKey, MD5, 1 iteration)
// and initialises whichever of the contexts is not null for AES-256-CBC.
bool InitAES(const unsigned char* salt, const std::string& password, EVP_CIPHER_CTX* enc,
             EVP_CIPHER_CTX* dec);

// container := magic + a fresh salt + the ciphertext of plain.
bool EncryptContainer(std::string_view plain, const std::string& password, std::string& container);

// plain := the plaintext of a whole container (header checked, padding checked).
bool DecryptContainer(std::string_view container, const std::string& password, std::string& plain);

// Opens `path` for reading inside a root section, never through a symbolic link. -1 (logged by
// the check-failure convention) on failure.
int OpenInputAsRoot(const std::string& path);

// Reads up to len bytes from fd inside a root section, retrying short reads until len bytes or
// the end of the file. The count read, or -1 with errno set.
ssize_t ReadPieceAsRoot(int fd, unsigned char* buf, size_t len);

// Reads the 16-byte header of a container file, checks the magic and copies the salt (8 bytes).
bool CheckAndGetSaltFromFile(int fd, unsigned char* salt);

}  // namespace zoltsh::encrypt
