// Helpers over Json::Value for the document model and the modules: moving values without copies,
// typed extraction, inserting into and splicing JSON arrays, filtering an array in place,
// converting an array to a vector and writing a range as an array.
//
// Sheets are trees of Json::Value; whole documents and sheets change hands by swapping, never by
// copying, and these helpers keep to that: arrays are rebuilt aside and swapped in.
//
// No shared state; a value may be used by one thread at a time.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

#include "common/zoltsh_export.h"
#include "snapshot/range.h"

namespace zoltsh {

// Holds one Json::Value and takes values by swapping: the source is left null.
class ZOLTSH_API JsonVal {
 public:
  JsonVal() = default;
  explicit JsonVal(Json::Value&& value);
  JsonVal& operator=(Json::Value&& value);
  // Moves value into a new last element (the held value becomes an array if it was null).
  JsonVal& append(Json::Value&& value);

  Json::Value& get() { return value_; }
  const Json::Value& get() const { return value_; }

 private:
  Json::Value value_;
};

// Typed extraction: `out << value` assigns the value converted to out's type (asBool, asInt, ...).
// A value that does not convert throws std::runtime_error with JsonCpp's text.
ZOLTSH_API bool& operator<<(bool& out, const Json::Value& value);
ZOLTSH_API int& operator<<(int& out, const Json::Value& value);
ZOLTSH_API unsigned int& operator<<(unsigned int& out, const Json::Value& value);
ZOLTSH_API long long& operator<<(long long& out, const Json::Value& value);
ZOLTSH_API unsigned long long& operator<<(unsigned long long& out, const Json::Value& value);
ZOLTSH_API float& operator<<(float& out, const Json::Value& value);
ZOLTSH_API double& operator<<(double& out, const Json::Value& value);
ZOLTSH_API std::string& operator<<(std::string& out, const Json::Value& value);
ZOLTSH_API Json::Value& operator<<(Json::Value& out, const Json::Value& value);

template <typename T>
requires(!std::is_lvalue_reference_v<T>) T && operator<<(T&& out, const Json::Value& value) {
  static_cast<T&>(out) << value;
  return std::move(out);
}

namespace utils {

// Appends a copy of item, then moves it down to `index` by swapping with its left neighbour step by
// step; an index at or beyond the former size leaves it at the end.
ZOLTSH_API void InsertToJsonArray(Json::Value& array, const Json::Value& item, unsigned index);

// array := array[0, start) + items (when a non-null array) + array[start + deleteCount, end);
// start is clamped to the size. A null array counts as empty, as does any other non-array value,
// which is replaced. Elements of array are moved in place, not copied; the cost is one allocation
// per element added or removed, not per element of the array.
ZOLTSH_API void SpliceJsonArray(Json::Value& array, unsigned start, unsigned deleteCount,
                                const Json::Value& items);

// [top row, left column, bottom row, right column] of the range's normalised corners.
ZOLTSH_API Json::Value RangeToJsonArray(Range& range);

// Applies the array helpers to one array it does not own.
class ZOLTSH_API JsonArrayWrapper {
 public:
  explicit JsonArrayWrapper(Json::Value* array) : array_(array) {}

  JsonArrayWrapper& Insert(const Json::Value& item, unsigned index);
  JsonArrayWrapper& Splice(unsigned start, unsigned deleteCount, const Json::Value& items);
  // Drops the elements for which predicate is true, keeping the order of the rest.
  JsonArrayWrapper& RemoveIf(const std::function<bool(const Json::Value&)>& predicate);

 private:
  Json::Value* array_;
};

// Elements of a non-empty array converted with asInt or asString; an element that does not convert
// is skipped (and logged). Anything but a non-empty array gives an empty vector.
template <typename T>
std::vector<T> JsonArrayToVector(const Json::Value& value);

template <>
ZOLTSH_API std::vector<int> JsonArrayToVector<int>(const Json::Value& value);
template <>
ZOLTSH_API std::vector<std::string> JsonArrayToVector<std::string>(const Json::Value& value);

}  // namespace utils
}  // namespace zoltsh
