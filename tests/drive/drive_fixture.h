// Test support of the Drive store suite: every test gets its own appliance root, and the store's
// log lines go to a capture instead of the system log.
#pragma once

#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <string>

#include "drive/zolt_drive.h"
#include "json/json_text.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace zoltsh::testing {

inline constexpr char kNs[] = "Tabvale";
inline constexpr unsigned kAnonymous = 4294967295u;

// Parses JSON text written in a test; fails the test on a typo.
inline Json::Value J(const std::string& text) {
  Json::Value v;
  std::string error;
  EXPECT_TRUE(Json::fromString(v, text, &error)) << error << " in " << text;
  return v;
}

class DriveTest : public ::testing::Test {
 protected:
  // {"ns", "id", "requester"}, the start of every request.
  static Json::Value Req(const std::string& id, unsigned requester = 0) {
    Json::Value r(Json::objectValue);
    r["ns"] = kNs;
    r["id"] = id;
    r["requester"] = requester;
    return r;
  }

  // Creates `id` owned by `owner` with the given text and metatext; asserts success.
  ZOLT_DRIVE_OBJECT Make(const std::string& id, unsigned owner, const std::string& text,
                         const std::string& metatext = "{}", const std::string& extra = "{}") {
    Json::Value r = Req(id, owner);
    r["text"] = J(text);
    r["metatext"] = J(metatext);
    Json::Value more = J(extra);
    for (const std::string& name : more.getMemberNames()) r[name] = more[name];
    ZOLT_DRIVE_OBJECT obj;
    EXPECT_TRUE(obj.Create(r)) << ZOLTDriveErrMsgGet();
    return obj;
  }

  // Sets text/metatext/other members of `id` as `requester`; returns the store's verdict.
  bool Write(const std::string& id, const std::string& members, unsigned requester = 0) {
    Json::Value r = Req(id, requester);
    Json::Value more = J(members);
    for (const std::string& name : more.getMemberNames()) r[name] = more[name];
    ZOLT_DRIVE_OBJECT obj;
    return obj.Set(r);
  }

  // The whole object as the system sees it, at `version` ("" for the current one).
  Json::Value Show(const std::string& id, const std::string& version = "") {
    Json::Value r = Req(id);
    if (!version.empty()) r["version"] = version;
    ZOLT_DRIVE_OBJECT obj;
    EXPECT_TRUE(obj.Get(r)) << ZOLTDriveErrMsgGet();
    Json::Value out;
    obj.toJson(Json::Value(), out);
    return out;
  }

  std::string StoreDir() const { return root_.path("var/packages/ZoltDrive/target/store"); }

  TempRoot root_;
  LogCapture log_;
};

}  // namespace zoltsh::testing
