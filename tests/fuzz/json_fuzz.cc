// Fuzzes the JSON reader and writer: any input either fails cleanly or parses into a value whose
// text reads back to the same value and the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/json_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Json::Value v;
  if (!Json::fromString(v, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  std::string text = Json::toString(v);
  Json::Value back;
  if (!Json::fromString(back, text)) __builtin_trap();
  if (!(back == v)) __builtin_trap();
  if (Json::toString(back) != text) __builtin_trap();
  return 0;
}
