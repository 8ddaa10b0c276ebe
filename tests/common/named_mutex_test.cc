// The named lock across real processes, its file naming and its refusal of planted links.
#include "common/named_mutex.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "common/runas.h"
#include "core/zolt_file_lock.h"
#include "gtest/gtest.h"
#include "support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using zoltsh::utils::NamedMutex;

constexpr int kShort = 100000;  // 0.1 s
constexpr int kLong = 5000000;  // what the snapshot service waits

// errno is process-wide and std::filesystem::remove_all (the TempRoot clean-up) leaves it set:
// declared before the root, this clears it after the root is gone, for the suites that follow.
struct ClearErrnoAfterward {
  ~ClearErrnoAfterward() { errno = 0; }
};

// A child process that runs `fn` and reports its result (0 success) through the exit status. The
// pipes let the test order what parent and child do.
class Child {
 public:
  explicit Child(const std::function<int(int toParent, int fromParent)>& fn) {
    if (::pipe(up_) != 0 || ::pipe(down_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up_[0]);
      ::close(down_[1]);
      ::_exit(fn(up_[1], down_[0]));
    }
    ::close(up_[1]);
    ::close(down_[0]);
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(up_[0]);
    ::close(down_[1]);
  }
  // Waits for one byte from the child; false when it died first.
  bool Read() {
    char c;
    return ::read(up_[0], &c, 1) == 1;
  }
  void Send() { EXPECT_EQ(1, ::write(down_[1], "x", 1)); }
  int Wait() {
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    Wait();
  }

  static void Tell(int fd) {
    if (::write(fd, "x", 1) != 1) ::_exit(99);
  }
  static void Await(int fd) {
    char c;
    if (::read(fd, &c, 1) != 1) ::_exit(98);
  }

 private:
  pid_t pid_ = -1;
  int up_[2] = {-1, -1};
  int down_[2] = {-1, -1};
};

// An appliance root with its world-writable /tmp.
class NamedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.path("tmp"));
    ::chmod(root_.path("tmp").c_str(), 01777);
  }
  std::string LockDir() const { return root_.path("tmp/.zoltsh_lock"); }
  ClearErrnoAfterward clearErrno_;
  zoltsh::testing::TempRoot root_;
};

