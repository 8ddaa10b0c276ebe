// Messages of the socket.io link: the values that travel as event arguments and acknowledgements.
//
// A message is one JSON-like value of a fixed kind (null, boolean, integer, double, text, array,
// object). Messages are shared through sio::message::ptr; arrays and objects hold pointers to
// their elements. sio::message::list is the argument list of one event or acknowledgement.
// The *_message structs are the factories (sio::string_message::create("x")).
//
// Conversion to and from Json::Value lets the packet codec read and write them as JSON text.
//
// Thread safety: a message is a plain value; share it between threads only when no one changes it.
// Kept to C++17 so the transport (compiled as C++17) can include it.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/zoltsh_export.h"

namespace sio {

class ZOLTSH_API message {
 public:
  enum flag {
    flag_null,
    flag_boolean,
    flag_integer,
    flag_double,
    flag_string,
    flag_array,
    flag_object
  };
  using ptr = std::shared_ptr<message>;
  class list;

  explicit message(flag kind) : flag_(kind) {}

  flag get_flag() const { return flag_; }
  // The value of the matching kind; other kinds give false, 0, "" or an empty container.
  bool get_bool() const { return flag_ == flag_boolean && int_ != 0; }
  int64_t get_int() const;
  double get_double() const;
  const std::string& get_string() const;
  std::vector<ptr>& get_vector() { return vector_; }
  const std::vector<ptr>& get_vector() const { return vector_; }
  std::map<std::string, ptr>& get_map() { return map_; }
  const std::map<std::string, ptr>& get_map() const { return map_; }

  // Object members; insert replaces a member of the same name.
  void insert(const std::string& key, ptr value) { map_[key] = std::move(value); }
  void insert(const std::string& key, const std::string& text);
  // Array elements.
  void push(ptr value) { vector_.push_back(std::move(value)); }
  void push(const std::string& text);

 private:
  friend struct null_message;
  friend struct bool_message;
  friend struct int_message;
  friend struct double_message;
  friend struct string_message;

  flag flag_;
  int64_t int_ = 0;
  double double_ = 0;
  std::string string_;
  std::vector<ptr> vector_;
  std::map<std::string, ptr> map_;
};

struct ZOLTSH_API null_message {
  static message::ptr create();
};
struct ZOLTSH_API bool_message {
  static message::ptr create(bool value);
};
struct ZOLTSH_API int_message {
  static message::ptr create(int64_t value);
};
struct ZOLTSH_API double_message {
  static message::ptr create(double value);
};
struct ZOLTSH_API string_message {
  static message::ptr create(const std::string& value);
};
struct ZOLTSH_API array_message {
  static message::ptr create();
};
struct ZOLTSH_API object_message {
  static message::ptr create();
};

// The ordered argument list of one event or acknowledgement.
class ZOLTSH_API message::list {
 public:
  list() = default;
  list(message::ptr item) { push(std::move(item)); }   // NOLINT: a single argument reads as a list
  list(const std::string& text);                       // NOLINT
  list(const char* text) : list(std::string(text)) {}  // NOLINT
  list(std::initializer_list<message::ptr> items) : items_(items) {}

  void push(message::ptr item) { items_.push_back(std::move(item)); }
  void push(const std::string& text);
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const message::ptr& at(size_t i) const { return items_.at(i); }
  const message::ptr& operator[](size_t i) const { return items_[i]; }
  const std::vector<message::ptr>& get_vector() const { return items_; }

 private:
  std::vector<message::ptr> items_;
};

// JSON form of a message (a null pointer gives null).
ZOLTSH_API Json::Value to_json(const message::ptr& msg);
// Message of a JSON value; unsigned values above INT64_MAX become doubles.
ZOLTSH_API message::ptr from_json(const Json::Value& value);
// [arg1, arg2, ...] as a JSON array, and back (a non-array gives an empty list).
ZOLTSH_API Json::Value to_json(const message::list& args);
ZOLTSH_API message::list list_from_json(const Json::Value& array);

}  // namespace sio
