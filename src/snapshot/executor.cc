// zoltsh::Executor: runs a batch of editing commands against a loaded spreadsheet.
#include "snapshot/executor.h"

#include <exception>
#include <string>

#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "json/json_text.h"
#include "snapshot/command.h"

namespace zoltsh {
namespace {

constexpr const char* kCompound = "compound";

// Member key of an object as text; "" when the command is not an object or the member is not a
// text.
std::string TextOf(const Json::Value& command, const char* key) {
  if (!command.isObject()) return std::string();
  const Json::Value& value = command[key];
  return value.isString() ? value.asString() : std::string();
}

[[noreturn]] void ThrowInvalid(int line, const char* message) {
  throw InvalidParameter(line, ZOLTSH_FILE, message, ZOLTSH_ERR_USER_INPUT);
}

}  // namespace

bool Executor::ExecuteCommand(const Json::Value& command) {
  const std::string sheetId = TextOf(command, "id");
  const int kind = internal::ParseCommand(TextOf(command, "cmd"));
  try {
    if (!command.isObject()) ThrowInvalid(__LINE__, "command is not an object");
    if (kind == internal::kCommandCompound) {
      ExecuteCompound(command);
    } else {
      // The sheet first: a command of any name for a missing sheet is "Not found".
      Sheet sheet = spreadsheet_.GetSheetById(sheetId);
      internal::CommandFunction function = internal::CommandFunctionOf(kind);
      if (function == nullptr) {
        ZOLTSH_LOG_ERR("Unknown command: %s", Json::toString(command).c_str());
        ThrowInvalid(__LINE__, "invalid parameter");
      }
      function(sheet, command);
    }
    // A null "uid" counts as absent.
    if (const Json::Value& uidValue = command["uid"]; !uidValue.isNull()) {
      uint32_t uid = 0;
      if (!internal::ReadLoginUid(uidValue, uid)) ThrowInvalid(__LINE__, "invalid uid");
      editors_.insert(uid);
    }
    return true;
  } catch (const SheetNotFound& e) {
    ZOLTSH_LOG_ERR("Sheet[%s] Not found: %s", sheetId.c_str(), e.what());
    return true;
  } catch (const InvalidParameter& e) {
    ZOLTSH_LOG_ERR("Invalid Parameter:%s %s", e.what(), Json::toString(command).c_str());
    return false;
  } catch (...) {
    ZOLTSH_LOG_ERR("Unkown exception: %s", Json::toString(command).c_str());
    return false;
  }
}

void Executor::ExecuteCompound(const Json::Value& command) {
  const Json::Value& actions = command.isObject() ? command["actions"] : command;
  if (!command.isObject() || !actions.isArray()) ThrowInvalid(__LINE__, "invalid parameter");
  for (const Json::Value& action : actions) {
    if (TextOf(action, "cmd") == kCompound) {
      ThrowInvalid(__LINE__, "Compound can not contain a compound command");
    }
  }
  for (const Json::Value& action : actions) ExecuteCommand(action);
}

std::vector<unsigned int> Executor::GetEditors() const {
  return std::vector<unsigned int>(editors_.begin(), editors_.end());
}

void Executor::UpdateIndex() {
  std::set<uint32_t> merged = editors_;
  for (const Json::Value& uid : spreadsheet_.GetEditors()) {
    uint32_t value = 0;
    if (internal::ReadLoginUid(uid, value)) merged.insert(value);
  }
  spreadsheet_.SetEditors(merged.begin(), merged.end());
}

}  // namespace zoltsh
