// The extra-auth line (encryption round trip, tamper detection, key file) and the CGI decoder.
#include "webapi/cgi.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_root.h"

namespace {

using zoltsh::testing::TempRoot;

TEST(CgiLineTest, RoundTripsAnyPlainLine) {
  TempRoot root;
  const std::string plains[] = {"", "password=abc", "a=1&password=p%20w&b",
                                std::string("\0\xff\x80", 3), std::string(10000, 'x')};
  for (const std::string& plain : plains) {
    SCOPED_TRACE(plain.substr(0, 20));
    std::string line = ZOLTCgiEncryptParamLine(plain);
    ASSERT_EQ(line.rfind("zx1.", 0), 0u);
    EXPECT_EQ(line.find_first_not_of(
                  "zx1.ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos)
        << "the line must travel in an HTTP header unchanged";
    EXPECT_EQ(ZOLTCgiDecryptParamLine(line), plain);
  }
  EXPECT_NE(ZOLTCgiEncryptParamLine("password=x"), ZOLTCgiEncryptParamLine("password=x"))
      << "each line needs a fresh nonce";
}

TEST(CgiLineTest, AnyChangedCharacterYieldsNothing) {
  TempRoot root;
  std::string line = ZOLTCgiEncryptParamLine("password=secret");
  for (size_t i = 0; i < line.size(); ++i) {
    std::string tampered = line;
    tampered[i] = tampered[i] == 'A' ? 'B' : 'A';
    EXPECT_EQ(ZOLTCgiDecryptParamLine(tampered), "") << "position " << i;
  }
  const std::string broken[] = {"",
                                "password=secret",
                                "zx1.",
                                "zx1.!!!!",
                                line.substr(0, 20),
                                line.substr(4),
                                "zx2." + line.substr(4),
                                line + "AA"};
  for (const std::string& text : broken) EXPECT_EQ(ZOLTCgiDecryptParamLine(text), "") << text;
}

TEST(CgiLineTest, KeyIsRootOnlyAndPerRoot) {
  std::string line;
  {
    TempRoot root;
    line = ZOLTCgiEncryptParamLine("password=x");
    struct stat st {};
    ASSERT_EQ(::stat(ZOLTCgiKeyPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);
    std::string dir = ZOLTCgiKeyPath().substr(0, ZOLTCgiKeyPath().rfind('/'));
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  TempRoot other;
  EXPECT_EQ(ZOLTCgiDecryptParamLine(line), "") << "another root has another key";
}

TEST(CgiDecodeTest, DecodesPercentAndPlus) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"abc", "abc"},   {"a+b", "a b"},
      {"%41%62", "Ab"}, {"%e4%B8%AD", "\xe4\xb8\xad"},
      {"%4", "%4"},     {"%zz1", "%zz1"},
      {"%", "%"},       {"100%", "100%"},
      {"%2B+", "+ "},   {"%00x", std::string("\0x", 2)},
  };
  for (const Case& c : cases) {
    std::string value = c.in;
    ZOLTCgiDecodeParam(value);
    EXPECT_EQ(value, c.out) << c.in;
  }
  std::string any = "p@ss word&=%+/\xc3\xa9";
  std::string encoded = ZOLTCgiEncodeParam(any);
  EXPECT_EQ(encoded.find_first_of("&=+% "), encoded.find('%')) << encoded;
  ZOLTCgiDecodeParam(encoded);
  EXPECT_EQ(encoded, any);
}

}  // namespace
