// ZOLT_DRIVE_OBJECT_VERSION and ZOLT_DRIVE_OBJECT_VERSION_LIST: the stored versions of one Drive
// object, for history views and restores.
//
// Every write of an object makes a version; versions are named "1", "2", ... in the order they
// were written and never change. A version is "listable" when its commit message has
// "listable": true (the writers mark the versions a user should see in a history).
//
// ZOLT_DRIVE_OBJECT_VERSION::Get(request): "ns", "id", "requester" as in drive_object.h (reading
//   needs the "ro" right on the object as it is now), "version" (or "ver"; absent: the current
//   one), "field" as in ZOLT_DRIVE_OBJECT::Get but fetching nothing of the parts when absent.
// toJson(field, out): {"id": version name, "version": the same, "object_id", "ns",
//   "commit_msg", "listable", "time" (when the version was written), "ctime", "mtime", "owner",
//   "category", "parent_id", "perm", plus "text", "metatext" and "metabinary_info" when fetched}.
//   `field` null writes everything; an object leaves out every member it maps to false.
//
// ZOLT_DRIVE_OBJECT_VERSION_LIST::ListVersion(request, total, listableTotal): the versions of
//   "id", newest first, without their parts. "filter": {"listable": bool} keeps the versions
//   whose listable flag equals it, "filter_not": {"listable": bool} drops them; then "offset"
//   and "limit" (integers; a limit <= 0 or absent means all) pick a page. `total` becomes the
//   number of all versions and `listableTotal` that of the listable ones. Result: the size of
//   the page, or -1 on failure (error code set, list unchanged).
//
// On failure operations return false or -1 and set ZOLTDriveErrCodeGet(). Thread safety: one
// thread at a time per instance.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

#include "core/zolt_export.h"
#include "drive/drive_object.h"

class ZOLT_PLATFORM_API ZOLT_DRIVE_OBJECT_VERSION {
 public:
  bool Get(const Json::Value& request);
  bool toJson(const Json::Value& field, Json::Value& out) const;

  const std::string& get_ref_version() const { return object_.get_ref_version(); }
  const Json::Value& get_ref_commit_msg() const { return object_.get_ref_commit_msg(); }
  bool is_listable() const;
  int64_t get_time() const { return time_; }
  // The object as it was in this version (parts only as far as fetched).
  const ZOLT_DRIVE_OBJECT& get_ref_object() const { return object_; }

 private:
  friend class ZOLT_DRIVE_OBJECT_VERSION_LIST;
  ZOLT_DRIVE_OBJECT object_;
  int64_t time_ = 0;
  bool fetchedText_ = false;
  bool fetchedMetatext_ = false;
  bool fetchedMetabinary_ = false;
};

class ZOLT_PLATFORM_API ZOLT_DRIVE_OBJECT_VERSION_LIST {
 public:
  using const_iterator = std::vector<ZOLT_DRIVE_OBJECT_VERSION>::const_iterator;

  int ListVersion(const Json::Value& request, int& total, int& listableTotal);
  int ListVersion(const Json::Value& request, int& total);
  void clear() { versions_.clear(); }

  size_t size() const { return versions_.size(); }
  bool empty() const { return versions_.empty(); }
  const ZOLT_DRIVE_OBJECT_VERSION& operator[](size_t i) const { return versions_[i]; }
  const_iterator begin() const { return versions_.begin(); }
  const_iterator end() const { return versions_.end(); }

 private:
  std::vector<ZOLT_DRIVE_OBJECT_VERSION> versions_;
};
