// Accounts of the appliance: users and groups.
//
// Storage: ZOLTRootPath("/etc/zolt/users.json") and ZOLTRootPath("/etc/zolt/groups.json"), each a
// JSON object, root-only (mode 0600), replaced atomically on every change (temporary file in the
// same directory, fsync, rename, fsync of the directory), so a crash leaves the old or the new file
// whole. Changes hold an exclusive lock on ZOLTRootPath("/etc/zolt/.accounts.lock") across
// processes.
//   users.json:  {"users": [{"name", "uid", "groups": [group names], "admin": bool,
//                            "password": {"algo": "pbkdf2-sha256", "iter": N, "salt": hex,
//                                         "hash": hex}}]}
//   groups.json: {"groups": [{"name", "gid"}]}
// Passwords are kept only as PBKDF2-HMAC-SHA-256 with a 16-byte random salt; checks compare in
// constant time. Names and ids are unique; uid 0 is an ordinary account (the collaboration server's
// own).
//
// Failure: lookups return false / empty when the files are missing, unreadable or malformed;
// changes return false with a message in *error.
// Thread safety: every call reads the files anew; calls may come from any thread and process.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/zolt_export.h"

namespace ZOLT::Account {

struct User {
  std::string name;
  unsigned uid = 0;
  std::vector<std::string> groups;  // group names
  bool admin = false;
};

struct Group {
  std::string name;
  unsigned gid = 0;
};

// Paths of the account files below the current appliance root.
ZOLT_PLATFORM_API std::string UsersPath();
ZOLT_PLATFORM_API std::string GroupsPath();

ZOLT_PLATFORM_API std::optional<User> GetUserByName(const std::string& name);
ZOLT_PLATFORM_API std::optional<User> GetUserByUid(unsigned uid);
ZOLT_PLATFORM_API std::vector<User> ListUsers();

ZOLT_PLATFORM_API std::optional<Group> GetGroupByName(const std::string& name);
ZOLT_PLATFORM_API std::optional<Group> GetGroupByGid(unsigned gid);
ZOLT_PLATFORM_API std::vector<Group> ListGroups();
// The groups the user belongs to (names missing from the group file are left out).
ZOLT_PLATFORM_API std::vector<Group> GetUserGroups(const std::string& name);

// The user when `name` exists and `password` is its password; nullopt otherwise (the time taken
// does not tell an unknown name from a wrong password).
ZOLT_PLATFORM_API std::optional<User> CheckPassword(const std::string& name,
                                                    const std::string& password);

// Adds a user. Refused: an empty name or one with "/", ":", whitespace or control characters; a
// name or uid already taken; an empty password. Groups named but not yet known are created with
// the next free gid (from 1000).
ZOLT_PLATFORM_API bool AddUser(const User& user, const std::string& password, std::string* error);
// Replaces the password of an existing user.
ZOLT_PLATFORM_API bool SetPassword(const std::string& name, const std::string& password,
                                   std::string* error);
// Adds a group; gid nullopt picks the next free gid from 1000.
ZOLT_PLATFORM_API bool AddGroup(const std::string& name, std::optional<unsigned> gid,
                                std::string* error);

}  // namespace ZOLT::Account
