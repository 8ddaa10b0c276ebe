// Identity guards: the effective uid, gid and supplementary groups inside the guarded block and,
// above all, after it, on every way out. The suite runs as root, as the host and CI do.
#include "common/runas.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "account/account.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr uid_t kUser = 4242;
constexpr gid_t kUserGroup = 4343;

struct Identity {
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  std::vector<gid_t> groups;

  static Identity Now() {
    Identity id;
    getresuid(&id.ruid, &id.euid, &id.suid);
    getresgid(&id.rgid, &id.egid, &id.sgid);
    int n = getgroups(0, nullptr);
    id.groups.resize(n);
    getgroups(n, id.groups.data());
    std::sort(id.groups.begin(), id.groups.end());
    return id;
  }
  bool operator==(const Identity&) const = default;
};

void PrintTo(const Identity& id, std::ostream* os) {
  *os << "uid(" << id.ruid << "," << id.euid << "," << id.suid << ") gid(" << id.rgid << ","
      << id.egid << "," << id.sgid << ") groups(";
  for (gid_t g : id.groups) *os << g << " ";
  *os << ")";
}

// errno is process-wide and std::filesystem::remove_all (the TempRoot clean-up) leaves it set:
// declared before the root, this clears it after the root is gone, for the suites that follow.
struct ClearErrnoAfterward {
  ~ClearErrnoAfterward() { errno = 0; }
};

bool AnyLine(const zoltsh::testing::LogCapture& log, const std::string& part) {
  for (const std::string& line : log.lines()) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

// Runs fn in a child process and returns its exit code (fn's result), or -1 when it died. For
// cases that drop root for good or switch one way.
int InChild(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every test starts and must end as the identity the process had: root with its own groups, some
// of which the fixture adds so that a leak of the groups cannot go unnoticed.
class RunAsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "identity tests run as root";
    originalGroups_ = Identity::Now().groups;
    std::vector<gid_t> groups = {0, 10, 20};
    ASSERT_EQ(0, setgroups(groups.size(), groups.data()));
    before_ = Identity::Now();
  }
  void TearDown() override {
    if (geteuid() != 0 && getuid() != 0) return;
    EXPECT_EQ(before_, Identity::Now()) << "identity leaked out of the test";
    setresuid(-1, 0, -1);
    setresgid(-1, 0, -1);
    setgroups(originalGroups_.size(), originalGroups_.data());
  }

  ClearErrnoAfterward clearErrno_;
  zoltsh::testing::TempRoot root_;
  Identity before_;
  std::vector<gid_t> originalGroups_;
};

