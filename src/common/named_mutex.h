// An exclusive lock on a name, shared by every process of the machine.
//
// Each name has one lock file, "/tmp/.zoltsh_lock/" + encoded name + ".mutex" below the appliance
// root, locked with flock. The name is encoded (every byte outside [A-Za-z0-9_-] becomes %XX), so
// a name such as an object id holding "../" never leaves the lock directory and two different names
// never share a file. The lock directory is created (mode 0755) by the constructor; the lock file
// is created on first use without truncation and opened with O_NOFOLLOW, by root when the process
// can become root, so any user's process can lock any name.
//
// The lock belongs to the open file: it is released by Release, by the destructor, or by the
// kernel when the holding process dies. It is not re-entrant: a second NamedMutex of the same name
// in the same process waits like any other holder.
//
// Failure: Acquire returns false (nothing is thrown); a failure to create the lock directory is
// only logged.
//
// Thread safety: one object per thread.
#pragma once

#include <string>

#include "common/zoltsh_export.h"

namespace zoltsh::utils {

class ZOLTSH_API NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Takes the lock, waiting at most `timeout` microseconds (0: one try). True when held.
  bool Acquire(int timeout);

  // Unlocks and closes; does nothing when not held.
  void Release();

  bool IsHeld() const { return held_; }
  const std::string& Path() const { return path_; }

  // The file name part of a lock name: every byte outside [A-Za-z0-9_-] as %XX.
  static std::string EncodeName(const std::string& name);

 private:
  std::string path_;
  bool held_ = false;
  int fd_ = -1;
};

}  // namespace zoltsh::utils
