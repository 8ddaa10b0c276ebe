// The system password of a protected spreadsheet: making, wrapping, unwrapping, and the checks
// against the stored Drive object.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "common/zoltsh_error.h"
#include "crypt/zolt_crypt.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "encrypt_fixture.h"
#include "json/json_text.h"

namespace {

using zoltsh::testing::EncryptTest;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

class SysPassTest : public EncryptTest {
 protected:
  std::string Wrap(const std::string& sysPass, const std::string& password) {
    Json::Value out;
    EXPECT_TRUE(ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, password, out))
        << Json::toString(ZOLTSHErrStackGet());
    return out.asString();
  }
  std::string NewSysPass() {
    std::string s;
    EXPECT_TRUE(ZOLT_SH_ENCRYPT::GenRandPassword(s));
    return s;
  }
};

TEST_F(SysPassTest, GenRandPasswordMakesThirtyTwoPrintableCharacters) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string s = NewSysPass();
    ASSERT_EQ(s.size(), 32u);
    for (char c : s) {
      EXPECT_GE(c, ' ');
      EXPECT_LE(c, '~');
    }
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 20u);
}

TEST_F(SysPassTest, WrapsAndUnwraps) {
  const std::string sysPass = NewSysPass();
  const std::string stored = Wrap(sysPass, "document password");
  std::string back;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(stored, "document password", back));
  EXPECT_EQ(back, sysPass);
}

TEST_F(SysPassTest, StoredFormIsTheMagicAndThePlatformText) {
  const std::string sysPass = NewSysPass();
  const std::string stored = Wrap(sysPass, "pw");
  std::string plain;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(stored, "pw", plain));
  ASSERT_EQ(plain.rfind("TaBvAlEMaGiC", 0), 0u);
  const std::string inner = plain.substr(12);
  EXPECT_LE(inner.size(), 53u);
  EXPECT_EQ(inner.find(sysPass), std::string::npos);
  char out[64];
  ASSERT_TRUE(ZOLTStringDecrypt(inner.c_str(), out, sizeof(out)));
  EXPECT_EQ(std::string(out), sysPass);
}

TEST_F(SysPassTest, ChangingTheDocumentPasswordKeepsTheSystemPassword) {
  const std::string sysPass = NewSysPass();
  std::string back;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(Wrap(sysPass, "old"), "old", back));
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(Wrap(back, "new"), "new", back));
  EXPECT_EQ(back, sysPass);
}

TEST_F(SysPassTest, WrongOrMissingPasswordGives1033AndKeepsTheOutput) {
  const std::string stored = Wrap(NewSysPass(), "right");
  struct Case {
    const char* what;
    std::string cipher;
    std::string password;
  };
  const std::vector<Case> cases = {
      {"wrong password", stored, "wrong"},
      {"missing password", stored, ""},
      {"missing stored form", "", "right"},
      {"damaged stored form", stored.substr(0, stored.size() - 8), "right"},
      {"not base64", "%%%%", "right"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZOLTSHErrSetEx(1, "test", 0, "reset");
    std::string sysPass = "unchanged";
    EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(c.cipher, c.password, sysPass));
    EXPECT_EQ(sysPass, "unchanged");
    EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  }
}

// About one wrong password in 256 passes the padding check; the magic text catches it, and the
// caller still learns that the password was wrong.
TEST_F(SysPassTest, WrongPasswordThatPassesThePaddingGives1033) {
  const std::string stored = Wrap(NewSysPass(), "right");
  std::string lucky;
  std::string garbage;
  for (int i = 0; i < 20000 && lucky.empty(); ++i) {
    const std::string candidate = "wrong" + std::to_string(i);
    if (ZOLT_SH_ENCRYPT::DecryptStringFromBase64(stored, candidate, garbage)) lucky = candidate;
  }
  ASSERT_FALSE(lucky.empty()) << "no wrong password passed the padding";
  log_.clear();
  ZOLTSHErrSetEx(1, "test", 0, "reset");
  std::string sysPass = "unchanged";
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(stored, lucky, sysPass));
  EXPECT_EQ(sysPass, "unchanged");
  EXPECT_TRUE(Logged("wrong pass")) << AllLines();
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
}

TEST_F(SysPassTest, StoredFormWithoutAPlatformTextGives1033) {
  Json::Value forged;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptStringToBase64("TaBvAlEMaGiC", "pw", forged));
  std::string sysPass = "unchanged";
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(forged.asString(), "pw", sysPass));
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptStringToBase64("TaBvAlEMaGiC1notours", "pw", forged));
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptSysPassFromBase64(forged.asString(), "pw", sysPass));
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  EXPECT_EQ(sysPass, "unchanged");
}

