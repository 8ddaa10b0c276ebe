// Temporary storage, temporary files, the owning file handle, the root copy and the platform
// helpers they stand on (configuration reader, volume query, process runner).
#include "common/file.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/runas.h"
#include "common/zoltsh_error.h"
#include "core/zolt_config.h"
#include "core/zolt_exec.h"
#include "core/zolt_volume.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr uid_t kUser = 4242;

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// errno is process-wide and std::filesystem::remove_all (the TempRoot clean-up) leaves it set:
// declared before the root, this clears it after the root is gone, for the suites that follow.
struct ClearErrnoAfterward {
  ~ClearErrnoAfterward() { errno = 0; }
};

bool AnyLine(const zoltsh::testing::LogCapture& log, const std::string& part) {
  for (const std::string& line : log.lines()) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

// An appliance root with a world-writable /tmp, reachable by other users as on the appliance.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(root_.dir().c_str(), 0755);
    tmp_ = root_.path("tmp");
    fs::create_directories(tmp_);
    ::chmod(tmp_.c_str(), 01777);
  }
  void AddVolume(const std::string& mount, bool withTmp) {
    fs::create_directories(root_.path(mount.substr(1)));
    if (withTmp) {
      fs::create_directories(root_.path(mount.substr(1) + "/@tmp"));
      ::chmod(root_.path(mount.substr(1) + "/@tmp").c_str(), 01777);
    }
    fs::create_directories(root_.path("etc"));
    std::ofstream(root_.path("etc/zoltvolumes.conf"), std::ios::app) << mount << "\n";
  }
  void SetPlugbay(const std::string& value) {
    WriteFile(root_.path("etc.defaults/zoltinfo.conf"),
              "# system information\nunique=\"zs_x86\"\nplugbay=\"" + value + "\"\n");
  }

  ClearErrnoAfterward clearErrno_;
  zoltsh::testing::TempRoot root_;
  std::string tmp_;
};

