// Checked opening, reading and copying of the files the operations work
// on. Every failure throws Error, naming the file concerned.
#ifndef PARSE_LOGO_BIN_FILE_IO_H
#define PARSE_LOGO_BIN_FILE_IO_H

#include <cstddef>
#include <filesystem>

#include "parse_logo_bin.hpp"
#include "platform.h"
#include "temp_file.h"

namespace parse_logo_bin {

// The size of the one buffer a copy goes through: large enough that the
// system calls cost little next to the bytes they move.
inline constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;

// Opens `path`, which must be a regular file (or a symbolic link to one).
// A failure to open throws Error with `step`; so does a directory. Anything
// else that is not a regular file (a FIFO, a device) is refused.
platform::File open_regular_file(const std::filesystem::path& path,
                                 platform::File::Access access,
                                 Error::Step step);

// Reads up to `size` bytes; fewer only at the end of the file.
std::size_t read_input(platform::File& in, const std::filesystem::path& name,
                       void* buffer, std::size_t size);

// Appends everything from the current position of `in` to its end onto
// `out`.
void copy_rest(platform::File& in, const std::filesystem::path& name,
               TempFile& out);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_FILE_IO_H
