// Login sessions of the web-API host, shared by every process of one appliance root.
//
// Each session is a file ZOLTRootPath("/var/run/zolt-webapi/sessions/<sid>") (mode 0600, directory
// 0700) holding {"uid", "name", "created"}. A sid is 64 lowercase hex digits from RAND_bytes (256
// bits); anything else is refused before a path is built from it. Sessions last kSessionLifetime
// from login, and only while their user still exists.
//
// Failure: Create returns "" and Lookup nullopt on any failure (logged).
// Thread safety: the functions keep no state; any thread may call them.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace ZOLT::Host {

inline constexpr time_t kSessionLifetime = 7 * 24 * 3600;

struct Session {
  unsigned uid = 0;
  std::string name;
};

std::string SessionDir();
// Makes the session directory (0700); false when it cannot.
bool PrepareSessionDir();
// A new session for the user; its sid, or "".
std::string CreateSession(unsigned uid, const std::string& name);
std::optional<Session> LookupSession(const std::string& sid);
// Removes the session; true when it existed.
bool RemoveSession(const std::string& sid);

}  // namespace ZOLT::Host
