// The collaboration notifications (zoltsh::utils) against the socket.io test peer.
#include "common/sio_utils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/zoltsh_error.h"
#include "sio/sio_peer.h"
#include "sio/sio_settings.h"
#include "support/log_capture.h"
#include "support/temp_root.h"
#include "webapi/webapi.h"

namespace zoltsh {
namespace {

using testing::LogCapture;
using testing::SioPeer;
using testing::TempRoot;
using testing::ThreadCount;

constexpr char kToken[] = "tok-42";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::fromString(value, text)) << text;
  return value;
}

sio::message::ptr Ids(std::vector<std::string> ids) { return utils::VectorToMessage(ids); }

class SioUtilsSendTest : public ::testing::Test {
 public:  // the fault table's arrange steps reach the peer, the root and the settings
  void SetUp() override {
    ASSERT_GT(peer_.port(), 0) << "the socket.io test peer did not start (node, npm ci?)";
    WriteToken(kToken);
    SioSettings settings;
    settings.port = static_cast<unsigned short>(peer_.port());
    settings.connectWait = std::chrono::seconds(10);
    settings.reconnectDelay = std::chrono::milliseconds(100);
    settings.waitLimit = std::chrono::seconds(1);  // caps the 20 s and 300 s timeouts
    SioSetSettings(settings);
    threadsBefore_ = ThreadCount();
  }
  void TearDown() override {
    SioResetSettings();
    EXPECT_EQ(ThreadCount(), threadsBefore_);
  }

