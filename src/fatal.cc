#include "fatal.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "messages.h"

namespace parse_logo_bin {

void fatal(std::FILE* stream, const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::exit(1);
}

void print_failure(const Error& error, const char* first, const char* second) {
  const std::string file = error.file().string();
  const std::string reason = error.code().message();
  std::fflush(stdout);
  switch (error.step()) {
    case Error::Step::kOpenInput:
      std::fprintf(stderr, messages::kCannotOpen, file.c_str());
      return;
    case Error::Step::kOpenOutput:
      std::fprintf(stderr, messages::kCannotOpenOutput, file.c_str());
      return;
    case Error::Step::kRead:
      std::fprintf(stderr, messages::kCannotRead, file.c_str(), reason.c_str());
      return;
    case Error::Step::kWrite:
      std::fprintf(stderr, messages::kCannotWrite, file.c_str(),
                   reason.c_str());
      return;
    case Error::Step::kReplace:
      std::fprintf(stderr, messages::kCannotReplace, file.c_str(),
                   reason.c_str());
      return;
    case Error::Step::kRemove:
      std::fprintf(stderr, messages::kCannotRemove, file.c_str(),
                   reason.c_str());
      return;
    case Error::Step::kCheck:
      break;
  }
  switch (static_cast<Refusal>(error.code().value())) {
    case Refusal::image_too_short:
      std::fprintf(stderr, messages::kTooShort, file.c_str(), LOGO_HEADER_SIZE);
      return;
    case Refusal::not_a_regular_file:
      std::fprintf(stderr, messages::kNotRegular, file.c_str());
      return;
    case Refusal::same_file:
      std::fprintf(stderr, messages::kSameFile, first, second);
      return;
    case Refusal::temporary_file_name:
      std::fprintf(stderr, messages::kTemporaryName, file.c_str());
      return;
  }
}

}  // namespace parse_logo_bin
