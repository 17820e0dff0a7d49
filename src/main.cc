// parse_logo_bin: run in the directory that holds the logo image, splits it
// into its header file and its body.
#include <cstdio>

#include "parse_logo_bin.hpp"

namespace {

// Progress lines are flushed at once, so that a program reading them through
// a pipe sees each one when it happens.
void announce(const char* line) {
  std::puts(line);
  std::fflush(stdout);
}

}  // namespace

int main() {
  using namespace parse_logo_bin;
  announce("begin create logo header file\r");
  create_logo_header_file(LOGO_IMAGE_FILE, LOGO_HEADER_FILE);
  remove_header_info_from_file(LOGO_IMAGE_FILE);
  announce("End create logo header file\r");
  return 0;
}
