// merge() as a program that calls it sees it: the rebuilt image, the
// notices, and what is left when a file or the system fails it. A merge that
// fails leaves both inputs exactly as they were and no "logo_temp.bin".
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

const std::string kFirst = "first.bin";
const std::string kSecond = "second.bin";

std::string notice(int index, const std::string& name) {
  return "merge file" + std::to_string(index) + "_name:" + name;
}
const std::string kBothNotices = notice(0, kFirst) + notice(1, kSecond);

class MergeTest : public ::testing::Test {
 protected:
  Outcome merge(const std::string& first = kFirst,
                const std::string& second = kSecond, RunOptions options = {}) {
    options.args = {first, second};
    return dir.run(MERGE_FILES, options);
  }
  void write(const std::string& name, const std::string& content) {
    write_file(dir.path(name), content);
  }
  ScratchDir dir;
};

class RoundTripTest : public MergeTest,
                      public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RoundTripTest, MergingTheSplitGivesBackTheImage) {
  const std::string image = sample_bytes(GetParam());
  write(LOGO_IMAGE_FILE, image);
  ASSERT_EQ(dir.run(PARSE_LOGO_BIN_TOOL).exit_code, 0);
  EXPECT_EQ(
      merge(LOGO_HEADER_FILE, LOGO_IMAGE_FILE),
      exited(0, notice(0, LOGO_HEADER_FILE) + notice(1, LOGO_IMAGE_FILE)));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{LOGO_IMAGE_FILE, image}}));
}

INSTANTIATE_TEST_SUITE_P(ImageSizes, RoundTripTest,
                         ::testing::Values(LOGO_HEADER_SIZE,
                                           3 * COPY_BUFFER_SIZE + 7));

TEST_F(MergeTest, EmptyFirstFileLeavesTheSecondAsItWas) {
  write(kFirst, "");
  write(kSecond, "second");
  EXPECT_EQ(merge(), exited(0, kBothNotices));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{kSecond, "second"}}));
}

TEST_F(MergeTest, NeverWritesThroughALinkPlantedAsTheTempFile) {
  SKIP_UNLESS_LINUX("symbolic links");
  write(kFirst, "first,");
  write(kSecond, "second");
  write("victim", "precious");
  std::filesystem::create_symlink("victim", dir.path(kTemp));
  EXPECT_EQ(merge(), exited(0, kBothNotices));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kSecond, "first,second"}, {"victim", "precious"}}));
}

TEST_F(MergeTest, FirstFileThatCannotBeRemovedStaysBesideTheResult) {
  SKIP_UNLESS_LINUX("the fault preload");
  write(kFirst, "first,");
  write(kSecond, "second");
  RunOptions options;
  options.faults = {{"unlink", kFirst, 0, "EACCES"}};
  EXPECT_EQ(merge(kFirst, kSecond, options),
            exited(0, kBothNotices,
                   "I couldn't remove the file \"first.bin\": Permission "
                   "denied\r\n"));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kFirst, "first,"}, {kSecond, "first,second"}}));
}

// A merge that stops changes no file.
struct FailedMerge {
  const char* name;
  void (*prepare)(ScratchDir& dir);
  Fault fault;
  Outcome outcome;
  std::string first = kFirst;
  std::string second = kSecond;
  const char* needs_linux = nullptr;  // what only Linux has here
};

void both_inputs(ScratchDir& dir) {
  write_file(dir.path(kFirst), sample_bytes(100, 1));
  write_file(dir.path(kSecond), sample_bytes(3 * COPY_BUFFER_SIZE, 2));
}

const std::string kIoError = ": Input/output error\r\n";

