// Atomic writes and cross-process locking: a write that fails or is killed at any step leaves
// the previous version current and whole, and concurrent writers lose no version.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>

#include "drive/drive_fault.h"
#include "drive_fixture.h"

namespace zoltsh::testing {
namespace {

using DriveCrashTest = DriveTest;

const char* const kStages[] = {"text-staged", "version-staged", "version-published", "head-staged"};

// Restores the fault hook when a test ends, also on a failed assertion.
class HookGuard {
 public:
  explicit HookGuard(ZOLTDriveFaultHook hook) : previous_(ZOLTDriveSetFaultHook(std::move(hook))) {}
  ~HookGuard() { ZOLTDriveSetFaultHook(std::move(previous_)); }

 private:
  ZOLTDriveFaultHook previous_;
};

// The object is at version `version` with `text`, its history has exactly `version` entries,
// and it still takes a write.
void ExpectWholeAndUsable(const std::string& version, const Json::Value& text,
                          const std::function<Json::Value(const std::string&)>& show,
                          const std::function<bool(const std::string&)>& write) {
  Json::Value now = show("doc");
  EXPECT_EQ(now["version"].asString(), version);
  EXPECT_EQ(now["text"], text);
  ZOLT_DRIVE_OBJECT_VERSION_LIST versions;
  int total = 0;
  EXPECT_EQ(versions.ListVersion(J(R"({"ns": "Tabvale", "id": "doc"})"), total),
            std::stoi(version));
  for (const char* key : {"index", "sh_1"}) {
    std::string path;
    ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "doc", key, path));
    Json::Value fromFile;
    ASSERT_TRUE(Json::fromFile(fromFile, path));
    EXPECT_EQ(fromFile, text[key]);
  }
  ASSERT_TRUE(write(R"({"text": {"sh_1": {"after": true}}})"));
  Json::Value after = show("doc");
  EXPECT_EQ(after["version"].asString(), std::to_string(std::stoi(version) + 1));
  EXPECT_EQ(after["text"]["sh_1"], J(R"({"after": true})"));
  EXPECT_EQ(after["text"]["index"], text["index"]);
}

TEST_F(DriveCrashTest, AFailingStepUndoesTheWrite) {
  const Json::Value original = J(R"({"index": {"order": ["sh_1"]}, "sh_1": {"v": 1}})");
  for (const char* stage : kStages) {
    SCOPED_TRACE(stage);
    Make("doc", 7, Json::toString(original));
    {
      HookGuard hook([stage](const char* at) { return std::string(at) != stage; });
      EXPECT_FALSE(Write("doc", R"({"text": {"index": {"order": []}, "sh_1": {"v": 2}}})", 7));
      EXPECT_EQ(ZOLTDriveErrCodeGet(), ZOLT_DRIVE_ERR_IO);
    }
    ExpectWholeAndUsable(
        "1", original, [this](const std::string& id) { return Show(id); },
        [this](const std::string& m) { return Write("doc", m, 7); });
    ASSERT_TRUE(ZOLT_DRIVE_OBJECT::Delete(Req("doc")));
  }
  // A create that fails leaves no object behind.
  HookGuard hook([](const char* at) { return std::string(at) != "head-staged"; });
  ZOLT_DRIVE_OBJECT obj;
  EXPECT_FALSE(obj.Create(Req("new", 7)));
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "new"));
}

TEST_F(DriveCrashTest, AWriterKilledAtAnyStepLeavesThePreviousVersionWhole) {
  const Json::Value original = J(R"({"index": {"order": ["sh_1"]}, "sh_1": {"v": 1}})");
  for (const char* stage : kStages) {
    SCOPED_TRACE(stage);
    Make("doc", 7, Json::toString(original));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      ZOLTDriveSetFaultHook([stage, fd = ready[1]](const char* at) {
        if (std::string(at) == stage) {
          (void)!::write(fd, "x", 1);
          for (;;) ::pause();  // killed here, in the middle of the write
        }
        return true;
      });
      Json::Value r = Req("doc", 7);
      r["text"] = J(R"({"index": {"order": []}, "sh_1": {"v": 2}})");
      ZOLT_DRIVE_OBJECT obj;
      obj.Set(r);
      ::_exit(3);  // the write must not finish
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the child never reached " << stage;
    ::close(ready[0]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));

    ExpectWholeAndUsable(
        "1", original, [this](const std::string& id) { return Show(id); },
        [this](const std::string& m) { return Write("doc", m, 7); });
    ASSERT_TRUE(ZOLT_DRIVE_OBJECT::Delete(Req("doc")));
  }
}

TEST_F(DriveCrashTest, ConcurrentWritersInTwoProcessesLoseNoVersion) {
  constexpr int kWrites = 40;
  Make("doc", 7, R"({"index": {}, "sh_1": {}})");
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      int failures = 0;
      for (int n = 0; n < kWrites; ++n) {
        Json::Value r = Req("doc", 7);
        r["text"]["sh_" + std::to_string(w + 1)]["n"] = n;
        r["commit_msg"]["writer"] = w;
        r["commit_msg"]["n"] = n;
        ZOLT_DRIVE_OBJECT obj;
        if (!obj.Set(r)) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }

  ZOLT_DRIVE_OBJECT_VERSION_LIST versions;
  int total = 0;
  ASSERT_EQ(versions.ListVersion(Req("doc"), total), 1 + 2 * kWrites);
  std::set<std::pair<int, int>> seen;
  std::map<int, int> lastN;
  int expected = 1 + 2 * kWrites;
  for (const ZOLT_DRIVE_OBJECT_VERSION& v : versions) {
    EXPECT_EQ(v.get_ref_version(), std::to_string(expected--));
    const Json::Value& msg = v.get_ref_commit_msg();
    if (!msg.isMember("writer")) continue;
    seen.insert({msg["writer"].asInt(), msg["n"].asInt()});
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(2 * kWrites));
  // Each writer's keys hold its last value: no write was lost or applied to a stale base.
  Json::Value now = Show("doc");
  EXPECT_EQ(now["text"]["sh_1"]["n"].asInt(), kWrites - 1);
  EXPECT_EQ(now["text"]["sh_2"]["n"].asInt(), kWrites - 1);
}

}  // namespace
}  // namespace zoltsh::testing
