// The split when the system fails it: every file call made to fail in turn,
// a full disk, a file size limit, and signals that end the run. Whatever
// happens, the image keeps its full content, no "logo_temp.bin" is left, and
// the run does not report success.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

// Large enough that the body takes several reads and writes.
const std::string kImageContent = sample_bytes(3 * COPY_BUFFER_SIZE + 100);
const std::string kHeaderContent = kImageContent.substr(0, LOGO_HEADER_SIZE);

class SplitFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir.path(kImage), kImageContent); }

  Outcome split(const RunOptions& options) {
    return dir.run(PARSE_LOGO_BIN_TOOL, options);
  }

  // The image is whole and no temporary file is left; the header file is
  // whatever the failure left of it.
  void expect_image_intact() {
    Snapshot files = snapshot(dir.work());
    EXPECT_EQ(files[kImage], kImageContent);
    EXPECT_EQ(files.count(kTemp), 0u);
  }

  ScratchDir dir;
};

enum class HeaderFile { kAbsent, kWritten, kUnknown };

struct FailedCall {
  const char* name;
  Fault fault;
  std::string out;
  std::string err;
  HeaderFile header;
};

const FailedCall kFailedCalls[] = {
    {"ReadingTheHeader",
     {"read", kImage, 0, "EIO"},
     kBegin,
     "I couldn't read the file \"logo_no_compressed.bin\": Input/output "
     "error\r\n",
     HeaderFile::kAbsent},
    {"OpeningTheHeaderFile",
     {"open", kHeader, 0, "EACCES"},
     kBegin,
     "I couldn't open the file \"logo_no_compressed_header.bin\"\n",
     HeaderFile::kAbsent},
    {"WritingTheHeaderFile",
     {"write", kHeader, 0, "ENOSPC"},
     kBegin,
     "I couldn't write the file \"logo_no_compressed_header.bin\": No space "
     "left on device\r\n",
     HeaderFile::kUnknown},
    {"FlushingTheHeaderFile",
     {"fsync", kHeader, 0, "EIO"},
     kBegin,
     "I couldn't write the file \"logo_no_compressed_header.bin\": "
     "Input/output error\r\n",
     HeaderFile::kUnknown},
    {"ClosingTheHeaderFile",
     {"close", kHeader, 0, "EIO"},
     kBegin,
     "I couldn't write the file \"logo_no_compressed_header.bin\": "
     "Input/output error\r\n",
     HeaderFile::kUnknown},
    {"ReopeningTheImage",
     {"open", kImage, 1, "EACCES"},
     kBegin + "Open the file failure...\r\n",
     "",
     HeaderFile::kWritten},
    {"CreatingTheTempFile",
     {"open", kTemp, 0, "EACCES"},
     kBegin + "Open the file failure...\r\n",
     "",
     HeaderFile::kWritten},
    {"SeekingPastTheHeader",
     {"lseek", kImage, 0, "EIO"},
     kBegin,
     "I couldn't read the file \"logo_no_compressed.bin\": Input/output "
     "error\r\n",
     HeaderFile::kWritten},
    {"ReadingTheBody",
     {"read", kImage, 1, "EIO"},
     kBegin,
     "I couldn't read the file \"logo_no_compressed.bin\": Input/output "
     "error\r\n",
     HeaderFile::kWritten},
    {"ReadingTheBodyHalfway",
     {"read", kImage, 3, "EIO"},
     kBegin,
     "I couldn't read the file \"logo_no_compressed.bin\": Input/output "
     "error\r\n",
     HeaderFile::kWritten},
    {"WritingTheBody",
     {"write", kTemp, 0, "ENOSPC"},
     kBegin,
     "I couldn't write the file \"logo_temp.bin\": No space left on "
     "device\r\n",
     HeaderFile::kWritten},
    {"WritingTheBodyHalfway",
     {"write", kTemp, 2, "EFBIG"},
     kBegin,
     "I couldn't write the file \"logo_temp.bin\": File too large\r\n",
     HeaderFile::kWritten},
    {"FlushingTheBody",
     {"fsync", kTemp, 0, "EIO"},
     kBegin,
     "I couldn't write the file \"logo_temp.bin\": Input/output error\r\n",
     HeaderFile::kWritten},
    {"ClosingTheBody",
     {"close", kTemp, 0, "EIO"},
     kBegin,
     "I couldn't write the file \"logo_temp.bin\": Input/output error\r\n",
     HeaderFile::kWritten},
    {"ReplacingTheImage",
     {"rename", kTemp, 0, "EXDEV"},
     kBegin,
     "I couldn't replace the file \"logo_no_compressed.bin\": Invalid "
     "cross-device link\r\n",
     HeaderFile::kWritten},
};

