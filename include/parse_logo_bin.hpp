// parse_logo_bin: split a logo image into its header and its body, and join
// them back.
//
// A logo image is a binary file whose first LOGO_HEADER_SIZE bytes are its
// header and whose remaining bytes are its body; neither is interpreted.
//
// A file that is replaced (the image, or merge's second file) keeps its full
// content until then: the new content is written into LOGO_TEMP_FILE beside
// it, flushed to disk and renamed onto it in one step, and the directory is
// flushed before the operation returns. Operations in one directory wait for
// each other, across processes. File names are relative to the working
// directory.
//
// Two kinds of functions do the work:
// - split_image() and merge_files() report a failure by throwing Error and
//   never print; after a failure every file is as it was, and the caller
//   can go on.
// - create_logo_header_file(), remove_header_info_from_file() and merge()
//   are the tool's own steps: they print their notices and, on a failure,
//   one message, and end the process with status 1.
#ifndef PARSE_LOGO_BIN_HPP
#define PARSE_LOGO_BIN_HPP

#include <cstddef>
#include <filesystem>
#include <system_error>
#include <type_traits>

namespace parse_logo_bin {

inline constexpr std::size_t LOGO_HEADER_SIZE = 16;

inline constexpr char LOGO_IMAGE_FILE[] = "logo_no_compressed.bin";
inline constexpr char LOGO_HEADER_FILE[] = "logo_no_compressed_header.bin";
inline constexpr char LOGO_TEMP_FILE[] = "logo_temp.bin";

// The reasons for which an operation refuses its files before it changes
// any, in their own error category ("parse_logo_bin").
enum class Refusal {
  image_too_short = 1,  // an image shorter than its header
  not_a_regular_file,   // a FIFO, a device, a socket, a directory
  same_file,            // two names given for one file
  temporary_file_name,  // a file named LOGO_TEMP_FILE
};
const std::error_category& refusal_category() noexcept;
std::error_code make_error_code(Refusal refusal) noexcept;

// A failed operation: code() is the reason (the system's, such as
// std::errc::no_such_file_or_directory, or a Refusal), file() the file
// concerned, and what() names both.
class Error : public std::system_error {
 public:
  // What was being done to file() when it failed.
  enum class Step {
    kOpenInput,   // opening a file to read it
    kOpenOutput,  // opening or creating a file to write it
    kRead,
    kWrite,    // writing, flushing or closing a file written
    kReplace,  // renaming onto the file, or flushing its directory
    kRemove,   // removing merge's first file, once the result is in place
    kCheck,    // the file was refused before anything changed (a Refusal)
  };

  Error(Step step, std::filesystem::path file, std::error_code code);

  Step step() const noexcept { return step_; }
  const std::filesystem::path& file() const noexcept { return file_; }

 private:
  Step step_;
  std::filesystem::path file_;
};

// Splits `image` into its header, written into `header`, and its body, which
// replaces `image`: the tool's whole run. The header file is rewritten in
// place (a symbolic link there is followed) and flushed to disk before the
// image is replaced; once this returns, both are on disk. An image shorter
// than its header, or that is not a regular file, is refused before any
// file changes. Throws Error; the header file may then already hold the
// image's header, and the image is whole.
void split_image(const std::filesystem::path& image,
                 const std::filesystem::path& header);

// Stores the bytes of `first` followed by those of `second` under the name
// `second`, then removes `first`: merging the header file and the body left
// by a split rebuilds the whole image. Both must be regular files, and not
// the same file. Once this returns, the result is on disk. Throws Error,
// with both files as they were; or, with Error::Step::kRemove, when only
// the removal of `first` failed, the result in place.
void merge_files(const std::filesystem::path& first,
                 const std::filesystem::path& second);

// Copies the first LOGO_HEADER_SIZE bytes of `image_file` into
// `header_file`, which is rewritten in place (a symbolic link there is
// followed). The image is left unchanged; one shorter than its header is
// refused before `header_file` is touched. Exits with status 1 on a failure.
void create_logo_header_file(const char* image_file, const char* header_file);

// Rewrites `file` without its first LOGO_HEADER_SIZE bytes. The file keeps
// its full content until the rewritten one replaces it. Exits with status 1
// on a failure.
void remove_header_info_from_file(const char* file);

// Joins `first_file` and `second_file` into one file stored under the second
// name, then deletes the first. Merging the header file and the body left by
// a split rebuilds the whole image. Prints "merge file0_name:<first>" and
// "merge file1_name:<second>" to standard output, with no line end. Exits
// with status 1 on a failure, except when only the deletion of the first
// file fails: that is reported and merge returns.
void merge(const char* first_file, const char* second_file);

}  // namespace parse_logo_bin

namespace std {
template <>
struct is_error_code_enum<parse_logo_bin::Refusal> : true_type {};
}  // namespace std

#endif  // PARSE_LOGO_BIN_HPP
