#include "fatal.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "messages.h"
#include "platform.h"

namespace parse_logo_bin {

namespace {

void print_arguments(std::FILE* stream, const char* format, va_list args) {
  platform::use_binary_standard_output();
  std::fflush(stdout);  // what came before shows before a message on stderr
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

}  // namespace

void print(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_arguments(stream, format, args);
  va_end(args);
}

void fatal(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_arguments(stream, format, args);
  va_end(args);
  std::exit(1);
}

void print_failure(const Error& error, const char* first, const char* second) {
  const std::string file = error.file().string();
  const std::string reason = error.code().message();
  switch (error.step()) {
    case Error::Step::kOpenInput:
      print(stderr, messages::kCannotOpen, file.c_str());
      return;
    case Error::Step::kOpenOutput:
      print(stderr, messages::kCannotOpenOutput, file.c_str());
      return;
    case Error::Step::kRead:
      print(stderr, messages::kCannotRead, file.c_str(), reason.c_str());
      return;
    case Error::Step::kWrite:
      print(stderr, messages::kCannotWrite, file.c_str(), reason.c_str());
      return;
    case Error::Step::kReplace:
      print(stderr, messages::kCannotReplace, file.c_str(), reason.c_str());
      return;
    case Error::Step::kRemove:
      print(stderr, messages::kCannotRemove, file.c_str(), reason.c_str());
      return;
    case Error::Step::kCheck:
      break;
  }
  switch (static_cast<Refusal>(error.code().value())) {
    case Refusal::image_too_short:
      print(stderr, messages::kTooShort, file.c_str(), LOGO_HEADER_SIZE);
      return;
    case Refusal::not_a_regular_file:
      print(stderr, messages::kNotRegular, file.c_str());
      return;
    case Refusal::same_file:
      print(stderr, messages::kSameFile, first, second);
      return;
    case Refusal::temporary_file_name:
      print(stderr, messages::kTemporaryName, file.c_str());
      return;
  }
}

void fatal(const Error& error, const char* first, const char* second) {
  print_failure(error, first, second);
  std::exit(1);
}

}  // namespace parse_logo_bin
