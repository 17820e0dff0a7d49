// The one interface to the operating system. Every call into the system
// (files, flushes, renames, the directory lock, permission bits, the
// standard descriptors, clean-up on interrupts) goes through here; it is
// implemented once per system (platform_posix.cc), and no other source file
// includes a system header.
//
// Failures are reported through a std::error_code whose value is the
// system's reason; nothing here prints or throws.
#ifndef PARSE_LOGO_BIN_PLATFORM_H
#define PARSE_LOGO_BIN_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace parse_logo_bin::platform {

using Path = std::filesystem::path;

// What tells two names of one file apart from names of two files.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId& other) const {
    return device == other.device && index == other.index;
  }
};

// An open file, closed when its owner goes. It never sits on a standard
// descriptor (0, 1 or 2), whatever the process started with, so a message
// meant for a closed standard stream cannot reach it.
class File {
 public:
  enum class Access {
    kRead,            // an existing file, read only
    kReadWrite,       // an existing file, for reading and writing
    kWriteOrCreate,   // for writing, created if missing, never emptied
    kCreateExclusive  // a new file, for reading and writing; fails if the
                      // name is taken, even by a symbolic link
  };

  // Opens `path`. Never waits, whatever the file is (a FIFO, a device): the
  // caller checks is_regular_file() before it reads or writes.
  static File open(const Path& path, Access access, std::error_code& error);

  File() = default;
  File(File&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kClosed;
  }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      std::error_code ignored;
      close(ignored);
      handle_ = other.handle_;
      other.handle_ = kClosed;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    std::error_code ignored;
    close(ignored);
  }

  bool is_open() const { return handle_ != kClosed; }

  bool is_regular_file(std::error_code& error) const;
  FileId id(std::error_code& error) const;
  std::uint64_t size(std::error_code& error) const;

  // Reads up to `size` bytes; fewer only at the end of the file.
  std::size_t read(void* buffer, std::size_t size, std::error_code& error);
  // Writes all `size` bytes.
  void write(const void* buffer, std::size_t size, std::error_code& error);
  void seek(std::uint64_t offset, std::error_code& error);
  void truncate(std::uint64_t size, std::error_code& error);

  // Asks the system to start writing the range to disk now, without waiting
  // for it, so that a later sync() has less left to do. A hint: where the
  // system has no such call, nothing happens.
  void start_writeback(std::uint64_t offset, std::uint64_t length);
  // Waits until the range is written to disk (its data; sync() still has to
  // follow for the file's size). Where the system cannot, returns at once.
  void wait_for_writeback(std::uint64_t offset, std::uint64_t length);

  // Returns once the file's content and size are on the disk.
  void sync(std::error_code& error);

  // Gives this file the permission bits of `other`, as far as the system
  // allows; a failure leaves the default bits.
  void copy_permissions_from(const Path& other);

  // Closes the file; the error is the system's last word on its writes.
  void close(std::error_code& error);

 private:
  static constexpr std::intptr_t kClosed = -1;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kClosed;
};

// Renames `from` onto `to`, replacing `to` in one step.
void rename_replacing(const Path& from, const Path& to, std::error_code& error);

// Removes the file (or symbolic link) `path`.
void remove_file(const Path& path, std::error_code& error);

// Returns once the entries of `directory` (names created, renamed or
// removed) are on the disk. Does nothing where directories cannot be
// flushed.
void sync_directory(const Path& directory, std::error_code& error);

// An exclusive lock on a directory, which the system drops when its holder
// ends, however it ends. Another process that asks for it waits until then.
// No file is left behind for it.
class DirectoryLock {
 public:
  // Waits for the lock on `directory`. Where the directory cannot be opened
  // or its file system cannot lock, goes on without it.
  explicit DirectoryLock(const Path& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  std::intptr_t handle_ = -1;
};

// Readies the standard streams for the tool's messages: any of them that
// the process started without is opened onto the null device, so that the
// files the process opens never take their places; and where the C library
// translates line ends (Windows), standard output and error are put in
// binary mode, so that "\r\n" is written as it is. For programs, at start.
void prepare_standard_streams();

// Puts standard output and error in binary mode where that means anything;
// the exiting functions call it before they print.
void use_binary_standard_output();

// Clean-up of a temporary file when the process is interrupted (SIGINT,
// SIGTERM, SIGHUP; Ctrl+C and closing the console on Windows): the file
// registered is removed, then the interrupt ends the process as it would
// have. An interrupt the process ignores stays ignored. One file at a time;
// a name too long for the handler to hold is refused (ENAMETOOLONG).
void remove_on_interrupt(const Path& path, std::error_code& error);
void forget_on_interrupt();

// Holds interrupts back while it lives, so that a file is never created
// without being registered for removal, nor renamed while still registered.
// Where interrupts cannot be held back, does nothing.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

}  // namespace parse_logo_bin::platform

#endif  // PARSE_LOGO_BIN_PLATFORM_H
