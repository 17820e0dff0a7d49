// Every text the tool and the exiting functions print, in one place. Scripts
// and people compare them byte for byte, carriage returns included: change
// none of them lightly.
//
// Most messages go to standard error and end in "\r\n". The odd ones, which
// callers rely on as they are, are marked.
#ifndef PARSE_LOGO_BIN_MESSAGES_H
#define PARSE_LOGO_BIN_MESSAGES_H

namespace parse_logo_bin::messages {

// The tool's two progress lines, on standard output; each is printed with a
// newline after its carriage return.
inline constexpr char kBegin[] = "begin create logo header file\r";
inline constexpr char kEnd[] = "End create logo header file\r";

// merge's notice before it copies each input, on standard output: the index
// (0 or 1) and the name, with no line end at all, so that both notices and
// whatever follows run together on one line.
inline constexpr char kMergeNotice[] = "merge file%d_name:%s";

// rebuild_logo_image ends the line of merge's notices with it.
inline constexpr char kEndOfNotices[] = "\n";

// An input (the image, or the file of the failed step) cannot be opened.
inline constexpr char kCannotOpen[] = "I couldn't open the file \"%s\"\r\n";

// A file that is written (the header file, merge's "logo_temp.bin") cannot
// be opened. Odd: it ends in "\n" alone.
inline constexpr char kCannotOpenOutput[] = "I couldn't open the file \"%s\"\n";

// remove_header_info_from_file() cannot open the image or create
// "logo_temp.bin". Odd: on standard output, and names no file.
inline constexpr char kOpenFailure[] = "Open the file failure...\r\n";

// merge() cannot open an input. Odd: on standard output.
inline constexpr char kMergeCannotOpen[] = "fopen %s failed\r\n";

// A failed read, write or replacement, with the system's reason.
inline constexpr char kCannotRead[] = "I couldn't read the file \"%s\": %s\r\n";
inline constexpr char kCannotWrite[] =
    "I couldn't write the file \"%s\": %s\r\n";
inline constexpr char kCannotReplace[] =
    "I couldn't replace the file \"%s\": %s\r\n";

// merge()'s result is in place, but its first file is still there. merge()
// returns normally after it.
inline constexpr char kCannotRemove[] =
    "I couldn't remove the file \"%s\": %s\r\n";

// The refusals, before any file changes.
inline constexpr char kTooShort[] =
    "The file \"%s\" is shorter than its %zu-byte header\r\n";
inline constexpr char kNotRegular[] =
    "The file \"%s\" is not a regular file\r\n";
inline constexpr char kSameFile[] =
    "The files \"%s\" and \"%s\" are the same file\r\n";
inline constexpr char kTemporaryName[] =
    "The file \"%s\" has the name of the temporary file\r\n";

}  // namespace parse_logo_bin::messages

#endif  // PARSE_LOGO_BIN_MESSAGES_H
