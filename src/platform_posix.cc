// The platform layer on POSIX systems (Linux first): file descriptors,
// fsync, flock and signals.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform.h"

namespace parse_logo_bin::platform {
namespace {

std::error_code last_error() {
  return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

// Moves `fd` off the standard descriptors, where a closed standard stream
// would let it land; returns the descriptor to use, or -1.
int off_standard_descriptors(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  int saved = errno;
  ::close(fd);
  errno = saved;
  return moved;
}

int open_descriptor(const Path& path, int flags, std::error_code& error) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  fd = off_standard_descriptors(fd);
  if (fd < 0) error = last_error();
  return fd;
}

bool stat_of(std::intptr_t handle, struct stat* status,
             std::error_code& error) {
  if (::fstat(static_cast<int>(handle), status) == 0) return true;
  error = last_error();
  return false;
}

}  // namespace

File File::open(const Path& path, Access access, std::error_code& error) {
  // O_NONBLOCK: opening a FIFO must not wait for a peer. It changes nothing
  // for the regular files that are read and written afterwards.
  int flags = O_NONBLOCK;
  switch (access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
    case Access::kWriteOrCreate:
      flags |= O_WRONLY | O_CREAT;
      break;
    case Access::kCreateExclusive:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  error.clear();
  int fd = open_descriptor(path, flags, error);
  return fd < 0 ? File() : File(fd);
}

bool File::is_regular_file(std::error_code& error) const {
  struct stat status;
  return stat_of(handle_, &status, error) && S_ISREG(status.st_mode);
}

FileId File::id(std::error_code& error) const {
  struct stat status;
  if (!stat_of(handle_, &status, error)) return {};
  return {static_cast<std::uint64_t>(status.st_dev),
          static_cast<std::uint64_t>(status.st_ino)};
}

std::uint64_t File::size(std::error_code& error) const {
  struct stat status;
  if (!stat_of(handle_, &status, error)) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

std::size_t File::read(void* buffer, std::size_t size, std::error_code& error) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t count =
        ::read(static_cast<int>(handle_), bytes + done, size - done);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      error = last_error();
      break;
    }
    done += static_cast<std::size_t>(count);
  }
  return done;
}

void File::write(const void* buffer, std::size_t size, std::error_code& error) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    errno = 0;
    ssize_t count =
        ::write(static_cast<int>(handle_), bytes + done, size - done);
    if (count <= 0) {
      if (count < 0 && errno == EINTR) continue;
      error = last_error();  // EIO for a write of nothing, which has no errno
      return;
    }
    done += static_cast<std::size_t>(count);
  }
}

void File::seek(std::uint64_t offset, std::error_code& error) {
  if (::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) <
      0)
    error = last_error();
}

void File::truncate(std::uint64_t size, std::error_code& error) {
  if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0)
    error = last_error();
}

void File::start_writeback(std::uint64_t offset, std::uint64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(static_cast<int>(handle_), static_cast<off_t>(offset),
                    static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
  (void)offset;
  (void)length;
#endif
}

void File::wait_for_writeback(std::uint64_t offset, std::uint64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(static_cast<int>(handle_), static_cast<off_t>(offset),
                    static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                        SYNC_FILE_RANGE_WAIT_AFTER);
#else
  (void)offset;
  (void)length;
#endif
}

void File::sync(std::error_code& error) {
  if (::fsync(static_cast<int>(handle_)) != 0) error = last_error();
}

void File::copy_permissions_from(const Path& other) {
  struct stat status;
  if (::stat(other.c_str(), &status) == 0)
    ::fchmod(static_cast<int>(handle_), status.st_mode & 07777);
}

void File::close(std::error_code& error) {
  if (handle_ == kClosed) return;
  // The descriptor is gone whatever close() says; it is never retried.
  if (::close(static_cast<int>(std::exchange(handle_, kClosed))) != 0 &&
      errno != EINTR)
    error = last_error();
}

void rename_replacing(const Path& from, const Path& to,
                      std::error_code& error) {
  if (::rename(from.c_str(), to.c_str()) != 0) error = last_error();
}

void remove_file(const Path& path, std::error_code& error) {
  if (::unlink(path.c_str()) != 0) error = last_error();
}

void sync_directory(const Path& directory, std::error_code& error) {
  int fd = open_descriptor(directory.empty() ? Path(".") : directory,
                           O_RDONLY | O_DIRECTORY, error);
  if (fd < 0) return;
  if (::fsync(fd) != 0) error = last_error();
  ::close(fd);
}

DirectoryLock::DirectoryLock(const Path& directory) {
  std::error_code error;
  int fd = open_descriptor(directory.empty() ? Path(".") : directory,
                           O_RDONLY | O_DIRECTORY, error);
  if (fd < 0) return;
  handle_ = fd;
  // Only a file system that cannot lock (ENOLCK, EOPNOTSUPP) makes flock
  // fail here; the run then goes on unlocked, as it would anywhere else.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

DirectoryLock::~DirectoryLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // drops the lock
}

void prepare_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // open() takes the lowest free descriptor: this one.
      int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (null >= 0 && null != fd) ::close(null);
    }
  }
}

void use_binary_standard_output() {}  // no line-end translation here

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kInterruptSignalCount = std::size(kInterruptSignals);

// The registered file, as the signal handler sees it: the name is copied
// into a fixed buffer so that the handler needs no allocation.
char pending_path[PATH_MAX];
volatile sig_atomic_t has_pending = 0;
struct sigaction previous_actions[kInterruptSignalCount];
bool handler_installed[kInterruptSignalCount];

// Removes the registered file, then lets the signal do what it would have
// done without this handler: usually, end the process.
void remove_pending_file_on_signal(int signal_number) {
  if (has_pending) {
    ::unlink(pending_path);
    has_pending = 0;
  }
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    if (kInterruptSignals[i] == signal_number)
      ::sigaction(signal_number, &previous_actions[i], nullptr);
  }
  ::raise(signal_number);  // delivered once this handler returns
}

sigset_t interrupt_set() {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (int signal_number : kInterruptSignals)
    sigaddset(&interrupts, signal_number);
  return interrupts;
}

int held_depth = 0;
sigset_t mask_before_hold;

}  // namespace

void remove_on_interrupt(const Path& path, std::error_code& error) {
  const std::string& name = path.native();
  if (name.size() >= sizeof pending_path) {
    error = std::make_error_code(std::errc::filename_too_long);
    return;
  }
  std::memcpy(pending_path, name.c_str(), name.size() + 1);
  has_pending = 1;

  struct sigaction action {};
  action.sa_handler = remove_pending_file_on_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    ::sigaction(kInterruptSignals[i], nullptr, &previous_actions[i]);
    // A signal the caller ignores (nohup, say) stays ignored.
    handler_installed[i] = previous_actions[i].sa_handler != SIG_IGN;
    if (handler_installed[i])
      ::sigaction(kInterruptSignals[i], &action, nullptr);
  }
}

void forget_on_interrupt() {
  has_pending = 0;
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    if (handler_installed[i])
      ::sigaction(kInterruptSignals[i], &previous_actions[i], nullptr);
    handler_installed[i] = false;
  }
}

InterruptsHeld::InterruptsHeld() {
  if (held_depth++ > 0) return;
  sigset_t interrupts = interrupt_set();
  ::sigprocmask(SIG_BLOCK, &interrupts, &mask_before_hold);
}

InterruptsHeld::~InterruptsHeld() {
  if (--held_depth > 0) return;
  ::sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

}  // namespace parse_logo_bin::platform
