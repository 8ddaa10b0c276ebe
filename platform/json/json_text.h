// JSON text in and out of Json::Value.
//
// These are the only functions through which the system reads and writes JSON text. Every stored
// sheet passes through them, so they are built for speed (a SAX reader that fills the value tree
// directly, a writer that appends to one buffer) and for exact round trips:
// - strings keep every byte, NULs and invalid UTF-8 included; the writer escapes '"', '\\' and the
//   control characters and writes everything else as it is (UTF-8 stays UTF-8);
// - integers keep their type: a non-negative integer up to INT64_MAX reads as a signed integer,
//   a larger one up to UINT64_MAX as an unsigned one, a negative one down to INT64_MIN as signed;
//   other numbers read as doubles, correctly rounded;
// - doubles are written in the shortest form that reads back to the same double, always with a
//   fraction or an exponent so they read back as doubles ("1.0", "1e+20"); NaN and the infinities,
//   which JSON cannot hold, are written null (as JavaScript's JSON.stringify does), and a number
//   too big for a double is refused by the reader.
//
// The reader is strict RFC 8259 (no comments, no trailing commas, nothing after the value but
// whitespace) and refuses nesting deeper than kJsonMaxDepth, so a hostile text cannot exhaust the
// stack of the value's recursive destructor. On failure the target value is left unchanged.
//
// Thread safety: the functions keep no state; distinct values may be used from distinct threads.
#pragma once

#include <json/value.h>

#include <string>
#include <string_view>

#include "core/zolt_export.h"

namespace Json {

inline constexpr unsigned kJsonMaxDepth = 1000;

// Parses `text` into `value`. False on a parse error, with a description in *error when given.
ZOLT_PLATFORM_API bool fromString(Value& value, std::string_view text,
                                  std::string* error = nullptr);

// Parses the file at `path` into `value`. False when the file cannot be read or does not parse.
ZOLT_PLATFORM_API bool fromFile(Value& value, const std::string& path,
                                std::string* error = nullptr);

// The value as compact JSON text (no whitespace, no trailing newline).
ZOLT_PLATFORM_API std::string toString(const Value& value);

// Appends the value's JSON text to `out`.
ZOLT_PLATFORM_API void appendString(std::string& out, const Value& value);

// Writes the value's JSON text to the file at `path` (created with mode 0644 less the umask, or
// truncated). False, with errno set, when it could not be written whole. Not atomic: callers that
// must never leave a partial file write through the Drive store or rename a temporary file.
ZOLT_PLATFORM_API bool toFile(const Value& value, const std::string& path);

// Index of the first element of the array `array` equal to `item`; kNotFound when there is none
// or `array` is not an array.
inline constexpr ArrayIndex kNotFound = static_cast<ArrayIndex>(-1);
ZOLT_PLATFORM_API ArrayIndex searchArrayIndex(const Value& array, const Value& item);

}  // namespace Json
