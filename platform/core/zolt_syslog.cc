#include "core/zolt_syslog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

ZOLTSyslogHook& Hook() {
  static ZOLTSyslogHook hook;
  return hook;
}

}  // namespace

ZOLTSyslogHook ZOLTSyslogSetHook(ZOLTSyslogHook hook) {
  std::swap(Hook(), hook);
  return hook;
}

void ZOLTVSyslog(int priority, const char* fmt, va_list args) {
  const int savedErrno = errno;
  ZOLTSyslogHook& hook = Hook();
  if (!hook) {
    vsyslog(priority, fmt, args);
    errno = savedErrno;
    return;
  }
  // glibc's printf family expands %m itself, from the errno in force.
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int len = std::vsnprintf(small, sizeof(small), fmt, copy);
  va_end(copy);
  std::string line;
  if (len >= 0 && static_cast<size_t>(len) < sizeof(small)) {
    line.assign(small, static_cast<size_t>(len));
  } else if (len >= 0) {
    line.resize(static_cast<size_t>(len) + 1);
    errno = savedErrno;
    std::vsnprintf(line.data(), line.size(), fmt, args);
    line.resize(static_cast<size_t>(len));
  }
  errno = savedErrno;
  hook(priority, line);
  errno = savedErrno;
}

void ZOLTSyslog(int priority, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ZOLTVSyslog(priority, fmt, args);
  va_end(args);
}
