// SPDX-License-Identifier: Apache-2.0
#include "package/work_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>

#include "package/dat_file_examine.h"
#include "package/work_folder.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::vector<uint8_t> kData = {'n', 'e', 'w'};

bool Write(const std::string& path) {
  return WriteWorkFile(path, kData.data(), kData.size());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Plants a FIFO at `path` and runs `open` on it on another thread: true when that refuses it at
// once. A hang is ended by opening the other end, so the test reports it instead of stalling.
bool RefusedPromptly(const std::function<bool(const std::string&)>& open, const std::string& path) {
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto future = std::async(std::launch::async, open, path);
  const bool prompt = future.wait_for(10s) == std::future_status::ready;
  if (!prompt) ::close(::open(path.c_str(), O_RDWR | O_NONBLOCK));
  return !future.get() && prompt;
}

TEST(WorkFileTest, NewAndOwnFilesAreWrittenPrivately) {
  testing::TempDir dir;
  const std::string fresh = dir.File("TEMP1.BIN");
  const mode_t oldMask = ::umask(0);
  EXPECT_TRUE(Write(fresh));
  ::umask(oldMask);
  EXPECT_EQ(ModeOf(fresh), 0600u);
  EXPECT_EQ(testing::ReadBytes(fresh), kData);

  const std::string own = dir.File("TEMP1.INI");
  ASSERT_TRUE(testing::WriteText(own, "a much longer earlier content"));
  ASSERT_EQ(::chmod(own.c_str(), 0666), 0);
  EXPECT_TRUE(Write(own));
  EXPECT_EQ(ModeOf(own), 0600u);
  EXPECT_EQ(testing::ReadBytes(own), kData);  // truncated, not overlaid
}

// Guards the planted-file attacks in a shared folder: nothing may be written through a link,
// into another user's file or into something that is not a plain file.
TEST(WorkFileTest, PlantedPathsAreRefusedAndTheirTargetsKept) {
  testing::TempDir dir;
  const std::string target = dir.File("victim");
  ASSERT_TRUE(testing::WriteText(target, "keep"));
  fs::create_symlink(target, dir.File("symlink"));
  fs::create_symlink(dir.File("nowhere"), dir.File("dangling"));
  fs::create_hard_link(target, dir.File("hardlink"));
  fs::create_directory(dir.File("folder"));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const char* name : {"symlink", "dangling", "hardlink", "folder", "fifo"}) {
    EXPECT_FALSE(Write(dir.File(name))) << name;
  }
  EXPECT_EQ(testing::ReadBytes(target), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

TEST(WorkFileTest, AnotherUsersFileIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "making another user's file needs root";
  testing::TempDir dir;
  const std::string foreign = dir.File("TEMP1.BIN");
  ASSERT_TRUE(testing::WriteText(foreign, "theirs"));
  ASSERT_EQ(::chmod(foreign.c_str(), 0666), 0);
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(Write(foreign));
  EXPECT_EQ(testing::ReadBytes(foreign).size(), 6u);
  EXPECT_EQ(ModeOf(foreign), 0666u);
}

// Guards against reporting success for a cut work file when the disk is full.
TEST(WorkFileTest, AFailedWriteFailsTheWrite) {
  testing::TempDir dir;
  const std::vector<uint8_t> big(64 * 1024, 0x5A);
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteWorkFile(dir.File("TEMP1.BIN"), big.data(), big.size());
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
}

TEST(WorkFileTest, AFifoAnswersPromptly) {
  testing::TempDir dir;
  DatFileExamine datFile(dir.path().string());
  const auto read = [&datFile](const std::string& path) { return datFile.ReadFile(path); };
  EXPECT_TRUE(RefusedPromptly(read, dir.File("x.dat")));
  EXPECT_TRUE(RefusedPromptly(Write, dir.File("TEMP1.INI")));
}

// Guards against work files in a folder other processes can reach, and against leaving them.
TEST(WorkFileTest, EachProcessGetsAPrivateFolderRemovedWithItsFiles) {
  testing::TempDir dir;
  std::string made;
  {
    const PrivateWorkFolder folder(dir.path().string());
    ASSERT_TRUE(folder.Made());
    made = folder.Path();
    EXPECT_EQ(fs::path(made).parent_path(), dir.path());
    EXPECT_EQ(ModeOf(made), 0700u);
    EXPECT_NE(PrivateWorkFolder(dir.path().string()).Path(), made);
    EXPECT_TRUE(Write(made + "/TEMP1.INI"));
  }
  EXPECT_FALSE(fs::exists(made));
  const PrivateWorkFolder unmade(dir.File("missing"));
  EXPECT_FALSE(unmade.Made());
  EXPECT_EQ(unmade.Path(), dir.File("missing"));
}

// Guards against the firmware a killed run unpacked staying for ever: a new run removes this
// user's work folders whose owner is gone, never a live one, another user's or an unmarked one.
TEST(WorkFileTest, ANewRunRemovesOnlyThisUsersFoldersWhoseOwnerIsGone) {
  testing::TempDir dir;
  const auto plant = [&dir](const std::string& name, bool marked) {
    const std::string folder = dir.File(name);
    EXPECT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_TRUE(Write(folder + "/TEMP1.BIN"));
    if (marked) {
      EXPECT_TRUE(testing::WriteText(folder + "/" + kWorkFolderMarker, ""));
    }
    return folder;
  };
  const std::string gone = plant("vortan-gone01", true), unmarked = plant("vortan-old001", false);
  const std::string theirs = plant("vortan-them01", true), alien = plant("other-gone01", true);
  const bool planted = ::chown(theirs.c_str(), 65534, 65534) == 0 &&
                       ::chown((theirs + "/" + kWorkFolderMarker).c_str(), 65534, 65534) == 0;
  const PrivateWorkFolder live(dir.path().string());
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_EQ(fs::exists(theirs), planted);
  EXPECT_TRUE(fs::exists(unmarked));
  EXPECT_TRUE(fs::exists(alien));
  ASSERT_TRUE(fs::exists(live.Path() + "/" + kWorkFolderMarker));
  EXPECT_EQ(RemoveStaleWorkFolders(dir.path().string()), 0) << "the live folder is kept";
  EXPECT_TRUE(fs::exists(live.Path()));
}

}  // namespace
}  // namespace vortan
