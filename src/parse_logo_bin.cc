#include "parse_logo_bin.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fatal.h"
#include "stream_io.h"
#include "temp_file.h"

namespace parse_logo_bin {

void create_logo_header_file(const char* image_file, const char* header_file) {
  // "rb+" although the image is only read: an image that cannot be written
  // cannot be split either, and is better refused before anything is done.
  std::FILE* image = std::fopen(image_file, "rb+");
  if (image == nullptr)
    fatal(stderr, "I couldn't open the file \"%s\"\r\n", image_file);
  unsigned char header[LOGO_HEADER_SIZE];
  std::size_t header_length =
      read_bytes(image, image_file, header, sizeof header);
  std::fclose(image);
  if (header_length < LOGO_HEADER_SIZE) {
    fatal(stderr, "The file \"%s\" is shorter than its %zu-byte header\r\n",
          image_file, LOGO_HEADER_SIZE);
  }

  std::FILE* header_out = std::fopen(header_file, "wb+");
  if (header_out == nullptr)
    fatal(stderr, "I couldn't open the file \"%s\"\n", header_file);
  write_bytes(header_out, header_file, header, sizeof header);
  close_written_file(header_out, header_file);
}

void remove_header_info_from_file(const char* file) {
  std::FILE* in = std::fopen(file, "rb+");
  if (in == nullptr) fatal(stdout, "Open the file failure...\r\n");
  unbuffer(in);
  std::optional<TempFile> body = TempFile::create(LOGO_TEMP_FILE);
  if (!body) fatal(stdout, "Open the file failure...\r\n");

  seek_input(in, file, LOGO_HEADER_SIZE);
  copy_stream(in, file, body->stream(), body->path());
  std::fclose(in);
  body->keep(file);
}

void merge(const char* first_file, const char* second_file) {
  std::optional<TempFile> merged = TempFile::create(LOGO_TEMP_FILE);
  if (!merged)
    fatal(stderr, "I couldn't open the file \"%s\"\n", LOGO_TEMP_FILE);

  const char* const inputs[] = {first_file, second_file};
  for (int index = 0; index < 2; ++index) {
    std::FILE* in = std::fopen(inputs[index], "rb");
    if (in == nullptr) fatal(stdout, "fopen %s failed\r\n", inputs[index]);
    unbuffer(in);
    std::printf("merge file%d_name:%s", index, inputs[index]);
    std::fflush(stdout);  // seen as the copy starts, even through a pipe
    copy_stream(in, inputs[index], merged->stream(), merged->path());
    std::fclose(in);
  }
  merged->keep(second_file);

  // The merge is complete at this point: a caller that retried after this
  // failure would put the first file's bytes in twice.
  if (::unlink(first_file) != 0) {
    std::fprintf(stderr, "I couldn't remove the file \"%s\": %s\r\n",
                 first_file, std::strerror(errno));
  }
}

}  // namespace parse_logo_bin
