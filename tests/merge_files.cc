// merge_files FIRST SECOND: calls merge() on two files, for the tests.
#include <cstdio>

#include "parse_logo_bin.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: merge_files FIRST SECOND\n");
    return 2;
  }
  parse_logo_bin::merge(argv[1], argv[2]);
  return 0;
}
