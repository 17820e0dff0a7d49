// The operations themselves, behind split_image() and merge_files() and the
// exiting functions: they never print and never end the process. Every
// failure throws Error, after every file is back as it was.
#ifndef PARSE_LOGO_BIN_CORE_H
#define PARSE_LOGO_BIN_CORE_H

#include <filesystem>
#include <functional>
#include <vector>

#include "platform.h"

namespace parse_logo_bin {

// Holds, while it lives, the lock on the directory that holds `file`: the
// operations of other processes in that directory wait until it is gone.
// Locks taken again in the same thread while one is held share it, so that
// a whole run (both steps of the split) holds it from start to end.
class DirectoryLockHolder {
 public:
  explicit DirectoryLockHolder(const std::filesystem::path& file);
  ~DirectoryLockHolder();
  DirectoryLockHolder(const DirectoryLockHolder&) = delete;
  DirectoryLockHolder& operator=(const DirectoryLockHolder&) = delete;

 private:
  std::filesystem::path directory_;
};

// The first step of the split: copies the image's first LOGO_HEADER_SIZE
// bytes into the header file, rewritten in place and flushed to disk.
void write_header_file(const std::filesystem::path& image,
                       const std::filesystem::path& header);

// The second step: replaces `image` by its content less the first
// LOGO_HEADER_SIZE bytes.
void cut_header(const std::filesystem::path& image);

// Called before each input of a merge is copied, with its index (0 or 1).
using BeforeCopy =
    std::function<void(int index, const std::filesystem::path& input)>;

// merge_files(), calling `before_copy` before it copies each input.
void join_files(const std::filesystem::path& first,
                const std::filesystem::path& second,
                const BeforeCopy& before_copy);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_CORE_H
