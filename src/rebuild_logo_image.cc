// rebuild_logo_image: the tool's inverse. Run in the directory that holds
// the header file and the body a split left, joins them back into the whole
// image.
#include "fatal.h"
#include "messages.h"
#include "parse_logo_bin.hpp"
#include "platform.h"

int main() {
  using namespace parse_logo_bin;
  platform::prepare_standard_streams();
  merge(LOGO_HEADER_FILE, LOGO_IMAGE_FILE);
  print(stdout, messages::kEndOfNotices);
  return 0;
}
