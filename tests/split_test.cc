// The tool as a user runs it: the split of the image in the working
// directory, its refusals, and what it does with files left by earlier runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "core.h"
#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

class SplitTest : public ::testing::Test {
 protected:
  Outcome split(const RunOptions& options = {}) {
    return dir.run(PARSE_LOGO_BIN_TOOL, options);
  }
  void write(const std::string& name, const std::string& content) {
    write_file(dir.path(name), content);
  }
  ScratchDir dir;
};

class SplitSizeTest : public SplitTest,
                      public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SplitSizeTest, LeavesHeaderFileAndBody) {
  const std::string image = sample_bytes(GetParam());
  write(kImage, image);
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image));
}

INSTANTIATE_TEST_SUITE_P(ImageSizes, SplitSizeTest,
                         ::testing::Values(LOGO_HEADER_SIZE,
                                           LOGO_HEADER_SIZE + 1, 4096,
                                           LOGO_HEADER_SIZE + COPY_BUFFER_SIZE,
                                           3 * COPY_BUFFER_SIZE + 7));

TEST_F(SplitTest, IgnoresArguments) {
  const std::string image = sample_bytes(1000);
  write(kImage, image);
  RunOptions options;
  options.args = {"--help", "other.bin", kHeader};
  EXPECT_EQ(split(options), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image));
}

TEST_F(SplitTest, SecondRunTakesTheNextSixteenBytes) {
  const std::string image = sample_bytes(100);
  write(kImage, image);
  ASSERT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image.substr(LOGO_HEADER_SIZE)));
}

TEST_F(SplitTest, OverwritesAnExistingHeaderFile) {
  const std::string image = sample_bytes(100);
  write(kImage, image);
  write(kHeader, std::string(1000, 'h'));
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image));
}

TEST_F(SplitTest, ReplacesATempFileLeftByAnInterruptedRun) {
  const std::string image = sample_bytes(100);
  write(kImage, image);
  write(kTemp, std::string(5000, 't'));
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image));
}

TEST_F(SplitTest, NeverWritesThroughALinkPlantedAsTheTempFile) {
  SKIP_UNLESS_LINUX("symbolic links");
  const std::string image = sample_bytes(100);
  const std::string victim = "precious data\n";
  write(kImage, image);
  write("victim", victim);
  std::filesystem::create_symlink("victim", dir.path(kTemp));
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  Snapshot expected = split_of(image);
  expected["victim"] = victim;
  EXPECT_EQ(snapshot(dir.work()), expected);
}

// While another program works in the directory (here this one, holding the
// lock as a run or merge holds it), the tool waits, then does its work.
TEST_F(SplitTest, WaitsForTheProgramThatHoldsTheDirectory) {
  const std::string image = sample_bytes(100);
  write(kImage, image);
  std::optional<Process> run;
  {
    DirectoryLockHolder lock(dir.path(kImage));
    run.emplace(dir.start(PARSE_LOGO_BIN_TOOL));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(run->has_ended());
    EXPECT_EQ(read_file(dir.path(kImage)), image);
  }
  EXPECT_EQ(run->wait(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(image));
}

// The header file is rewritten where it is: a link there keeps pointing at
// the file that receives the header.
TEST_F(SplitTest, HeaderFileThatIsALinkStaysALink) {
  SKIP_UNLESS_LINUX("symbolic links");
  const std::string image = sample_bytes(100);
  write(kImage, image);
  write("headers.bin", std::string(40, 'h'));
  std::filesystem::create_symlink("headers.bin", dir.path(kHeader));
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image.substr(LOGO_HEADER_SIZE)},
                      {kHeader, "<symlink to headers.bin>"},
                      {"headers.bin", image.substr(0, LOGO_HEADER_SIZE)}}));
}

