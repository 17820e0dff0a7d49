// Checked reads, writes and copies on C streams. Each failure ends the
// process through fatal_read() or fatal_write(), naming the file concerned.
#ifndef PARSE_LOGO_BIN_STREAM_IO_H
#define PARSE_LOGO_BIN_STREAM_IO_H

#include <cstddef>
#include <cstdio>

namespace parse_logo_bin {

// The size of the one buffer a copy goes through: large enough that the
// system calls cost little next to the bytes they move.
inline constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;

// Lets the copy buffer alone stand between a stream and its file, so that
// every read and write is one system call of the full buffer. Call it right
// after opening the stream.
void unbuffer(std::FILE* stream);

// Reads up to `size` bytes into `buffer` and returns how many there were;
// fewer than `size` only at the end of the file.
std::size_t read_bytes(std::FILE* in, const char* in_name, void* buffer,
                       std::size_t size);

void write_bytes(std::FILE* out, const char* out_name, const void* buffer,
                 std::size_t size);

// Positions `in` at `offset` bytes from its start.
void seek_input(std::FILE* in, const char* in_name, long offset);

// Appends everything from the current position of `in` to its end onto
// `out`.
void copy_stream(std::FILE* in, const char* in_name, std::FILE* out,
                 const char* out_name);

// Flushes and closes a file that was written; only then is its content known
// to have reached the system.
void close_written_file(std::FILE* out, const char* out_name);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_STREAM_IO_H
