// The sheet view: drawings placed on the sheet ("drawing"), of which images ({"type": "img"}) are
// the only kind the server handles.
#include <string>
#include <utility>

#include "common/json_utils.h"
#include "common/zoltsh_error.h"
#include "snapshot/sheet.h"
#include "snapshot/sheet_layout.h"

namespace zoltsh {

namespace L = sheet_layout;

namespace {

using sheet_layout::kType;
constexpr char kImg[] = "img";
using sheet_layout::kId;
constexpr char kPos[] = "pos";

[[noreturn]] void ThrowInvalid(int line) {
  throw InvalidParameter(line, ZOLTSH_FILE, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
}

bool IsStringMember(const Json::Value& holder, const char* key, const std::string& value) {
  const Json::Value* member = L::Find(holder, key);
  return member != nullptr && member->isString() && member->asString() == value;
}

bool IsImage(const Json::Value& drawing, const std::string& imageId) {
  return IsStringMember(drawing, kType, kImg) && IsStringMember(drawing, kId, imageId);
}

}  // namespace

Json::Value& Sheet::GetDrawings() {
  if (!content_->isNull() && !content_->isObject()) ThrowInvalid(__LINE__);
  Json::Value& drawings = (*content_)[L::kDrawing];
  if (!drawings.isArray()) drawings = Json::Value(Json::arrayValue);
  return drawings;
}

void Sheet::InsertImage(const std::string& imageId, const Json::Value& pos) {
  if (imageId.empty()) ThrowInvalid(__LINE__);
  Json::Value image(Json::objectValue);
  image[kType] = kImg;
  image[kId] = imageId;
  if (!pos.isNull()) image[kPos] = pos;
  GetDrawings().append(std::move(image));
}

void Sheet::RemoveImage(const std::string& imageId) {
  if (imageId.empty()) ThrowInvalid(__LINE__);
  Json::Value* drawings = L::Find(*content_, L::kDrawing);
  if (drawings == nullptr || !drawings->isArray()) return;
  utils::JsonArrayWrapper(drawings).RemoveIf(
      [&imageId](const Json::Value& drawing) { return IsImage(drawing, imageId); });
}

void Sheet::ResizeImage(const std::string& imageId, const Json::Value& pos) {
  if (imageId.empty()) ThrowInvalid(__LINE__);
  Json::Value* drawings = L::Find(*content_, L::kDrawing);
  if (drawings == nullptr || !drawings->isArray()) return;
  for (Json::Value& drawing : *drawings) {
    if (IsImage(drawing, imageId)) {
      drawing[kPos] = pos;
      return;
    }
  }
}

}  // namespace zoltsh
