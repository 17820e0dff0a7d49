#include "temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <utility>

#include "fatal.h"
#include "stream_io.h"

namespace parse_logo_bin {
namespace {

// The signals that end an interactive or supervised run early.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kInterruptSignalCount = std::size(kInterruptSignals);

// The pending temporary file, as the exit and signal handlers see it. The
// name is copied into a fixed buffer so that a signal handler can use it.
char pending_path[PATH_MAX];
volatile std::sig_atomic_t has_pending = 0;
struct sigaction previous_actions[kInterruptSignalCount];
bool handler_installed[kInterruptSignalCount];

void remove_pending_file() {
  if (has_pending) {
    ::unlink(pending_path);
    has_pending = 0;
  }
}

// Removes the pending file, then lets the signal do what it would have done
// without this handler: usually, end the process.
void remove_pending_file_on_signal(int signal_number) {
  remove_pending_file();
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    if (kInterruptSignals[i] == signal_number)
      sigaction(signal_number, &previous_actions[i], nullptr);
  }
  raise(signal_number);  // delivered once this handler returns
}

// Holds the interrupt signals back while the pending state changes, so that
// a file is never created without being pending, nor renamed while still
// pending.
class InterruptsBlocked {
 public:
  InterruptsBlocked() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal_number : kInterruptSignals)
      sigaddset(&interrupts, signal_number);
    sigprocmask(SIG_BLOCK, &interrupts, &saved_mask_);
  }
  ~InterruptsBlocked() { sigprocmask(SIG_SETMASK, &saved_mask_, nullptr); }
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

 private:
  sigset_t saved_mask_;
};

// Call with interrupts blocked.
void mark_pending(const char* path) {
  static bool exit_handler_registered = false;
  if (!exit_handler_registered) {
    std::atexit(remove_pending_file);
    exit_handler_registered = true;
  }
  assert(!has_pending);
  std::strcpy(pending_path, path);  // create() checked the length
  has_pending = 1;

  struct sigaction action {};
  action.sa_handler = remove_pending_file_on_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    sigaction(kInterruptSignals[i], nullptr, &previous_actions[i]);
    // A signal the caller ignores (nohup, say) stays ignored.
    handler_installed[i] = previous_actions[i].sa_handler != SIG_IGN;
    if (handler_installed[i]) sigaction(kInterruptSignals[i], &action, nullptr);
  }
}

// Call with interrupts blocked.
void clear_pending() {
  has_pending = 0;
  for (std::size_t i = 0; i < kInterruptSignalCount; ++i) {
    if (handler_installed[i])
      sigaction(kInterruptSignals[i], &previous_actions[i], nullptr);
    handler_installed[i] = false;
  }
}

}  // namespace

std::optional<TempFile> TempFile::create(const char* path) {
  if (std::strlen(path) >= sizeof pending_path) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  InterruptsBlocked blocked;
  // A leftover that cannot be removed (a directory, say) makes the exclusive
  // creation below fail.
  ::unlink(path);
  std::FILE* created = std::fopen(path, "wb+x");
  if (created == nullptr) return std::nullopt;
  unbuffer(created);
  mark_pending(path);
  return TempFile(created, path);
}

TempFile::TempFile(std::FILE* stream, const char* path)
    : stream_(stream), path_(path), pending_(true) {}

TempFile::TempFile(TempFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      path_(std::move(other.path_)),
      pending_(std::exchange(other.pending_, false)) {}

TempFile::~TempFile() { discard(); }

void TempFile::keep(const char* target) {
  assert(pending_);
  // Best effort, as cp without -p: if the target's mode cannot be read or
  // given, the new content still replaces it, with the default mode.
  struct stat target_status;
  if (::stat(target, &target_status) == 0)
    ::fchmod(fileno(stream_), target_status.st_mode & 07777);
  close_written_file(std::exchange(stream_, nullptr), path());

  std::error_code error;
  {
    InterruptsBlocked blocked;
    std::filesystem::rename(path_, target, error);
    if (!error) {
      clear_pending();
      pending_ = false;
    }
  }
  if (error) fatal_replace(target, error.value());
}

void TempFile::discard() {
  if (stream_ != nullptr) std::fclose(std::exchange(stream_, nullptr));
  if (!pending_) return;
  InterruptsBlocked blocked;
  remove_pending_file();
  clear_pending();
  pending_ = false;
}

}  // namespace parse_logo_bin
