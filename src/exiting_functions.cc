// The tool's steps as the program and older callers know them: each prints
// its notices and, on a failure, its message, and ends the process with
// status 1. The work is done by the core (core.h).
#include <cstdio>
#include <cstring>

#include "core.h"
#include "fatal.h"
#include "messages.h"
#include "parse_logo_bin.hpp"

namespace parse_logo_bin {

void create_logo_header_file(const char* image_file, const char* header_file) {
  try {
    write_header_file(image_file, header_file);
  } catch (const Error& error) {
    fatal(error, image_file, header_file);
  }
}

void remove_header_info_from_file(const char* file) {
  try {
    cut_header(file);
  } catch (const Error& error) {
    Error::Step step = error.step();
    if (step == Error::Step::kOpenInput || step == Error::Step::kOpenOutput)
      fatal(stdout, messages::kOpenFailure);
    fatal(error, file, file);
  }
}

void merge(const char* first_file, const char* second_file) {
  auto notice = [](int index, const std::filesystem::path& input) {
    // Flushed: seen as the copy starts, even through a pipe.
    print(stdout, messages::kMergeNotice, index, input.string().c_str());
  };
  try {
    join_files(first_file, second_file, notice);
  } catch (const Error& error) {
    if (error.step() == Error::Step::kOpenInput) {
      // The first file's notice came before the second file was opened,
      // and still does.
      bool second_failed = error.file() == second_file &&
                           std::strcmp(first_file, second_file) != 0;
      if (second_failed) notice(0, first_file);
      fatal(stdout, messages::kMergeCannotOpen, error.file().string().c_str());
    }
    // After a failed removal the result is in place; only the first file
    // is left over, and merge returns.
    if (error.step() != Error::Step::kRemove)
      fatal(error, first_file, second_file);
    print_failure(error, first_file, second_file);
  }
}

}  // namespace parse_logo_bin
