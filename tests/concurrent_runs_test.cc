// Runs and merges in one directory at the same time: the later one waits
// for the earlier, so together they do what they do one after the other. A
// run is stopped (SIGSTOP from the preload, at its first write of the body)
// so that the other one starts while it is surely in the middle of its work.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {

const std::string kImageContent = sample_bytes(3 * COPY_BUFFER_SIZE + 100);

class ConcurrentRunsTest : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir.path(kImage), kImageContent); }

  // Starts a split that stops itself halfway, holding the directory.
  Process start_stopped_split() {
    RunOptions options;
    options.faults = {{"write", kTemp, 0, "", SIGSTOP}};
    Process process = dir.start(PARSE_LOGO_BIN_TOOL, options);
    wait_until([&] { return std::filesystem::exists(dir.path(kTemp)); });
    return process;
  }

  template <typename Condition>
  static void wait_until(Condition condition) {
    for (int i = 0; i < 1000 && !condition(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(condition());
  }

  // Gives a waiting process time to do what it should not.
  static void let_it_run() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  ScratchDir dir;
};

TEST_F(ConcurrentRunsTest, TwoRunsAtOnceMakeTwoSplits) {
  Process first = start_stopped_split();
  Process second = dir.start(PARSE_LOGO_BIN_TOOL);
  let_it_run();
  EXPECT_FALSE(second.has_ended());
  first.signal(SIGCONT);
  EXPECT_EQ(first.wait(), exited(0, kBegin + kEnd));
  EXPECT_EQ(second.wait(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()),
            split_of(kImageContent.substr(LOGO_HEADER_SIZE)));
}

TEST_F(ConcurrentRunsTest, RunKilledWhileWaitingChangesNothing) {
  Process first = start_stopped_split();
  Process second = dir.start(PARSE_LOGO_BIN_TOOL);
  let_it_run();
  second.signal(SIGKILL);
  EXPECT_EQ(second.wait(), killed_by(SIGKILL, kBegin));
  first.signal(SIGCONT);
  EXPECT_EQ(first.wait(), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(kImageContent));
}

// A run killed halfway leaves the image whole, its header file written and
// its temporary file; the next run is not held up by it and redoes the split.
TEST_F(ConcurrentRunsTest, RunAfterAKilledRunRedoesTheSplit) {
  Process first = start_stopped_split();
  first.signal(SIGKILL);
  EXPECT_EQ(first.wait(), killed_by(SIGKILL, kBegin));
  Snapshot left = snapshot(dir.work());
  EXPECT_EQ(left[kImage], kImageContent);
  EXPECT_EQ(left[kHeader], kImageContent.substr(0, LOGO_HEADER_SIZE));
  EXPECT_EQ(left.count(kTemp), 1u);

  EXPECT_EQ(dir.run(PARSE_LOGO_BIN_TOOL), exited(0, kBegin + kEnd));
  EXPECT_EQ(snapshot(dir.work()), split_of(kImageContent));
}

// A merge started during a split waits for it, then joins what the split
// left: the image comes back whole.
TEST_F(ConcurrentRunsTest, MergeDuringASplitWaitsForIt) {
  Process split = start_stopped_split();
  RunOptions options;
  options.args = {kHeader, kImage};
  Process merge = dir.start(MERGE_FILES, options);
  let_it_run();
  EXPECT_FALSE(merge.has_ended());
  split.signal(SIGCONT);
  EXPECT_EQ(split.wait(), exited(0, kBegin + kEnd));
  EXPECT_EQ(merge.wait(), exited(0, "merge file0_name:" + kHeader +
                                        "merge file1_name:" + kImage));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{kImage, kImageContent}}));
}

}  // namespace
}  // namespace parse_logo_bin::testing
