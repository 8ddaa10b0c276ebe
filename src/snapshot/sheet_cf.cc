// The sheet view: conditional formats ("cfs"), an ordered array of rule objects.
#include <string>

#include "common/json_utils.h"
#include "common/zoltsh_error.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;

namespace {

using sheet_layout::kCfId;

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

}  // namespace

void Sheet::CreateCf(const Json::Value& cf, int index) {
  if (!cf.isObject() || index < 0) ThrowInvalid(__LINE__);
  Json::Value& cfs = MutableMember(L::kCfs, Json::arrayValue);
  utils::InsertToJsonArray(cfs, cf, static_cast<unsigned>(index));
}

void Sheet::RemoveCf(const std::string& cfId) {
  if (cfId.empty()) ThrowInvalid(__LINE__);
  Json::Value* cfs = L::Find(*content_, L::kCfs);
  if (cfs == nullptr || !cfs->isArray()) return;
  for (Json::ArrayIndex i = 0; i < cfs->size(); ++i) {
    const Json::Value* id = L::Find((*cfs)[i], kCfId);
    if (id != nullptr && id->isString() && id->asString() == cfId) {
      Json::Value removed;
      cfs->removeIndex(i, &removed);
      return;
    }
  }
}

}  // namespace zoltsh