const FailedMerge kFailedMerges[] = {
    {"MissingFirstFile",
     [](ScratchDir& dir) { write_file(dir.path(kSecond), "second"); },
     {},
     exited(1, "fopen first.bin failed\r\n")},
    {"MissingSecondFile",
     [](ScratchDir& dir) { write_file(dir.path(kFirst), "first"); },
     {},
     exited(1, notice(0, kFirst) + "fopen second.bin failed\r\n")},
    {"TempFileCannotBeCreated",
     [](ScratchDir& dir) {
       both_inputs(dir);
       std::filesystem::create_directories(dir.path(kTemp + "/inside"));
     },
     {},
     exited(1, "", "I couldn't open the file \"logo_temp.bin\"\n")},
    {"ReadingTheFirstFile",
     both_inputs,
     {"read", kFirst, 0, "EIO"},
     exited(1, notice(0, kFirst),
            "I couldn't read the file \"first.bin\"" + kIoError)},
    {"ReadingTheSecondFileHalfway",
     both_inputs,
     {"read", kSecond, 1, "EIO"},
     exited(1, kBothNotices,
            "I couldn't read the file \"second.bin\"" + kIoError)},
    {"WritingTheFirstFile",
     both_inputs,
     {"write", kTemp, 0, "ENOSPC"},
     exited(1, notice(0, kFirst),
            "I couldn't write the file \"logo_temp.bin\": No space left on "
            "device\r\n")},
    {"WritingTheSecondFileHalfway",
     both_inputs,
     {"write", kTemp, 2, "EFBIG"},
     exited(1, kBothNotices,
            "I couldn't write the file \"logo_temp.bin\": File too large\r\n")},
    {"FlushingTheResult",
     both_inputs,
     {"fsync", kTemp, 0, "EIO"},
     exited(1, kBothNotices,
            "I couldn't write the file \"logo_temp.bin\"" + kIoError)},
    {"ClosingTheResult",
     both_inputs,
     {"close", kTemp, 0, "EIO"},
     exited(1, kBothNotices,
            "I couldn't write the file \"logo_temp.bin\"" + kIoError)},
    {"ReplacingTheSecondFile",
     both_inputs,
     {"rename", kTemp, 0, "EACCES"},
     exited(1, kBothNotices,
            "I couldn't replace the file \"second.bin\": Permission "
            "denied\r\n")},
    {"Interrupted",
     both_inputs,
     {"write", kTemp, 1, "", SIGTERM},
     killed_by(SIGTERM, kBothNotices)},
    {"FirstFileIsAFifo",
     [](ScratchDir& dir) {
       make_fifo(dir.path(kFirst));
       write_file(dir.path(kSecond), "second");
     },
     {},
     exited(1, "", "The file \"first.bin\" is not a regular file\r\n"),
     kFirst,
     kSecond,
     "FIFOs"},
    {"SecondFileLinksToADevice",
     [](ScratchDir& dir) {
       write_file(dir.path(kFirst), "first");
       std::filesystem::create_symlink("/dev/zero", dir.path(kSecond));
     },
     {},
     exited(1, "", "The file \"second.bin\" is not a regular file\r\n"),
     kFirst,
     kSecond,
     "devices"},
    {"OneFileGivenTwice",
     [](ScratchDir& dir) { write_file(dir.path(kFirst), "first"); },
     {},
     exited(1, "",
            "The files \"first.bin\" and \"first.bin\" are the same "
            "file\r\n"),
     kFirst,
     kFirst},
    {"MissingFileGivenTwice",
     [](ScratchDir&) {},
     {},
     exited(1, "fopen first.bin failed\r\n"),
     kFirst,
     kFirst},
    {"HardLinksToOneFile",
     [](ScratchDir& dir) {
       write_file(dir.path(kFirst), "first");
       std::filesystem::create_hard_link(dir.path(kFirst), dir.path(kSecond));
     },
     {},
     exited(1, "",
            "The files \"first.bin\" and \"second.bin\" are the same "
            "file\r\n")},
    {"FirstFileNamedAsTheTempFile",
     [](ScratchDir& dir) {
       write_file(dir.path(kTemp), "first");
       write_file(dir.path(kSecond), "second");
     },
     {},
     exited(1, "",
            "The file \"logo_temp.bin\" has the name of the temporary "
            "file\r\n"),
     kTemp},
    {"SecondFileNamedAsTheTempFile",
     [](ScratchDir& dir) {
       write_file(dir.path(kFirst), "first");
       write_file(dir.path(kTemp), "second");
     },
     {},
     exited(1, "",
            "The file \"logo_temp.bin\" has the name of the temporary "
            "file\r\n"),
     kFirst,
     kTemp},
};

void PrintTo(const FailedMerge& failure, std::ostream* os) {
  *os << failure.name;
}

class FailedMergeTest : public MergeTest,
                        public ::testing::WithParamInterface<FailedMerge> {};

TEST_P(FailedMergeTest, KeepsBothInputs) {
  if (GetParam().needs_linux) SKIP_UNLESS_LINUX(GetParam().needs_linux);
  if (!GetParam().fault.call.empty()) SKIP_UNLESS_LINUX("the fault preload");
  GetParam().prepare(dir);
  const Snapshot before = snapshot(dir.work());
  RunOptions options;
  if (!GetParam().fault.call.empty()) options.faults = {GetParam().fault};
  EXPECT_EQ(merge(GetParam().first, GetParam().second, options),
            GetParam().outcome);
  EXPECT_EQ(snapshot(dir.work()), before);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedMergeTest,
                         ::testing::ValuesIn(kFailedMerges),
                         [](const auto& info) { return info.param.name; });

TEST_F(MergeTest, FullDiskKeepsBothInputs) {
  if (!dir.mount_tmpfs("1m"))
    GTEST_SKIP() << "needs the right to mount a tmpfs";
  // Room for the inputs, not for a copy of them.
  write(kFirst, sample_bytes(16));
  write(kSecond, sample_bytes(600 * 1024));
  const Snapshot before = snapshot(dir.work());
  EXPECT_EQ(merge(),
            exited(1, kBothNotices,
                   "I couldn't write the file \"logo_temp.bin\": No space "
                   "left on device\r\n"));
  EXPECT_EQ(snapshot(dir.work()), before);
}

}  // namespace
}  // namespace parse_logo_bin::testing
