// SioEmitter and the socket.io client against a real socket.io v4 server (the test peer).
#include "sio/sio_emitter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sio/sio_peer.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace zoltsh {
namespace {

using testing::LogCapture;
using testing::SioPeer;
using testing::TempRoot;
using testing::ThreadCount;
using Clock = std::chrono::steady_clock;

constexpr char kToken[] = "secret-token\n";  // the line end is part of the token

void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::fromString(value, text)) << text;
  return value;
}

bool LogHas(const LogCapture& log, const std::string& text) {
  for (const std::string& line : log.lines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class SioEmitterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(peer_.port(), 0) << "the socket.io test peer did not start (node, npm ci?)";
    WriteFile(root_.path("var/run/spreadsheet_token"), kToken);
    settings_.port = static_cast<unsigned short>(peer_.port());
    settings_.connectWait = std::chrono::seconds(10);
    settings_.reconnectDelay = std::chrono::milliseconds(100);
    threadsBefore_ = ThreadCount();
  }
  void TearDown() override {
    // Every emitter of the test is gone: so are its network threads.
    EXPECT_EQ(ThreadCount(), threadsBefore_);
  }

  TempRoot root_;
  LogCapture log_;
  SioPeer peer_{kToken};
  SioSettings settings_;
  int threadsBefore_ = 0;
};

TEST_F(SioEmitterTest, ConnectsWithTheTokenFileAndReceivesTheAcknowledgement) {
  ASSERT_TRUE(
      peer_.Rule("flush", Parse(R"({"mode": "ack", "payload": ["ok", 5, {"a": [true]}]})")));
  sio::message::list reply;
  {
    SioEmitter emitter(settings_);
    ASSERT_TRUE(emitter.Connect());
    sio::message::ptr ids = sio::array_message::create();
    ids->push("doc-1");
    ids->push("doc-2");
    EXPECT_TRUE(emitter.Emit("flush", sio::message::list(ids),
                             [&reply](const sio::message::list& args) { reply = args; }));
  }
  EXPECT_EQ(Json::toString(sio::to_json(reply)), R"(["ok",5,{"a":[true]}])");

  Json::Value record = peer_.Record();
  ASSERT_EQ(record["connections"].size(), 1u);
  EXPECT_EQ(record["connections"][0]["token"].asString(), kToken);
  EXPECT_EQ(record["connections"][0]["result"].asString(), "ok");
  EXPECT_EQ(Json::toString(record["events"]),
            R"([{"ack":true,"args":[["doc-1","doc-2"]],"event":"flush"}])");
  EXPECT_EQ(record["clientPings"].asInt(), 0);
}

TEST_F(SioEmitterTest, SeveralEventsOnOneConnectionKeepTheirOrder) {
  std::vector<std::string> acked;
  {
    SioEmitter emitter(settings_);
    ASSERT_TRUE(emitter.Connect());
    for (int i = 0; i < 6; ++i) {
      std::string name = "event" + std::to_string(i);
      sio::message::list args;
      args.push(sio::int_message::create(i));
      args.push(name);
      EXPECT_TRUE(emitter.Emit(
          name, args, [&acked, name](const sio::message::list&) { acked.push_back(name); }));
    }
  }
  EXPECT_THAT(acked,
              ::testing::ElementsAre("event0", "event1", "event2", "event3", "event4", "event5"));
  Json::Value record = peer_.Record();
  ASSERT_EQ(record["events"].size(), 6u);
  for (unsigned i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(record["events"][i]["event"].asString(), "event" + std::to_string(i));
    EXPECT_EQ(record["events"][i]["args"][0].asInt(), static_cast<int>(i));
  }
  EXPECT_EQ(record["connections"].size(), 1u);
  EXPECT_EQ(record["disconnects"].asInt(), 1);  // left the namespace on destruction
}

