#include "core/zolt_file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {

long long NowUs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

}  // namespace

int ZOLTFileLockOpen(const std::string& path) {
  // O_NONBLOCK: a FIFO planted at the path must not block the open; the type check refuses it.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool ZOLTFileLockWait(int fd, long long timeoutUs) {
  if (fd < 0) return false;
  const long long deadline = NowUs() + (timeoutUs > 0 ? timeoutUs : 0);
  // Short pauses: a waiter must catch the gap between two holds of a busy lock by other
  // processes, which may be a millisecond or less.
  long long pauseUs = 100;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    long long left = deadline - NowUs();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    long long pause = pauseUs < left ? pauseUs : left;
    struct timespec ts = {static_cast<time_t>(pause / 1000000),
                          static_cast<long>(pause % 1000000) * 1000};
    ::nanosleep(&ts, nullptr);
    if (pauseUs < 2000) pauseUs *= 2;
  }
}

int ZOLTFileLockTimed(const std::string& path, long long timeoutUs) {
  int fd = ZOLTFileLockOpen(path);
  if (fd < 0) return -1;
  if (!ZOLTFileLockWait(fd, timeoutUs)) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}
