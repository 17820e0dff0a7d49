#include "fatal.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace parse_logo_bin {

void fatal(std::FILE* stream, const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::exit(1);
}

void fatal_read(const char* file, int error) {
  fatal(stderr, "I couldn't read the file \"%s\": %s\r\n", file,
        std::strerror(error));
}

void fatal_write(const char* file, int error) {
  fatal(stderr, "I couldn't write the file \"%s\": %s\r\n", file,
        std::strerror(error));
}

void fatal_replace(const char* file, int error) {
  fatal(stderr, "I couldn't replace the file \"%s\": %s\r\n", file,
        std::strerror(error));
}

}  // namespace parse_logo_bin
