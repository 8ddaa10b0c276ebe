#include "core/zolt_exec.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

int ZOLTExecWait(const std::vector<std::string>& args, int* exitStatus) {
  if (exitStatus != nullptr) *exitStatus = -1;
  if (args.empty() || args[0].empty()) return -1;
  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The child reports a failed execv through this close-on-exec pipe; a successful exec closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return -1;
  }
  if (pid == 0) {
    ::close(report[0]);
    ::execv(argv[0], argv.data());
    int err = errno;
    ssize_t ignored = ::write(report[1], &err, sizeof(err));
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  int execErr = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &execErr, sizeof(execErr));
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);

  int status = 0;
  pid_t w;
  do {
    w = ::waitpid(pid, &status, 0);
  } while (w < 0 && errno == EINTR);
  if (w != pid || n > 0) return -1;
  if (!WIFEXITED(status)) return -1;
  if (exitStatus != nullptr) *exitStatus = WEXITSTATUS(status);
  return WEXITSTATUS(status) == 0 ? 0 : -1;
}
