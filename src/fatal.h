// The one way the tool reports a failure: a message, then exit status 1.
#ifndef PARSE_LOGO_BIN_FATAL_H
#define PARSE_LOGO_BIN_FATAL_H

#include <cstdio>

namespace parse_logo_bin {

// Writes the printf-style message to `stream` and ends the process with
// status 1. Standard output is flushed first, so that a terminal shows the
// progress lines and the message in the order they happened. A temporary
// file still pending is removed on the way out (see temp_file.h).
[[noreturn]] void fatal(std::FILE* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The failures of file I/O, each with the file's name and the system's
// reason `error` (an errno value).
[[noreturn]] void fatal_read(const char* file, int error);
[[noreturn]] void fatal_write(const char* file, int error);
[[noreturn]] void fatal_replace(const char* file, int error);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_FATAL_H