TEST_F(SplitTest, BodyKeepsThePermissionsOfTheImage) {
  SKIP_UNLESS_LINUX("permission bits");
  write(kImage, sample_bytes(100));
  ASSERT_EQ(chmod(dir.path(kImage).c_str(), 0604), 0);
  EXPECT_EQ(split(), exited(0, kBegin + kEnd));
  struct stat status;
  ASSERT_EQ(stat(dir.path(kImage).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
}

TEST_F(SplitTest, TempFileThatCannotBeCreatedStopsBeforeTheImageChanges) {
  const std::string image = sample_bytes(100);
  write(kImage, image);
  std::filesystem::create_directories(dir.path(kTemp + "/inside"));
  EXPECT_EQ(split(), exited(1, kBegin + "Open the file failure...\r\n"));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, image},
                      {kHeader, image.substr(0, LOGO_HEADER_SIZE)},
                      {kTemp, "<directory>"},
                      {kTemp + "/inside", "<directory>"}}));
}

// A run that is refused leaves every file as it was.
struct Refusal {
  const char* name;
  void (*prepare)(ScratchDir& dir);
  bool unprivileged;
  std::string err;
  const char* needs_linux = nullptr;  // what only Linux has here
};

const std::string kCantOpenImage =
    "I couldn't open the file \"logo_no_compressed.bin\"\r\n";
const std::string kCantOpenHeader =
    "I couldn't open the file \"logo_no_compressed_header.bin\"\n";
const std::string kNotRegular =
    "The file \"logo_no_compressed.bin\" is not a regular file\r\n";
const std::string kTooShort =
    "The file \"logo_no_compressed.bin\" is shorter than its 16-byte "
    "header\r\n";

void image_of(ScratchDir& dir, std::size_t size) {
  write_file(dir.path(kImage), sample_bytes(size));
  write_file(dir.path(kHeader), "an earlier header");
}

const Refusal kRefusals[] = {
    {"MissingImage", [](ScratchDir&) {}, false, kCantOpenImage},
    {"ImageIsADirectory",
     [](ScratchDir& dir) {
       std::filesystem::create_directory(dir.path(kImage));
     },
     false, kCantOpenImage},
    {"ReadOnlyImage",
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), sample_bytes(100));
       chmod(dir.path(kImage).c_str(), 0444);
       chmod(dir.work().c_str(), 0777);
     },
     true, kCantOpenImage},
    {"HeaderFileIsADirectory",
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), sample_bytes(100));
       std::filesystem::create_directory(dir.path(kHeader));
     },
     false, kCantOpenHeader},
    {"HeaderFileCannotBeCreated",
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), sample_bytes(100));
       chmod(dir.path(kImage).c_str(), 0666);
       chmod(dir.work().c_str(), 0555);
     },
     true, kCantOpenHeader},
    {"ImageIsAFifo", [](ScratchDir& dir) { make_fifo(dir.path(kImage)); },
     false, kNotRegular, "FIFOs"},
    {"ImageLinksToADevice",
     [](ScratchDir& dir) {
       std::filesystem::create_symlink("/dev/zero", dir.path(kImage));
     },
     false, kNotRegular, "devices"},
    {"HeaderFileIsAFifo",
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), sample_bytes(100));
       make_fifo(dir.path(kHeader));
     },
     false, kCantOpenHeader, "FIFOs"},
    {"HeaderFileIsTheImage",
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), sample_bytes(100));
       std::filesystem::create_symlink(kImage, dir.path(kHeader));
     },
     false,
     "The files \"logo_no_compressed.bin\" and "
     "\"logo_no_compressed_header.bin\" are the same file\r\n",
     "symbolic links"},
    {"EmptyImage", [](ScratchDir& dir) { image_of(dir, 0); }, false, kTooShort},
    {"OneByteImage", [](ScratchDir& dir) { image_of(dir, 1); }, false,
     kTooShort},
    {"ImageOneByteShortOfItsHeader",
     [](ScratchDir& dir) { image_of(dir, LOGO_HEADER_SIZE - 1); }, false,
     kTooShort},
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class RefusalTest : public SplitTest,
                    public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, ChangesNoFile) {
  if (GetParam().needs_linux) SKIP_UNLESS_LINUX(GetParam().needs_linux);
  if (GetParam().unprivileged) SKIP_UNLESS_LINUX("setpriv");
  GetParam().prepare(dir);
  const Snapshot before = snapshot(dir.work());
  RunOptions options;
  options.unprivileged = GetParam().unprivileged;
  EXPECT_EQ(split(options), exited(1, kBegin, GetParam().err));
  EXPECT_EQ(snapshot(dir.work()), before);
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace parse_logo_bin::testing