TEST(NamedMutexNameTest, EncodesEveryByteOutsideTheSafeSet) {
  struct Case {
    std::string name;
    std::string encoded;
  };
  const Case cases[] = {
      {"803f1a-B_9", "803f1a-B_9"},
      {"../../etc/passwd", "%2E%2E%2F%2E%2E%2Fetc%2Fpasswd"},
      {"a b%", "a%20b%25"},
      {std::string("a\0b", 3), "a%00b"},
      {"\xC3\xA9", "%C3%A9"},
      {"..", "%2E%2E"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    EXPECT_EQ(c.encoded, NamedMutex::EncodeName(c.name));
  }
  // Different names never share a lock file.
  EXPECT_NE(NamedMutex::EncodeName("a/b"), NamedMutex::EncodeName("a%2Fb"));
}

TEST_F(NamedMutexTest, LockFileStaysInTheLockDirectory) {
  EXPECT_FALSE(fs::exists(LockDir()));
  for (const char* name : {"../../escaped", "/abs/path", "..", "a/../../b"}) {
    SCOPED_TRACE(name);
    NamedMutex m(name);
    EXPECT_EQ(fs::path(LockDir()), fs::path(m.Path()).parent_path());
    ASSERT_TRUE(m.Acquire(0));
    EXPECT_TRUE(fs::is_regular_file(m.Path()));
  }
  struct stat st;
  ASSERT_EQ(0, ::stat(LockDir().c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 07777);
  EXPECT_FALSE(fs::exists(root_.path("escaped.mutex")));
  EXPECT_FALSE(fs::exists(root_.path("tmp/escaped.mutex")));
  EXPECT_EQ(LockDir() + "/803f1a.mutex", NamedMutex("803f1a").Path());
}

TEST_F(NamedMutexTest, NeverFollowsOrTruncatesWhatIsAtTheLockPath) {
  NamedMutex m("obj");
  const std::string victim = root_.path("victim");
  std::ofstream(victim) << "keep";
  ASSERT_EQ(0, ::symlink(victim.c_str(), m.Path().c_str()));
  EXPECT_FALSE(m.Acquire(kShort));
  EXPECT_FALSE(m.IsHeld());
  fs::remove(m.Path());
  // A symbolic link to a file that does not exist yet is not created through either.
  const std::string absent = root_.path("created-through-link");
  ASSERT_EQ(0, ::symlink(absent.c_str(), m.Path().c_str()));
  EXPECT_FALSE(m.Acquire(0));
  EXPECT_FALSE(fs::exists(absent));
  fs::remove(m.Path());
  // A FIFO would block an open: refused.
  ASSERT_EQ(0, ::mkfifo(m.Path().c_str(), 0644));
  EXPECT_FALSE(m.Acquire(0));
  fs::remove(m.Path());

  // An existing lock file is used as it is, never truncated.
  std::ofstream(m.Path()) << "content";
  ASSERT_TRUE(m.Acquire(0));
  m.Release();
  std::ifstream in(m.Path());
  std::string text;
  in >> text;
  EXPECT_EQ("content", text);
  EXPECT_EQ("keep", [&] {
    std::ifstream v(victim);
    std::string s;
    v >> s;
    return s;
  }());
}

TEST_F(NamedMutexTest, LockDirectoryPlantedAsALinkIsRefused) {
  fs::create_directories(root_.path("elsewhere"));
  ASSERT_EQ(0, ::symlink(root_.path("elsewhere").c_str(), LockDir().c_str()));
  NamedMutex m("obj");
  EXPECT_FALSE(m.Acquire(0));
  EXPECT_TRUE(fs::is_empty(root_.path("elsewhere")));
}

TEST_F(NamedMutexTest, SecondProcessTimesOutThenGetsTheLockAfterRelease) {
  NamedMutex held("803f1a");
  ASSERT_TRUE(held.Acquire(0));

  Child blocked([](int, int) {
    NamedMutex m("803f1a");
    return m.Acquire(kShort) ? 1 : 0;  // must time out
  });
  EXPECT_EQ(0, blocked.Wait());

  // A waiter gets the lock as soon as the holder releases it.
  Child waiter([](int up, int) {
    NamedMutex m("803f1a");
    Child::Tell(up);
    return m.Acquire(kLong) ? 0 : 1;
  });
  ASSERT_TRUE(waiter.Read());
  ::usleep(50000);
  held.Release();
  EXPECT_FALSE(held.IsHeld());
  EXPECT_EQ(0, waiter.Wait());

  // Other names are independent.
  Child other([](int, int) {
    NamedMutex m("other");
    return m.Acquire(0) ? 0 : 1;
  });
  EXPECT_EQ(0, other.Wait());
}

TEST_F(NamedMutexTest, HolderThatDiesReleasesTheLock) {
  Child holder([](int up, int down) {
    NamedMutex m("803f1a");
    if (!m.Acquire(0)) return 1;
    Child::Tell(up);
    Child::Await(down);  // holds until killed
    return 0;
  });
  ASSERT_TRUE(holder.Read());
  NamedMutex m("803f1a");
  EXPECT_FALSE(m.Acquire(kShort));
  holder.Kill();
  EXPECT_TRUE(m.Acquire(kLong));
}

TEST_F(NamedMutexTest, NotReentrantWithinAProcess) {
  NamedMutex a("803f1a");
  NamedMutex b("803f1a");
  ASSERT_TRUE(a.Acquire(0));
  EXPECT_FALSE(b.Acquire(kShort));
  a.Release();
  EXPECT_TRUE(b.Acquire(0));
}

TEST_F(NamedMutexTest, ReleaseTwiceClosesTheDescriptorOnce) {
  int reused = -1;
  {
    NamedMutex m("803f1a");
    ASSERT_TRUE(m.Acquire(0));
    m.Release();
    m.Release();
    // The number the lock used is free again; whoever gets it must keep it after destruction.
    reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reused, 0);
  }
  EXPECT_NE(-1, ::fcntl(reused, F_GETFD));
  ::close(reused);
  NamedMutex again("803f1a");
  EXPECT_TRUE(again.Acquire(0));
}

TEST_F(NamedMutexTest, UsersShareLocksMadeByOtherUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root";
  ::chmod(root_.dir().c_str(), 0755);
  // The first user to lock a name makes the directory and the file; another user can still lock.
  IF_RUN_AS(4242, 4242) {
    NamedMutex m("803f1a");
    EXPECT_TRUE(m.Acquire(0));
    EXPECT_EQ(4242u, geteuid());
  }
  struct stat st;
  ASSERT_EQ(0, ::stat(LockDir().c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  IF_RUN_AS(4343, 4343) {
    NamedMutex m("803f1a");
    EXPECT_TRUE(m.Acquire(0));
    NamedMutex n("new-one");
    EXPECT_TRUE(n.Acquire(0));
  }
}

TEST(FileLockTest, TimedLockWaitsAtMostTheTimeout) {
  ClearErrnoAfterward clearErrno;
  zoltsh::testing::TempRoot root;
  const std::string path = root.path("a.lock");
  int fd = ZOLTFileLockTimed(path, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(-1, ZOLTFileLockTimed(path, kShort));
  EXPECT_EQ(-1, ZOLTFileLockTimed(root.path("missing/dir/a.lock"), 0));
  ::close(fd);
  fd = ZOLTFileLockTimed(path, kShort);
  EXPECT_GE(fd, 0);
  ::close(fd);
}

}  // namespace
