#include "temp_file.h"

#include <cassert>
#include <system_error>
#include <utility>

#include "parse_logo_bin.hpp"

namespace parse_logo_bin {
namespace {

// How much is written before its write-back to disk is started. The copy
// and the disk then work at the same time, the flush before the rename
// waits for the last chunk or two only, and the copy never runs more than
// two chunks ahead of the disk, so that it fills no memory with pages
// waiting to be written.
constexpr std::uint64_t kWritebackChunk = 8 * 1024 * 1024;

}  // namespace

std::filesystem::path temp_file_for(const std::filesystem::path& target) {
  return target.parent_path() / LOGO_TEMP_FILE;
}

TempFile TempFile::create(const std::filesystem::path& path) {
  std::error_code error;
  platform::InterruptsHeld held;
  platform::remove_on_interrupt(path, error);
  if (error) throw Error(Error::Step::kOpenOutput, path, error);
  // A leftover that cannot be removed (a directory, say) makes the
  // exclusive creation fail.
  std::error_code ignored;
  platform::remove_file(path, ignored);
  platform::File file = platform::File::open(
      path, platform::File::Access::kCreateExclusive, error);
  if (error) {
    platform::forget_on_interrupt();
    throw Error(Error::Step::kOpenOutput, path, error);
  }
  return TempFile(std::move(file), path);
}

TempFile::TempFile(platform::File file, std::filesystem::path path)
    : file_(std::move(file)), path_(std::move(path)) {}

TempFile::TempFile(TempFile&& other) noexcept
    : file_(std::move(other.file_)),
      path_(std::move(other.path_)),
      pending_(std::exchange(other.pending_, false)),
      written_(other.written_),
      writeback_started_(other.writeback_started_) {}

void TempFile::write(const void* buffer, std::size_t size) {
  std::error_code error;
  file_.write(buffer, size, error);
  if (error) throw Error(Error::Step::kWrite, path_, error);
  written_ += size;
  // Whole chunks only: a page still being written to must not be under
  // write-back, or the write waits for the disk.
  std::uint64_t whole_chunks = written_ / kWritebackChunk * kWritebackChunk;
  if (whole_chunks > writeback_started_) {
    file_.start_writeback(writeback_started_,
                          whole_chunks - writeback_started_);
    if (writeback_started_ > 0) file_.wait_for_writeback(0, writeback_started_);
    writeback_started_ = whole_chunks;
  }
}

void TempFile::keep(const std::filesystem::path& target) {
  assert(pending_);
  // Best effort, as cp without -p: if the target's mode cannot be read or
  // given, the new content still replaces it, with the default mode.
  file_.copy_permissions_from(target);
  std::error_code error;
  file_.sync(error);
  if (!error) file_.close(error);
  if (error) throw Error(Error::Step::kWrite, path_, error);
  {
    platform::InterruptsHeld held;
    platform::rename_replacing(path_, target, error);
    if (error) throw Error(Error::Step::kReplace, target, error);
    platform::forget_on_interrupt();
    pending_ = false;
  }
  platform::sync_directory(target.parent_path(), error);
  if (error) throw Error(Error::Step::kReplace, target, error);
}

void TempFile::discard() noexcept {
  if (!pending_) return;
  std::error_code ignored;
  file_.close(ignored);  // before the removal: Windows removes no open file
  platform::InterruptsHeld held;
  platform::remove_file(path_, ignored);
  platform::forget_on_interrupt();
  pending_ = false;
}

}  // namespace parse_logo_bin