TEST_F(FileTest, FindTmpStorageChoosesVolumeOrTmp) {
  struct Case {
    const char* name;
    const char* plugbay;  // null: no system information file
    bool volume;
    bool volumeTmp;
    bool rootTmp;
    const char* expected;  // below the root; null: not found
  };
  const Case cases[] = {
      {"volume with @tmp", nullptr, true, true, true, "volume1/@tmp"},
      {"plugbay device uses /tmp", "yes", true, true, true, "tmp"},
      {"other device kind uses the volume", "no", true, true, true, "volume1/@tmp"},
      {"volume without @tmp", nullptr, true, false, true, "tmp"},
      {"no volume", nullptr, false, false, true, "tmp"},
      {"nothing at all", nullptr, false, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearErrnoAfterward clearErrno;
    zoltsh::testing::TempRoot root;
    if (c.plugbay != nullptr) {
      WriteFile(root.path("etc.defaults/zoltinfo.conf"), std::string("plugbay=") + c.plugbay);
    }
    if (c.volume) {
      fs::create_directories(root.path("volume1"));
      if (c.volumeTmp) fs::create_directories(root.path("volume1/@tmp"));
      WriteFile(root.path("etc/zoltvolumes.conf"), "# volumes\n/volume_gone\n/volume1\n");
    }
    if (c.rootTmp) fs::create_directories(root.path("tmp"));
    std::string path = "unchanged";
    EXPECT_EQ(c.expected != nullptr, ZOLTSHFindTmpStorage(path));
    EXPECT_EQ(c.expected != nullptr ? root.path(c.expected) : "unchanged", path);
  }
}

TEST_F(FileTest, FindTmpStorageSkipsVolumesWithoutEnoughSpace) {
  // A real small file system: a 1 MiB tmpfs mounted as the only volume.
  AddVolume("/volume1", false);
  std::string mount = root_.path("volume1");
  if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  fs::create_directories(mount + "/@tmp");
  std::string path;
  EXPECT_FALSE(ZOLTVolumeFindWithFreeSpace(kZOLTSHTmpMinFree, &path));
  EXPECT_TRUE(ZOLTVolumeFindWithFreeSpace(1024, &path));
  EXPECT_EQ(mount, path);
  // Too small: /tmp it is.
  EXPECT_TRUE(ZOLTSHFindTmpStorage(path));
  EXPECT_EQ(tmp_, path);
  // And a /tmp that small is no storage at all.
  ASSERT_EQ(0, ::mount("tmpfs", tmp_.c_str(), "tmpfs", 0, "size=1m"));
  path = "unchanged";
  EXPECT_FALSE(ZOLTSHFindTmpStorage(path));
  EXPECT_EQ("unchanged", path);
  ::umount(tmp_.c_str());
  ::umount(mount.c_str());
}

TEST_F(FileTest, TmpFolderIsPrivateAndRemovable) {
  std::string folder;
  ASSERT_TRUE(ZOLTSHFindTmpFolder(folder));
  EXPECT_THAT(folder, StartsWith(tmp_ + "/sh_data_tmp_"));
  struct stat st;
  ASSERT_EQ(0, ::lstat(folder.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(0700u, st.st_mode & 07777);

  WriteFile(folder + "/sub/a.txt", "x");
  ZOLTSHRemoveFolder(folder);
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(FileTest, TmpFolderFailsWithoutStorage) {
  fs::remove(tmp_);
  zoltsh::testing::LogCapture log;
  ZOLTSHErrSetEx(1016, "test", 1, "callee");
  std::string folder = "unchanged";
  EXPECT_FALSE(ZOLTSHFindTmpFolder(folder));
  EXPECT_EQ("unchanged", folder);
  EXPECT_TRUE(AnyLine(log, "Failed [!ZOLTSHFindTmpStorage(strPath)]"));
  EXPECT_EQ(1016, ZOLTSHErrCodeGet());
  EXPECT_EQ(2u, ZOLTSHErrStackGet().size());
}

TEST_F(FileTest, RemoveFolderLeavesAnythingButADirectory) {
  const std::string victim = root_.path("victim");
  WriteFile(victim + "/keep.txt", "keep");
  const std::string link = tmp_ + "/link";
  ASSERT_EQ(0, ::symlink(victim.c_str(), link.c_str()));
  ZOLTSHRemoveFolder(link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ("keep", ReadFile(victim + "/keep.txt"));

  ZOLTSHRemoveFolder(victim + "/keep.txt");  // a file is not a folder
  EXPECT_TRUE(fs::exists(victim + "/keep.txt"));
  ZOLTSHRemoveFolder(root_.path("missing"));

  // A name that looks like an option is still a path.
  const std::string dashed = tmp_ + "/-rf";
  fs::create_directories(dashed + "/x");
  ZOLTSHRemoveFolder(dashed);
  EXPECT_FALSE(fs::exists(dashed));
}

TEST(FileNameTest, ExtensionAndBaseName) {
  struct Case {
    const char* name;
    bool ok;
    const char* ext;
    const char* base;
  };
  const Case cases[] = {
      {"archive.TAR.GZ", true, "gz", "archive.TAR"},
      {"README", true, "", "README"},
      {"name.", true, "", "name."},
      {"a.b.c", true, "c", "a.b"},
      {".hidden", true, "hidden", ""},
      {"Photo.JpG", true, "jpg", "Photo"},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string ext = "stale";
    std::string base = "stale";
    EXPECT_EQ(c.ok, ZOLTSHGetFileExt(c.name, ext));
    EXPECT_EQ(c.ext, ext);
    EXPECT_EQ(c.ok, ZOLTSHGetFileBaseName(c.name, base));
    EXPECT_EQ(c.base, base);
  }
}

TEST_F(FileTest, TmpFilesAreCreatedRegisteredAndRemoved) {
  std::string a, b;
  {
    zoltsh::utils::TmpFileManager tfm;
    tfm.Release();  // empty: nothing happens
    a = tfm.GetTmpFilePath("sh_tmp", ".png");
    b = tfm.GetTmpFilePath("sh_tmp", ".png");
    EXPECT_NE(a, b);
    EXPECT_THAT(a, StartsWith(tmp_ + "/sh_tmp_"));
    EXPECT_EQ(".png", a.substr(a.size() - 4));
    struct stat st;
    ASSERT_EQ(0, ::lstat(a.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0, st.st_size);
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(2u, tfm.Paths().size());

    tfm.Release();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(tfm.Paths().empty());

    // Registering works again after a release, once per path; the destructor releases.
    WriteFile(a, "x");
    tfm.Register(a);
    tfm.Register(a);
    EXPECT_EQ(1u, tfm.Paths().size());
  }
  EXPECT_FALSE(fs::exists(a));
}

TEST_F(FileTest, TmpFileNameFromInputStaysInTheStorage) {
  zoltsh::utils::TmpFileManager tfm;
  std::string path = tfm.GetTmpFilePath("../../etc/passwd", "/../x");
  EXPECT_EQ(fs::path(tmp_), fs::path(path).parent_path());
  EXPECT_TRUE(fs::is_regular_file(path));
  // A name longer than a file name may be is cut, not refused.
  path = tfm.GetTmpFilePath(std::string(400, 'n'), ".thumb");
  EXPECT_EQ(fs::path(tmp_), fs::path(path).parent_path());
}

TEST_F(FileTest, TmpFileWithoutStorageThrows) {
  fs::remove(tmp_);
  zoltsh::utils::TmpFileManager tfm;
  zoltsh::testing::LogCapture log;
  try {
    tfm.GetTmpFilePath("sh_tmp", ".png");
    FAIL() << "no exception";
  } catch (const zoltsh::ZoltError& e) {
    EXPECT_EQ(1000, e.code);
    EXPECT_STREQ("Failed to get tmp file", e.what());
  }
  EXPECT_TRUE(AnyLine(log, "Failed [!ZOLTSHFindTmpStorage(strStorage)]"));

  // A storage the caller cannot write to fails at the creation.
  fs::create_directories(tmp_);
  ::chmod(tmp_.c_str(), 0755);
  if (geteuid() != 0) GTEST_SKIP();
  IF_RUN_AS(kUser, kUser) { EXPECT_THROW(tfm.GetTmpFilePath("sh_tmp", ".png"), zoltsh::ZoltError); }
  EXPECT_TRUE(AnyLine(log, "Failed [0 > fdTemp]"));
}

TEST_F(FileTest, TmpFileBelongsToTheIdentityThatWritesIt) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root";
  zoltsh::utils::TmpFileManager tfm;
  std::string mine, forRoot;
  IF_RUN_AS(kUser, kUser) {
    mine = tfm.GetTmpFilePath("user", ".txt");
    forRoot = tfm.GetTmpFilePath("root", ".png", zoltsh::utils::TmpFileOwner::kRoot);
    EXPECT_EQ(kUser, geteuid());
  }
  struct stat st;
  ASSERT_EQ(0, ::lstat(mine.c_str(), &st));
  EXPECT_EQ(kUser, st.st_uid);
  ASSERT_EQ(0, ::lstat(forRoot.c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ(0600u, st.st_mode & 07777);
  // The user cannot open root's file to swap its content.
  IF_RUN_AS(kUser, kUser) {
    EXPECT_THROW(zoltsh::utils::FileHandle(forRoot, "wb"), zoltsh::ZoltError);
  }
  tfm.Release();  // as root, whoever made them
  EXPECT_FALSE(fs::exists(mine));
  EXPECT_FALSE(fs::exists(forRoot));
}

TEST_F(FileTest, WriterNeverFollowsALinkPlantedAtATmpPath) {
  const std::string victim = root_.path("etc/shadow");
  WriteFile(victim, "secret");
  zoltsh::utils::TmpFileManager tfm;
  const std::string path = tfm.GetTmpFilePath("sh_tmp", ".encrypt");

  struct Plant {
    const char* name;
    int (*make)(const char* target, const char* path);
  };
  const Plant plants[] = {{"symbolic link", ::symlink}, {"hard link", ::link}};
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.name);
    for (const char* mode : {"w", "wb", "a", "r+", "w+"}) {
      SCOPED_TRACE(mode);
      fs::remove(path);
      ASSERT_EQ(0, plant.make(victim.c_str(), path.c_str()));
      EXPECT_THROW(zoltsh::utils::FileHandle(path, mode), zoltsh::ZoltError);
      EXPECT_EQ("secret", ReadFile(victim));
    }
  }
}

TEST_F(FileTest, FileHandleOpensWritesAndCloses) {
  const std::string path = tmp_ + "/f.txt";
  {
    zoltsh::utils::FileHandle fh(path, "wb");
    ASSERT_TRUE(fh);
    fputs("hello world", fh.get());
  }
  EXPECT_EQ("hello world", ReadFile(path));
  {
    zoltsh::utils::FileHandle fh(path, "w");  // truncates
    fputs("hi", fh.get());
  }
  EXPECT_EQ("hi", ReadFile(path));
  {
    zoltsh::utils::FileHandle fh;
    EXPECT_FALSE(fh);
    fh.open(path, "a");
    fputs("!", fh.get());
    EXPECT_EQ(0, fh.close());
    EXPECT_FALSE(fh);
  }
  EXPECT_EQ("hi!", ReadFile(path));
  {
    zoltsh::utils::FileHandle fh(path, "rb");
    char buf[8] = {};
    EXPECT_EQ(3u, fread(buf, 1, sizeof(buf), fh.get()));
  }
  struct Bad {
    std::string path;
    const char* mode;
  };
  const Bad bad[] = {{tmp_ + "/missing", "r"}, {path, "wx"}, {tmp_, "r"}, {path, "q"}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.path + " " + b.mode);
    try {
      zoltsh::utils::FileHandle fh(b.path, b.mode);
      ADD_FAILURE() << "opened";
    } catch (const zoltsh::ZoltError& e) {
      EXPECT_EQ(1000, e.code);
      EXPECT_STREQ("Failed to open file", e.what());
    }
  }
}

TEST_F(FileTest, CopyFileCopiesAsRootAndReplacesALinkedDestination) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root";
  const std::string from = tmp_ + "/from.jpg";
  const std::string to = tmp_ + "/to.jpg";
  WriteFile(from, "image bytes");
  // Done as root even for a user.
  IF_RUN_AS(kUser, kUser) { zoltsh::utils::CopyFile(from, to); }
  EXPECT_EQ("image bytes", ReadFile(to));

  const std::string victim = root_.path("etc/shadow");
  WriteFile(victim, "secret");
  fs::remove(to);
  ASSERT_EQ(0, ::symlink(victim.c_str(), to.c_str()));
  zoltsh::utils::CopyFile(from, to);
  EXPECT_EQ("secret", ReadFile(victim));
  EXPECT_FALSE(fs::is_symlink(to));
  EXPECT_EQ("image bytes", ReadFile(to));

  // Same path: nothing runs (a copy of a missing file would fail).
  EXPECT_NO_THROW(zoltsh::utils::CopyFile(tmp_ + "/missing", tmp_ + "/missing"));
  try {
    zoltsh::utils::CopyFile(tmp_ + "/missing", to);
    FAIL() << "no exception";
  } catch (const zoltsh::ZoltError& e) {
    EXPECT_EQ(1000, e.code);
    EXPECT_STREQ("Failed to adjust file orient", e.what());
  }
  // Names that look like options are paths.
  const std::string dashed = tmp_ + "/-r";
  zoltsh::utils::CopyFile(from, dashed);
  EXPECT_EQ("image bytes", ReadFile(dashed));
}

TEST_F(FileTest, ChdirGuardEntersStorageAndReturns) {
  const fs::path before = fs::current_path();
  {
    ZOLT_SH_CHDIR chdir;
    EXPECT_EQ(fs::canonical(tmp_), fs::current_path());
  }
  EXPECT_EQ(before, fs::current_path());
  fs::remove(tmp_);
  {
    ZOLT_SH_CHDIR chdir;  // no storage: nothing changes
    EXPECT_EQ(before, fs::current_path());
  }
  EXPECT_EQ(before, fs::current_path());
}

TEST_F(FileTest, ConfigReaderReadsKeyValueLines) {
  const std::string conf = root_.path("etc.defaults/zoltinfo.conf");
  WriteFile(conf,
            "# comment plugbay=\"yes\"\n\n"
            "unique=\"zs_x86\"\n"
            "  spaced  =  plain value  \n"
            "plugbay=\"no\"\n"
            "plugbay=\"yes\"\n"
            "empty=\"\"\n"
            "broken line\n");
  struct Case {
    const char* key;
    bool found;
    const char* value;
  };
  const Case cases[] = {{"unique", true, "zs_x86"},      {"spaced", true, "plain value"},
                        {"plugbay", true, "yes"},        {"empty", true, ""},
                        {"broken line", false, ""},      {"missing", false, ""},
                        {"# comment plugbay", false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::string value;
    EXPECT_EQ(c.found, ZOLTConfigGetKeyValue(conf, c.key, &value));
    if (c.found) {
      EXPECT_EQ(c.value, value);
    }
  }
  EXPECT_TRUE(ZOLTConfigKeyValueIs(conf, "plugbay", "yes"));
  EXPECT_FALSE(ZOLTConfigKeyValueIs(conf, "plugbay", "no"));
  EXPECT_FALSE(ZOLTConfigKeyValueIs(root_.path("missing.conf"), "plugbay", "yes"));
}

TEST_F(FileTest, ProcessRunnerRunsArgumentsLiterally) {
  struct Case {
    std::vector<std::string> argv;
    int result;
    int status;
  };
  const Case cases[] = {
      {{"/bin/true"}, 0, 0},  {{"/bin/false"}, -1, 1}, {{"/no/such/program"}, -1, -1},
      {{"bin/true"}, -1, -1},  // no PATH search, no relative programs
      {{}, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv.empty() ? "(empty)" : c.argv[0]);
    int status = 99;
    EXPECT_EQ(c.result, ZOLTExecWait(c.argv, &status));
    EXPECT_EQ(c.status, status);
  }
  // No shell sees the arguments: the metacharacters end up in a file name.
  const std::string from = tmp_ + "/src";
  const std::string odd = tmp_ + "/x; touch pwned $(touch pwned) `touch pwned`";
  WriteFile(from, "data");
  EXPECT_EQ(0, ZOLTExecWait({"/bin/cp", from, odd}));
  EXPECT_EQ("data", ReadFile(odd));
  EXPECT_FALSE(fs::exists("pwned"));
}

}  // namespace
