// split_image() and merge_files() called in this process, as a long-running
// program calls them: a failure throws Error with the reason and the file,
// leaves the files as they were, and the program goes on: once the cause is
// gone, the same call succeeds.
#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "parse_logo_bin.hpp"
#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace {
namespace fs = std::filesystem;

const std::string kImageContent = sample_bytes(1000);
const std::string kHeaderContent = kImageContent.substr(0, LOGO_HEADER_SIZE);
const std::string kBodyContent = kImageContent.substr(LOGO_HEADER_SIZE);

enum class Call { kSplit, kMerge };

struct Failure {
  const char* name;
  Call call;
  std::function<void(ScratchDir&)> prepare;
  std::function<void(ScratchDir&)> remove_cause;
  Error::Step step;
  std::error_code code;
  std::string file;  // in the scratch directory
  // A split that fails after its first step leaves the header file written
  // beside the whole image, as the tool does.
  bool header_written = false;
  const char* needs_linux = nullptr;  // what only Linux has here
};

void image(ScratchDir& dir) { write_file(dir.path(kImage), kImageContent); }
void remove(ScratchDir& dir, const std::string& name) {
  fs::remove_all(dir.path(name));
}

const Failure kFailures[] = {
    {"MissingImage", Call::kSplit, [](ScratchDir&) {}, image,
     Error::Step::kOpenInput,
     std::make_error_code(std::errc::no_such_file_or_directory), kImage},
    {"ImageShorterThanItsHeader", Call::kSplit,
     [](ScratchDir& dir) { write_file(dir.path(kImage), "short"); }, image,
     Error::Step::kCheck, Refusal::image_too_short, kImage},
    {"ImageIsAFifo", Call::kSplit,
     [](ScratchDir& dir) { make_fifo(dir.path(kImage)); },
     [](ScratchDir& dir) {
       remove(dir, kImage);
       image(dir);
     },
     Error::Step::kCheck, Refusal::not_a_regular_file, kImage, false, "FIFOs"},
    {"HeaderFileIsADirectory", Call::kSplit,
     [](ScratchDir& dir) {
       image(dir);
       fs::create_directory(dir.path(kHeader));
     },
     [](ScratchDir& dir) { remove(dir, kHeader); }, Error::Step::kOpenOutput,
     std::make_error_code(std::errc::is_a_directory), kHeader},
    {"TempFileCannotBeCreated", Call::kSplit,
     [](ScratchDir& dir) {
       image(dir);
       fs::create_directories(dir.path(kTemp + "/inside"));
     },
     [](ScratchDir& dir) { remove(dir, kTemp); }, Error::Step::kOpenOutput,
     std::make_error_code(std::errc::file_exists), kTemp, true},
    {"MissingHeaderFile", Call::kMerge,
     [](ScratchDir& dir) { write_file(dir.path(kImage), kBodyContent); },
     [](ScratchDir& dir) { write_file(dir.path(kHeader), kHeaderContent); },
     Error::Step::kOpenInput,
     std::make_error_code(std::errc::no_such_file_or_directory), kHeader},
    {"MissingBody", Call::kMerge,
     [](ScratchDir& dir) { write_file(dir.path(kHeader), kHeaderContent); },
     [](ScratchDir& dir) { write_file(dir.path(kImage), kBodyContent); },
     Error::Step::kOpenInput,
     std::make_error_code(std::errc::no_such_file_or_directory), kImage},
    {"HeaderFileLinksToTheBody", Call::kMerge,
     [](ScratchDir& dir) {
       write_file(dir.path(kImage), kBodyContent);
       fs::create_symlink(kImage, dir.path(kHeader));
     },
     [](ScratchDir& dir) {
       remove(dir, kHeader);
       write_file(dir.path(kHeader), kHeaderContent);
     },
     Error::Step::kCheck, Refusal::same_file, kImage, false, "symbolic links"},
};

void PrintTo(const Failure& failure, std::ostream* os) { *os << failure.name; }

class LibraryFailureTest : public ::testing::TestWithParam<Failure> {
 protected:
  void call() {
    if (GetParam().call == Call::kSplit)
      split_image(dir.path(kImage), dir.path(kHeader));
    else
      merge_files(dir.path(kHeader), dir.path(kImage));
  }
  ScratchDir dir;
};

