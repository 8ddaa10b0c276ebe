#include "drive/drive_util.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "drive/drive_error.h"
#include "drive/drive_fs.h"
#include "drive/drive_store.h"
#include "json/json_text.h"

using namespace zoltdrive;

namespace {

// The directory of the current version of an object, and its record.
bool CurrentVersion(const std::string& ns, const std::string& id, std::string& dir,
                    Json::Value& meta) {
  std::string head;
  if (!ParseName(Json::Value(ns), "ns", head) || !ParseName(Json::Value(id), "id", head)) {
    return false;
  }
  if (!ReadHead(ns, id, head) || !ReadMeta(ns, id, head, head, meta)) return false;
  dir = VersionDir(ns, id, head);
  return true;
}

}  // namespace

bool ZOLTDriveGetTextPath(const std::string& ns, const std::string& id, const std::string& key,
                          std::string& path) {
  RootSection root;
  std::string dir;
  Json::Value meta;
  if (!CurrentVersion(ns, id, dir, meta)) return false;
  if (Json::searchArrayIndex(meta["text_keys"], Json::Value(key)) == Json::kNotFound) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND,
                           "no text key \"" + key + "\" in \"" + id + "\"");
  }
  path = TextFile(dir, key);
  return true;
}

bool ZOLTDriveGetMetaBinaryPath(const std::string& ns, const std::string& id,
                                const std::string& name, std::string& path) {
  RootSection root;
  std::string dir;
  Json::Value meta;
  if (!CurrentVersion(ns, id, dir, meta)) return false;
  if (!meta["metabinary_info"].isObject() || !meta["metabinary_info"].isMember(name)) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND,
                           "no metabinary \"" + name + "\" in \"" + id + "\"");
  }
  path = MetaBinaryFile(dir, name);
  return true;
}

bool ZOLTDriveIDIsExist(const std::string& ns, const std::string& id) {
  if (ns.empty() || id.empty()) return false;
  RootSection root;
  return ::access((ObjectDir(ns, id) + "/HEAD").c_str(), F_OK) == 0;
}

bool ZOLTDriveSettingsIndexSet(const std::string& ns, const Json::Value& settings) {
  RootSection root;
  std::string checked;
  if (!ParseName(Json::Value(ns), "ns", checked)) return false;
  const std::string dir = NsDir(ns);
  if (!MakeDirs(dir) ||
      !ReplaceFile(dir, "settings.json", Json::toString(settings), "settings-staged")) {
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot store the settings of \"" + ns +
                                                  "\": " + std::string(std::strerror(errno)));
  }
  return true;
}

bool ZOLTDriveSettingsIndexGet(const std::string& ns, Json::Value& settings) {
  RootSection root;
  std::string checked, error;
  if (!ParseName(Json::Value(ns), "ns", checked)) return false;
  const std::string path = NsDir(ns) + "/settings.json";
  if (!Json::fromFile(settings, path, &error)) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
      return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_NOT_FOUND, "no settings for \"" + ns + "\"");
    }
    return ZOLT_DRIVE_FAIL(ZOLT_DRIVE_ERR_IO, "cannot read " + path + ": " + error);
  }
  return true;
}

std::string ZOLTDriveObjectEscapeStringArray(const Json::Value& array) {
  std::string out = "(";
  bool first = true;
  if (array.isArray()) {
    for (const Json::Value& v : array) {
      std::string text;
      if (v.isString()) {
        text = v.asString();
      } else if (v.isIntegral() && !v.isBool()) {
        text = v.isUInt64() ? std::to_string(v.asUInt64()) : std::to_string(v.asInt64());
      } else {
        continue;
      }
      if (text.find('\0') != std::string::npos) continue;
      if (!first) out.push_back(',');
      first = false;
      out.push_back('\'');
      for (char c : text) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
      }
      out.push_back('\'');
    }
  }
  if (first) return "(NULL)";
  out.push_back(')');
  return out;
}

std::string ZOLTDriveObjectEscapeUIntArray(const Json::Value& array) {
  std::string out = "(";
  bool first = true;
  if (array.isArray()) {
    for (const Json::Value& v : array) {
      if (v.isBool()) continue;
      Json::UInt64 n = 0;
      if (v.isUInt64()) {
        n = v.asUInt64();
      } else if (v.isString()) {
        const std::string text = v.asString();
        if (text.empty() || text.size() > 19 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
          continue;
        }
        n = std::stoull(text);
      } else {
        continue;
      }
      if (!first) out.push_back(',');
      first = false;
      out += std::to_string(n);
    }
  }
  if (first) return "(NULL)";
  out.push_back(')');
  return out;
}
