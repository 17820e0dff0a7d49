// rebuild_logo_image as a user runs it after the tool: the image comes back
// byte for byte; a rebuild that cannot be done says why and changes nothing.
#include <gtest/gtest.h>

#include <string>

#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

const std::string kNotices =
    "merge file0_name:" + kHeader + "merge file1_name:" + kImage;

class RebuildTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  ScratchDir dir;
};

TEST_P(RebuildTest, UndoesTheSplit) {
  const std::string image = sample_bytes(GetParam());
  write_file(dir.path(kImage), image);
  ASSERT_EQ(dir.run(PARSE_LOGO_BIN_TOOL).exit_code, 0);
  RunOptions options;
  options.args = {"--ignored", kHeader};
  EXPECT_EQ(dir.run(REBUILD_LOGO_IMAGE, options), exited(0, kNotices + "\n"));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{kImage, image}}));
}

INSTANTIATE_TEST_SUITE_P(ImageSizes, RebuildTest,
                         ::testing::Values(LOGO_HEADER_SIZE,
                                           3 * COPY_BUFFER_SIZE + 7));

struct FailedRebuild {
  const char* name;
  Snapshot files;
  Outcome outcome;
};

const FailedRebuild kFailedRebuilds[] = {
    {"NoHeaderFile",
     {{kImage, "body"}},
     exited(1, "fopen logo_no_compressed_header.bin failed\r\n")},
    {"NoBody",
     {{kHeader, "0123456789abcdef"}},
     exited(1, "merge file0_name:" + kHeader +
                   "fopen logo_no_compressed.bin failed\r\n")},
    {"BodyIsADirectory",
     {{kHeader, "0123456789abcdef"}, {kImage, "<directory>"}},
     exited(1, "merge file0_name:" + kHeader +
                   "fopen logo_no_compressed.bin failed\r\n")},
};

void PrintTo(const FailedRebuild& failure, std::ostream* os) {
  *os << failure.name;
}

class FailedRebuildTest : public ::testing::TestWithParam<FailedRebuild> {
 protected:
  ScratchDir dir;
};

TEST_P(FailedRebuildTest, ChangesNothing) {
  for (const auto& [name, content] : GetParam().files) {
    if (content == "<directory>")
      std::filesystem::create_directory(dir.path(name));
    else
      write_file(dir.path(name), content);
  }
  EXPECT_EQ(dir.run(REBUILD_LOGO_IMAGE), GetParam().outcome);
  EXPECT_EQ(snapshot(dir.work()), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedRebuildTest,
                         ::testing::ValuesIn(kFailedRebuilds),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace parse_logo_bin::testing
