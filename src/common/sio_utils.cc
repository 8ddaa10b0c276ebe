#include "common/sio_utils.h"

#include <memory>

#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "sio/sio_emitter.h"

namespace zoltsh::utils {

namespace {

constexpr int kFlushTimeout = 300;

// The send step shared by Emit and Rpc.
bool Send(const std::string& event, const sio::message::list& args, int timeout,
          const SioEmitter::AckCallback& callback) {
  SioEmitter emitter;
  if (!emitter.Connect()) {
    ZOLTSH_LOG_ERR("Failed to connect sio");
    return false;
  }
  emitter.SetTimeout(timeout);
  if (!emitter.Emit(event, args, callback)) {
    ZOLTSH_LOG_ERR("Failed to send %s", event.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool Emit(const std::string& event, const sio::message::list& args, int timeout) {
  return Send(event, args, timeout, nullptr);
}

std::string Rpc(const std::string& event, const sio::message::list& args, int timeout) {
  std::string result;
  bool sent = Send(event, args, timeout, [&result](const sio::message::list& reply) {
    if (reply.size() >= 1 && reply[0] && reply[0]->get_flag() == sio::message::flag_string) {
      result = reply[0]->get_string();
    }
  });
  if (!sent) ZOLTSH_THROW(RpcError, "Failed to send " + event, ZOLTSH_ERR_OPERATION_FAILED);
  return result;
}

bool TakeSnapshot(const std::vector<std::string>& ids) {
  return Emit("flush", sio::message::list(VectorToMessage(ids)), kFlushTimeout);
}

bool TakeSnapshot(const std::string& id) { return TakeSnapshot(std::vector<std::string>{id}); }

bool KickAllAndFlush(const sio::message::ptr& ids, const std::string& reason) {
  SioEmitter emitter;
  if (!emitter.Connect()) {
    ZOLTSH_LOG_ERR("Failed to connect sio");
    return false;
  }
  sio::message::list kick(ids);
  if (!reason.empty()) kick.push(reason);
  if (!emitter.Emit("kick_all", kick, nullptr)) {
    ZOLTSH_LOG_ERR("Failed to kick all");
    return false;
  }
  if (!emitter.Emit("flush", sio::message::list(ids), nullptr)) {
    ZOLTSH_LOG_ERR("Failed to flush");
    return false;
  }
  return true;
}

sio::message::ptr ParamObjectIdToMessage(const Json::Value& value) {
  sio::message::ptr array = sio::array_message::create();
  if (value.isString()) {
    array->push(value.asString());
  } else if (value.isArray()) {
    for (const Json::Value& item : value) {
      // asString refuses arrays and objects; those count as no text.
      array->push(item.isArray() || item.isObject() ? std::string() : item.asString());
    }
  }
  return array;
}

sio::message::ptr VectorToMessage(const std::vector<std::string>& values) {
  sio::message::ptr array = sio::array_message::create();
  for (const std::string& value : values) array->push(value);
  return array;
}

sio::message::ptr VectorToMessage(const std::vector<int>& values) {
  sio::message::ptr array = sio::array_message::create();
  for (int value : values) array->push(sio::int_message::create(value));
  return array;
}

sio::message::ptr getTabMessage(const std::string& cmd, const std::string& objectId,
                                const std::string& sheetId, const std::string& clientId) {
  sio::message::ptr object = sio::object_message::create();
  object->insert("object_id", objectId);
  object->insert("cmd", cmd);
  object->insert("id", sheetId);
  object->insert("client_id", clientId);
  return object;
}

void WebAPIEmitCallback(void* arg) {
  if (arg == nullptr) {
    ZOLTSH_LOG_ERR("Invalid parameter");
    return;
  }
  std::unique_ptr<CallbackArg> owned(static_cast<CallbackArg*>(arg));
  try {
    if (!Emit(owned->event, owned->list, owned->timeout)) {
      ZOLTSH_LOG_ERR("Failed to emit event %s", owned->event.c_str());
    }
  } catch (...) {  // a response callback never lets an exception out
    ZOLTSH_LOG_ERR("Failed to emit event %s", owned->event.c_str());
  }
}

}  // namespace zoltsh::utils