TEST_P(LibraryFailureTest, ThrowsThenWorksAgain) {
  const Failure& failure = GetParam();
  if (failure.needs_linux) SKIP_UNLESS_LINUX(failure.needs_linux);
  failure.prepare(dir);
  Snapshot expected = snapshot(dir.work());
  if (failure.header_written) expected[kHeader] = kHeaderContent;
  try {
    call();
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& error) {
    EXPECT_EQ(error.step(), failure.step);
    EXPECT_EQ(error.code(), failure.code);
    EXPECT_EQ(error.file(), dir.path(failure.file));
    EXPECT_NE(std::string(error.what()).find(failure.file), std::string::npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find(failure.code.message()),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(snapshot(dir.work()), expected);

  failure.remove_cause(dir);
  ASSERT_NO_THROW(call());
  if (failure.call == Call::kSplit)
    EXPECT_EQ(snapshot(dir.work()),
              (Snapshot{{kImage, kBodyContent}, {kHeader, kHeaderContent}}));
  else
    EXPECT_EQ(snapshot(dir.work()), (Snapshot{{kImage, kImageContent}}));
}

INSTANTIATE_TEST_SUITE_P(Failures, LibraryFailureTest,
                         ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return info.param.name; });

TEST(LibraryTest, SplitThenMergeGivesBackTheImage) {
  ScratchDir dir;
  const std::string content = sample_bytes(3 << 20);
  write_file(dir.path(kImage), content);
  split_image(dir.path(kImage), dir.path(kHeader));
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, content.substr(LOGO_HEADER_SIZE)},
                      {kHeader, content.substr(0, LOGO_HEADER_SIZE)}}));
  merge_files(dir.path(kHeader), dir.path(kImage));
  EXPECT_EQ(snapshot(dir.work()), (Snapshot{{kImage, content}}));
}

// A write that fails halfway, from a file size limit on this process.
TEST(LibraryTest, FileSizeLimitThrowsAndKeepsBothInputs) {
#ifndef __linux__
  SKIP_UNLESS_LINUX("a file size limit");
#else
  ScratchDir dir;
  write_file(dir.path(kHeader), kHeaderContent);
  write_file(dir.path(kImage), sample_bytes(1 << 20));
  const Snapshot before = snapshot(dir.work());
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{64 * 1024, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  try {
    merge_files(dir.path(kHeader), dir.path(kImage));
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& error) {
    EXPECT_EQ(error.step(), Error::Step::kWrite);
    EXPECT_EQ(error.code(), std::errc::file_too_large);
    EXPECT_EQ(error.file(), dir.path(kTemp));
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_handler);
  EXPECT_EQ(snapshot(dir.work()), before);
  merge_files(dir.path(kHeader), dir.path(kImage));
  EXPECT_EQ(read_file(dir.path(kImage)), kHeaderContent + before.at(kImage));
#endif
}

TEST(LibraryTest, FullDiskThrowsAndKeepsTheImage) {
  ScratchDir dir;
  if (!dir.mount_tmpfs("1m"))
    GTEST_SKIP() << "needs the right to mount a tmpfs";
  const std::string content = sample_bytes(600 * 1024);
  write_file(dir.path(kImage), content);
  try {
    split_image(dir.path(kImage), dir.path(kHeader));
    ADD_FAILURE() << "no Error thrown";
  } catch (const Error& error) {
    EXPECT_EQ(error.step(), Error::Step::kWrite);
    EXPECT_EQ(error.code(), std::errc::no_space_on_device);
    EXPECT_EQ(error.file(), dir.path(kTemp));
  }
  EXPECT_EQ(snapshot(dir.work()),
            (Snapshot{{kImage, content},
                      {kHeader, content.substr(0, LOGO_HEADER_SIZE)}}));
}

TEST(LibraryTest, RefusalsHaveTheirOwnCategory) {
  std::error_code code = Refusal::not_a_regular_file;
  EXPECT_EQ(code.category(), refusal_category());
  EXPECT_STREQ(code.category().name(), "parse_logo_bin");
  EXPECT_EQ(code.message(), "not a regular file");
}

}  // namespace
}  // namespace parse_logo_bin::testing
