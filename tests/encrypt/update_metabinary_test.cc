// Re-encrypting and decrypting the stored image files of a spreadsheet.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/file.h"
#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "encrypt_fixture.h"
#include "json/json_text.h"

namespace {

using zoltsh::testing::EncryptTest;
using zoltsh::utils::TmpFileManager;

Json::Value J(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(Json::fromString(v, text)) << text;
  return v;
}

struct FileClose {
  void operator()(FILE* f) const { fclose(f); }
};

class UpdateMetaBinaryTest : public EncryptTest {
 protected:
  void SetUp() override {
    EncryptTest::SetUp();
    ASSERT_EQ(::mkdir(root_.path("tmp").c_str(), 01777), 0);
  }

  // Stores `files` (name -> content) as the metabinary files of a new object "doc".
  Json::Value Store(const std::map<std::string, std::string>& files) {
    Json::Value r(Json::objectValue);
    r["ns"] = "Tabvale";
    r["id"] = "doc";
    r["requester"] = 0;
    r["text"] = J(R"({"index": "x"})");
    r["metabinary_files"] = Json::Value(Json::arrayValue);
    int i = 0;
    for (const auto& [name, content] : files) {
      const std::string path = root_.path("upload" + std::to_string(i++));
      WriteFile(path, content);
      Json::Value f(Json::objectValue);
      f["format"] = "raw";
      f["name"] = name;
      f["path"] = path;
      r["metabinary_files"].append(f);
    }
    ZOLT_DRIVE_OBJECT obj;
    EXPECT_TRUE(obj.Create(r)) << ZOLTDriveErrMsgGet();
    Json::Value get(Json::objectValue);
    get["ns"] = "Tabvale";
    get["id"] = "doc";
    get["field"]["metabinary_info"] = true;
    ZOLT_DRIVE_OBJECT fetched;
    EXPECT_TRUE(fetched.Get(get)) << ZOLTDriveErrMsgGet();
    return fetched.get_ref_metabinary_info();
  }

  std::string Decrypt(const std::string& path, const std::string& password) {
    const std::string out = root_.path("check.dec");
    {
      std::unique_ptr<FILE, FileClose> f(fopen(out.c_str(), "wb"));
      EXPECT_TRUE(ZOLT_SH_ENCRYPT::DecryptFileToStream(path, password, f.get()));
    }
    return ReadFile(out);
  }
};

TEST_F(UpdateMetaBinaryTest, EncryptsListedNamesAndThumbsInSortedOrder) {
  const Json::Value info = Store({{"b.png", "image b"}, {"a.png", "image a"}, {"a.t", "thumb a"}});
  const Json::Value attachments = J(R"({"id2": {"name": "b.png"},
                                        "id1": {"name": "a.png", "thumb": "a.t"},
                                        "id3": {"name": "b.png"}})");
  TmpFileManager tfm;
  Json::Value out;
  ASSERT_TRUE(
      ZOLT_SH_ENCRYPT::UpdateMetaBinary(attachments, info, "doc", "sys pass", true, tfm, out));
  ASSERT_EQ(out.size(), 3u) << Json::toString(out);
  const char* names[] = {"a.png", "a.t", "b.png"};
  const char* contents[] = {"image a", "thumb a", "image b"};
  for (Json::ArrayIndex i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(out[i]["format"].asString(), "raw");
    EXPECT_EQ(out[i]["name"].asString(), names[i]);
    const std::string path = out[i]["path"].asString();
    EXPECT_EQ(path.rfind(root_.path("tmp/encrypt_file."), 0), 0u) << path;
    EXPECT_EQ(ReadFile(path).substr(0, 8), "Salted__");
    EXPECT_EQ(Decrypt(path, "sys pass"), contents[i]);
    EXPECT_EQ(tfm.Paths().count(path), 1u);
  }
  // The manager removes them.
  const std::string first = out[0u]["path"].asString();
  tfm.Release();
  struct stat st {};
  EXPECT_NE(::lstat(first.c_str(), &st), 0);
}

