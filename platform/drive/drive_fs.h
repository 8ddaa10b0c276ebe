// File-system primitives of the Drive object store (internal, not exported).
//
// Everything the store writes goes through these: files are created with O_EXCL | O_NOFOLLOW,
// fsynced before they are renamed into place, and the directory holding a rename is fsynced after
// it, so a crash at any point leaves either the old or the new file whole. Every descriptor, lock
// and temporary file has an owner that releases it on every path.
//
// Failures return false with errno set; the callers turn that into the store's error code.
// Thread safety: no shared state, except the fault hook (see drive_fault.h).
#pragma once

#include <string>

#include <string_view>
#include "core/zolt_fd.h"

namespace zoltdrive {

// Owns one file descriptor.
using UniqueFd = ZOLTUniqueFd;

// A file or directory that is removed (recursively) when the owner goes away, unless it was
// kept. Used for the temporary files and the staging directory of a write.
class TempPath {
 public:
  TempPath() = default;
  explicit TempPath(std::string path) : path_(std::move(path)) {}
  ~TempPath();
  TempPath(TempPath&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempPath& operator=(TempPath&&) = delete;
  TempPath(const TempPath&) = delete;
  TempPath& operator=(const TempPath&) = delete;

  const std::string& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

// Exclusive cross-process lock of one object: flock on a lock file that is opened with
// O_NOFOLLOW (created with O_EXCL when missing) and never removed, so every process locks the
// same inode even while the object itself is deleted and created again. Blocks until granted;
// released by the destructor (and by the kernel when the process dies).
class FileLock {
 public:
  FileLock() = default;
  FileLock(FileLock&&) = default;
  FileLock& operator=(FileLock&&) = default;
  // False with errno set when the lock file cannot be opened or locked.
  bool Acquire(const std::string& path);
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

// While alive, the effective uid is root when the process may become root (its real or saved
// uid is 0); restores the previous effective uid afterwards. The store's files belong to root,
// as the appliance's do, whichever user the calling request currently acts as.
class RootSection {
 public:
  RootSection();
  ~RootSection();
  RootSection(const RootSection&) = delete;
  RootSection& operator=(const RootSection&) = delete;

 private:
  unsigned previous_ = 0;
  bool switched_ = false;
};

// Calls the fault hook for `stage`; false (errno EIO) when the hook refuses the step.
bool FaultPoint(const char* stage);

// Creates `path` and its missing parents (mode 0700).
bool MakeDirs(const std::string& path);

// Fsyncs the directory `dir`.
bool SyncDir(const std::string& dir);

// Creates the new file `path` (O_EXCL | O_NOFOLLOW, mode 0600), writes `data`, fsyncs it.
bool WriteNewFile(const std::string& path, std::string_view data);

// Copies the regular file `src` (opened with O_NOFOLLOW) to the new file `dst`, fsynced.
bool CopyNewFile(const std::string& src, const std::string& dst);

// Hard-links the stored, immutable file `src` as `dst`; copies when linking is refused.
bool LinkOrCopy(const std::string& src, const std::string& dst);

// Replaces `dir`/`name` with `data`: temporary file in `dir`, fsync, fault point `stage`, rename,
// fsync of `dir` (best effort once renamed). The previous content stays whole when anything fails
// before the rename or the process dies.
bool ReplaceFile(const std::string& dir, const std::string& name, std::string_view data,
                 const char* stage);

// Reads a whole regular file (O_NOFOLLOW).
bool ReadFile(const std::string& path, std::string& out);

// Removes `path` and everything below it; true when it is gone.
bool RemoveTree(const std::string& path);

// A random lowercase hex text of `bytes` random bytes (getrandom).
std::string RandomHex(size_t bytes);

}  // namespace zoltdrive
