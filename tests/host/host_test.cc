// End-to-end tests of zolt-webapi-host: a real host process on port 0 with its own appliance
// root and the test module, called through HTTP.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "json/json_text.h"
#include "support/host_process.h"
#include "support/run_program.h"
#include "support/temp_root.h"

namespace {

using zoltsh::testing::HostCall;
using zoltsh::testing::HostLogin;
using zoltsh::testing::HostPost;
using zoltsh::testing::HostProcess;
using zoltsh::testing::Reply;
using zoltsh::testing::RunProgram;
using zoltsh::testing::TempRoot;

constexpr unsigned kNoUid = 4294967295u;

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"add", "alice", "--uid", "1001", "--password", "secret",
                                   "--group", "staff"},
          std::vector<std::string>{"add", "collab", "--uid", "0", "--password", "zero"}}) {
      args.insert(args.begin(), {ZOLTUSER_BIN, "--root", root_.dir()});
      ASSERT_EQ(RunProgram(args).status, 0);
    }
  }

  void StartHost(int workers) {
    host_ = std::make_unique<HostProcess>(HOST_BIN, root_.dir(), workers,
                                          std::vector<std::string>{TEST_MODULE});
    ASSERT_GT(host_->port(), 0) << "the host did not print its port";
  }

  Reply Post(const std::string& path, const std::string& body, httplib::Headers headers = {}) {
    return HostPost(host_->port(), path, body, std::move(headers));
  }

  Reply Call(const std::string& api, const std::string& method, const Json::Value& params,
             const std::string& sid, int version = 1, httplib::Headers headers = {}) {
    return HostCall(host_->port(), api, method, params, sid, version, std::move(headers));
  }

  Reply Test(const std::string& method, const Json::Value& params = Json::Value(Json::objectValue),
             httplib::Headers headers = {}) {
    return Call("Test.Host", method, params, sid_, 1, std::move(headers));
  }

  std::string Login(const std::string& account, const std::string& password) {
    return HostLogin(host_->port(), account, password);
  }

  void StartAndLogin(int workers) {
    StartHost(workers);
    sid_ = Login("alice", "secret");
    ASSERT_EQ(sid_.size(), 64u);
  }

  static Json::Value Params(const char* json) {
    Json::Value v;
    EXPECT_TRUE(Json::fromString(v, json)) << json;
    return v;
  }

  static void ExpectError(const Reply& reply, int code) {
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.json["success"], false) << reply.body;
    EXPECT_EQ(reply.json["error"]["code"], code) << reply.body;
  }

  TempRoot root_;
  std::unique_ptr<HostProcess> host_;
  std::string sid_;
};

