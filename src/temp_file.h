// The temporary file through which a file's new content is written.
#ifndef PARSE_LOGO_BIN_TEMP_FILE_H
#define PARSE_LOGO_BIN_TEMP_FILE_H

#include <cstdio>
#include <optional>
#include <string>

namespace parse_logo_bin {

// A temporary file owned by this process: created exclusively, then either
// kept under its target's name by one rename or discarded. While it is
// pending it is also removed when the process exits (fatal() included) or is
// ended by SIGINT, SIGTERM or SIGHUP, so no failure leaves it behind.
//
// One temporary file may be pending at a time.
class TempFile {
 public:
  // Removes whatever file or symbolic link stands at `path` (a leftover is
  // never written through) and creates a new, empty file there, opened
  // "wb+". Returns nothing if that fails; errno says why.
  static std::optional<TempFile> create(const char* path);

  TempFile(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  TempFile& operator=(TempFile&&) = delete;
  ~TempFile();

  std::FILE* stream() const { return stream_; }
  const char* path() const { return path_.c_str(); }

  // Gives the file the permission bits of `target`, closes it and renames it
  // onto `target`, which it replaces in one step. Ends the process through
  // fatal_write() or fatal_replace() if any of that fails.
  void keep(const char* target);

  // Closes and removes the file.
  void discard();

 private:
  TempFile(std::FILE* stream, const char* path);

  std::FILE* stream_;
  std::string path_;
  bool pending_;
};

}  // namespace parse_logo_bin

#endif  // PARSE_LOGO_BIN_TEMP_FILE_H
