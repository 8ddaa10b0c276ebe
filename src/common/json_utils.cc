#include "common/json_utils.h"

#include <algorithm>
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
  if (&items == &array) {  // splicing an array into itself: work from a copy of the items
    const Json::Value copy = items;
    SpliceJsonArray(array, start, deleteCount, copy);
    return;
  }
  if (!array.isArray()) array = Json::Value(Json::arrayValue);
  // A JsonCpp array is a map from index to value, so rebuilding it costs an allocation per
  // element. The elements after the cut are moved instead, by swapping values along the array's
  // own iterators, and only the change in length allocates or frees.
  const unsigned size = array.size();
  if (start > size) start = size;
  const unsigned cut = static_cast<unsigned>(
      std::min<unsigned long long>(deleteCount, static_cast<unsigned long long>(size) - start));
  const unsigned count = items.isArray() ? items.size() : 0;
  const unsigned tail = size - start - cut;  // elements that move
  if (count > cut && tail > 0) {
    const unsigned grow = count - cut;
    array.resize(size + grow);
    auto dst = array.end();
    --dst;
    auto src = dst;
    for (unsigned i = 0; i < grow; ++i) --src;
    for (unsigned i = 0; i < tail; ++i) {
      src->swap(*dst);
      if (i + 1 < tail) {
        --src;
        --dst;
      }
    }
  } else if (count > cut) {
    array.resize(size + count - cut);
  } else if (cut > count) {
    auto dst = array.begin();
    for (unsigned i = 0; i < start + count; ++i) ++dst;
    auto src = dst;
    for (unsigned i = 0; i < cut - count; ++i) ++src;
    for (unsigned i = 0; i < tail; ++i, ++src, ++dst) dst->swap(*src);
    array.resize(size - (cut - count));
  }
  for (unsigned i = 0; i < count; ++i) array[start + i] = items[i];
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
