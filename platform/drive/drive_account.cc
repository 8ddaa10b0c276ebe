// The accounts side of the Drive store: user and group names, a user's groups, and which groups
// count for a uid's rights. Built over the accounts service when this build has it; without it,
// no name is known and every user is only in the users group.
#include <string>

#include "drive/drive_fs.h"
#include "drive/drive_store.h"
#include "drive/drive_util.h"

#ifdef ZOLTDRIVE_HAVE_ACCOUNTS
#include "account/account.h"
#endif

namespace {

constexpr unsigned kUsersGid = 100;  // the group every account of the appliance belongs to

unsigned UsersGid() {
#ifdef ZOLTDRIVE_HAVE_ACCOUNTS
  if (auto group = ZOLT::Account::GetGroupByName("users")) return group->gid;
#endif
  return kUsersGid;
}

}  // namespace

bool ZOLTDriveGetUserName(unsigned uid, std::string& name) {
#ifdef ZOLTDRIVE_HAVE_ACCOUNTS
  zoltdrive::RootSection root;
  if (auto user = ZOLT::Account::GetUserByUid(uid)) {
    name = user->name;
    return true;
  }
#else
  (void)uid;
  (void)name;
#endif
  return false;
}

bool ZOLTDriveGetGroupName(unsigned gid, std::string& name) {
#ifdef ZOLTDRIVE_HAVE_ACCOUNTS
  zoltdrive::RootSection root;
  if (auto group = ZOLT::Account::GetGroupByGid(gid)) {
    name = group->name;
    return true;
  }
#else
  (void)gid;
  (void)name;
#endif
  return false;
}

bool ZOLTDriveGetAllGID(unsigned uid, Json::Value& gids, bool withUsersGroup) {
  zoltdrive::RootSection root;
  Json::Value out(Json::arrayValue);
  const unsigned users = UsersGid();
  bool hasUsers = false;
#ifdef ZOLTDRIVE_HAVE_ACCOUNTS
  if (uid != zoltdrive::kAnonymousUid) {
    if (auto user = ZOLT::Account::GetUserByUid(uid)) {
      for (const ZOLT::Account::Group& g : ZOLT::Account::GetUserGroups(user->name)) {
        if (g.gid == users) hasUsers = true;
        out.append(g.gid);
      }
    }
  }
#else
  (void)uid;
#endif
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
