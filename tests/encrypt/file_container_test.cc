// The file form of the encrypted container and the quoted base64 file of a Drive text field.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crypt/zolt_crypt.h"
#include "encrypt/zoltsh_encrypt.h"
#include "encrypt_fixture.h"

namespace {

using zoltsh::testing::EncryptTest;

struct FileClose {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

class FileContainerTest : public EncryptTest {
 protected:
  // Encrypts `plain` through a file; returns the container's bytes.
  std::string EncryptBytes(const std::string& plain, const std::string& password) {
    const std::string in = root_.path("plain.bin");
    const std::string out = root_.path("cipher.bin");
    WriteFile(in, plain);
    {
      File f(fopen(out.c_str(), "wb"));
      EXPECT_TRUE(ZOLT_SH_ENCRYPT::EncryptFileToStream(in, password, f.get()));
    }
    return ReadFile(out);
  }
  // Decrypts container bytes through a file into `plain`.
  bool DecryptBytes(const std::string& container, const std::string& password, std::string& plain) {
    const std::string in = root_.path("container.bin");
    const std::string out = root_.path("decrypted.bin");
    WriteFile(in, container);
    bool ok;
    {
      File f(fopen(out.c_str(), "wb"));
      ok = ZOLT_SH_ENCRYPT::DecryptFileToStream(in, password, f.get());
    }
    plain = ReadFile(out);
    return ok;
  }
};

TEST_F(FileContainerTest, RoundTripsFilesOfEverySizeThatMatters) {
  // Empty, one byte, whole blocks, the read piece and its neighbours, several megabytes.
  for (size_t n : {0u, 1u, 16u, 32u, 32767u, 32768u, 32769u, 65536u, 5u * 1024 * 1024 + 3}) {
    SCOPED_TRACE(n);
    const std::string plain = Bytes(n);
    const std::string container = EncryptBytes(plain, "pw");
    ASSERT_EQ(container.size(), 16 + (n / 16 + 1) * 16);
    EXPECT_EQ(container.substr(0, 8), "Salted__");
    std::string back;
    ASSERT_TRUE(DecryptBytes(container, "pw", back));
    EXPECT_EQ(back, plain);
  }
}

TEST_F(FileContainerTest, FileAndStringFormsAreTheSameContainer) {
  const std::string container = EncryptBytes("shared layout", "pw");
  std::string back;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(
      ZOLTBase64Encode(container.data(), container.size()), "pw", back));
  EXPECT_EQ(back, "shared layout");
}

TEST_F(FileContainerTest, DamagedFilesFailWithTheirOwnMessage) {
  const std::string good = EncryptBytes(Bytes(100), "pw");
  std::string badMagic = good;
  badMagic[7] = '-';
  std::string flipped = good;
  flipped[good.size() - 1] = static_cast<char>(flipped.back() ^ 1);
  struct Case {
    const char* what;
    std::string container;
    const char* password;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"empty file", "", "pw", "Length of salt is incorrect[0, 16]"},
      {"short header", good.substr(0, 15), "pw", "Length of salt is incorrect[15, 16]"},
      {"bad magic", badMagic, "pw", "File doesn't contain magic salt"},
      {"header only", good.substr(0, 16), "pw", "AES Decrypt fail: wrong final block length"},
      {"cut inside a block", good.substr(0, good.size() - 5), "pw", "AES Decrypt fail"},
      {"last byte changed", flipped, "pw", "AES Decrypt fail"},
      {"wrong password", good, "other", "AES Decrypt fail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    std::string back;
    bool ok = DecryptBytes(c.container, c.password, back);
    if (ok && std::string(c.what) == "wrong password") continue;  // one time in 256
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Logged(c.logged)) << AllLines();
  }
}

TEST_F(FileContainerTest, MissingArgumentsAndFilesFail) {
  File f(fopen(root_.path("out").c_str(), "wb"));
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptFileToStream("", "pw", f.get()));
  EXPECT_TRUE(Logged("Failed [strInput.empty() || NULL == fOut]")) << AllLines();
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("none"), "pw", nullptr));
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileToStream("", "pw", f.get()));
  log_.clear();
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("none"), "pw", f.get()));
  EXPECT_TRUE(Logged("[err: No such file or directory]")) << AllLines();
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileToStream(root_.path("none"), "pw", f.get()));
}

TEST_F(FileContainerTest, InputsAreNotReadThroughSymbolicLinks) {
  WriteFile(root_.path("real"), "data");
  ASSERT_EQ(::symlink(root_.path("real").c_str(), root_.path("link").c_str()), 0);
  File f(fopen(root_.path("out").c_str(), "wb"));
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("link"), "pw", f.get()));
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(root_.path("link"), "pw", f.get()));
}

