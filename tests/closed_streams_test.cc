// Programs started with a standard stream closed (`>&-`, `2>&-`): a file
// opened then takes the lowest free descriptor, and a message meant for the
// closed stream must never land in it. The tool reopens the closed ones onto
// the null device; the library keeps its files off descriptors 0 to 2, since
// its callers may have closed them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

RunOptions closing(int fd) {
  RunOptions options;
  options.closed_descriptors = {fd};
  return options;
}

// The failure message goes to the closed standard error while the image is
// open: it must not be written into the image.
TEST(ClosedStreamsTest, FullDiskWithStandardErrorClosed) {
  ScratchDir dir;
  if (!dir.mount_tmpfs("1m"))
    GTEST_SKIP() << "needs the right to mount a tmpfs";
  const std::string image = sample_bytes(600 * 1024);
  write_file(dir.path(kImage), image);
  EXPECT_EQ(dir.run(PARSE_LOGO_BIN_TOOL, closing(STDERR_FILENO)),
            exited(1, "begin create logo header file\r\n"));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image},
                      {kHeader, image.substr(0, LOGO_HEADER_SIZE)}}));
}

// "Open the file failure..." goes to the closed standard output while the
// image is open.
TEST(ClosedStreamsTest, TempFileImpossibleWithStandardOutputClosed) {
  ScratchDir dir;
  const std::string image = sample_bytes(1000);
  write_file(dir.path(kImage), image);
  std::filesystem::create_directories(dir.path(kTemp + "/inside"));
  EXPECT_EQ(dir.run(PARSE_LOGO_BIN_TOOL, closing(STDOUT_FILENO)),
            exited(1, ""));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image},
                      {kHeader, image.substr(0, LOGO_HEADER_SIZE)},
                      {kTemp, "<directory>"},
                      {kTemp + "/inside", "<directory>"}}));
}

// merge's notices go to the closed standard output while its inputs and the
// temporary file are open; the library does not reopen anything.
TEST(ClosedStreamsTest, MergeWithStandardOutputClosed) {
  ScratchDir dir;
  write_file(dir.path("first.bin"), "first,");
  write_file(dir.path("second.bin"), "second");
  RunOptions options = closing(STDOUT_FILENO);
  options.args = {"first.bin", "second.bin"};
  EXPECT_EQ(dir.run(MERGE_FILES, options), exited(0, ""));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{"second.bin", "first,second"}}));
}

TEST(ClosedStreamsTest, SplitWithAllStandardStreamsClosed) {
  ScratchDir dir;
  const std::string image = sample_bytes(1000);
  write_file(dir.path(kImage), image);
  RunOptions options;
  options.closed_descriptors = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  EXPECT_EQ(dir.run(PARSE_LOGO_BIN_TOOL, options), exited(0, ""));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image.substr(LOGO_HEADER_SIZE)},
                      {kHeader, image.substr(0, LOGO_HEADER_SIZE)}}));
}

}  // namespace
}  // namespace parse_logo_bin::testing