TEST_F(UpdateMetaBinaryTest, OnlyNamesTheStoreListsAreDone) {
  const Json::Value info = Store({{"pic", "the picture"}});
  TmpFileManager tfm;
  Json::Value out;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::UpdateMetaBinary(J(R"({"x": {"name": "pic", "thumb": "pic.t"}})"),
                                                info, "doc", "sp", true, tfm, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0u]["name"].asString(), "pic");
}

TEST_F(UpdateMetaBinaryTest, DecryptsBackToThePlainFiles) {
  // Store an encrypted file, as a protected document keeps it, then decrypt it out.
  WriteFile(root_.path("plain"), "picture bytes\x01\x02");
  {
    std::unique_ptr<FILE, FileClose> f(fopen(root_.path("enc").c_str(), "wb"));
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::EncryptFileToStream(root_.path("plain"), "sp", f.get()));
  }
  const Json::Value info = Store({{"pic", ReadFile(root_.path("enc"))}});
  TmpFileManager tfm;
  Json::Value out;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::UpdateMetaBinary(J(R"({"x": {"name": "pic"}})"), info, "doc", "sp",
                                                false, tfm, out));
  ASSERT_EQ(out.size(), 1u);
  const std::string path = out[0u]["path"].asString();
  EXPECT_EQ(path.rfind(root_.path("tmp/decrypt_file."), 0), 0u) << path;
  EXPECT_EQ(ReadFile(path), "picture bytes\x01\x02");
}

TEST_F(UpdateMetaBinaryTest, FilesThatCannotBeDoneAreLeftOutAndCleanedUp) {
  // "bad" is not a container, so it cannot be decrypted; "gone" is listed but not stored.
  const Json::Value stored = Store({{"bad", "not a container"}});
  Json::Value info = stored;
  info["gone"] = Json::Value(Json::objectValue);
  TmpFileManager tfm;
  Json::Value out = "unchanged";
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::UpdateMetaBinary(
      J(R"({"x": {"name": "bad"}, "y": {"name": "gone"}})"), info, "doc", "sp", false, tfm, out));
  EXPECT_EQ(Json::toString(out), "[]");
  EXPECT_TRUE(Logged("Cannot DecryptFile [")) << AllLines();
  EXPECT_TRUE(Logged("cannot get metabinary path doc [gone]")) << AllLines();
  EXPECT_TRUE(tfm.Paths().empty());
  int leftovers = 0;
  for (const auto& e : std::filesystem::directory_iterator(root_.path("tmp"))) {
    (void)e;
    ++leftovers;
  }
  EXPECT_EQ(leftovers, 0);
}

TEST_F(UpdateMetaBinaryTest, NothingToDoSucceedsWithoutTouchingOut) {
  const Json::Value info = Store({{"pic", "x"}});
  TmpFileManager tfm;
  for (const auto& [attachments, metabinary, sysPass] :
       std::vector<std::tuple<Json::Value, Json::Value, std::string>>{
           {Json::Value(), info, "sp"},
           {J(R"({"x": {"name": "pic"}})"), Json::Value(), "sp"},
           {J(R"({"x": {"name": "pic"}})"), info, ""}}) {
    Json::Value out = "unchanged";
    EXPECT_TRUE(
        ZOLT_SH_ENCRYPT::UpdateMetaBinary(attachments, metabinary, "doc", sysPass, true, tfm, out));
    EXPECT_EQ(out.asString(), "unchanged");
  }
  EXPECT_TRUE(tfm.Paths().empty());
}

TEST_F(UpdateMetaBinaryTest, NoTemporaryStorageFails) {
  const Json::Value info = Store({{"pic", "x"}});
  ASSERT_EQ(::rmdir(root_.path("tmp").c_str()), 0);
  TmpFileManager tfm;
  Json::Value out;
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::UpdateMetaBinary(J(R"({"x": {"name": "pic"}})"), info, "doc", "sp",
                                                 true, tfm, out));
}

}  // namespace
