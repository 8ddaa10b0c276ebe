// The container against the openssl command line, in both directions: what we write it reads,
// and what it writes we read ("enc -aes-256-cbc -md md5 -salt", raw and base64).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "encrypt/zoltsh_encrypt.h"
#include "encrypt_fixture.h"
#include "support/run_program.h"

namespace {

using zoltsh::testing::EncryptTest;
using zoltsh::testing::RunProgram;

constexpr char kOpenssl[] = "/usr/bin/openssl";

struct FileClose {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

class OpensslInteropTest : public EncryptTest {
 protected:
  void SetUp() override {
    EncryptTest::SetUp();
    if (::access(kOpenssl, X_OK) != 0) GTEST_SKIP() << "no " << kOpenssl;
  }
  // Runs "openssl enc -aes-256-cbc -md md5 -salt" with the extra arguments; true on exit 0.
  static bool Enc(const std::vector<std::string>& extra, const std::string& password,
                  const std::string& in, const std::string& out) {
    std::vector<std::string> args = {kOpenssl, "enc", "-aes-256-cbc", "-md", "md5", "-salt"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-pass", "pass:" + password, "-in", in, "-out", out});
    return RunProgram(args).status == 0;
  }
};

// Passwords with spaces, quotes and non-ASCII bytes reach both sides as the same bytes.
const std::vector<std::string> kPasswords = {"pw", "with space \"quoted\"",
                                             "p\xc3\xa4ss\xe2\x82\xac", std::string(64, 'x')};

TEST_F(OpensslInteropTest, OpensslDecryptsOurFileForm) {
  for (size_t n : {0u, 1u, 16u, 32u, 100000u}) {
    for (const std::string& password : kPasswords) {
      SCOPED_TRACE(std::to_string(n) + " " + password);
      const std::string plain = Bytes(n);
      WriteFile(root_.path("plain"), plain);
      {
        File f(fopen(root_.path("ours.enc").c_str(), "wb"));
        ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("plain"), password, f.get()));
      }
      ASSERT_TRUE(Enc({"-d"}, password, root_.path("ours.enc"), root_.path("theirs.dec")));
      EXPECT_EQ(ReadFile(root_.path("theirs.dec")), plain);
    }
  }
}

TEST_F(OpensslInteropTest, OpensslDecryptsOurStringForm) {
  for (const std::string& password : kPasswords) {
    SCOPED_TRACE(password);
    const std::string plain = R"({"index": {"order": ["sh_1"]}, "text": ")" + Bytes(300) + "\"}";
    Json::Value text;
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptStringToBase64(plain, password, text));
    WriteFile(root_.path("ours.b64"), text.asString());
    ASSERT_TRUE(Enc({"-d", "-a", "-A"}, password, root_.path("ours.b64"), root_.path("dec")));
    EXPECT_EQ(ReadFile(root_.path("dec")), plain);
  }
}

TEST_F(OpensslInteropTest, WeDecryptOpensslsFileForm) {
  for (size_t n : {0u, 1u, 16u, 32u, 3u * 1024 * 1024}) {
    for (const std::string& password : kPasswords) {
      SCOPED_TRACE(std::to_string(n) + " " + password);
      const std::string plain = Bytes(n);
      WriteFile(root_.path("plain"), plain);
      ASSERT_TRUE(Enc({"-e"}, password, root_.path("plain"), root_.path("theirs.enc")));
      {
        File f(fopen(root_.path("ours.dec").c_str(), "wb"));
        ASSERT_TRUE(
            ZOLT_SH_ENCRYPT::DecryptFileToStream(root_.path("theirs.enc"), password, f.get()));
      }
      EXPECT_EQ(ReadFile(root_.path("ours.dec")), plain);
      ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("theirs.enc"), password,
                                                     root_.path("ours.path")));
      EXPECT_EQ(ReadFile(root_.path("ours.path")), plain);
    }
  }
}

TEST_F(OpensslInteropTest, WeDecryptOpensslsBase64OnOneLineAndWrapped) {
  std::string plain = R"({"cells": ")";
  for (int i = 0; i < 200; ++i) plain += static_cast<char>('a' + i % 26);
  plain += "\"}";
  for (const std::string& password : kPasswords) {
    for (bool oneLine : {true, false}) {
      SCOPED_TRACE(password + (oneLine ? " one line" : " wrapped"));
      WriteFile(root_.path("plain"), plain);
      std::vector<std::string> extra = {"-e", "-a"};
      if (oneLine) extra.push_back("-A");
      ASSERT_TRUE(Enc(extra, password, root_.path("plain"), root_.path("theirs.b64")));
      const std::string b64 = ReadFile(root_.path("theirs.b64"));
      EXPECT_EQ(b64.find('\n') != std::string::npos && b64.find('\n') + 1 < b64.size(), !oneLine);
      std::string back;
      ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(b64, password, back));
      EXPECT_EQ(back, plain);
      Json::Value value;
      ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(b64, password, value));
      EXPECT_EQ(value["cells"].asString().size(), 200u);
    }
  }
}

TEST_F(OpensslInteropTest, OpensslRefusesOurContainerUnderAnotherPassword) {
  WriteFile(root_.path("plain"), Bytes(1000));
  {
    File f(fopen(root_.path("ours.enc").c_str(), "wb"));
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("plain"), "right", f.get()));
  }
  // The padding checks under a wrong key about one time in 256; then the bytes differ.
  if (Enc({"-d"}, "wrong", root_.path("ours.enc"), root_.path("dec"))) {
    EXPECT_NE(ReadFile(root_.path("dec")), Bytes(1000));
  }
}

}  // namespace