// A stored form that nothing could unwrap would lock the document for good.
TEST_F(SysPassTest, RefusesToWrapWhatCouldNeverBeUnwrapped) {
  for (const auto& [sysPass, password] : std::vector<std::pair<std::string, std::string>>{
           {"", "pw"}, {NewSysPass(), ""}, {std::string("ab\0cd", 5), "pw"}}) {
    ZOLTSHErrSetEx(1, "test", 0, "reset");
    Json::Value out = "unchanged";
    EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, password, out));
    EXPECT_EQ(out.asString(), "unchanged");
    EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  }
}

TEST_F(SysPassTest, GetSysPassFromMetaTextReadsOnlyProtectedDocuments) {
  const std::string sysPass = NewSysPass();
  const std::string stored = Wrap(sysPass, "pw");
  struct Case {
    const char* what;
    Json::Value metatext;
    bool ok;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"protected", J(R"({"encrypt": true, "password": ")" + stored + "\"}"), true, sysPass},
      {"flag false", J(R"({"encrypt": false, "password": ")" + stored + "\"}"), true, ""},
      {"flag only", J(R"({"encrypt": true})"), true, ""},
      {"password not a string", J(R"({"encrypt": true, "password": 5})"), true, ""},
      {"flag not a bool", J(R"({"encrypt": "true", "password": ")" + stored + "\"}"), true, ""},
      {"empty object", J("{}"), true, ""},
      {"a string", Json::Value("text"), false, ""},
      {"null", Json::Value(), false, ""},
      {"an array", J("[]"), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out;
    EXPECT_EQ(ZOLT_SH_ENCRYPT::GetSysPassFromMetaText(c.metatext, "pw", out), c.ok);
    EXPECT_EQ(out, c.expected);
  }
  std::string out;
  ZOLTSHErrSetEx(1, "test", 0, "reset");
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::GetSysPassFromMetaText(
      J(R"({"encrypt": true, "password": ")" + stored + "\"}"), "wrong", out));
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  EXPECT_EQ(out, "");
}

class CheckSysPassTest : public SysPassTest {
 protected:
  void Create(const std::string& id, unsigned owner, const Json::Value& metatext) {
    Json::Value r(Json::objectValue);
    r["ns"] = "Tabvale";
    r["id"] = id;
    r["requester"] = 0;
    r["owner"] = owner;
    r["text"] = J(R"({"index": "x"})");
    r["metatext"] = metatext;
    ZOLT_DRIVE_OBJECT obj;
    ASSERT_TRUE(obj.Create(r)) << ZOLTDriveErrMsgGet();
  }
};

TEST_F(CheckSysPassTest, ChecksThePasswordAgainstTheStoredObject) {
  const std::string sysPass = NewSysPass();
  Json::Value meta(Json::objectValue);
  meta["encrypt"] = true;
  meta["password"] = Wrap(sysPass, "doc pw");
  Create("sheet1", 1026, meta);
  Create("plain1", 1026, J("{}"));

  std::string out;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::CheckSysPass("sheet1", 1026, "doc pw", out));
  EXPECT_EQ(out, sysPass);
  EXPECT_TRUE(ZOLT_SH_ENCRYPT::CheckSysPass("sheet1", 1026, "doc pw"));

  out.clear();
  EXPECT_TRUE(ZOLT_SH_ENCRYPT::CheckSysPass("plain1", 1026, "anything", out));
  EXPECT_EQ(out, "");

  log_.clear();
  ZOLTSHErrSetEx(1, "test", 0, "reset");
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::CheckSysPass("sheet1", 1026, "not it", out));
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
  EXPECT_TRUE(Logged("Pass error: User 1026 access sheet1")) << AllLines();
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::CheckSysPass("sheet1", 1026, ""));
  EXPECT_EQ(ZOLTSHErrCodeGet(), 1033);
}

TEST_F(CheckSysPassTest, UnreadableObjectsFailWithTheRequestLogged) {
  Create("mine", 1026, J(R"({"encrypt": false})"));
  log_.clear();
  std::string out;
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::CheckSysPass("missing", 1026, "pw", out));
  EXPECT_TRUE(Logged(R"(Failed to load from zoltdrive: {"field":{"metatext":true,"text":false},)"
                     R"("id":"missing","ns":"Tabvale","requester":1026})"))
      << AllLines();
  // Another user without a share cannot read it.
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::CheckSysPass("mine", 1027, "pw", out));
}

}  // namespace
