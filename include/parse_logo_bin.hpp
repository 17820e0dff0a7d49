// parse_logo_bin: split a logo image into its header and its body, and join
// them back.
//
// A logo image is a binary file whose first LOGO_HEADER_SIZE bytes are its
// header and whose remaining bytes are its body; neither is interpreted.
//
// Every operation ends the process with status 1 and one message when it
// fails. A file that is replaced (the image, or merge's second file) keeps
// its full content until then: the new content is written into
// LOGO_TEMP_FILE and renamed onto it in one step. File names are relative to
// the working directory.
#ifndef PARSE_LOGO_BIN_HPP
#define PARSE_LOGO_BIN_HPP

#include <cstddef>

namespace parse_logo_bin {

inline constexpr std::size_t LOGO_HEADER_SIZE = 16;

inline constexpr char LOGO_IMAGE_FILE[] = "logo_no_compressed.bin";
inline constexpr char LOGO_HEADER_FILE[] = "logo_no_compressed_header.bin";
inline constexpr char LOGO_TEMP_FILE[] = "logo_temp.bin";

// Copies the first LOGO_HEADER_SIZE bytes of `image_file` into
// `header_file`, which is created or emptied. The image is left unchanged;
// one shorter than its header is refused before `header_file` is touched.
void create_logo_header_file(const char* image_file, const char* header_file);

// Rewrites `file` without its first LOGO_HEADER_SIZE bytes. The file keeps
// its full content until the rewritten one replaces it.
void remove_header_info_from_file(const char* file);

// Joins `first_file` and `second_file` into one file stored under the second
// name, then deletes the first. Merging the header file and the body left by
// a split rebuilds the whole image. Prints "merge file0_name:<first>" and
// "merge file1_name:<second>" to standard output, with no line end.
void merge(const char* first_file, const char* second_file);

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_HPP
