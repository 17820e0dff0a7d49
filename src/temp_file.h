// The temporary file through which a file's new content is written.
#ifndef PARSE_LOGO_BIN_TEMP_FILE_H
#define PARSE_LOGO_BIN_TEMP_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform.h"

namespace parse_logo_bin {

// The temporary file for a new `target`: LOGO_TEMP_FILE in the target's
// directory, so that the rename onto the target stays on one file system.
std::filesystem::path temp_file_for(const std::filesystem::path& target);

// A temporary file owned by this object: created exclusively, written, then
// either kept under its target's name by one rename or discarded. Whatever
// way its owner goes (a return, an exception, an interrupt) the file goes
// with it unless it was kept. Failures throw Error.
//
// Create it only with the target's directory locked: a file standing under
// its name is then a leftover of a run that ended, and is removed.
class TempFile {
 public:
  // Removes whatever file or symbolic link stands at `path` (a leftover is
  // never written through) and creates a new, empty file there.
  static TempFile create(const std::filesystem::path& path);

  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&&) = delete;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { discard(); }

  const std::filesystem::path& path() const { return path_; }

  // Appends `size` bytes.
  void write(const void* buffer, std::size_t size);

  // Gives the file the permission bits of `target`, flushes it to disk,
  // renames it onto `target`, which it replaces in one step, and flushes the
  // target's directory: once this returns, the target holds the new content
  // even after a power cut.
  void keep(const std::filesystem::path& target);

  // Closes and removes the file, unless it was kept.
  void discard() noexcept;

 private:
  TempFile(platform::File file, std::filesystem::path path);

  platform::File file_;
  std::filesystem::path path_;
  bool pending_ = true;
  std::uint64_t written_ = 0;
  std::uint64_t writeback_started_ = 0;  // bytes handed to start_writeback
};

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_TEMP_FILE_H
