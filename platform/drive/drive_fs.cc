#include "drive/drive_fs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "drive/drive_fault.h"

namespace zoltdrive {
namespace {

ZOLTDriveFaultHook& Hook() {
  static ZOLTDriveFaultHook hook;
  return hook;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

TempPath::~TempPath() {
  if (!path_.empty()) {
    int saved = errno;
    RemoveTree(path_);
    errno = saved;
  }
}

bool FileLock::Acquire(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  UniqueFd owned(fd);
  while (::flock(owned.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  fd_ = std::move(owned);
  return true;
}

RootSection::RootSection() {
  uid_t ruid = 0, euid = 0, suid = 0;
  if (::getresuid(&ruid, &euid, &suid) != 0 || euid == 0) return;
  if (ruid != 0 && suid != 0) return;
  int saved = errno;
  if (::seteuid(0) == 0) {
    previous_ = euid;
    switched_ = true;
  }
  errno = saved;
}

RootSection::~RootSection() {
  if (!switched_) return;
  int saved = errno;
  if (::seteuid(previous_) != 0) std::abort();  // never carry root into the caller's identity
  errno = saved;
}

bool FaultPoint(const char* stage) {
  if (Hook() && !Hook()(stage)) {
    errno = EIO;
    return false;
  }
  return true;
}

bool MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    errno = ec.value();
    return false;
  }
  return true;
}

bool SyncDir(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return false;
  return ::fsync(fd.get()) == 0;
}

bool WriteNewFile(const std::string& path, std::string_view data) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return false;
  TempPath undo(path);
  if (!WriteAll(fd.get(), data) || ::fsync(fd.get()) != 0) return false;
  undo.keep();
  return true;
}

bool CopyNewFile(const std::string& src, const std::string& dst) {
  UniqueFd in(::open(src.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!in.valid()) return false;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  UniqueFd out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.valid()) return false;
  TempPath undo(dst);
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    if (!WriteAll(out.get(), std::string_view(buf, static_cast<size_t>(n)))) return false;
  }
  if (::fsync(out.get()) != 0) return false;
  undo.keep();
  return true;
}

bool LinkOrCopy(const std::string& src, const std::string& dst) {
  if (::link(src.c_str(), dst.c_str()) == 0) return true;
  if (errno != EXDEV && errno != EPERM && errno != EMLINK) return false;
  return CopyNewFile(src, dst);
}

bool ReplaceFile(const std::string& dir, const std::string& name, std::string_view data,
                 const char* stage) {
  TempPath tmp(dir + "/." + name + ".tmp-" + RandomHex(8));
  if (!WriteNewFile(tmp.path(), data)) {
    tmp.keep();  // nothing was created (or WriteNewFile removed it)
    return false;
  }
  if (!FaultPoint(stage)) return false;
  std::string target = dir + "/" + name;
  if (::rename(tmp.path().c_str(), target.c_str()) != 0) return false;
  tmp.keep();
  // The new content is in place; a failing directory fsync cannot undo that, so it is not an error
  // (the rename reaches the disk with the file system's next commit).
  SyncDir(dir);
  return true;
}

bool ReadFile(const std::string& path, std::string& out) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return false;
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  out.swap(data);
  return true;
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  if (ec) {
    errno = ec.value();
    return false;
  }
  return true;
}

std::string RandomHex(size_t bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string raw(bytes, '\0');
  size_t got = 0;
  while (got < bytes) {
    ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::abort();  // the kernel's random source is gone: nothing sensible is left to do
    }
    got += static_cast<size_t>(n);
  }
  std::string out;
  out.reserve(bytes * 2);
  for (unsigned char c : raw) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

}  // namespace zoltdrive

ZOLTDriveFaultHook ZOLTDriveSetFaultHook(ZOLTDriveFaultHook hook) {
  ZOLTDriveFaultHook previous = std::move(zoltdrive::Hook());
  zoltdrive::Hook() = std::move(hook);
  return previous;
}