TEST_F(RunAsTest, GuardsSwitchToUserAndRestoreOnEveryWayOut) {
  struct Exit {
    const char* name;
    std::function<void(const std::function<void()>&)> run;  // runs the block under a guard
  };
  const std::vector<Exit> exits = {
      {"RUN_AS, normal end",
       [](auto& body) {
         RUN_AS(kUser, kUserGroup) { body(); }
       }},
      {"IF_RUN_AS, normal end",
       [](auto& body) {
         IF_RUN_AS(kUser, kUserGroup) { body(); }
         else {
           ADD_FAILURE() << "switch failed";
         }
       }},
      {"RUN_AS, exception",
       [](auto& body) {
         try {
           RUN_AS(kUser, kUserGroup) {
             body();
             throw std::runtime_error("boom");
           }
         } catch (const std::runtime_error&) {
         }
       }},
      {"IF_RUN_AS, exception",
       [](auto& body) {
         try {
           IF_RUN_AS(kUser, kUserGroup) {
             body();
             throw 7;
           }
         } catch (int) {
         }
       }},
      {"IF_RUN_AS, return from a loop",
       [](auto& body) {
         for (int i = 0; i < 3; ++i) {
           IF_RUN_AS(kUser, kUserGroup) {
             body();
             return;
           }
         }
       }},
  };
  for (const Exit& exit : exits) {
    SCOPED_TRACE(exit.name);
    bool ran = false;
    exit.run([&] {
      ran = true;
      Identity in = Identity::Now();
      EXPECT_EQ(kUser, in.euid);
      EXPECT_EQ(kUserGroup, in.egid);
      // Real and saved ids stay root, so the process can come back.
      EXPECT_EQ(0u, in.ruid);
      EXPECT_EQ(0u, in.suid);
      EXPECT_EQ(0u, in.rgid);
      EXPECT_EQ(0u, in.sgid);
      // None of root's supplementary groups stays in force for the user.
      EXPECT_THAT(in.groups, ElementsAre(kUserGroup));
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(before_, Identity::Now());
  }
}

TEST_F(RunAsTest, NestedGuardsRestoreToTheEnclosingIdentity) {
  IF_RUN_AS(kUser, kUserGroup) {
    const Identity user = Identity::Now();
    RUN_AS(0, 0) {
      EXPECT_EQ(0u, geteuid());
      EXPECT_EQ(0u, getegid());
      IF_RUN_AS(kUser + 1, kUserGroup + 1) { EXPECT_EQ(kUser + 1, geteuid()); }
      EXPECT_EQ(0u, geteuid());
    }
    EXPECT_EQ(user, Identity::Now());
  }
  EXPECT_EQ(before_, Identity::Now());
}

TEST_F(RunAsTest, TargetEqualToCurrentIdentityChangesNothing) {
  bool ran = false;
  IF_RUN_AS(0, 0) {
    ran = true;
    EXPECT_EQ(before_, Identity::Now());  // root keeps its groups: nothing was switched
  }
  EXPECT_TRUE(ran);
  // -1 leaves an id alone: only the gid changes.
  IF_RUN_AS(-1, kUserGroup) {
    EXPECT_EQ(0u, geteuid());
    EXPECT_EQ(kUserGroup, getegid());
  }
}

TEST_F(RunAsTest, GroupsChangedInsideTheBlockAreRestored) {
  // A one-way switch inside a guarded block (as the permission checks do) must not outlive it.
  IF_RUN_AS(0, 0) {
    ASSERT_TRUE(ZOLTSHSetEUGID("nobody", 65534, 65534));
    EXPECT_EQ(65534u, geteuid());
  }
  EXPECT_EQ(before_, Identity::Now());

  try {
    RUN_AS(kUser, kUserGroup) {
      ASSERT_TRUE(ZOLTSHSetEUGID("nobody", 65534, 65534));
      throw std::runtime_error("request failed");
    }
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(before_, Identity::Now());
}

TEST_F(RunAsTest, RootSectionGainsRootAndRestoresTheUser) {
  IF_RUN_AS(kUser, kUserGroup) {
    const Identity user = Identity::Now();
    errno = EINVAL;
    ENTERCriticalSection;
    EXPECT_EQ(0, errno);
    EXPECT_EQ(0u, geteuid());
    EXPECT_EQ(0u, getegid());
    LEAVECriticalSection;
    EXPECT_EQ(0, errno);
    EXPECT_EQ(user, Identity::Now());

    // Leaving early (return or exception) restores too.
    auto early = [] {
      ENTERCriticalSection;
      if (geteuid() == 0) throw std::runtime_error("out");
      LEAVECriticalSection;
    };
    EXPECT_THROW(early(), std::runtime_error);
    EXPECT_EQ(user, Identity::Now());
  }
}

TEST_F(RunAsTest, NamedAccountTakesItsUidAsGid) {
  uid_t uid = 1;
  gid_t gid = 1;
  ASSERT_TRUE(_________::__::getugid("root", &uid, &gid));
  EXPECT_EQ(0u, uid);
  EXPECT_EQ(0u, gid);

  bool ran = false;
  IF_RUN_AS2("nobody") {
    ran = true;
    EXPECT_EQ(65534u, geteuid());
    EXPECT_EQ(65534u, getegid());
    EXPECT_EQ(0u, getuid());
  }
  EXPECT_TRUE(ran);
  EXPECT_EQ(before_, Identity::Now());
}

TEST_F(RunAsTest, NamedAccountFromTheApplianceAccounts) {
  ZOLT::Account::User user;
  user.name = "alice";
  user.uid = 5001;
  user.groups = {"staff"};
  std::string error;
  ASSERT_TRUE(ZOLT::Account::AddGroup("staff", 7001u, &error)) << error;
  ASSERT_TRUE(ZOLT::Account::AddUser(user, "pw", &error)) << error;
  bool ran = false;
  IF_RUN_AS2("alice") {
    ran = true;
    Identity in = Identity::Now();
    EXPECT_EQ(5001u, in.euid);
    EXPECT_EQ(5001u, in.egid);
    EXPECT_THAT(in.groups, ElementsAre(5001u, 7001u));
  }
  EXPECT_TRUE(ran);
}

TEST_F(RunAsTest, UnknownAccountSkipsTheBlockAndLogs) {
  zoltsh::testing::LogCapture log;
  bool ran = false;
  bool alternative = false;
  IF_RUN_AS2("no-such-account-zz") { ran = true; }
  else {
    alternative = true;
    EXPECT_EQ(before_, Identity::Now());
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(alternative);
  EXPECT_TRUE(AnyLine(log, "ERROR: getpwnam(no-such-account-zz) [Name not found]"));
  EXPECT_TRUE(AnyLine(log, "ERROR: IF_RUN_AS2(\"no-such-account-zz\")"));
}

TEST_F(RunAsTest, FailedSwitchThrowsOrSkipsWithoutRunningTheBlock) {
  // A process that dropped root for good cannot switch: the forms fail the documented way.
  int rc = InChild([] {
    if (setgroups(0, nullptr) != 0 || setresgid(kUserGroup, kUserGroup, kUserGroup) != 0 ||
        setresuid(kUser, kUser, kUser) != 0) {
      return 10;
    }
    zoltsh::testing::LogCapture log;
    bool ran = false;
    try {
      RUN_AS(0, 0) { ran = true; }
      return 11;
    } catch (const runas_error& e) {
      if (std::string(e.what()) != "RUN_AS(0, 0)") return 12;
    }
    if (ran || !AnyLine(log, "ERROR: RUN_AS(0, 0)")) return 13;

    bool alternative = false;
    IF_RUN_AS(0, 0) { ran = true; }
    else {
      alternative = true;
    }
    if (ran || !alternative || !AnyLine(log, "ERROR: IF_RUN_AS(0, 0)")) return 14;

    errno = 0;
    ENTERCriticalSection;
    ran = errno == EPERM;  // the block runs anyway, with errno telling the failure
    LEAVECriticalSection;
    if (!ran || !AnyLine(log, "ERROR: ENTERCriticalSection")) return 15;
    if (geteuid() != kUser || getegid() != kUserGroup) return 16;
    return 0;
  });
  EXPECT_EQ(0, rc);
}

TEST_F(RunAsTest, SetEUGIDSwitchesOneWayWithTheUsersGroups) {
  int rc = InChild([] {
    // Starting from another user: root is regained first.
    if (setresuid(-1, kUser, -1) != 0) return 10;
    if (!ZOLTSHSetEUGID("nobody", 65534, 65534)) return 11;
    Identity id = Identity::Now();
    if (id.euid != 65534 || id.egid != 65534 || id.ruid != 0 || id.suid != 0) return 12;
    std::vector<gid_t> expected = {65534};
    if (id.groups != expected) return 13;
    // Not restored: still the user afterwards; a guard can still reach root.
    bool root = false;
    RUN_AS(0, 0) { root = geteuid() == 0; }
    if (!root || geteuid() != 65534) return 14;
    return 0;
  });
  EXPECT_EQ(0, rc);
}

TEST_F(RunAsTest, SetEUGIDFailsWhenRootCannotBeRegained) {
  int rc = InChild([] {
    if (setgroups(0, nullptr) != 0 || setresuid(kUser, kUser, kUser) != 0) return 10;
    zoltsh::testing::LogCapture log;
    if (ZOLTSHSetEUGID("nobody", 65534, 65534)) return 11;
    if (!AnyLine(log, "Failed to seteuid to root, real uid:4242, euid:4242")) return 12;
    return geteuid() == kUser ? 0 : 13;
  });
  EXPECT_EQ(0, rc);
}

}  // namespace
