// The accounts side of the Drive store: user and group names, a user's groups, and which groups
// count for a uid's rights, from the accounts service.
#include <string>

#include "drive/drive_fs.h"
#include "drive/drive_store.h"
#include "drive/drive_util.h"

#include "account/account.h"

namespace {

constexpr unsigned kUsersGid = 100;  // the group every account of the appliance belongs to

unsigned UsersGid() {
  if (auto group = ZOLT::Account::GetGroupByName("users")) return group->gid;
  return kUsersGid;
}

}  // namespace

bool ZOLTDriveGetUserName(unsigned uid, std::string& name) {
  zoltdrive::RootSection root;
  if (auto user = ZOLT::Account::GetUserByUid(uid)) {
    name = user->name;
    return true;
  }
  return false;
}

bool ZOLTDriveGetGroupName(unsigned gid, std::string& name) {
  zoltdrive::RootSection root;
  if (auto group = ZOLT::Account::GetGroupByGid(gid)) {
    name = group->name;
    return true;
  }
  return false;
}

bool ZOLTDriveGetAllGID(unsigned uid, Json::Value& gids, bool withUsersGroup) {
  zoltdrive::RootSection root;
  Json::Value out(Json::arrayValue);
  const unsigned users = UsersGid();
  bool hasUsers = false;
  if (uid != zoltdrive::kAnonymousUid) {
    if (auto user = ZOLT::Account::GetUserByUid(uid)) {
      for (const ZOLT::Account::Group& g : ZOLT::Account::GetUserGroups(user->name)) {
        if (g.gid == users) hasUsers = true;
        out.append(g.gid);
      }
    }
  }
  if ((withUsersGroup || out.empty()) && !hasUsers) out.append(users);
  gids.swap(out);
  return true;
}

namespace zoltdrive {

std::vector<unsigned> GroupsForRights(unsigned uid) {
  Json::Value gids;
  ZOLTDriveGetAllGID(uid, gids, true);
  std::vector<unsigned> out;
  for (const Json::Value& g : gids) out.push_back(g.asUInt());
  return out;
}

}  // namespace zoltdrive
