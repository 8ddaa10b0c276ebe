// Files of the runtime: the working-directory guard, an owning FILE* handle, the registry of
// temporary files, the root-privileged copy, and the choice of temporary storage.
//
// Temporary storage is the "@tmp" folder of a volume with at least 50 MiB available, or "/tmp"
// (below the appliance root) when the device is of the "plugbay" kind or no volume qualifies and
// /tmp has that much free. The choice is made anew on every call.
//
// Temporary files are created empty, mode 0600, with O_EXCL|O_NOFOLLOW, by the identity that will
// write them: GetTmpFilePath creates as the current effective identity unless asked to create as
// root (for files that root, or a program run as root, writes). FileHandle opens with O_NOFOLLOW
// and refuses to write into anything but a regular file with a single link, so a planted symbolic
// or hard link at a temporary path is never written through.
//
// Failures: the document-model side (FileHandle, TmpFileManager, CopyFile) throws zoltsh::ZoltError
// with code 1000; the ZOLTSH functions return false and log (and record on the error stack where
// said).
//
// Thread safety: objects belong to one thread; ZOLT_SH_CHDIR changes the working directory of the
// whole process.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <set>
#include <string>

#include "common/zoltsh_export.h"

// Minimum free space of a temporary storage, in bytes.
inline constexpr unsigned long long kZOLTSHTmpMinFree = 52428800ULL;

// Changes the working directory to the temporary storage for its lifetime (nothing changes when
// no storage is found); the destructor changes back.
class ZOLTSH_API ZOLT_SH_CHDIR {
 public:
  ZOLT_SH_CHDIR();
  ~ZOLT_SH_CHDIR();
  ZOLT_SH_CHDIR(const ZOLT_SH_CHDIR&) = delete;
  ZOLT_SH_CHDIR& operator=(const ZOLT_SH_CHDIR&) = delete;

 private:
  std::string strPath_;        // the storage entered
  char* szPrevDir_ = nullptr;  // from getcwd(NULL, 0); null when nothing was changed
};

namespace zoltsh::utils {

// Owns one FILE* (null when closed) and closes it on destruction.
class ZOLTSH_API FileHandle {
 public:
  FileHandle() = default;
  // Same as open(path, mode).
  FileHandle(const std::string& path, const char* mode);
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens `path` with an fopen mode ("r", "rb", "w", "wb", "a", "r+", ...; "x" adds O_EXCL), never
  // through a symbolic link; writing modes accept only a regular file with one link ("w" truncates
  // after that check). Closes a file already held first. Throws zoltsh::ZoltError (1000,
  // "Failed to open file") on failure.
  void open(const std::string& path, const char* mode);
  // Closes the file; returns fclose's result (0 when nothing was open).
  int close();

  FILE* get() const { return fp_; }
  explicit operator bool() const { return fp_ != nullptr; }

 private:
  FILE* fp_ = nullptr;
};

// Which identity creates (and so owns) a temporary file.
enum class TmpFileOwner {
  kCurrent,  // the current effective identity: the caller writes the file as itself
  kRoot,     // root: the file is written by root or by a program run as root
};

// The temporary files of one operation; deletes them (as root) when released or destroyed. A path
// from GetTmpFilePath is valid only as long as its manager.
class ZOLTSH_API TmpFileManager {
 public:
  TmpFileManager() = default;
  ~TmpFileManager();
  TmpFileManager(const TmpFileManager&) = delete;
  TmpFileManager& operator=(const TmpFileManager&) = delete;

  // Adds `path` to the files to delete (once).
  void Register(const std::string& path);

  // Creates an empty unique file storage + "/" + prefix + "_XXXXXX" + suffix (mode 0600,
  // O_EXCL|O_NOFOLLOW) as `owner`, registers it and returns its path. Throws zoltsh::ZoltError
  // (1000, "Failed to get tmp file") when no storage is found or the file cannot be created.
  std::string GetTmpFilePath(const std::string& prefix, const std::string& suffix,
                             TmpFileOwner owner = TmpFileOwner::kCurrent);

  // Deletes every registered file (as root; errors ignored) and empties the set.
  void Release();

  const std::set<std::string>& Paths() const { return paths_; }

 private:
  std::set<std::string> paths_;
};

// Copies `from` to `to` with root rights ("/bin/cp" run as root; an existing destination is
// replaced, not written through). Nothing happens when the paths are equal. Throws runas_error when
// root cannot be gained and zoltsh::ZoltError (1000, "Failed to adjust file orient") when the copy
// fails.
ZOLTSH_API void CopyFile(const std::string& from, const std::string& to);

}  // namespace zoltsh::utils

// Finds the temporary storage (see the file comment). On success stores its path in strPath and
// returns true; otherwise leaves strPath and returns false.
ZOLTSH_API bool ZOLTSHFindTmpStorage(std::string& strPath);

// Creates a new private folder storage + "/sh_data_tmp_XXXXXX" and stores its path in strPath.
// False when no storage is found (logged and appended to the error stack) or mkdtemp fails.
ZOLTSH_API bool ZOLTSHFindTmpFolder(std::string& strPath);

// Removes the folder `path` with everything in it ("/bin/rm -rf"); anything that is not a directory
// (a symbolic link included) is left alone.
ZOLTSH_API void ZOLTSHRemoveFolder(const std::string& path);

// The lower-case text after the last "." of `name` ("" when there is none or it ends the name).
// False only for an empty name.
ZOLTSH_API bool ZOLTSHGetFileExt(const std::string& name, std::string& ext);

// `name` without its last "." and what follows (unchanged when there is no "." or it ends the
// name). False only for an empty name.
ZOLTSH_API bool ZOLTSHGetFileBaseName(const std::string& name, std::string& base);