void PrintTo(const FailedCall& failure, std::ostream* os) {
  *os << failure.name;
}

class FailedCallTest : public SplitFaultTest,
                       public ::testing::WithParamInterface<FailedCall> {};

TEST_P(FailedCallTest, KeepsTheImage) {
  const FailedCall& failure = GetParam();
  RunOptions options;
  options.faults = {failure.fault};
  EXPECT_EQ(split(options), exited(1, failure.out, failure.err));
  expect_image_intact();
  bool header_exists = std::filesystem::exists(dir.path(kHeader));
  if (failure.header == HeaderFile::kAbsent) {
    EXPECT_FALSE(header_exists);
  } else if (failure.header == HeaderFile::kWritten) {
    EXPECT_EQ(read_file(dir.path(kHeader)), kHeaderContent);
  }
}

INSTANTIATE_TEST_SUITE_P(FileCalls, FailedCallTest,
                         ::testing::ValuesIn(kFailedCalls),
                         [](const auto& info) { return info.param.name; });

TEST_F(SplitFaultTest, FileSizeLimitStopsTheRewrite) {
  RunOptions options;
  options.file_size_limit = COPY_BUFFER_SIZE;
  EXPECT_EQ(split(options),
            exited(1, kBegin,
                   "I couldn't write the file \"logo_temp.bin\": File too "
                   "large\r\n"));
  expect_image_intact();
  EXPECT_EQ(read_file(dir.path(kHeader)), kHeaderContent);
}

// A disk that fills up while the body is written.
TEST(SplitFullDiskTest, FullDiskStopsTheRewrite) {
  ScratchDir dir;
  if (!dir.mount_tmpfs("1m"))
    GTEST_SKIP() << "needs the right to mount a tmpfs";
  // Room for the image, not for a second copy of it.
  const std::string image = sample_bytes(600 * 1024);
  write_file(dir.path(kImage), image);
  EXPECT_EQ(dir.run(PARSE_LOGO_BIN_TOOL),
            exited(1, kBegin,
                   "I couldn't write the file \"logo_temp.bin\": No space "
                   "left on device\r\n"));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image},
                      {kHeader, image.substr(0, LOGO_HEADER_SIZE)}}));
}

class InterruptTest : public SplitFaultTest,
                      public ::testing::WithParamInterface<int> {};

TEST_P(InterruptTest, RemovesTheTempFileAndEndsAsTheSignalWould) {
  RunOptions options;
  options.faults = {{"write", kTemp, 1, "", GetParam()}};
  EXPECT_EQ(split(options), killed_by(GetParam(), kBegin));
  expect_image_intact();
  EXPECT_EQ(read_file(dir.path(kHeader)), kHeaderContent);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

TEST_F(SplitFaultTest, IgnoredHangupDoesNotStopTheRun) {
  RunOptions options;
  options.faults = {{"write", kTemp, 1, "", SIGHUP}};
  options.ignored_signals = {SIGHUP};
  EXPECT_EQ(split(options), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kHeader, kHeaderContent},
                      {kImage, kImageContent.substr(LOGO_HEADER_SIZE)}}));
}

}  // namespace
}  // namespace parse_logo_bin::testing