TEST_F(SioEmitterTest, EmptyCallbackIsAllowed) {
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  EXPECT_TRUE(emitter.Emit("reload", sio::message::list(sio::array_message::create()), nullptr));
}

// Token faults: no connection succeeds, no event is sent, and Emit afterwards fails at once.
TEST_F(SioEmitterTest, TokenFaultsFailTheConnection) {
  struct Case {
    const char* name;
    bool writeFile;
    std::string content;
    bool reachesServer;
    const char* logLine;
  };
  const Case cases[] = {
      {"no token file", false, "", false, "sio token is empty"},
      {"empty token", true, "", false, "sio token is empty"},
      {"wrong token", true, "not-the-token", true, nullptr},
      {"token without its line end", true, "secret-token", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    std::filesystem::remove(root_.path("var/run/spreadsheet_token"));
    if (c.writeFile) WriteFile(root_.path("var/run/spreadsheet_token"), c.content);
    size_t connectionsBefore = peer_.Record()["connections"].size();

    Clock::time_point start = Clock::now();
    SioEmitter emitter(settings_);
    EXPECT_FALSE(emitter.Connect());
    // A refusal ends the wait; it does not run into the connection wait.
    EXPECT_LT(SecondsSince(start), 9.0);
    EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));

    Json::Value record = peer_.Record();
    EXPECT_EQ(record["connections"].size() - connectionsBefore, c.reachesServer ? 1u : 0u);
    if (c.reachesServer) {
      EXPECT_EQ(record["connections"][record["connections"].size() - 1]["result"].asString(),
                "refused");
    }
    EXPECT_EQ(record["events"].size(), 0u);
    if (c.logLine != nullptr) {
      EXPECT_TRUE(LogHas(log_, c.logLine));
    }
  }
}

TEST_F(SioEmitterTest, ExplicitTokenFileIsUsed) {
  settings_.tokenFile = root_.path("elsewhere/token");
  WriteFile(settings_.tokenFile, kToken);
  std::filesystem::remove(root_.path("var/run/spreadsheet_token"));
  SioEmitter emitter(settings_);
  EXPECT_TRUE(emitter.Connect());
}

TEST_F(SioEmitterTest, NoServerListeningFailsAfterTheReconnectAttempts) {
  settings_.port = static_cast<unsigned short>(testing::UnusedPort());
  Clock::time_point start = Clock::now();
  {
    SioEmitter emitter(settings_);
    EXPECT_FALSE(emitter.Connect());
    EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  }
  // Four attempts 100 ms apart, not the 10 s connection wait.
  EXPECT_LT(SecondsSince(start), 9.0);
}

TEST_F(SioEmitterTest, ServerClosingMidHandshakeFailsAfterTheReconnectAttempts) {
  ASSERT_TRUE(peer_.Control(Parse(R"({"closeHandshake": true})")));
  {
    SioEmitter emitter(settings_);
    EXPECT_FALSE(emitter.Connect());
  }
  Json::Value record = peer_.Record();
  EXPECT_EQ(record["connections"].size(), 4u);  // the first attempt and 3 reconnect attempts
  for (const Json::Value& connection : record["connections"]) {
    EXPECT_EQ(connection["result"].asString(), "closed");
  }
}

TEST_F(SioEmitterTest, ConnectionWaitEndsAtItsDeadlineAndStopsTheAttempts) {
  ASSERT_TRUE(peer_.Control(Parse(R"({"closeHandshake": true})")));
  settings_.connectWait = std::chrono::milliseconds(300);
  settings_.reconnectDelay = std::chrono::milliseconds(200);
  settings_.reconnectAttempts = 100;
  SioEmitter emitter(settings_);
  EXPECT_FALSE(emitter.Connect());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // an attempt still on the wire
  size_t attempts = peer_.Record()["connections"].size();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(peer_.Record()["connections"].size(), attempts);  // no attempts after giving up
  EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
}

