// The document password a caller passes outside the request body, in the host's encrypted
// extra-auth parameter line (environment variable HTTP_X_EXTRA_AUTH_PARAMS for one request).
#pragma once

#include <string>

#include "common/zoltsh_export.h"

// Sets password to "" and then to the "password" item of the decrypted parameter line, decoded.
// Always true: a missing or undecryptable line, or one without a "password" item, leaves it "".
// Items are "name=value" joined by "&"; parsing stops at the first item without "="; a later item
// of the same name replaces an earlier one.
ZOLTSH_API bool ZOLTSHDecodePassFromHeader(std::string& password);
