// Messages, the packet codec and the message builders of the collaboration link.
#include <gtest/gtest.h>

#include "common/sio_utils.h"
#include "json/json_text.h"
#include "sio/sio_message.h"
#include "sio/sio_packet.h"

namespace zoltsh {
namespace {

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::fromString(value, text)) << text;
  return value;
}

std::string Text(const sio::message::ptr& msg) { return Json::toString(sio::to_json(msg)); }

TEST(SioMessageTest, JsonRoundTripKeepsKinds) {
  const char* texts[] = {
      "null", "true",      "false", "0",  "-9223372036854775808",
      "1.5",  R"("a\nb")", "[]",    "{}", R"([1,"x",[true,null],{"k":{"n":2.25}}])",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text(sio::from_json(Parse(text))), text);
  }
  EXPECT_EQ(sio::from_json(Parse("7"))->get_flag(), sio::message::flag_integer);
  EXPECT_EQ(sio::from_json(Parse("7.0"))->get_flag(), sio::message::flag_double);
  EXPECT_EQ(sio::from_json(Parse(R"("7")"))->get_flag(), sio::message::flag_string);
  // Beyond INT64_MAX: kept as a number, not wrapped to a negative integer.
  EXPECT_EQ(sio::from_json(Parse("18446744073709551615"))->get_flag(), sio::message::flag_double);
}

TEST(SioMessageTest, AccessorsOfOtherKindsGiveEmptyValues) {
  sio::message::ptr text = sio::string_message::create("x");
  EXPECT_EQ(text->get_int(), 0);
  EXPECT_TRUE(text->get_vector().empty());
  EXPECT_EQ(sio::int_message::create(3)->get_string(), "");
  EXPECT_EQ(Text(nullptr), "null");
}

TEST(SioPacketTest, EncodesEventsWithAndWithoutAcknowledgementId) {
  sio::message::list args;
  args.push(utils::VectorToMessage(std::vector<std::string>{"a", "b"}));
  args.push("del\"ete");
  EXPECT_EQ(sio::packet::encode_event("kick_all", args, 12),
            R"(4212["kick_all",["a","b"],"del\"ete"])");
  EXPECT_EQ(sio::packet::encode_event("flush", {}, -1), R"(42["flush"])");
}

TEST(SioPacketTest, DecodesFrames) {
  using E = sio::packet::engine_type;
  using S = sio::packet::sio_type;
  struct Case {
    const char* frame;
    bool ok;
    E engine;
    S type;
    const char* nsp;
    int64_t ack;
    const char* data;  // JSON text of the payload
  };
  const Case cases[] = {
      {R"(0{"sid":"x","pingInterval":25000})", true, E::open, S::none, "/", -1,
       R"({"pingInterval":25000,"sid":"x"})"},
      {"2", true, E::ping, S::none, "/", -1, "null"},
      {"2probe", true, E::ping, S::none, "/", -1, "null"},
      {"1", true, E::close, S::none, "/", -1, "null"},
      {"6", true, E::noop, S::none, "/", -1, "null"},
      {R"(40{"sid":"abc"})", true, E::message, S::connect, "/", -1, R"({"sid":"abc"})"},
      {R"(40/admin,{"sid":"abc"})", true, E::message, S::connect, "/admin", -1, R"({"sid":"abc"})"},
      {"41", true, E::message, S::disconnect, "/", -1, "null"},
      {R"(44{"message":"invalid token"})", true, E::message, S::connect_error, "/", -1,
       R"({"message":"invalid token"})"},
      {R"(4312["pw",1])", true, E::message, S::ack, "/", 12, R"(["pw",1])"},
      {"430[]", true, E::message, S::ack, "/", 0, "[]"},
      {R"(42["ev",{"a":1}])", true, E::message, S::event, "/", -1, R"(["ev",{"a":1}])"},
      {R"(427["ev"])", true, E::message, S::event, "/", 7, R"(["ev"])"},
      // Malformed frames.
      {"", false, E::invalid, S::none, "/", -1, "null"},
      {"9", false, E::invalid, S::none, "/", -1, "null"},
      {"0", false, E::invalid, S::none, "/", -1, "null"},
      {"0[]", false, E::invalid, S::none, "/", -1, "null"},
      {"4", false, E::invalid, S::none, "/", -1, "null"},
      {"49", false, E::invalid, S::none, "/", -1, "null"},
      {"43[]", false, E::invalid, S::none, "/", -1, "null"},           // ack without id
      {R"(431{"a":1})", false, E::invalid, S::none, "/", -1, "null"},  // ack payload not a list
      {"431[", false, E::invalid, S::none, "/", -1, "null"},
      {"42[]", false, E::invalid, S::none, "/", -1, "null"},  // event without a name
      {"42[1]", false, E::invalid, S::none, "/", -1, "null"},
      {"4399999999999999999999[]", false, E::invalid, S::none, "/", -1, "null"},
      {"44", false, E::invalid, S::none, "/", -1, "null"},
      {"451-[\"ev\"]", true, E::message, S::binary_event, "/", -1, R"(["ev"])"},
      {"45[\"ev\"]", false, E::invalid, S::none, "/", -1, "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    sio::packet::decoded p;
    EXPECT_EQ(sio::packet::decode(c.frame, p), c.ok);
    EXPECT_EQ(p.engine, c.engine);
    EXPECT_EQ(p.type, c.type);
    EXPECT_EQ(p.nsp, c.nsp);
    EXPECT_EQ(p.ack_id, c.ack);
    EXPECT_EQ(Json::toString(p.data), c.data);
  }
}

TEST(SioPacketTest, UrlEncodesQueryValues) {
  EXPECT_EQ(sio::packet::url_encode("aZ09-_.~"), "aZ09-_.~");
  EXPECT_EQ(sio::packet::url_encode("a b&c=d\n/+%"), "a%20b%26c%3Dd%0A%2F%2B%25");
  EXPECT_EQ(sio::packet::url_encode(std::string("\0\xff", 2)), "%00%FF");
}

TEST(SioUtilsTest, ParamObjectIdToMessage) {
  struct Case {
    const char* param;
    const char* message;
  };
  const Case cases[] = {
      {R"("doc-1")", R"(["doc-1"])"},
      {R"(["a","b"])", R"(["a","b"])"},
      {R"(["a",5,true,null,1.5])", R"(["a","5","true","","1.5"])"},
      {"[]", "[]"},
      {"7", "[]"},
      {R"({"id":"a"})", "[]"},
      {"null", "[]"},
      {"true", "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param);
    EXPECT_EQ(Text(utils::ParamObjectIdToMessage(Parse(c.param))), c.message);
  }
}

TEST(SioUtilsTest, VectorToMessageAndTabMessage) {
  EXPECT_EQ(Text(utils::VectorToMessage(std::vector<std::string>{"3", "1"})), R"(["3","1"])");
  EXPECT_EQ(Text(utils::VectorToMessage(std::vector<int>{3, -1})), "[3,-1]");
  EXPECT_EQ(Text(utils::VectorToMessage(std::vector<std::string>{})), "[]");
  EXPECT_EQ(Text(utils::getTabMessage("add", "doc", "2", "c9")),
            R"({"client_id":"c9","cmd":"add","id":"2","object_id":"doc"})");
}

}  // namespace
}  // namespace zoltsh
