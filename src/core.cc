#include "core.h"

#include <cstdint>
#include <memory>
#include <system_error>
#include <utility>

#include "file_io.h"
#include "parse_logo_bin.hpp"
#include "temp_file.h"

namespace parse_logo_bin {
namespace {

using Access = platform::File::Access;
using Step = Error::Step;

// The locks this thread holds, with the number of holders of each.
struct HeldLock {
  std::filesystem::path directory;
  std::unique_ptr<platform::DirectoryLock> lock;
  int holders;
};
thread_local std::vector<HeldLock> held_locks;

std::filesystem::path directory_of(const std::filesystem::path& file) {
  std::filesystem::path directory = file.parent_path().lexically_normal();
  return directory.empty() ? std::filesystem::path(".") : directory;
}

// Refuses a file named as the temporary file: it would be removed as a
// leftover before it is read.
void refuse_temporary_name(const std::filesystem::path& file) {
  if (file.filename() == LOGO_TEMP_FILE)
    throw Error(Step::kCheck, file, Refusal::temporary_file_name);
}

platform::FileId id_of(const platform::File& file,
                       const std::filesystem::path& name, Step step) {
  std::error_code error;
  platform::FileId id = file.id(error);
  if (error) throw Error(step, name, error);
  return id;
}

void check(std::error_code error, Step step,
           const std::filesystem::path& file) {
  if (error) throw Error(step, file, error);
}

}  // namespace

DirectoryLockHolder::DirectoryLockHolder(const std::filesystem::path& file)
    : directory_(directory_of(file)) {
  for (HeldLock& held : held_locks) {
    if (held.directory == directory_) {
      ++held.holders;
      return;
    }
  }
  held_locks.push_back(
      {directory_, std::make_unique<platform::DirectoryLock>(directory_), 1});
}

DirectoryLockHolder::~DirectoryLockHolder() {
  for (auto it = held_locks.begin(); it != held_locks.end(); ++it) {
    if (it->directory == directory_ && --it->holders == 0) {
      held_locks.erase(it);
      return;
    }
  }
}

void write_header_file(const std::filesystem::path& image,
                       const std::filesystem::path& header) {
  DirectoryLockHolder lock(image);
  refuse_temporary_name(image);
  refuse_temporary_name(header);

  unsigned char bytes[LOGO_HEADER_SIZE];
  platform::FileId image_id;
  {
    // "Read and write" although the image is only read: an image that
    // cannot be written cannot be split either, and is better refused
    // before anything is done.
    platform::File in =
        open_regular_file(image, Access::kReadWrite, Step::kOpenInput);
    image_id = id_of(in, image, Step::kOpenInput);
    if (read_input(in, image, bytes, sizeof bytes) < sizeof bytes)
      throw Error(Step::kCheck, image, Refusal::image_too_short);
  }

  // Rewritten in place, never emptied first: until the new header is on
  // disk the file holds the previous one. A symbolic link there is followed.
  platform::File out =
      open_regular_file(header, Access::kWriteOrCreate, Step::kOpenOutput);
  if (id_of(out, header, Step::kOpenOutput) == image_id)
    throw Error(Step::kCheck, header, Refusal::same_file);
  std::error_code error;
  std::uint64_t old_size = out.size(error);
  check(error, Step::kWrite, header);
  out.write(bytes, sizeof bytes, error);
  if (!error) out.sync(error);
  if (!error && old_size > sizeof bytes) {
    out.truncate(sizeof bytes, error);
    if (!error) out.sync(error);
  }
  if (!error) out.close(error);
  // A header file just created (or empty before) is on disk only once its
  // name is; one that held bytes already had its name on disk.
  if (!error && old_size == 0)
    platform::sync_directory(header.parent_path(), error);
  check(error, Step::kWrite, header);
}

void cut_header(const std::filesystem::path& image) {
  DirectoryLockHolder lock(image);
  refuse_temporary_name(image);
  platform::File in =
      open_regular_file(image, Access::kReadWrite, Step::kOpenInput);
  TempFile body = TempFile::create(temp_file_for(image));
  std::error_code error;
  in.seek(LOGO_HEADER_SIZE, error);
  check(error, Step::kRead, image);
  copy_rest(in, image, body);
  in = platform::File();  // closed before the rename: Windows needs it
  body.keep(image);
}

void join_files(const std::filesystem::path& first,
                const std::filesystem::path& second,
                const BeforeCopy& before_copy) {
  DirectoryLockHolder lock(second);
  const std::filesystem::path* names[] = {&first, &second};
  for (const std::filesystem::path* name : names) refuse_temporary_name(*name);
  // Both inputs are checked before anything is created.
  platform::File inputs[2];
  for (int index = 0; index < 2; ++index) {
    inputs[index] =
        open_regular_file(*names[index], Access::kRead, Step::kOpenInput);
  }
  if (id_of(inputs[0], first, Step::kOpenInput) ==
      id_of(inputs[1], second, Step::kOpenInput))
    throw Error(Step::kCheck, second, Refusal::same_file);

  TempFile merged = TempFile::create(temp_file_for(second));
  for (int index = 0; index < 2; ++index) {
    if (before_copy) before_copy(index, *names[index]);
    copy_rest(inputs[index], *names[index], merged);
    inputs[index] = platform::File();
  }
  merged.keep(second);

  // Only once the result is on disk may the first file go; a power cut
  // before that leaves both inputs as they were.
  std::error_code error;
  platform::remove_file(first, error);
  if (!error) platform::sync_directory(first.parent_path(), error);
  check(error, Step::kRemove, first);
}

void split_image(const std::filesystem::path& image,
                 const std::filesystem::path& header) {
  DirectoryLockHolder lock(image);  // for both steps
  write_header_file(image, header);
  cut_header(image);
}

void merge_files(const std::filesystem::path& first,
                 const std::filesystem::path& second) {
  join_files(first, second, nullptr);
}

}  // namespace parse_logo_bin
