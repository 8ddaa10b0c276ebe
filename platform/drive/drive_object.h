// ZOLT_DRIVE_OBJECT: one object of the Drive object store, as fetched or as just written.
//
// An object lives in a namespace ("ns") under an id, has a category, an owner (uid), times, a
// parent id, an acl and three keyed parts: "text" (JSON values, one stored file per key),
// "metatext" (JSON values) and "metabinary" (files). Every write (Set, Create, Copy) makes a new,
// immutable version carrying the request's "commit_msg"; older versions stay readable.
//
// Requests are JSON objects. Members every operation reads:
//   "ns"         namespace, non-empty string (required)
//   "id"         object id, non-empty string chosen by the caller (required; Create makes one up
//                when absent). Any text is allowed: "../x" and "a/b" are ordinary ids.
//   "requester"  acting uid. 0 is the system itself and may do everything; 4294967295 (or -1) is
//                the anonymous viewer and sees only objects whose acl is public; any other uid
//                sees objects it owns or that the acl grants it. Absent means the system.
// Rights: reading needs "ro", Set needs "rw", changing "acl" or "owner" and Delete need "owner".
// The requester's right is in every answer: get_ref_perm() ("owner", "rw", "ro") and
// get_perm_level() (300, 200, 100).
//
// The acl is {} when not shared, otherwise {"enabled": bool, "public": {"perm", "inherit"},
// "vexo_user": {"<uid>": {"perm", "inherit"}}, "vexo_group": {"<gid>": {"perm", "inherit"}}} with
// "perm" one of "ro", "rw", "owner". Nothing is granted while "enabled" is not true; "public"
// grants at most "rw".
//
// Get(request): "version" (or "ver", a version name as returned by get_ref_version; absent: the
//   current one); "field" selects the parts to fetch: "text": true (every key), false, or {key:
//   true, ...}; "metatext": true, false or {key: true}; "metabinary_info": bool. Without "field"
//   everything is fetched. The other members (id, version, category, owner, times, parent id,
//   acl, perm, commit message) always are.
// Set(request): writes the "text" and "metatext" keys given (a null value removes the key) and
//   leaves every other key as it is. Optional: "commit_msg" (object, kept with the new version;
//   {} when absent), "version" (the version the change is based on: must be one of the object's
//   versions, not necessarily the current one), "category", "parent_id", "ctime", "mtime"
//   (seconds; mtime defaults to now), "acl", "owner", "metabinary_files" ([{"format": "raw",
//   "name", "path"}]: files copied in under those names, replacing files of the same name),
//   "remove_metabinary" ([name]), "reset_parent_id" (true: the current parent id is kept in text
//   "parent_id" and the parent id becomes ""), "remove_tag" (a text: metatext "tag" becomes its
//   stored array without that element, whatever the request's metatext "tag" says).
//   "recursive", "attachment", "assign_thumb", "token" and "field" are accepted and ignored.
// Create(request): a new object; "id" optional (a random one otherwise), "owner" (defaults to the
//   requester; only the system may create for another uid), "category", "parent_id", "text",
//   "metatext", "acl" ({} by default), "commit_msg", "ctime", "mtime", "metabinary_files".
//   Fails with 1014 when the id is taken. The anonymous viewer cannot create.
// Copy(request): "id" is the source (with optional "version"), read with the requester's rights;
//   the copy gets "new_id" (or a random id), the source's category, parent id, text, metatext and
//   metabinary files with the request's "text", "metatext", "metabinary_files", "category",
//   "parent_id", "ctime", "mtime" written over them, the requester as owner (the system keeps the
//   source's owner unless "owner" is given), acl {} and the request's "commit_msg".
// Delete(request): removes the object with all its versions ("owner" right needed).
// Download(request): writes an HTTP answer (headers, an empty line, the bytes) to standard output
//   or to `fd`: "segment": "metabinary" with "field" naming the file, or "segment": "text" with
//   "field" naming the key; "filename" names the download; "version" as in Get.
//
// After a successful Get the object holds what was fetched; after Set, Create and Copy it
// describes the new current version, with its whole text loaded on first access to
// get_ref_text(). On failure an operation returns false, sets ZOLTDriveErrCodeGet() (see
// drive_error.h) and leaves the object as it was. Writes are atomic and serialised per object
// across processes; a crash at any point leaves the previous version current and whole.
//
// Thread safety: an object is a plain value; use one from one thread at a time. Distinct objects
// (also of the same stored id) may be used from distinct threads and processes.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "core/zolt_export.h"

namespace zoltdrive {
struct ObjectAccess;
}

class ZOLT_PLATFORM_API ZOLT_DRIVE_OBJECT {
 public:
  ZOLT_DRIVE_OBJECT();

  bool Get(const Json::Value& request);
  bool Set(const Json::Value& request);
  bool Create(const Json::Value& request);
  bool Copy(const Json::Value& request);
  static bool Delete(const Json::Value& request);
  static bool Download(const Json::Value& request);
  static bool Download(const Json::Value& request, int fd);

  // Writes the object as {"id", "ns", "version", "category", "owner", "ctime", "mtime",
  // "parent_id", "acl", "perm", "perm_level", "commit_msg", "metatext", "metabinary_info",
  // "text"} into `out` (replaced). `field` null writes all of them; an object leaves out every
  // member it maps to false. "text" only when `withText`. Always true.
  bool toJson(const Json::Value& field, Json::Value& out, bool withText = true) const;

  // Forgets everything (as after construction).
  void clear();

  const std::string& get_ref_ns() const { return ns_; }
  const std::string& get_ref_id() const { return id_; }
  const std::string& get_ref_version() const { return version_; }
  const std::string& get_ref_category() const { return category_; }
  const std::string& get_ref_parent_id() const { return parentId_; }
  const std::string& get_ref_perm() const { return perm_; }
  int get_perm_level() const { return permLevel_; }
  const Json::Value& get_ref_acl() const { return acl_; }
  const Json::Value& get_ref_commit_msg() const { return commitMsg_; }
  const Json::Value& get_ref_metatext() const { return metatext_; }
  Json::Value& get_ref_metatext() { return metatext_; }
  const Json::Value& get_ref_metabinary_info() const { return metabinaryInfo_; }
  // The fetched text keys; non-const so callers may move large values out by swapping.
  const Json::Value& get_ref_text() const;
  Json::Value& get_ref_text();
  unsigned get_owner() const { return owner_; }
  int64_t get_ctime() const { return ctime_; }
  int64_t get_mtime() const { return mtime_; }

 private:
  friend struct zoltdrive::ObjectAccess;
  void LoadPendingText() const;

  std::string ns_;
  std::string id_;
  std::string version_;
  std::string category_;
  std::string parentId_;
  std::string perm_;
  int permLevel_ = 0;
  unsigned owner_ = 4294967295u;
  int64_t ctime_ = 0;
  int64_t mtime_ = 0;
  Json::Value acl_;
  Json::Value commitMsg_;
  Json::Value metatext_;
  Json::Value metabinaryInfo_;
  mutable Json::Value text_;
  mutable std::string pendingTextDir_;  // version whose whole text is loaded on first access
  mutable Json::Value pendingTextKeys_;
};
