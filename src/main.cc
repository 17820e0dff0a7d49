// parse_logo_bin: run in the directory that holds the logo image, splits it
// into its header file and its body.
#include <cstdio>

#include "core.h"
#include "fatal.h"
#include "messages.h"
#include "parse_logo_bin.hpp"
#include "platform.h"

namespace {

// Progress lines are flushed at once, so that a program reading them through
// a pipe sees each one when it happens.
void announce(const char* line) { parse_logo_bin::print(stdout, "%s\n", line); }

}  // namespace

int main() {
  using namespace parse_logo_bin;
  platform::prepare_standard_streams();
  announce(messages::kBegin);
  {
    // Held across both steps, so that another run in this directory splits
    // the image after this one, not in between.
    DirectoryLockHolder lock(LOGO_IMAGE_FILE);
    create_logo_header_file(LOGO_IMAGE_FILE, LOGO_HEADER_FILE);
    remove_header_info_from_file(LOGO_IMAGE_FILE);
  }
  announce(messages::kEnd);
  return 0;
}
