#include "sio/sio_message.h"

namespace sio {

namespace {
const std::string kEmpty;
}  // namespace

int64_t message::get_int() const {
  if (flag_ == flag_integer) return int_;
  if (flag_ == flag_double) return static_cast<int64_t>(double_);
  return 0;
}

double message::get_double() const {
  if (flag_ == flag_double) return double_;
  if (flag_ == flag_integer) return static_cast<double>(int_);
  return 0;
}

const std::string& message::get_string() const { return flag_ == flag_string ? string_ : kEmpty; }

void message::insert(const std::string& key, const std::string& text) {
  map_[key] = string_message::create(text);
}

void message::push(const std::string& text) { vector_.push_back(string_message::create(text)); }

message::ptr null_message::create() { return std::make_shared<message>(message::flag_null); }

message::ptr bool_message::create(bool value) {
  auto msg = std::make_shared<message>(message::flag_boolean);
  msg->int_ = value ? 1 : 0;
  return msg;
}

message::ptr int_message::create(int64_t value) {
  auto msg = std::make_shared<message>(message::flag_integer);
  msg->int_ = value;
  return msg;
}

message::ptr double_message::create(double value) {
  auto msg = std::make_shared<message>(message::flag_double);
  msg->double_ = value;
  return msg;
}

message::ptr string_message::create(const std::string& value) {
  auto msg = std::make_shared<message>(message::flag_string);
  msg->string_ = value;
  return msg;
}

message::ptr array_message::create() { return std::make_shared<message>(message::flag_array); }

message::ptr object_message::create() { return std::make_shared<message>(message::flag_object); }

message::list::list(const std::string& text) { push(text); }

void message::list::push(const std::string& text) {
  items_.push_back(string_message::create(text));
}

Json::Value to_json(const message::ptr& msg) {
  if (!msg) return Json::Value();
  switch (msg->get_flag()) {
    case message::flag_null:
      return Json::Value();
    case message::flag_boolean:
      return Json::Value(msg->get_bool());
    case message::flag_integer:
      return Json::Value(static_cast<Json::Int64>(msg->get_int()));
    case message::flag_double:
      return Json::Value(msg->get_double());
    case message::flag_string:
      return Json::Value(msg->get_string());
    case message::flag_array: {
      Json::Value array(Json::arrayValue);
      for (const message::ptr& item : msg->get_vector()) array.append(to_json(item));
      return array;
    }
    case message::flag_object: {
      Json::Value object(Json::objectValue);
      for (const auto& [key, item] : msg->get_map()) object[key] = to_json(item);
      return object;
    }
  }
  return Json::Value();
}

message::ptr from_json(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return null_message::create();
    case Json::booleanValue:
      return bool_message::create(value.asBool());
    case Json::intValue:
      return int_message::create(value.asInt64());
    case Json::uintValue:
      if (value.isInt64()) return int_message::create(value.asInt64());
      return double_message::create(value.asDouble());
    case Json::realValue:
      return double_message::create(value.asDouble());
    case Json::stringValue:
      return string_message::create(value.asString());
    case Json::arrayValue: {
      message::ptr array = array_message::create();
      for (const Json::Value& item : value) array->push(from_json(item));
      return array;
    }
    case Json::objectValue: {
      message::ptr object = object_message::create();
      for (auto it = value.begin(); it != value.end(); ++it)
        object->insert(it.name(), from_json(*it));
      return object;
    }
  }
  return null_message::create();
}

Json::Value to_json(const message::list& args) {
  Json::Value array(Json::arrayValue);
  for (const message::ptr& item : args.get_vector()) array.append(to_json(item));
  return array;
}

message::list list_from_json(const Json::Value& array) {
  message::list args;
  if (!array.isArray()) return args;
  for (const Json::Value& item : array) args.push(from_json(item));
  return args;
}

}  // namespace sio
