#include "file_io.h"

#include <memory>
#include <system_error>

namespace parse_logo_bin {

platform::File open_regular_file(const std::filesystem::path& path,
                                 platform::File::Access access,
                                 Error::Step step) {
  // A directory is a file that cannot be opened as one, whether the system
  // refuses to open it (and for what reason it gives) or not.
  const auto directory_error = [&path, step] {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
      throw Error(step, path, std::make_error_code(std::errc::is_a_directory));
  };
  std::error_code error;
  platform::File file = platform::File::open(path, access, error);
  if (error) {
    directory_error();
    throw Error(step, path, error);
  }
  bool regular = file.is_regular_file(error);
  if (error) throw Error(step, path, error);
  if (!regular) {
    directory_error();
    // The rest opened but must not be read: a FIFO may never end, and
    // /dev/zero never does.
    throw Error(Error::Step::kCheck, path, Refusal::not_a_regular_file);
  }
  return file;
}

std::size_t read_input(platform::File& in, const std::filesystem::path& name,
                       void* buffer, std::size_t size) {
  std::error_code error;
  std::size_t count = in.read(buffer, size, error);
  if (error) throw Error(Error::Step::kRead, name, error);
  return count;
}

void copy_rest(platform::File& in, const std::filesystem::path& name,
               TempFile& out) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[COPY_BUFFER_SIZE]);
  std::size_t count;
  do {
    count = read_input(in, name, buffer.get(), COPY_BUFFER_SIZE);
    if (count > 0) out.write(buffer.get(), count);
  } while (count == COPY_BUFFER_SIZE);
}

}  // namespace parse_logo_bin
