#include "stream_io.h"

#include <cerrno>
#include <memory>

#include "fatal.h"

namespace parse_logo_bin {
namespace {

// The errno of a call that failed, never 0: a C library that reports a
// stream error without a reason still gets an honest message.
int failure_reason() { return errno != 0 ? errno : EIO; }

}  // namespace

void unbuffer(std::FILE* stream) { std::setvbuf(stream, nullptr, _IONBF, 0); }

std::size_t read_bytes(std::FILE* in, const char* in_name, void* buffer,
                       std::size_t size) {
  errno = 0;
  std::size_t count = std::fread(buffer, 1, size, in);
  if (count < size && std::ferror(in)) fatal_read(in_name, failure_reason());
  return count;
}

void write_bytes(std::FILE* out, const char* out_name, const void* buffer,
                 std::size_t size) {
  errno = 0;
  if (std::fwrite(buffer, 1, size, out) != size)
    fatal_write(out_name, failure_reason());
}

void seek_input(std::FILE* in, const char* in_name, long offset) {
  errno = 0;
  if (std::fseek(in, offset, SEEK_SET) != 0)
    fatal_read(in_name, failure_reason());
}

void copy_stream(std::FILE* in, const char* in_name, std::FILE* out,
                 const char* out_name) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[COPY_BUFFER_SIZE]);
  std::size_t count;
  do {
    count = read_bytes(in, in_name, buffer.get(), COPY_BUFFER_SIZE);
    if (count > 0) write_bytes(out, out_name, buffer.get(), count);
  } while (count == COPY_BUFFER_SIZE);
}

void close_written_file(std::FILE* out, const char* out_name) {
  errno = 0;
  if (std::fflush(out) != 0) {
    int reason = failure_reason();
    std::fclose(out);
    fatal_write(out_name, reason);
  }
  errno = 0;
  if (std::fclose(out) != 0) fatal_write(out_name, failure_reason());
}

}  // namespace parse_logo_bin
