// CGI helpers of the host.
//
// The extra-auth parameter line: a caller that must pass a secret (a document password) outside the
// JSON body sends it in the request header X-Extra-Auth-Params, which the host hands to the module
// as the environment variable HTTP_X_EXTRA_AUTH_PARAMS for that request. The line is encrypted with
// the host's key (a root-only file under the appliance root); ZOLTCgiEncryptParamLine makes such a
// line, ZOLTCgiDecryptParamLine returns the plain parameter line ("name=value&name=value", values
// URL-encoded) or "" when the line is not one of ours or does not decrypt.
//
// The line: "zx1." followed by base64url (RFC 4648 section 5, no padding) of
//   nonce (12 random bytes) || AES-256-GCM ciphertext of the plain line || GCM tag (16 bytes),
// with the additional authenticated data "zolt extra-auth v1". Anything without the prefix, with a
// byte outside the alphabet, too short, or whose tag does not verify (a changed byte, another
// host's key) decrypts to "". The key: 32 random bytes in ZOLTCgiKeyPath(), a root-only file (mode
// 0600 in a 0700 directory) made at first use; every process of one appliance root shares it.
// Operators make a line with `zolt-webapi-host --root DIR extra-auth 'password=...'`.
//
// Failure: the functions return "" (and log) when the key cannot be read or made.
// Thread safety: all functions may be called from any thread; the key is cached per key path.
#pragma once

#include <string>

#include "core/zolt_export.h"

ZOLT_PLATFORM_API std::string ZOLTCgiEncryptParamLine(const std::string& plain);
ZOLT_PLATFORM_API std::string ZOLTCgiDecryptParamLine(const std::string& line);
// Decodes a URL-encoded parameter value ("%41" and "+" for a space) in place.
ZOLT_PLATFORM_API void ZOLTCgiDecodeParam(std::string& value);

// URL-encodes a parameter value (everything but ALPHA / DIGIT / "-" / "_" / "." / "~" as %XX), the
// inverse of ZOLTCgiDecodeParam; for building plain parameter lines.
ZOLT_PLATFORM_API std::string ZOLTCgiEncodeParam(const std::string& value);

// The key file of the extra-auth line below the current appliance root.
ZOLT_PLATFORM_API std::string ZOLTCgiKeyPath();

// Reads (or makes) the key and caches it in the process, so a later decryption succeeds even after
// the process gave up root. The host's workers call it at start. False when it cannot.
ZOLT_PLATFORM_API bool ZOLTCgiPrepareKey();
