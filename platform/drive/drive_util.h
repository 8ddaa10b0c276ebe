// Free functions of the Drive object store: stored file paths, existence, namespace settings,
// account names and groups, and SQL list text built from id arrays.
//
// The path functions name files of the current version of an object. Those files never change
// (a write makes a new version with new files), so a caller may read them while others write;
// they are removed only when the object is deleted. They are readable by root only, as on the
// appliance. No rights are checked: these are for the system's own code.
//
// Failures return false and set ZOLTDriveErrCodeGet() (see drive_error.h).
// Thread safety: no state of their own.
#pragma once

#include <json/value.h>

#include <string>

#include "core/zolt_export.h"

// The file holding the current value of text key `key` of object `id` as JSON text.
// False (1007) when the object or the key does not exist.
ZOLT_PLATFORM_API bool ZOLTDriveGetTextPath(const std::string& ns, const std::string& id,
                                            const std::string& key, std::string& path);

// The stored metabinary file `name` of the current version. False (1007) when there is none.
ZOLT_PLATFORM_API bool ZOLTDriveGetMetaBinaryPath(const std::string& ns, const std::string& id,
                                                  const std::string& name, std::string& path);

// Whether object `id` exists in namespace `ns`. Sets no error code.
ZOLT_PLATFORM_API bool ZOLTDriveIDIsExist(const std::string& ns, const std::string& id);

// Stores `settings` (any JSON value; the namespace's indexer reads it) as the indexing settings
// of `ns`, replacing earlier ones atomically. ZOLTDriveSettingsIndexGet reads them back (false,
// 1007, when none were stored).
ZOLT_PLATFORM_API bool ZOLTDriveSettingsIndexSet(const std::string& ns,
                                                 const Json::Value& settings);
ZOLT_PLATFORM_API bool ZOLTDriveSettingsIndexGet(const std::string& ns, Json::Value& settings);

// SQL list text for use after IN: the strings (and integers, as decimal text) of `array` as
// single-quoted literals with ' doubled, comma-separated, in parentheses: ('a','b''c').
// Elements of other types and strings holding NUL are left out. An empty result is "(NULL)",
// which matches nothing but is valid SQL.
ZOLT_PLATFORM_API std::string ZOLTDriveObjectEscapeStringArray(const Json::Value& array);

// The same for unsigned ids: (1,2,3). Elements that are neither non-negative integers nor
// decimal texts are left out; an empty result is "(NULL)".
ZOLT_PLATFORM_API std::string ZOLTDriveObjectEscapeUIntArray(const Json::Value& array);

// Account names and groups, from the appliance's accounts service.
// The name of user `uid` / group `gid`; false (name unchanged) when there is no such account.
ZOLT_PLATFORM_API bool ZOLTDriveGetUserName(unsigned uid, std::string& name);
ZOLT_PLATFORM_API bool ZOLTDriveGetGroupName(unsigned gid, std::string& name);
// `gids` becomes an array of the gids (unsigned) of every group user `uid` belongs to; with
// `withUsersGroup`, also the users group that every account belongs to (gid of the group named
// "users", 100 when there is none). Never empty: a uid without groups (unknown, or the anonymous
// viewer 4294967295) gets the users group alone. Always true. These are also the groups whose
// "vexo_group" acl entries apply to a requester.
ZOLT_PLATFORM_API bool ZOLTDriveGetAllGID(unsigned uid, Json::Value& gids, bool withUsersGroup);
