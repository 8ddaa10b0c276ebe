#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "common/runas.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "core/zolt_config.h"
#include "core/zolt_exec.h"
#include "core/zolt_root.h"
#include "core/zolt_volume.h"

namespace {

constexpr const char* kSysInfoPath = "/etc.defaults/zoltinfo.conf";
constexpr const char* kSysInfoKey = "plugbay";
constexpr const char* kVolumeTmpDir = "@tmp";
constexpr const char* kFallbackTmpDir = "/tmp";
constexpr size_t kMaxPrefix = 128;
constexpr size_t kMaxSuffix = 32;

// A piece of a temporary file name from the caller (an uploaded file's name, say): without "/" and
// NUL, so the file stays in the storage, and short enough for a file name.
std::string NamePart(const std::string& in, size_t maxLen) {
  std::string out = in.substr(0, maxLen);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  return out;
}

bool IsRealDirectory(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

ZOLT_SH_CHDIR::ZOLT_SH_CHDIR() {
  if (!ZOLTSHFindTmpStorage(strPath_)) return;
  szPrevDir_ = ::getcwd(nullptr, 0);
  if (szPrevDir_ == nullptr) {
    ZOLTSH_LOG_ERR("Failed to get working directory, %m");
    return;
  }
  if (::chdir(strPath_.c_str()) != 0) {
    ZOLTSH_LOG_ERR("Failed to chdir to %s, %m", strPath_.c_str());
    std::free(szPrevDir_);
    szPrevDir_ = nullptr;
  }
}

ZOLT_SH_CHDIR::~ZOLT_SH_CHDIR() {
  if (szPrevDir_ == nullptr) return;
  if (::chdir(szPrevDir_) != 0) ZOLTSH_LOG_ERR("Failed to chdir back to %s, %m", szPrevDir_);
  std::free(szPrevDir_);
}

namespace zoltsh::utils {

FileHandle::FileHandle(const std::string& path, const char* mode) { open(path, mode); }

FileHandle::~FileHandle() { close(); }

int FileHandle::close() {
  if (fp_ == nullptr) return 0;
  int rc = std::fclose(fp_);
  fp_ = nullptr;
  return rc;
}

void FileHandle::open(const std::string& path, const char* mode) {
  close();
  std::string m = mode != nullptr ? mode : "";
  const bool plus = m.find('+') != std::string::npos;
  const bool excl = m.find('x') != std::string::npos;
  int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  bool truncate = false;
  switch (m.empty() ? '\0' : m[0]) {
    case 'r':
      flags |= plus ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
      truncate = true;
      break;
    case 'a':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      ZOLTSH_THROW(ZoltError, "Failed to open file", ZOLTSH_ERR_OPERATION_FAILED);
  }
  if (excl) flags |= O_EXCL;
  const bool writes = m[0] != 'r' || plus;

  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    ZOLTSH_LOG_ERR("Failed to open %s, %m", path.c_str());
    ZOLTSH_THROW(ZoltError, "Failed to open file", ZOLTSH_ERR_OPERATION_FAILED);
  }
  // Only regular files; a writer refuses a file with other links (a hard link planted at a
  // temporary path) before anything is truncated or written.
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!writes || st.st_nlink <= 1);
  if (ok) ok = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  if (ok && truncate) ok = ::ftruncate(fd, 0) == 0;
  std::string fmode;
  for (char c : m) {
    if (c != 'x') fmode.push_back(c);
  }
  FILE* fp = ok ? ::fdopen(fd, fmode.c_str()) : nullptr;
  if (fp == nullptr) {
    ZOLTSH_LOG_ERR("Failed to open %s: not a single regular file", path.c_str());
    ::close(fd);
    ZOLTSH_THROW(ZoltError, "Failed to open file", ZOLTSH_ERR_OPERATION_FAILED);
  }
  fp_ = fp;
}

TmpFileManager::~TmpFileManager() { Release(); }

void TmpFileManager::Register(const std::string& path) { paths_.insert(path); }

std::string TmpFileManager::GetTmpFilePath(const std::string& prefix, const std::string& suffix,
                                           TmpFileOwner owner) {
  std::string strStorage;
  if (ZOLTSH_FAIL_APPEND(!ZOLTSHFindTmpStorage(strStorage))) {
    ZOLTSH_THROW(ZoltError, "Failed to get tmp file", ZOLTSH_ERR_OPERATION_FAILED);
  }
  const std::string safeSuffix = NamePart(suffix, kMaxSuffix);
  std::string tmpl = strStorage + "/" + NamePart(prefix, kMaxPrefix) + "_XXXXXX" + safeSuffix;
  // mkostemps creates with O_CREAT|O_EXCL, mode 0600; the file belongs to the identity that will
  // write it, so nobody else can swap it for a link in between.
  int fdTemp = -1;
  if (owner == TmpFileOwner::kRoot) {
    IF_RUN_AS(0, 0) {
      fdTemp = ::mkostemps(tmpl.data(), static_cast<int>(safeSuffix.size()), O_CLOEXEC);
    }
  } else {
    fdTemp = ::mkostemps(tmpl.data(), static_cast<int>(safeSuffix.size()), O_CLOEXEC);
  }
  if (ZOLTSH_FAIL_APPEND(0 > fdTemp)) {
    ZOLTSH_THROW(ZoltError, "Failed to get tmp file", ZOLTSH_ERR_OPERATION_FAILED);
  }
  ::close(fdTemp);
  Register(tmpl);
  return tmpl;
}

void TmpFileManager::Release() {
  for (const std::string& path : paths_) {
    IF_RUN_AS(0, 0) { ::unlink(path.c_str()); }
    else {
      // A process that cannot become root still removes the files it made itself.
      ::unlink(path.c_str());
    }
  }
  paths_.clear();
}

void CopyFile(const std::string& from, const std::string& to) {
  if (from == to) return;
  int rc = -1;
  RUN_AS(0, 0) {
    // "--remove-destination": a link planted at `to` is replaced, never written through as root.
    rc = ZOLTExecWait({"/bin/cp", "-f", "--remove-destination", "--", from, to});
  }
  if (rc < 0) {
    ZOLTSH_THROW(ZoltError, "Failed to adjust file orient", ZOLTSH_ERR_OPERATION_FAILED);
  }
}

}  // namespace zoltsh::utils

