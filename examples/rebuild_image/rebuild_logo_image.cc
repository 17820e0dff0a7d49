// rebuild_logo_image: run in the directory where parse_logo_bin split a logo
// image, joins logo_no_compressed_header.bin and logo_no_compressed.bin back
// into the whole image, logo_no_compressed.bin.
#include <cstdio>
#include <parse_logo_bin.hpp>

int main() {
  parse_logo_bin::merge(parse_logo_bin::LOGO_HEADER_FILE,
                        parse_logo_bin::LOGO_IMAGE_FILE);
  std::puts("");  // ends the line of merge's notices
  return 0;
}
