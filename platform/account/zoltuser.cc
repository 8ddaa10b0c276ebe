// zoltuser: adds and lists the appliance's users and groups.
//
//   zoltuser --root DIR add NAME --uid N --password PW [--admin] [--group GROUP]...
//   zoltuser --root DIR passwd NAME --password PW
//   zoltuser --root DIR group-add NAME [--gid N]
//   zoltuser --root DIR list          (one JSON object: users without password data, groups)
//
// --root defaults to ZOLT_ROOT. Exit status 0 on success, 1 on a refused change, 2 on a usage
// error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "account/account.h"
#include "json/json_text.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zoltuser [--root DIR] add NAME --uid N --password PW [--admin] "
               "[--group GROUP]...\n"
               "       zoltuser [--root DIR] passwd NAME --password PW\n"
               "       zoltuser [--root DIR] group-add NAME [--gid N]\n"
               "       zoltuser [--root DIR] list\n");
  return 2;
}

bool ParseUnsigned(const char* text, unsigned& out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > 0xffffffffUL) return false;
  out = static_cast<unsigned>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  if (i + 1 < args.size() && args[i] == "--root") {
    ::setenv("ZOLT_ROOT", args[i + 1].c_str(), 1);
    i += 2;
  }
  if (i >= args.size()) return Usage();
  std::string command = args[i++];
  std::string error;

  if (command == "list") {
    Json::Value out(Json::objectValue);
    out["users"] = Json::Value(Json::arrayValue);
    out["groups"] = Json::Value(Json::arrayValue);
    for (const ZOLT::Account::User& user : ZOLT::Account::ListUsers()) {
      Json::Value row(Json::objectValue);
      row["name"] = user.name;
      row["uid"] = user.uid;
      row["admin"] = user.admin;
      row["groups"] = Json::Value(Json::arrayValue);
      for (const std::string& g : user.groups) row["groups"].append(g);
      out["users"].append(row);
    }
    for (const ZOLT::Account::Group& group : ZOLT::Account::ListGroups()) {
      Json::Value row(Json::objectValue);
      row["name"] = group.name;
      row["gid"] = group.gid;
      out["groups"].append(row);
    }
    std::printf("%s\n", Json::toString(out).c_str());
    return 0;
  }

  if (i >= args.size()) return Usage();
  std::string name = args[i++];
  ZOLT::Account::User user;
  user.name = name;
  bool haveUid = false;
  bool havePassword = false;
  std::string password;
  std::optional<unsigned> gid;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    const char* next = i + 1 < args.size() ? args[i + 1].c_str() : nullptr;
    if (a == "--uid" && next && ParseUnsigned(next, user.uid)) {
      haveUid = true;
      ++i;
    } else if (a == "--gid" && next) {
      unsigned v = 0;
      if (!ParseUnsigned(next, v)) return Usage();
      gid = v;
      ++i;
    } else if (a == "--password" && next) {
      password = next;
      havePassword = true;
      ++i;
    } else if (a == "--group" && next) {
      user.groups.emplace_back(next);
      ++i;
    } else if (a == "--admin") {
      user.admin = true;
    } else {
      return Usage();
    }
  }

  bool ok = false;
  if (command == "add") {
    if (!haveUid || !havePassword) return Usage();
    ok = ZOLT::Account::AddUser(user, password, &error);
  } else if (command == "passwd") {
    if (!havePassword) return Usage();
    ok = ZOLT::Account::SetPassword(name, password, &error);
  } else if (command == "group-add") {
    ok = ZOLT::Account::AddGroup(name, gid, &error);
  } else {
    return Usage();
  }
  if (!ok) {
    std::fprintf(stderr, "zoltuser: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
