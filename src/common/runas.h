// Switching the effective identity of the process for a stretch of code.
//
// The library runs in web-API worker processes that started as root and whose effective identity
// is normally the requesting user's. Three tools change it:
//
//   ENTERCriticalSection; ... LEAVECriticalSection;
//       A root section. The block always runs; when the switch to root (or back) fails, the failure
//       is logged ("file:line ERROR: ENTERCriticalSection" / "... LEAVECriticalSection") and errno
//       is left at EPERM for the caller's checks, else errno is 0. Leaving the block by return,
//       break or exception restores the identity too.
//
//   RUN_AS(uid, gid) { ... }                    switch or throw runas_error ("RUN_AS(0, 0)")
//   IF_RUN_AS(uid, gid) { ... } [else { ... }]  switch or skip the block (the else block runs)
//   IF_RUN_AS2("account") { ... } [else { ... }] the same, to the account with this login name
//       Scoped guards (_________::__). The identity saved when the guard is created (effective uid,
//       gid and supplementary groups) is restored when the scope is left, on every path, whether
//       the switch succeeded or not. A switch to a non-root user also sets the supplementary groups
//       to that account's groups, so no group of the previous identity leaks into the block.
//       -1 as a target id leaves that id alone.
//
//   ZOLTSHSetEUGID(name, uid, gid)
//       A one-way switch to a user (supplementary groups included); nothing restores it.
//
// Only effective ids and supplementary groups change; real and saved ids are always passed as -1,
// so a process that started as root can always return to root.
//
// Thread safety: effective ids belong to the process, so a guard in force applies to every thread.
// Guards nest (the inner restores to what the outer set); they must be used by one thread at a
// time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "common/zoltsh_error.h"  // runas_error
#include "common/zoltsh_export.h"

#ifndef ZOLTSH_FILE
#define ZOLTSH_FILE __FILE__
#endif

namespace zoltsh::internal {

// The state behind ENTERCriticalSection / LEAVECriticalSection. Enter (the constructor) remembers
// the effective ids and supplementary groups and becomes root; Leave restores them and sets errno
// (0 or EPERM). The destructor leaves when Leave was not called, without touching errno.
class ZOLTSH_API RootSection {
 public:
  RootSection(const char* file, int line);
  ~RootSection();
  RootSection(const RootSection&) = delete;
  RootSection& operator=(const RootSection&) = delete;

  void Leave(const char* file, int line);

 private:
  bool Restore();

  const char* file_;
  int line_;
  uid_t uid_;
  gid_t gid_;
  std::vector<gid_t> groups_;
  bool left_ = false;
};

}  // namespace zoltsh::internal

#define ENTERCriticalSection \
  {                          \
    ::zoltsh::internal::RootSection zoltshRootSection_(ZOLTSH_FILE, __LINE__)
#define LEAVECriticalSection                       \
  zoltshRootSection_.Leave(ZOLTSH_FILE, __LINE__); \
  }

namespace _________ {

// A scoped switch of the effective identity; see the file comment. Created by the RUN_AS,
// IF_RUN_AS and IF_RUN_AS2 forms below, never directly. Failures are logged with the guard's source
// file and line (authorization facility); the destructor never throws.
class ZOLTSH_API __ {
 public:
  // Switches to (uid, gid); -1 leaves that id alone. `name` is "RUN_AS" or "IF_RUN_AS".
  __(uid_t uid, gid_t gid, const char* file, int line, const char* name);
  // Switches to the account `account` (uid and gid both the account's uid, see getugid).
  __(const char* account, const char* file, int line, const char* name);
  ~__();
  __(const __&) = delete;
  __& operator=(const __&) = delete;

  // Whether the switch succeeded.
  explicit operator bool() const { return switched_; }

  // For RUN_AS: true when switched; otherwise logs "file:line ERROR: RUN_AS(uid, gid)" and throws
  // runas_error with that text (the destructor then restores the saved identity).
  bool OrThrow() const;

  // Looks `name` up in the account database. On success sets both *uid and *gid to the account's
  // uid (the group switched to is the uid, not the primary group) and returns true; otherwise logs
  // and returns false.
  static bool getugid(const char* name, uid_t* uid, gid_t* gid);

 private:
  void Switch(uid_t uid, gid_t gid, const char* account);

  uid_t savedUid_;  // all ones: not restored
  gid_t savedGid_;  // all ones: not restored
  const char* file_;
  int line_;
  const char* name_;
  bool switched_ = false;
  uid_t targetUid_;
  gid_t targetGid_;
  std::vector<gid_t> savedGroups_;  // supplementary groups at creation
};

}  // namespace _________

#define ZOLTSH_RUNAS_CAT2_(a, b) a##b
#define ZOLTSH_RUNAS_CAT_(a, b) ZOLTSH_RUNAS_CAT2_(a, b)
#define ZOLTSH_RUNAS_VAR_ ZOLTSH_RUNAS_CAT_(zoltshRunAs_, __LINE__)

// RUN_AS(uid, gid) { block }: runs the block as (uid, gid) or throws runas_error.
#define RUN_AS(uid, gid)                                                                  \
  if (::_________::__ ZOLTSH_RUNAS_VAR_(static_cast<uid_t>(uid), static_cast<gid_t>(gid), \
                                        ZOLTSH_FILE, __LINE__, "RUN_AS");                 \
      ZOLTSH_RUNAS_VAR_.OrThrow())

// IF_RUN_AS(uid, gid) { block } else { alternative }: the block runs only when the switch
// succeeded.
#define IF_RUN_AS(uid, gid)                                                               \
  if (::_________::__ ZOLTSH_RUNAS_VAR_(static_cast<uid_t>(uid), static_cast<gid_t>(gid), \
                                        ZOLTSH_FILE, __LINE__, "IF_RUN_AS");              \
      ZOLTSH_RUNAS_VAR_)

// IF_RUN_AS2(account) { block } else { alternative }: the same, to the named account.
#define IF_RUN_AS2(account)                                                              \
  if (::_________::__ ZOLTSH_RUNAS_VAR_((account), ZOLTSH_FILE, __LINE__, "IF_RUN_AS2"); \
      ZOLTSH_RUNAS_VAR_)

// One-way switch to a user before acting on the user's files: becomes root when needed, sets the
// supplementary groups of `userName` (initgroups; a failure is logged and not fatal), then the
// effective gid and uid. False (and logged) when root cannot be regained.
ZOLTSH_API bool ZOLTSHSetEUGID(const std::string& userName, uid_t uid, gid_t gid);
