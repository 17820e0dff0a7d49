// How the tool and its exiting functions print: their notices, and a
// failure as one message, then exit status 1. Nothing below them prints.
#ifndef PARSE_LOGO_BIN_FATAL_H
#define PARSE_LOGO_BIN_FATAL_H

#include <cstdio>

#include "parse_logo_bin.hpp"

#if defined(__MINGW32__)
#define PARSE_LOGO_BIN_PRINTF(format_index, first_index) \
  __attribute__((format(gnu_printf, format_index, first_index)))
#elif defined(__GNUC__)
#define PARSE_LOGO_BIN_PRINTF(format_index, first_index) \
  __attribute__((format(printf, format_index, first_index)))
#else
#define PARSE_LOGO_BIN_PRINTF(format_index, first_index)
#endif

namespace parse_logo_bin {

// Writes the printf-style text to `stream` (standard output or error)
// byte for byte, carriage returns included, and flushes it.
void print(std::FILE* stream, const char* format, ...)
    PARSE_LOGO_BIN_PRINTF(2, 3);

// Writes the printf-style message to `stream` and ends the process with
// status 1. Standard output is flushed first, so that a terminal shows the
// progress lines and the message in the order they happened.
[[noreturn]] void fatal(std::FILE* stream, const char* format, ...)
    PARSE_LOGO_BIN_PRINTF(2, 3);

// Prints the message of `error` on standard error, as the tool prints it
// unless the step says otherwise. `first` and `second` are the two files of
// the operation, named together when they are the same file.
void print_failure(const Error& error, const char* first, const char* second);

// print_failure(), then exit status 1.
[[noreturn]] void fatal(const Error& error, const char* first,
                        const char* second);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_FATAL_H