TEST_F(FileContainerTest, DecryptToPathWritesThePlaintext) {
  const std::string plain = Bytes(70000);
  WriteFile(root_.path("c.bin"), EncryptBytes(plain, "pw"));
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("c.bin"), "pw", root_.path("p.bin")));
  EXPECT_EQ(ReadFile(root_.path("p.bin")), plain);
  // Replacing an earlier output works too, and leaves no temporary file behind.
  WriteFile(root_.path("c.bin"), EncryptBytes("short", "pw"));
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("c.bin"), "pw", root_.path("p.bin")));
  EXPECT_EQ(ReadFile(root_.path("p.bin")), "short");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(root_.dir())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 4);  // plain.bin, cipher.bin, c.bin, p.bin
}

// A wrong password or a damaged container must not destroy what the output path held, nor
// leave a partial plaintext there.
TEST_F(FileContainerTest, FailedDecryptToPathChangesNothing) {
  WriteFile(root_.path("c.bin"), EncryptBytes(Bytes(100000), "right"));
  WriteFile(root_.path("keep.bin"), "the earlier file");
  for (int i = 0; i < 8; ++i) {
    const std::string wrong = "wrong" + std::to_string(i);
    if (ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("c.bin"), wrong, root_.path("keep.bin"))) {
      WriteFile(root_.path("keep.bin"), "the earlier file");  // the padding happened to check
      continue;
    }
    EXPECT_EQ(ReadFile(root_.path("keep.bin")), "the earlier file");
  }
  WriteFile(root_.path("damaged.bin"), "Salted__");
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("damaged.bin"), "right",
                                                  root_.path("keep.bin")));
  EXPECT_EQ(ReadFile(root_.path("keep.bin")), "the earlier file");
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileToPath(root_.path("damaged.bin"), "right",
                                                  root_.path("new.bin")));
  struct stat st {};
  EXPECT_NE(::lstat(root_.path("new.bin").c_str(), &st), 0);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(root_.dir())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 5);  // plain.bin, cipher.bin, c.bin, keep.bin, damaged.bin
}

class QuotedFileTest : public FileContainerTest {
 protected:
  // Runs DecryptFileFromBase64ToStream on a file holding `content`; returns what it wrote.
  bool Run(const std::string& content, const std::string& password, std::string& written) {
    const std::string in = root_.path("text_sh_1");
    const std::string out = root_.path("out");
    WriteFile(in, content);
    bool ok;
    {
      File f(fopen(out.c_str(), "wb"));
      ok = ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(in, password, f.get());
    }
    written = ReadFile(out);
    return ok;
  }
  std::string Quoted(const std::string& plain, const std::string& password) {
    Json::Value v;
    EXPECT_TRUE(ZOLT_SH_ENCRYPT::EncryptStringToBase64(plain, password, v));
    return "\"" + v.asString() + "\"";
  }
};

TEST_F(QuotedFileTest, DecryptsTheTextBetweenTheQuotes) {
  std::string written;
  ASSERT_TRUE(Run(Quoted(R"({"cells": {"0": {"0": {"v": "x"}}}})", "pw"), "pw", written));
  EXPECT_EQ(written, R"({"cells": {"0": {"0": {"v": "x"}}}})");
}

// The stored text file must come out of a decryption byte for byte as it went in: the
// terminator of the text is never written into the file's mapping.
TEST_F(QuotedFileTest, LeavesTheStoredFileUntouched) {
  const std::string content = Quoted(Bytes(1000).replace(0, 1, "a"), "pw");
  std::string written;
  ASSERT_TRUE(Run(content, "pw", written));
  EXPECT_EQ(ReadFile(root_.path("text_sh_1")), content);
  EXPECT_EQ(ReadFile(root_.path("text_sh_1")).back(), '"');
  // Also after a failure.
  EXPECT_FALSE(Run(content, "wrong-password-here", written) && written == Bytes(1000));
  EXPECT_EQ(ReadFile(root_.path("text_sh_1")), content);
}

TEST_F(QuotedFileTest, ShortFilesWriteNothingAndSucceed) {
  for (const std::string& content : {std::string(""), std::string("\""), std::string("\"\"")}) {
    SCOPED_TRACE(content);
    std::string written = "x";
    EXPECT_TRUE(Run(content, "pw", written));
    EXPECT_EQ(written, "");
  }
}

TEST_F(QuotedFileTest, DamagedTextFails) {
  std::string written;
  const std::string good = Quoted("some text", "pw");
  const std::vector<std::string> bad = {"\"x\"", "\"Zm9v\"", good.substr(0, good.size() - 5) + "\"",
                                        "\"" + good};
  for (const std::string& content : bad) {
    SCOPED_TRACE(content);
    EXPECT_FALSE(Run(content, "pw", written));
    EXPECT_EQ(written, "");
  }
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(root_.path("none"), "pw", stdout));
  EXPECT_FALSE(
      ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(root_.path("text_sh_1"), "pw", nullptr));
}

}  // namespace
