// split_images [--rebuild] DIR...: splits the logo image in each directory
// into its header file and its body, or with --rebuild joins them back into
// the whole image. A directory where that fails is reported, and the others
// are done all the same. Exit status 1 if any failed.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <parse_logo_bin.hpp>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace parse_logo_bin;
  bool rebuild = argc > 1 && std::strcmp(argv[1], "--rebuild") == 0;
  int failures = 0;
  for (int i = rebuild ? 2 : 1; i < argc; ++i) {
    const fs::path dir = argv[i];
    try {
      if (rebuild)
        merge_files(dir / LOGO_HEADER_FILE, dir / LOGO_IMAGE_FILE);
      else
        split_image(dir / LOGO_IMAGE_FILE, dir / LOGO_HEADER_FILE);
      std::cout << dir.string() << ": done\n";
    } catch (const Error& error) {
      // Every file is as it was; the next directory is unaffected.
      std::cerr << dir.string() << ": " << error.what() << '\n';
      if (error.code() == std::errc::no_such_file_or_directory)
        std::cerr << "  (is " << error.file().filename().string()
                  << " there?)\n";
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
