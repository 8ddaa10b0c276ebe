#include "common/json_utils.h"

#include <stdexcept>
#include <utility>

#include "common/zoltsh_log.h"

namespace zoltsh {

JsonVal::JsonVal(Json::Value&& value) { value_.swap(value); }

JsonVal& JsonVal::operator=(Json::Value&& value) {
  if (&value != &value_) {
    Json::Value taken;
    taken.swap(value);
    value_.swap(taken);
  }
  return *this;
}

JsonVal& JsonVal::append(Json::Value&& value) {
  Json::Value taken;
  taken.swap(value);
  value_.append(std::move(taken));
  return *this;
}

namespace {
// Runs a JsonCpp conversion, turning its exceptions into std::runtime_error.
template <typename T, typename F>
T& Convert(T& out, F&& convert) {
  try {
    out = convert();
  } catch (const Json::Exception& e) {
    throw std::runtime_error(e.what());
  }
  return out;
}
}  // namespace

bool& operator<<(bool& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asBool(); });
}
int& operator<<(int& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asInt(); });
}
unsigned int& operator<<(unsigned int& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asUInt(); });
}
long long& operator<<(long long& out, const Json::Value& v) {
  return Convert(out, [&] { return static_cast<long long>(v.asInt64()); });
}
unsigned long long& operator<<(unsigned long long& out, const Json::Value& v) {
  return Convert(out, [&] { return static_cast<unsigned long long>(v.asUInt64()); });
}
float& operator<<(float& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asFloat(); });
}
double& operator<<(double& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asDouble(); });
}
std::string& operator<<(std::string& out, const Json::Value& v) {
  return Convert(out, [&] { return v.asString(); });
}
Json::Value& operator<<(Json::Value& out, const Json::Value& v) {
  out = v;
  return out;
}

namespace utils {

void InsertToJsonArray(Json::Value& array, const Json::Value& item, unsigned index) {
  const unsigned formerSize = array.isArray() ? array.size() : 0;
  array.append(item);
  for (unsigned i = formerSize; i > index && i > 0; --i) {
    array[i].swap(array[i - 1]);
  }
}

void SpliceJsonArray(Json::Value& array, unsigned start, unsigned deleteCount,
                     const Json::Value& items) {
  Json::Value result(Json::arrayValue);
  const unsigned size = array.isArray() ? array.size() : 0;
  if (start > size) start = size;
  unsigned i = 0;
  for (; i < start; ++i) result.append(std::move(array[i]));
  if (items.isArray()) {
    for (const Json::Value& item : items) result.append(item);
  }
  unsigned long long rest = static_cast<unsigned long long>(start) + deleteCount;
  for (unsigned long long j = rest; j < size; ++j) {
    result.append(std::move(array[static_cast<Json::ArrayIndex>(j)]));
  }
  array.swap(result);
}

Json::Value RangeToJsonArray(Range& range) {
  Coord tl = range.GetTopLeftCorner();
  Coord br = range.GetBottomRightCorner();
  Json::Value out(Json::arrayValue);
  out.append(tl.row);
  out.append(tl.col);
  out.append(br.row);
  out.append(br.col);
  return out;
}

JsonArrayWrapper& JsonArrayWrapper::Insert(const Json::Value& item, unsigned index) {
  InsertToJsonArray(*array_, item, index);
  return *this;
}

JsonArrayWrapper& JsonArrayWrapper::Splice(unsigned start, unsigned deleteCount,
                                           const Json::Value& items) {
  SpliceJsonArray(*array_, start, deleteCount, items);
  return *this;
}

JsonArrayWrapper& JsonArrayWrapper::RemoveIf(
    const std::function<bool(const Json::Value&)>& predicate) {
  // Decide for every element before moving any, so a predicate that throws leaves the array whole.
  std::vector<bool> drop;
  if (array_->isArray()) {
    drop.reserve(array_->size());
    for (const Json::Value& element : *array_) drop.push_back(predicate(element));
  }
  Json::Value kept(Json::arrayValue);
  size_t i = 0;
  if (array_->isArray()) {
    for (Json::Value& element : *array_) {
      if (!drop[i++]) kept.append(std::move(element));
    }
  }
  array_->swap(kept);
  return *this;
}

namespace {
template <typename T, typename F>
std::vector<T> ToVector(const Json::Value& value, F&& convert) {
  std::vector<T> out;
  if (!value.isArray() || value.empty()) return out;
  out.reserve(value.size());
  for (const Json::Value& element : value) {
    try {
      T item;
      convert(item, element);
      out.push_back(std::move(item));
    } catch (const std::runtime_error& e) {
      ZOLTSH_LOG_ERR("json conversion failed: %s", e.what());
    } catch (...) {
    }
  }
  return out;
}
}  // namespace

template <>
std::vector<int> JsonArrayToVector<int>(const Json::Value& value) {
  return ToVector<int>(value, [](int& out, const Json::Value& v) { out << v; });
}

template <>
std::vector<std::string> JsonArrayToVector<std::string>(const Json::Value& value) {
  return ToVector<std::string>(value, [](std::string& out, const Json::Value& v) { out << v; });
}

}  // namespace utils
}  // namespace zoltsh