TEST_F(HostTest, LoginGivesASessionOnlyForTheRightPassword) {
  StartHost(1);
  struct Case {
    std::string body;
    int code;  // 0: success
  } cases[] = {
      {R"({"account":"alice","passwd":"secret"})", 0},
      {R"({"account":"collab","passwd":"zero"})", 0},
      {R"({"account":"alice","passwd":"Secret"})", 400},
      {R"({"account":"alice","passwd":""})", 400},
      {R"({"account":"nobody","passwd":"secret"})", 400},
      {R"({"account":"alice"})", 101},
      {R"({"account":1,"passwd":"secret"})", 101},
      {R"(account=alice&passwd=secret)", 101},
  };
  std::set<std::string> sids;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Reply reply = Post("/webapi/auth", c.body);
    if (c.code == 0) {
      EXPECT_EQ(reply.json["success"], true) << reply.body;
      std::string sid = reply.json["data"]["sid"].asString();
      EXPECT_EQ(sid.size(), 64u);
      EXPECT_TRUE(sids.insert(sid).second) << "sids must not repeat";
      EXPECT_NE(reply.headers.find("Set-Cookie"), reply.headers.end());
    } else {
      ExpectError(reply, c.code);
      EXPECT_FALSE(reply.json.isMember("data"));
    }
  }
  // Sessions live in root-only files under the root.
  struct stat st {};
  ASSERT_EQ(::stat(root_.path("var/run/zolt-webapi/sessions").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (const auto& entry :
       std::filesystem::directory_iterator(root_.path("var/run/zolt-webapi/sessions"))) {
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST_F(HostTest, NoHandlerRunsWithoutAValidSession) {
  StartAndLogin(1);
  std::string marker = root_.path("ran");
  Json::Value params(Json::objectValue);
  params["gate"] = root_.path("gate");
  params["marker"] = marker;
  std::ofstream(root_.path("gate")).put('x');
  struct Case {
    const char* name;
    httplib::Headers headers;
  } cases[] = {
      {"none", {}},
      {"forged", {{"X-Zolt-Sid", std::string(64, 'a')}}},
      {"upper case", {{"X-Zolt-Sid", std::string(64, 'A')}}},
      {"short", {{"X-Zolt-Sid", sid_.substr(1)}}},
      {"path", {{"X-Zolt-Sid", "../../../etc/zolt/users.json"}}},
      {"forged cookie", {{"Cookie", "id=" + std::string(64, '0')}}},
      {"wrong cookie name", {{"Cookie", "sid=" + sid_}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reply reply = Call("Test.Host", "callback", params, "", 1, c.headers);
    ExpectError(reply, 119);
  }
  EXPECT_FALSE(std::filesystem::exists(marker)) << "a handler ran without a session";

  for (const httplib::Headers& headers :
       {httplib::Headers{{"X-Zolt-Sid", sid_}},
        httplib::Headers{{"Cookie", "lang=en; id=" + sid_ + "; theme=dark"}}}) {
    Reply reply = Call("Test.Host", "echo", Json::Value(Json::objectValue), "", 1, headers);
    EXPECT_EQ(reply.json["success"], true) << reply.body;
    EXPECT_EQ(reply.json["data"]["uid"], 1001);
    EXPECT_EQ(reply.json["data"]["user"], "alice");
  }

  EXPECT_EQ(Post("/webapi/logout", "", {{"X-Zolt-Sid", sid_}}).json["success"], true);
  ExpectError(Test("echo"), 119);
}

TEST_F(HostTest, ShareLinkMethodsRunWithoutSessionAsTheUnknownUser) {
  StartAndLogin(1);
  struct Case {
    const char* api;
    const char* method;
    bool allowed;
  } cases[] = {
      {"ZOLT.Tabvale.Sheet", "get", true},
      {"ZOLT.Tabvale.Sheet.Encrypt", "check", true},
      {"ZOLT.Tabvale.Sheet", "list", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.api) + " " + c.method);
    Reply anonymous = Call(c.api, c.method, Json::Value(Json::objectValue), "");
    if (c.allowed) {
      EXPECT_EQ(anonymous.json["success"], true) << anonymous.body;
      EXPECT_EQ(anonymous.json["data"]["uid"].asUInt(), kNoUid);
      Reply forged = Call(c.api, c.method, Json::Value(), std::string(64, 'b'));
      EXPECT_EQ(forged.json["data"]["uid"].asUInt(), kNoUid);
    } else {
      ExpectError(anonymous, 119);
    }
    Reply loggedIn = Call(c.api, c.method, Json::Value(Json::objectValue), sid_);
    EXPECT_EQ(loggedIn.json["data"]["uid"], 1001) << loggedIn.body;
  }
}

TEST_F(HostTest, MalformedAndUnknownCallsGetErrorsAndTheHostKeepsServing) {
  StartAndLogin(1);
  struct Case {
    const char* body;
    int code;
  } cases[] = {
      {"not json", 101},
      {"", 101},
      {"[]", 101},
      {R"({"api":"Test.Host","version":1,"method":"echo","params":{}} x)", 101},
      {R"({"version":1,"method":"echo"})", 101},
      {R"({"api":"Test.Host","version":1})", 101},
      {R"({"api":"Test.Host","method":"echo"})", 101},
      {R"({"api":"Test.Host","version":"1","method":"echo"})", 101},
      {R"({"api":5,"version":1,"method":"echo"})", 101},
      {R"({"api":"Test.Host","version":1,"method":"echo","params":[1]})", 101},
      {R"({"api":"No.Such","version":1,"method":"echo"})", 102},
      {R"({"api":"Test.Host","version":1,"method":"nosuch"})", 103},
      {R"({"api":"Test.Host","version":3,"method":"echo"})", 104},
      {R"({"api":"Test.Host","version":2,"method":"echo"})", 104},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    ExpectError(Post("/webapi/entry", c.body, {{"X-Zolt-Sid", sid_}}), c.code);
  }
  for (int version : {1, 2}) {
    Reply reply = Call("Test.Host", "versioned", Json::Value(), sid_, version);
    EXPECT_EQ(reply.json["data"], version) << reply.body;
  }
  Reply echo = Test("echo", Params(R"({"a":[1,"x",{"b":null}]})"));
  EXPECT_EQ(echo.json["data"]["params"], Params(R"({"a":[1,"x",{"b":null}]})"));
  EXPECT_EQ(echo.json["data"]["lang"], "enu");
  EXPECT_EQ(echo.headers.find("Content-Type")->second, "application/json");
  // Without "params" the handler sees an empty object.
  Reply noParams = Post("/webapi/entry", R"({"api":"Test.Host","version":1,"method":"echo"})",
                        {{"X-Zolt-Sid", sid_}});
  EXPECT_EQ(noParams.json["data"]["params"], Json::Value(Json::objectValue)) << noParams.body;

  // Other paths and methods are not the API.
  httplib::Client client("127.0.0.1", host_->port());
  auto get = client.Get("/webapi/entry");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
}

TEST_F(HostTest, OversizedBodyIsRefusedWithoutReadingIt) {
  StartAndLogin(1);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(host_->port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  std::string request =
      "POST /webapi/entry HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
      "X-Zolt-Sid: " +
      sid_ + "\r\nContent-Length: 70000000\r\n\r\n{";
  ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::string answer;
  char buffer[4096];
  ssize_t n;
  // Read the head and the body it announces; the connection may stay open after that.
  size_t want = std::string::npos;
  while (answer.size() < want && (n = ::read(fd, buffer, sizeof(buffer))) > 0) {
    answer.append(buffer, n);
    size_t end = answer.find("\r\n\r\n");
    size_t length = answer.find("Content-Length: ");
    if (end != std::string::npos && length != std::string::npos && length < end) {
      want = end + 4 + std::stoul(answer.substr(length + 16));
    }
  }
  ::close(fd);
  EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer;
  EXPECT_NE(answer.find("\"code\":111"), std::string::npos) << answer;
  EXPECT_EQ(Test("echo").json["success"], true);
}

TEST_F(HostTest, AnswersFollowWhatTheHandlerSet) {
  StartAndLogin(1);
  Reply error = Test("error", Params(R"({"code":1032,"detail":{"zoltdrive":5}})"));
  EXPECT_EQ(error.json,
            Params(R"({"success":false,"error":{"code":1032,"errors":{"zoltdrive":5}}})"));
  Reply bare = Test("error", Params(R"({"code":117})"));
  EXPECT_EQ(bare.json, Params(R"({"success":false,"error":{"code":117}})")) << "no null errors";
  Reply success = Test("versioned");
  EXPECT_EQ(success.json, Params(R"({"success":true,"data":1})"));

  struct Case {
    const char* method;
    const char* params;
    Json::Value expected;  // the whole answer
  } cases[] = {
      {"none", "{}", Params(R"({"success":false,"error":{"code":108}})")},
      {"throw", "{}", Params(R"({"success":false,"error":{"code":107}})")},
      {"checked", "{}",
       Params(
           R"({"success":false,"error":{"code":120,"errors":{"name":"name","reason":"required"}}})")},
      {"checked", R"({"name":5})",
       Params(
           R"({"success":false,"error":{"code":120,"errors":{"name":"name","reason":"type"}}})")},
      {"checked", R"({"name":"n","count":-1})",
       Params(
           R"({"success":false,"error":{"code":120,"errors":{"name":"count","reason":"type"}}})")},
      {"checked", R"({"name":"n","count":"2"})",
       Params(
           R"({"success":false,"error":{"code":120,"errors":{"name":"count","reason":"type"}}})")},
      {"checked", R"({"name":"n","list":"x"})",
       Params(
           R"({"success":false,"error":{"code":120,"errors":{"name":"list","reason":"type"}}})")},
      {"checked", R"({"name":"n","count":3,"list":[]})",
       Params(R"({"success":true,"data":{"name":"n","count":3}})")},
      {"chatty", "{}", Params(R"({"success":true,"data":"json"})")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.params);
    Reply reply = Test(c.method, Params(c.params));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json, c.expected) << reply.body;
  }
  host_->Stop();
  EXPECT_EQ(host_->restOfOutput(), "") << "a handler's output reached the host's own";
}

TEST_F(HostTest, DeadWorkerIsReplacedAndItsCallAnswered) {
  StartAndLogin(1);
  int pid = Test("echo").json["data"]["pid"].asInt();
  ASSERT_GT(pid, 0);
  for (const char* method : {"abort", "crash"}) {
    SCOPED_TRACE(method);
    ExpectError(Test(method), 106);
    Reply after = Test("echo");
    ASSERT_EQ(after.json["success"], true) << after.body;
    int newPid = after.json["data"]["pid"].asInt();
    EXPECT_NE(newPid, pid);
    EXPECT_NE(::kill(pid, 0), 0) << "the dead worker was not reaped";
    pid = newPid;
  }
  // A worker killed while idle is replaced too.
  ::kill(pid, SIGKILL);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Reply after = Test("echo");
  EXPECT_EQ(after.json["success"], true) << after.body;
  EXPECT_NE(after.json["data"]["pid"].asInt(), pid);
}

TEST_F(HostTest, CallbacksRunAfterTheAnswerAndBeforeTheNextCall) {
  StartAndLogin(1);
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "error answer" : "success answer");
    std::string gate = root_.path(fail ? "gate-f" : "gate-s");
    std::string marker = root_.path(fail ? "marker-f" : "marker-s");
    Json::Value params(Json::objectValue);
    params["gate"] = gate;
    params["marker"] = marker;
    params["fail"] = fail;
    // The callbacks wait for the gate, which is opened only once the answer is here: a host that
    // ran them before answering would answer 10 s late with "timeout" in the marker.
    auto start = std::chrono::steady_clock::now();
    Reply reply = Test("callback", params);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    if (fail) {
      ExpectError(reply, 118);
    } else {
      EXPECT_EQ(reply.json["data"], "registered") << reply.body;
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::ofstream(gate).put('x');
    // One worker: the next call waits until both callbacks are done.
    Json::Value read(Json::objectValue);
    read["path"] = marker;
    EXPECT_EQ(Test("read", read).json["data"], "first after\nsecond after\n");
  }
}

TEST_F(HostTest, RawOutputIsTheAnswer) {
  StartAndLogin(1);
  for (const char* via : {"stdio", "cout", "fd"}) {
    SCOPED_TRACE(via);
    Json::Value params(Json::objectValue);
    params["via"] = via;
    Reply reply = Test("raw", params);
    EXPECT_EQ(reply.status, 201);
    EXPECT_EQ(reply.body, std::string("hello raw ") + via);
    EXPECT_EQ(reply.headers.find("Content-Type")->second, "text/plain");
    ASSERT_NE(reply.headers.find("X-Test"), reply.headers.end());
    EXPECT_EQ(reply.headers.find("X-Test")->second, "raw");
    EXPECT_EQ(reply.headers.count("Status"), 0u);
  }
  ExpectError(Test("raw", Params(R"({"via":"noheader"})")), 109);
  // The next call's answer carries nothing of an earlier raw answer.
  Reply next = Test("versioned");
  EXPECT_EQ(next.status, 200);
  EXPECT_EQ(next.json, Params(R"({"success":true,"data":1})")) << next.body;
  EXPECT_EQ(next.headers.count("X-Test"), 0u);
}

TEST_F(HostTest, DownloadSendsTheFileWithItsTypeAndHeaders) {
  StartAndLogin(1);
  std::string content = "{\"cells\":\"";
  for (int i = 0; content.size() < 3 * 1024 * 1024; ++i) content += std::to_string(i) + ",";
  content += "\"}";
  for (bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "file removed by the handler" : "file kept");
    std::string path = root_.path("sheet.json");
    std::ofstream(path, std::ios::binary) << content;
    Json::Value params(Json::objectValue);
    params["path"] = path;
    params["remove"] = remove;
    Reply reply = Test("download", params);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), content.size());
    EXPECT_TRUE(reply.body == content);
    EXPECT_EQ(reply.headers.find("Content-Type")->second, "application/json");
    ASSERT_NE(reply.headers.find("X-Spreadsheet-Sheet-Id"), reply.headers.end());
    EXPECT_EQ(reply.headers.find("X-Spreadsheet-Sheet-Id")->second, "sh_7");
  }
  ExpectError(Test("download", Params(R"({"path":"/nonexistent/file"})")), 117);
}

