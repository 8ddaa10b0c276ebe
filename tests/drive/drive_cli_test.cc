// The command-line tool, run as the built binary.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "drive_fixture.h"

extern char** environ;

namespace zoltsh::testing {
namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class DriveCliTest : public DriveTest {
 protected:
  // Runs the tool with --root set to this test's root; no shell is involved.
  RunResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {ZOLTDRIVE_TOOL, "--root", root_.dir()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = root_.path("tool.out"), err = root_.path("tool.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    RunResult result;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot run " << ZOLTDRIVE_TOOL;
    if (rc != 0) return result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream o(out), e(err);
    result.out.assign(std::istreambuf_iterator<char>(o), {});
    result.err.assign(std::istreambuf_iterator<char>(e), {});
    return result;
  }

  std::string File(const std::string& name, const std::string& content) {
    const std::string path = root_.path(name);
    std::ofstream(path) << content;
    return path;
  }

  static Json::Value Out(const RunResult& r) {
    Json::Value v;
    EXPECT_TRUE(Json::fromString(v, r.out)) << r.out;
    return v;
  }
};

TEST_F(DriveCliTest, CreateShowSetAndVersions) {
  const std::string text = File("text.json", R"({"index": {"order": ["sh_1"]}, "sh_1": {"a": 1}})");
  const std::string meta = File("meta.json", R"({"encrypt": false})");
  RunResult r =
      Tool({"create", "--ns", "Tabvale", "--id", "a/../b", "--owner", "1026", "--text", text,
            "--metatext", meta, "--category", "sheet", "--commit-msg", R"({"listable": true})"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Out(r)["version"], J(R"("1")"));

  r = Tool({"set", "--ns", "Tabvale", "--id", "a/../b", "--key", "title", "--value-file",
            File("title.json", R"("Budget")"), "--commit-msg", "renamed"});
  ASSERT_EQ(r.status, 0) << r.err;

  r = Tool({"show", "--ns", "Tabvale", "--id", "a/../b"});
  ASSERT_EQ(r.status, 0) << r.err;
  Json::Value shown = Out(r);
  EXPECT_EQ(shown["text"],
            J(R"({"index": {"order": ["sh_1"]}, "sh_1": {"a": 1}, "title": "Budget"})"));
  EXPECT_EQ(shown["metatext"], J(R"({"encrypt": false})"));
  EXPECT_EQ(shown["owner"].asUInt(), 1026u);
  EXPECT_EQ(shown["version"], J(R"("2")"));
  EXPECT_EQ(shown["category"], J(R"("sheet")"));
  EXPECT_EQ(shown["commit_msg"], J(R"({"message": "renamed"})"));

  r = Tool({"show", "--ns", "Tabvale", "--id", "a/../b", "--version", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Out(r)["text"].isMember("title"));
  EXPECT_EQ(Out(r)["commit_msg"], J(R"({"listable": true})"));

  r = Tool({"versions", "--ns", "Tabvale", "--id", "a/../b"});
  ASSERT_EQ(r.status, 0) << r.err;
  Json::Value versions = Out(r);
  ASSERT_TRUE(versions.isArray());
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(versions[0]["version"], J(R"("2")"));
  EXPECT_EQ(versions[1]["version"], J(R"("1")"));
  EXPECT_EQ(versions[1]["commit_msg"], J(R"({"listable": true})"));

  r = Tool({"versions", "--ns", "Tabvale", "--id", "a/../b", "--listable"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Out(r).size(), 1u);

  // What the tool wrote, the library reads.
  EXPECT_EQ(Show("a/../b")["text"]["title"], J(R"("Budget")"));
  r = Tool({"text-path", "--ns", "Tabvale", "--id", "a/../b", "--key", "title"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string path;
  ASSERT_TRUE(ZOLTDriveGetTextPath(kNs, "a/../b", "title", path));
  EXPECT_EQ(r.out, path + "\n");
}

TEST_F(DriveCliTest, ListAclAndDelete) {
  Make("x", 10, R"({"t": 1})", "{}", R"({"category": "sheet"})");
  Make("y", 11, R"({"t": 2})", "{}", R"({"category": "tag"})");
  RunResult r = Tool({"list", "--ns", "Tabvale"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Out(r).size(), 2u);
  EXPECT_FALSE(Out(r)[0].isMember("text"));

  r = Tool({"list", "--ns", "Tabvale", "--owner", "11"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Out(r).size(), 1u);
  EXPECT_EQ(Out(r)[0]["id"], J(R"("y")"));

  const std::string acl = File(
      "acl.json", R"({"enabled": true, "vexo_user": {"12": {"perm": "ro", "inherit": true}}})");
  r = Tool({"set-acl", "--ns", "Tabvale", "--id", "x", "--acl", acl});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Tool({"--requester", "12", "list", "--ns", "Tabvale"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Out(r).size(), 1u);
  EXPECT_EQ(Out(r)[0]["perm"], J(R"("ro")"));
  r = Tool({"set-acl", "--ns", "Tabvale", "--id", "x", "--acl", File("none.json", "{}")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Show("x")["acl"], J("{}"));

  r = Tool({"delete", "--ns", "Tabvale", "--id", "x"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "x"));
}

TEST_F(DriveCliTest, ErrorsGoToStderrWithANonZeroStatus) {
  Make("x", 10, R"({"t": 1})");
  const std::string text = File("text.json", R"({"t": 1})");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"show", "--ns", "Tabvale", "--id", "missing"}, 1, "no object"},
      {{"show", "--ns", "Tabvale", "--id", "x", "--version", "9"}, 1, "no version"},
      {{"--requester", "99", "show", "--ns", "Tabvale", "--id", "x"}, 1, "may not access"},
      {{"create", "--ns", "Tabvale", "--id", "x", "--owner", "1", "--text", text}, 1, "exists"},
      {{"create", "--ns", "Tabvale", "--id", "y", "--owner", "1", "--text", "/nonexistent"},
       2,
       "--text"},
      {{"create", "--ns", "Tabvale", "--id", "y", "--owner", "abc", "--text", text}, 2, "uid"},
      {{"create", "--ns", "Tabvale", "--id", "y", "--text", text}, 2, "--owner"},
      {{"show", "--ns", "Tabvale", "--id", "x", "--bogus", "1"}, 2, "--bogus"},
      {{"frobnicate", "--ns", "Tabvale"}, 2, "unknown command"},
      {{}, 2, "usage"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    RunResult r = Tool(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(ZOLTDriveIDIsExist(kNs, "y"));
}

}  // namespace
}  // namespace zoltsh::testing