TEST_F(SioEmitterTest, NeverAcknowledgedEventTimesOut) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "never"})")));
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(1);
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_TRUE(LogHas(log_, "Emit[flush] timeout"));
  // The connection is still good for the next event.
  EXPECT_TRUE(emitter.Emit("reload", sio::message::list("x"), nullptr));
}

// Wake-ups that bring no acknowledgement (here: the open listener running again) do not end the
// wait with a reported success.
TEST_F(SioEmitterTest, SpuriousWakeUpsDoNotReportSuccess) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "never"})")));
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(1);
  std::atomic<bool> stop{false};
  std::thread waker([&] {
    while (!stop.load()) {
      emitter.OnConnected();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool result = emitter.Emit("flush", sio::message::list("x"), nullptr);
  stop = true;
  waker.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(LogHas(log_, "Emit[flush] timeout"));
}

TEST_F(SioEmitterTest, NamespaceErrorWhileWaitingIsAFailure) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "error", "message": "document busy"})")));
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(10);
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  EXPECT_LT(SecondsSince(start), 9.0);
  EXPECT_TRUE(LogHas(log_, "Failed to emit: document busy"));
  EXPECT_FALSE(LogHas(log_, "timeout"));
}

TEST_F(SioEmitterTest, ConnectionLostWhileWaitingIsAFailure) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "disconnect"})")));
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(10);
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  EXPECT_LT(SecondsSince(start), 9.0);
  EXPECT_FALSE(LogHas(log_, "timeout"));
  // After the loss every Emit fails at once without sending.
  EXPECT_FALSE(emitter.Emit("reload", sio::message::list("x"), nullptr));
  EXPECT_EQ(peer_.Record()["events"].size(), 1u);
}

// An acknowledgement that arrives after its Emit gave up never reaches the caller's callback,
// whose captured state may be gone by then.
TEST_F(SioEmitterTest, LateAcknowledgementAfterTheTimeoutIsDropped) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "late", "delayMs": 1500, "payload": ["x"]})")));
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(1);
  std::atomic<int> calls{0};
  {
    auto scoped = std::make_unique<int>(0);
    EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"),
                              [&calls, p = scoped.get()](const sio::message::list&) {
                                ++*p;  // would touch freed memory if called late
                                ++calls;
                              }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the late ack arrives
  EXPECT_EQ(calls.load(), 0);
  EXPECT_TRUE(emitter.Emit("reload", sio::message::list("x"), nullptr));
}

TEST_F(SioEmitterTest, AnswersServerPingsWhileWaiting) {
  SioPeer fastPing(kToken, 200, 300);
  ASSERT_GT(fastPing.port(), 0);
  ASSERT_TRUE(fastPing.Rule("flush", Parse(R"({"mode": "late", "delayMs": 1500})")));
  settings_.port = static_cast<unsigned short>(fastPing.port());
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(5);
  // Without pongs the server would drop the connection after 500 ms.
  EXPECT_TRUE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  Json::Value record = fastPing.Record();
  EXPECT_EQ(record["clientPings"].asInt(), 0);
  EXPECT_EQ(record["disconnects"].asInt(), 0);
}

TEST_F(SioEmitterTest, WaitLimitCapsTheAcknowledgementTimeout) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "never"})")));
  settings_.waitLimit = std::chrono::milliseconds(300);
  SioEmitter emitter(settings_);
  ASSERT_TRUE(emitter.Connect());
  emitter.SetTimeout(300);
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(emitter.Emit("flush", sio::message::list("x"), nullptr));
  EXPECT_LT(SecondsSince(start), 9.0);
}

TEST_F(SioEmitterTest, DestroyingAnUnconnectedEmitterStartsNoThread) {
  int before = ThreadCount();
  {
    SioEmitter emitter(settings_);
    EXPECT_EQ(ThreadCount(), before);
  }
  EXPECT_EQ(ThreadCount(), before);
}

}  // namespace
}  // namespace zoltsh