bool ZOLTSHFindTmpStorage(std::string& strPath) {
  if (!ZOLTConfigKeyValueIs(ZOLTRootPath(kSysInfoPath), kSysInfoKey, "yes")) {
    std::string volume;
    if (ZOLTVolumeFindWithFreeSpace(kZOLTSHTmpMinFree, &volume)) {
      std::string tmp = volume + "/" + kVolumeTmpDir;
      if (IsRealDirectory(tmp)) {
        strPath = tmp;
        return true;
      }
    }
  }
  const std::string tmp = ZOLTRootPath(kFallbackTmpDir);
  struct statvfs64 vfs;
  if (::statvfs64(tmp.c_str(), &vfs) != 0) return false;
  const unsigned long long freeBytes =
      static_cast<unsigned long long>(vfs.f_frsize) * static_cast<unsigned long long>(vfs.f_bfree);
  if (freeBytes < kZOLTSHTmpMinFree) return false;
  strPath = tmp;
  return true;
}

bool ZOLTSHFindTmpFolder(std::string& strFolder) {
  std::string strPath;
  if (ZOLTSH_FAIL_APPEND(!ZOLTSHFindTmpStorage(strPath))) return false;
  strPath += "/sh_data_tmp_XXXXXX";
  if (::mkdtemp(strPath.data()) == nullptr) return false;
  strFolder = strPath;
  return true;
}

void ZOLTSHRemoveFolder(const std::string& path) {
  // lstat: a symbolic link to a directory is not a folder of ours to empty.
  if (!IsRealDirectory(path)) return;
  ZOLTExecWait({"/bin/rm", "-rf", "--", path});
}

bool ZOLTSHGetFileExt(const std::string& name, std::string& ext) {
  ext.clear();
  if (name.empty()) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return true;
  ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return true;
}

bool ZOLTSHGetFileBaseName(const std::string& name, std::string& base) {
  base.clear();
  if (name.empty()) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) {
    base = name;
  } else {
    base = name.substr(0, dot);
  }
  return true;
}
