// CGI helpers of the host.
//
// The extra-auth parameter line: a caller that must pass a secret (a document password) outside the
// JSON body sends it in the request header X-Extra-Auth-Params, which the host hands to the module as
// the environment variable HTTP_X_EXTRA_AUTH_PARAMS for that request. The line is encrypted with the
// host's key (a root-only file under the appliance root); ZOLTCgiEncryptParamLine makes such a line,
// ZOLTCgiDecryptParamLine returns the plain parameter line ("name=value&name=value", values
// URL-encoded) or "" when the line is not one of ours or does not decrypt.
#pragma once

#include <string>

#include "core/zolt_export.h"

ZOLT_PLATFORM_API std::string ZOLTCgiEncryptParamLine(const std::string& plain);
ZOLT_PLATFORM_API std::string ZOLTCgiDecryptParamLine(const std::string& line);
// Decodes a URL-encoded parameter value ("%41" and "+" for a space) in place.
ZOLT_PLATFORM_API void ZOLTCgiDecodeParam(std::string& value);
