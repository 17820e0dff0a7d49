// Power cuts. A small ext4 or XFS file system in a file is loop-mounted over
// the scratch directory (in a mount namespace of the test's own), a split or
// a merge runs on it, and the file system is shut down as a power cut leaves
// it, at moments spread over the run and right after it reported success:
// with the journal written out but no data written back (flag 1), or with
// nothing more reaching the disk at all (flag 2). Mounted again, the files
// must be as they were before the run or the finished result, and after a
// reported success, the finished result.
//
// Needs root, loop devices and mkfs.ext4 / mkfs.xfs; skips without them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {
namespace fs = std::filesystem;

// The shutdown ioctl of XFS, which ext4 shares.
constexpr unsigned long kShutdown = _IOR('X', 125, std::uint32_t);
constexpr std::uint32_t kJournalOnly = 1;  // the journal, not the data
constexpr std::uint32_t kNothingMore = 2;  // nothing more reaches the disk

// Tens of MiB, so that the run takes long enough to be cut in the middle.
const std::string kImageContent = sample_bytes(24 << 20);
const std::string kOldHeader = "an older header!";

struct FileSystem {
  const char* type;
  const char* mkfs;
  const char* force;  // mkfs's option to write over a file
  const char* size;
};
const FileSystem kExt4{"ext4", "mkfs.ext4", "-F", "128M"};
const FileSystem kXfs{"xfs", "mkfs.xfs", "-f", "320M"};  // its smallest

enum class Operation { kSplit, kMerge };

struct Case {
  FileSystem file_system;
  Operation operation;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.file_system.type
      << (c.operation == Operation::kSplit ? " split" : " merge");
}

std::string command_path(const std::string& name) {
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
    fs::path path = fs::path(dir) / name;
    if (fs::exists(path)) return path;
  }
  return "";
}

bool quietly(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

class PowerCutTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount file systems";
    const FileSystem& file_system = GetParam().file_system;
    std::string mkfs = command_path(file_system.mkfs);
    if (mkfs.empty()) GTEST_SKIP() << file_system.mkfs << " is not installed";
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      GTEST_SKIP() << "cannot make a mount namespace";
    disk_ = fs::path(dir.work()).parent_path() / "disk.img";
    if (!quietly("truncate -s " + std::string(file_system.size) + " " +
                 disk_.string()) ||
        !quietly(mkfs + " -q " + file_system.force + " " + disk_.string()))
      GTEST_SKIP() << file_system.mkfs << " failed";
    if (!mount_disk())
      GTEST_SKIP() << "cannot loop-mount " << file_system.type
                   << " (no loop device, or no kernel support)";
  }

  void TearDown() override {
    if (mounted_) umount2(dir.work().c_str(), MNT_DETACH);
  }

  bool mount_disk() {
    mounted_ = quietly("mount -t " + std::string(GetParam().file_system.type) +
                       " -o loop " + disk_.string() + " " + dir.work());
    return mounted_;
  }

  // Lays out the inputs and puts them on disk.
  void prepare() {
    for (const auto& entry : fs::directory_iterator(dir.work()))
      fs::remove_all(entry.path());
    if (GetParam().operation == Operation::kSplit) {
      write_file(dir.path(kImage), kImageContent);
      write_file(dir.path(kHeader), kOldHeader);
    } else {
      write_file(dir.path(kHeader), kImageContent.substr(0, LOGO_HEADER_SIZE));
      write_file(dir.path(kImage), kImageContent.substr(LOGO_HEADER_SIZE));
    }
    sync();
  }

  Process start() {
    if (GetParam().operation == Operation::kSplit)
      return dir.start(PARSE_LOGO_BIN_TOOL);
    RunOptions options;
    options.args = {kHeader, kImage};
    return dir.start(MERGE_FILES, options);
  }

  void cut_power(std::uint32_t how) {
    int fd = open(dir.work().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    std::uint32_t flag = how;
    ASSERT_EQ(ioctl(fd, kShutdown, &flag), 0) << "shutdown ioctl";
    close(fd);
  }

  // Unmounts the shut-down file system and mounts it again, as the next
  // boot would, and returns what it holds.
  Snapshot after_reboot() {
    umount2(dir.work().c_str(), 0);
    mounted_ = false;
    EXPECT_TRUE(mount_disk());
    Snapshot files = snapshot(dir.work());
    files.erase("lost+found");
    return files;
  }

  // Whether `files` is a state that the run may leave, and after a reported
  // success, the finished result.
  ::testing::AssertionResult acceptable(Snapshot files, bool succeeded) {
    const std::string header = kImageContent.substr(0, LOGO_HEADER_SIZE);
    const std::string body = kImageContent.substr(LOGO_HEADER_SIZE);
    bool finished, acceptable;
    if (GetParam().operation == Operation::kSplit) {
      // An interrupted run may leave its temporary file; the next run
      // removes it.
      bool temp_left = files.erase(kTemp) == 1;
      finished =
          !temp_left && files == Snapshot{{kImage, body}, {kHeader, header}};
      acceptable =
          finished ||
          files == Snapshot{{kImage, kImageContent}, {kHeader, kOldHeader}} ||
          files == Snapshot{{kImage, kImageContent}, {kHeader, header}};
    } else {
      bool temp_left = files.erase(kTemp) == 1;
      finished = !temp_left && files == Snapshot{{kImage, kImageContent}};
      acceptable =
          finished || files == Snapshot{{kImage, body}, {kHeader, header}} ||
          // The result was on disk, the removal of the header
          // file not yet.
          files == Snapshot{{kImage, kImageContent}, {kHeader, header}};
    }
    if (succeeded ? finished : acceptable) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure()
                   << (succeeded ? "not the finished result after success"
                                 : "neither the state before nor after")
                   << "; files:";
    for (const auto& [name, content] : files)
      failure << " " << name << " (" << content.size() << " bytes)";
    return failure;
  }

  ScratchDir dir;
  fs::path disk_;
  bool mounted_ = false;
};

TEST_P(PowerCutTest, LeavesTheFilesBeforeOrAfterTheRun) {
  for (std::uint32_t how : {kJournalOnly, kNothingMore}) {
    for (int delay_ms : {0, 2, 5, 10, 20, 40, 80, 160}) {
      SCOPED_TRACE("flag " + std::to_string(how) + ", cut after " +
                   std::to_string(delay_ms) + " ms");
      prepare();
      Process run = start();
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      cut_power(how);
      Outcome outcome = run.wait();
      EXPECT_TRUE(acceptable(after_reboot(), outcome.exit_code == 0));
    }
  }
}

TEST_P(PowerCutTest, SuccessReportedSurvivesACutRightAfter) {
  for (std::uint32_t how : {kJournalOnly, kNothingMore}) {
    SCOPED_TRACE("flag " + std::to_string(how));
    prepare();
    ASSERT_EQ(start().wait().exit_code, 0);
    cut_power(how);
    EXPECT_TRUE(acceptable(after_reboot(), true));
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, PowerCutTest,
                         ::testing::Values(Case{kExt4, Operation::kSplit},
                                           Case{kExt4, Operation::kMerge},
                                           Case{kXfs, Operation::kSplit},
                                           Case{kXfs, Operation::kMerge}),
                         [](const auto& info) {
                           return std::string(info.param.file_system.type) +
                                  (info.param.operation == Operation::kSplit
                                       ? "Split"
                                       : "Merge");
                         });

}  // namespace
}  // namespace parse_logo_bin::testing
