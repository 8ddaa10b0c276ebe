// The appliance's reversible string encryption and its base64 helpers.
//
// String encryption (the leading "1" names this version of the scheme):
//   output = "1" || base64url-without-padding(nonce || ciphertext)
//   nonce = 6 random bytes (RAND_bytes), fresh for every call;
//   ciphertext = AES-256-CTR(key, counter block = nonce || 10 zero bytes, plaintext bytes).
// The key is 32 random bytes in the root-only file ZOLTCryptKeyPath() (mode 0600 in a 0700
// directory, under the appliance root), made at first use: written to a temporary file, fsynced,
// then linked to its name, so processes racing to make it agree on whichever link came first.
// Reading the key needs the identity that owns the file (root on the appliance).
//
// Why this shape: callers keep the output in a buffer of ((n + 2) / 3) * 4 + 10 bytes (terminator
// included) for an n-character input, so the output may be at most ((n + 2) / 3) * 4 + 9
// printable characters. Base64 of n bytes already takes 4 * ceil(n / 3) of them, which leaves 9:
// one for the version and eight for a 6-byte nonce. A block mode with a 16-byte IV does not fit;
// a counter-mode stream with a short nonce does, and keeps the output as long as the input. The
// scheme gives confidentiality, not integrity: decrypting altered text yields other bytes (or a
// refusal when they contain a NUL); callers that need integrity check a magic text of their own.
// A random 48-bit nonce repeats with probability about q^2 / 2^49 after q encryptions under one
// key, which is negligible for the few thousand secrets an appliance keeps.
//
// Base64 helpers: standard base64 (RFC 4648 section 4, "=" padding, one line) and base64url
// (section 5, no padding). The decoders are strict: only the alphabet, padding only at the end,
// unused low bits zero; the standard decoder also skips CR and LF, so text wrapped at 64 or 76
// columns decodes.
//
// Failure: every function returns false and leaves its output unspecified (the string functions
// write no partial result into a caller's buffer beyond its size). A missing or unreadable key is
// logged once per call to the system log.
//
// Thread safety: all functions may be called from any thread; the key is cached per key path
// behind a mutex.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/zolt_export.h"

// Bytes a caller reserves for the encryption of an n-character string, terminator included.
constexpr size_t ZOLTStringEncryptBufSize(size_t n) { return ((n + 2) / 3) * 4 + 10; }

// The key file of the string encryption: ZOLTRootPath("/etc/zolt/crypt/string.key").
ZOLT_PLATFORM_API std::string ZOLTCryptKeyPath();

// Encrypts the NUL-terminated `plain` into `out` as printable, NUL-terminated text. False when
// an argument is null, `outSize` is smaller than the text needs (ZOLTStringEncryptBufSize of the
// input's length always suffices), the key is unavailable or the cipher fails.
ZOLT_PLATFORM_API bool ZOLTStringEncrypt(const char* plain, char* out, size_t outSize);

// Reverses ZOLTStringEncrypt: `cipher` (NUL-terminated) into `out`, NUL-terminated. A buffer one
// byte longer than the cipher text always suffices. False when an argument is null, the text is
// not of this scheme, the buffer is too small, the key is unavailable or the result would contain
// a NUL byte.
ZOLT_PLATFORM_API bool ZOLTStringDecrypt(const char* cipher, char* out, size_t outSize);

// Standard base64 of `len` bytes, padded with "=", one line.
ZOLT_PLATFORM_API std::string ZOLTBase64Encode(const void* data, size_t len);

// Decodes standard base64 (padding required, CR and LF ignored) into `out` (replaced).
ZOLT_PLATFORM_API bool ZOLTBase64Decode(std::string_view text, std::string& out);

// base64url without padding.
ZOLT_PLATFORM_API std::string ZOLTBase64UrlEncode(const void* data, size_t len);

// Decodes base64url without padding into `out` (replaced); "=" and line breaks are refused.
ZOLT_PLATFORM_API bool ZOLTBase64UrlDecode(std::string_view text, std::string& out);
