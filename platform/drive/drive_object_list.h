// ZOLT_DRIVE_OBJECT_LIST: a list of Drive objects, filled by a namespace listing or by a batch
// write, and the batch operations over id arrays.
//
// ListObject(request, total): lists the objects of "ns" that "requester" may read (rules of
//   drive_object.h), fetched with "field" as in ZOLT_DRIVE_OBJECT::Get (everything when absent).
//   "filter" (optional object), every given member must hold:
//     "owner_uid" (or "owner")  the owner's uid
//     "category"                a string, or an array of strings (any of them)
//     "parent_id"               a string
//     "id"                      a string, or an array of strings (any of them)
//     "text", "metatext"        {key: value}: the stored value of that key equals value (numbers
//                               by value); when both are arrays, the stored array holds every
//                               element of value (tags). An absent key matches only null.
//   "sort_by" ("id", the default, "ctime" or "mtime") and "sort_direction" ("asc", the default,
//   or "desc") order the matches; "offset" and "limit" (integers; a limit <= 0 or absent means
//   all) pick a page. `total` becomes the number of matches before paging. The list is replaced
//   by the page; the result is its size, or -1 on failure (error code set, list and total
//   unchanged).
// Set(request, result): ZOLT_DRIVE_OBJECT::Set once per id of "id" (a string or an array of
//   strings), with every other member of the request. `result` becomes {id: true | false}; the
//   list is replaced by one object per id in request order: the written object, or for a failed
//   id an object that only carries that id. False (nothing written) only for a malformed request;
//   a failed id leaves its code in ZOLTDriveErrCodeGet().
// Delete(request, result): ZOLT_DRIVE_OBJECT::Delete per id of "id", result as in Set; the list
//   is left as it is.
//
// The list owns its objects. Thread safety: one thread at a time per list.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <vector>

#include "core/zolt_export.h"
#include "drive/drive_object.h"

class ZOLT_PLATFORM_API ZOLT_DRIVE_OBJECT_LIST {
 public:
  using iterator = std::vector<ZOLT_DRIVE_OBJECT>::iterator;
  using const_iterator = std::vector<ZOLT_DRIVE_OBJECT>::const_iterator;

  int ListObject(const Json::Value& request, int& total);
  bool Set(const Json::Value& request, Json::Value& result);
  bool Delete(const Json::Value& request, Json::Value& result);
  void clear() { objects_.clear(); }

  size_t size() const { return objects_.size(); }
  bool empty() const { return objects_.empty(); }
  ZOLT_DRIVE_OBJECT& operator[](size_t i) { return objects_[i]; }
  const ZOLT_DRIVE_OBJECT& operator[](size_t i) const { return objects_[i]; }
  iterator begin() { return objects_.begin(); }
  iterator end() { return objects_.end(); }
  const_iterator begin() const { return objects_.begin(); }
  const_iterator end() const { return objects_.end(); }

 private:
  std::vector<ZOLT_DRIVE_OBJECT> objects_;
};