  void WriteToken(const std::string& token) {
    std::filesystem::create_directories(root_.path("var/run"));
    std::ofstream(root_.path("var/run/spreadsheet_token"), std::ios::binary) << token;
  }
  void PointAt(int port) {
    SioSettings settings = SioGetSettings();
    settings.port = static_cast<unsigned short>(port);
    SioSetSettings(settings);
  }
  // The events the peer received, as compact JSON [{"ack", "args", "event"}...].
  std::string Events() { return Json::toString(peer_.Record()["events"]); }
  bool LogHas(const std::string& text) const {
    for (const std::string& line : log_.lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  TempRoot root_;
  LogCapture log_;
  SioPeer peer_{kToken};
  int threadsBefore_ = 0;
};

// Every event leaves with its fixed argument list.
TEST_F(SioUtilsSendTest, EventsCarryTheirArgumentLists) {
  sio::message::ptr title = sio::object_message::create();
  title->insert("title", "Budget 2027");
  sio::message::ptr tab = utils::getTabMessage("add", "doc-1", "3", "client-7");
  tab->insert("title", "Sheet3");
  tab->insert("pos", sio::int_message::create(2));

  struct Case {
    const char* name;
    std::function<bool()> send;
    const char* event;  // JSON text of the recorded event
  };
  const Case cases[] = {
      {"TakeSnapshot of one id", [] { return utils::TakeSnapshot("doc-1"); },
       R"({"ack":true,"args":[["doc-1"]],"event":"flush"})"},
      {"TakeSnapshot of ids",
       [] {
         return utils::TakeSnapshot(std::vector<std::string>{"a", "b"});
       },
       R"({"ack":true,"args":[["a","b"]],"event":"flush"})"},
      {"set_info",
       [&] {
         return utils::Emit("set_info", {Ids({"a"}), title}, 20);
       },
       R"({"ack":true,"args":[["a"],{"title":"Budget 2027"}],"event":"set_info"})"},
      {"reload",
       [] {
         return utils::Emit("reload", sio::message::list(Ids({"a", "b"})), 20);
       },
       R"({"ack":true,"args":[["a","b"]],"event":"reload"})"},
      {"tab", [&] { return utils::Emit("tab", sio::message::list(tab), 20); },
       R"({"ack":true,"args":[{"client_id":"client-7","cmd":"add","id":"3","object_id":"doc-1","pos":2,"title":"Sheet3"}],"event":"tab"})"},
      {"kick_all without reason",
       [] { return utils::Emit("kick_all", sio::message::list(Ids({"a"})), 20); },
       R"({"ack":true,"args":[["a"]],"event":"kick_all"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(peer_.Control(Parse(R"({"rules": {"*": {"mode": "ack"}}})")));
    size_t before = peer_.Record()["events"].size();
    EXPECT_TRUE(c.send());
    Json::Value events = peer_.Record()["events"];
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_EQ(Json::toString(events[events.size() - 1]), c.event);
  }
  EXPECT_EQ(peer_.Record()["disconnects"].asInt(), 6);  // one connection per send
}

TEST_F(SioUtilsSendTest, KickAllThenFlushShareOneConnection) {
  EXPECT_TRUE(utils::KickAllAndFlush(Ids({"a", "b"}), "delete"));
  EXPECT_EQ(Events(), R"([{"ack":true,"args":[["a","b"],"delete"],"event":"kick_all"},)"
                      R"({"ack":true,"args":[["a","b"]],"event":"flush"}])");
  EXPECT_EQ(peer_.Record()["connections"].size(), 1u);
}

TEST_F(SioUtilsSendTest, KickAllWithoutReasonHasOneArgument) {
  EXPECT_TRUE(utils::KickAllAndFlush(Ids({"a"}), ""));
  EXPECT_EQ(Events(), R"([{"ack":true,"args":[["a"]],"event":"kick_all"},)"
                      R"({"ack":true,"args":[["a"]],"event":"flush"}])");
}

TEST_F(SioUtilsSendTest, FlushIsNotSentWhenKickAllIsNotAcknowledged) {
  ASSERT_TRUE(peer_.Rule("kick_all", Parse(R"({"mode": "never"})")));
  EXPECT_FALSE(utils::KickAllAndFlush(Ids({"a"}), "delete"));
  EXPECT_EQ(Events(), R"([{"ack":true,"args":[["a"],"delete"],"event":"kick_all"}])");
  EXPECT_TRUE(LogHas("Emit[kick_all] timeout"));
  EXPECT_TRUE(LogHas("Failed to kick all"));
  EXPECT_FALSE(LogHas("Failed to flush"));
}

TEST_F(SioUtilsSendTest, UnacknowledgedFlushIsLogged) {
  ASSERT_TRUE(peer_.Rule("flush", Parse(R"({"mode": "never"})")));
  EXPECT_FALSE(utils::KickAllAndFlush(Ids({"a"}), ""));
  EXPECT_TRUE(LogHas("Failed to flush"));
}

TEST_F(SioUtilsSendTest, RpcReturnsTheFirstTextOfTheAcknowledgement) {
  struct Case {
    const char* payload;
    const char* result;
  };
  const Case cases[] = {
      {R"(["s3cr3t"])", "s3cr3t"},
      {R"(["s3cr3t", "more"])", "s3cr3t"},
      {"[]", ""},
      {"[5]", ""},
      {R"([{"password":"x"}])", ""},
      {"[null]", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    Json::Value rule;
    rule["mode"] = "ack";
    rule["payload"] = Parse(c.payload);
    ASSERT_TRUE(peer_.Rule("fetch_upass", rule));
    EXPECT_EQ(utils::Rpc("fetch_upass", sio::message::list("doc-9"), 20), c.result);
  }
  Json::Value events = peer_.Record()["events"];
  ASSERT_GT(events.size(), 0u);
  EXPECT_EQ(Json::toString(events[0]), R"({"ack":true,"args":["doc-9"],"event":"fetch_upass"})");
}

// Faults of the link: each is a logged failure within a bounded wait; Emit and the response
// callback report it, Rpc throws RpcError.
TEST_F(SioUtilsSendTest, FaultsAreLoggedFailures) {
  struct Case {
    const char* name;
    std::function<void(SioUtilsSendTest&)> arrange;
    std::vector<const char*> logLines;
  };
  const Case cases[] = {
      {"no token file",
       [](SioUtilsSendTest& t) {
         std::filesystem::remove(t.root_.path("var/run/spreadsheet_token"));
       },
       {"sio token is empty", "Failed to connect sio"}},
      {"empty token",
       [](SioUtilsSendTest& t) { t.WriteToken(""); },
       {"sio token is empty", "Failed to connect sio"}},
      {"wrong token",
       [](SioUtilsSendTest& t) { t.WriteToken("tok-43"); },
       {"Failed to connect sio"}},
      {"no server listening",
       [](SioUtilsSendTest& t) { t.PointAt(testing::UnusedPort()); },
       {"Failed to connect sio"}},
      {"server closes mid-handshake",
       [](SioUtilsSendTest& t) { t.peer_.Control(Parse(R"({"closeHandshake": true})")); },
       {"Failed to connect sio"}},
      {"never acknowledges",
       [](SioUtilsSendTest& t) { t.peer_.Rule("*", Parse(R"({"mode": "never"})")); },
       {"Emit[fetch_upass] timeout", "Failed to send fetch_upass"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteToken(kToken);
    PointAt(peer_.port());
    ASSERT_TRUE(peer_.Control(
        Parse(R"({"closeHandshake": false, "refuse": null, "rules": {"*": {"mode": "ack"}}})")));
    c.arrange(*this);

    log_.clear();
    EXPECT_FALSE(utils::Emit("reload", sio::message::list(Ids({"a"})), 20));
    EXPECT_FALSE(utils::TakeSnapshot("a"));
    EXPECT_FALSE(utils::KickAllAndFlush(Ids({"a"}), "delete"));
    try {
      utils::Rpc("fetch_upass", sio::message::list("a"), 20);
      ADD_FAILURE() << "Rpc did not throw";
    } catch (const RpcError& e) {
      EXPECT_EQ(e.code, 1000);
      EXPECT_STREQ(e.what(), "Failed to send fetch_upass");
    }
    auto* arg = new utils::CallbackArg{"reload", sio::message::list(Ids({"a"})), 20};
    EXPECT_NO_THROW(utils::WebAPIEmitCallback(arg));
    EXPECT_TRUE(LogHas("Failed to emit event reload"));
    for (const char* line : c.logLines) EXPECT_TRUE(LogHas(line)) << line;
  }
}

TEST_F(SioUtilsSendTest, ResponseCallbackSendsAndTakesItsArgument) {
  ZOLT::APIResponse response;
  auto* arg = new utils::CallbackArg{"reload", sio::message::list(Ids({"doc-1"})), 20};
  response.SetCallbackFunc(&utils::WebAPIEmitCallback, arg);
  ASSERT_EQ(response.GetCallbacks().size(), 1u);
  for (const auto& [fn, data] : response.GetCallbacks()) fn(data);  // as the host runs them
  EXPECT_EQ(Events(), R"([{"ack":true,"args":[["doc-1"]],"event":"reload"}])");
  EXPECT_FALSE(LogHas("Failed to emit event"));
}

TEST_F(SioUtilsSendTest, ResponseCallbackWithoutArgumentDoesNothing) {
  EXPECT_NO_THROW(utils::WebAPIEmitCallback(nullptr));
  EXPECT_TRUE(LogHas("Invalid parameter"));
  EXPECT_EQ(peer_.Record()["connections"].size(), 0u);
}

}  // namespace
}  // namespace zoltsh