TEST_F(HostTest, ExtraAuthHeaderReachesOnlyItsOwnCall) {
  StartAndLogin(1);
  std::string plain = "a=1&password=p%40ss+word";
  auto made = RunProgram({HOST_BIN, "--root", root_.dir(), "extra-auth", plain});
  ASSERT_EQ(made.status, 0);
  ASSERT_FALSE(made.out.empty());
  std::string line = made.out.substr(0, made.out.size() - 1);
  EXPECT_EQ(line.rfind("zx1.", 0), 0u);

  Reply with = Test("extra", Json::Value(), {{"X-Extra-Auth-Params", line}});
  EXPECT_EQ(with.json["data"]["env"], line) << with.body;
  EXPECT_EQ(with.json["data"]["plain"], plain) << "the worker decrypts with the host's key";
  Reply without = Test("extra");
  EXPECT_EQ(without.json["data"], Json::Value(Json::objectValue)) << without.body;
  Reply forged = Test("extra", Json::Value(), {{"X-Extra-Auth-Params", "password=plain"}});
  EXPECT_EQ(forged.json["data"]["env"], "password=plain");
  EXPECT_EQ(forged.json["data"]["plain"], "");
}

TEST_F(HostTest, WorkersServeConcurrently) {
  StartAndLogin(2);
  auto start = std::chrono::steady_clock::now();
  auto call = [this] { return Test("sleep", Params(R"({"ms":1000})")); };
  auto a = std::async(std::launch::async, call);
  auto b = std::async(std::launch::async, call);
  Reply ra = a.get();
  Reply rb = b.get();
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(ra.json["success"], true) << ra.body;
  ASSERT_EQ(rb.json["success"], true) << rb.body;
  EXPECT_NE(ra.json["data"]["pid"], rb.json["data"]["pid"]);
  EXPECT_LT(elapsed, std::chrono::milliseconds(1900)) << "the calls ran one after the other";
}

TEST_F(HostTest, StopsCleanlyOnSigtermWithItsWorkers) {
  StartAndLogin(2);
  std::vector<int> workers;
  for (int i = 0; i < 2; ++i) {
    auto call = [this] { return Test("sleep", Params(R"({"ms":300})")); };
    auto a = std::async(std::launch::async, call);
    auto b = std::async(std::launch::async, call);
    workers = {a.get().json["data"]["pid"].asInt(), b.get().json["data"]["pid"].asInt()};
  }
  EXPECT_EQ(host_->Stop(), 0);
  for (int pid : workers) {
    ASSERT_GT(pid, 0);
    EXPECT_NE(::kill(pid, 0), 0) << "worker " << pid << " outlived the host";
  }
}

TEST(HostStartTest, RefusesToStartWithAModuleThatDoesNotLoad) {
  TempRoot root;
  HostProcess host(HOST_BIN, root.dir(), 1, {"/nonexistent/module.so"});
  EXPECT_EQ(host.port(), 0);
  EXPECT_EQ(host.Stop(), 1);
}

}  // namespace
