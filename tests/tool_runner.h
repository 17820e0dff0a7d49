// Runs the built programs in scratch directories and reads what they left.
#ifndef PARSE_LOGO_BIN_TESTS_TOOL_RUNNER_H
#define PARSE_LOGO_BIN_TESTS_TOOL_RUNNER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "parse_logo_bin.hpp"

// Skips the current test, saying why, where it needs what only Linux has
// here: the fault preload, tmpfs, setpriv, signals, FIFOs, symbolic links
// (wine has none), permission bits.
#ifdef __linux__
#define SKIP_UNLESS_LINUX(what) static_cast<void>(what)
#else
#define SKIP_UNLESS_LINUX(what) GTEST_SKIP() << "needs Linux: " << (what)
#endif

namespace parse_logo_bin::testing {

// What a finished process showed: both streams, and its exit status or the
// signal that ended it.
struct Outcome {
  std::string out;
  std::string err;
  int exit_code = -1;  // -1 when a signal ended the process
  int signal = 0;

  bool operator==(const Outcome& other) const;
};
void PrintTo(const Outcome& outcome, std::ostream* os);

Outcome exited(int code, std::string out, std::string err = "");
Outcome killed_by(int signal, std::string out, std::string err = "");

// A fault for the preload built from fault_injection.c: the `skip`+1-th
// `call` on `path` fails with `error` (or raises `signal`).
struct Fault {
  std::string call;
  std::string path;
  int skip = 0;
  std::string error = "EIO";
  int signal = 0;
};

struct RunOptions {
  std::vector<std::string> args;
  std::vector<Fault> faults;  // at most one
  // Run as an unprivileged user when the tests run as root, so that file
  // permissions apply.
  bool unprivileged = false;
  std::uint64_t file_size_limit = 0;  // in bytes; 0 for none
  std::vector<int> ignored_signals;
  // Standard descriptors the program starts without, as after `2>&-`.
  std::vector<int> closed_descriptors;
  // A program still running after this long is killed (SIGKILL), so that a
  // hang fails the test instead of stalling it.
  int timeout_seconds = 60;
};

// A program started by ScratchDir::start(), running until wait().
class Process {
 public:
  // The process, and the read ends of the pipes of its standard output and
  // error: descriptors, or handles on Windows.
  Process(std::intptr_t process, std::intptr_t out, std::intptr_t err,
          int timeout_seconds)
      : process_(process),
        out_(out),
        err_(err),
        timeout_seconds_(timeout_seconds) {}
  Process(Process&& other) noexcept
      : process_(other.process_),
        out_(other.out_),
        err_(other.err_),
        timeout_seconds_(other.timeout_seconds_) {
    other.process_ = -1;
  }
  Process& operator=(Process&&) = delete;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();  // kills and reaps a process not waited for

  // Sends the signal; on Windows, terminates the process whatever it is.
  void signal(int signal_number) const;
  // Whether it has ended (it stays waitable).
  bool has_ended() const;
  // Collects both streams until the process ends, and its status.
  Outcome wait();

 private:
  std::intptr_t process_;
  std::intptr_t out_, err_;
  int timeout_seconds_;
};

// A fresh directory under the system's temporary directory, removed with all
// it holds.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The working directory for the program under test; empty at first.
  const std::string& work() const { return work_; }
  std::string path(const std::string& name) const { return work_ + "/" + name; }

  // Mounts a tmpfs of `size` (as "1m") over work(), in a mount namespace of
  // this process's own so that nothing outside the test sees it. False if
  // the process may not do that; work() is unchanged then.
  bool mount_tmpfs(const std::string& size);

  // Runs `program` with work() as its working directory.
  Outcome run(const std::string& program, const RunOptions& options = {}) {
    return start(program, options).wait();
  }
  Process start(const std::string& program, const RunOptions& options = {});

 private:
  std::string base_;
  std::string work_;
  bool mounted_ = false;
};

// Every entry of `dir` (recursively), by relative name: a file's content, or
// "<directory>", "<symlink to TARGET>" or "<special file>" (a FIFO, a
// device, a socket; never read).
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir);

std::string read_file(const std::string& path);

// Makes a FIFO at `path`; false where the system has none (Windows).
bool make_fifo(const std::string& path);
void write_file(const std::string& path, const std::string& content);

// The names and the progress lines, as the tests expect them.
inline const std::string kImage = LOGO_IMAGE_FILE;
inline const std::string kHeader = LOGO_HEADER_FILE;
inline const std::string kTemp = LOGO_TEMP_FILE;
inline const std::string kBegin = "begin create logo header file\r\n";
inline const std::string kEnd = "End create logo header file\r\n";

// The two files a completed split of `image` leaves.
inline Snapshot split_of(const std::string& image) {
  return {{kHeader, image.substr(0, LOGO_HEADER_SIZE)},
          {kImage, image.substr(LOGO_HEADER_SIZE)}};
}

// `size` bytes of repeatable, varied content, every byte value included.
std::string sample_bytes(std::size_t size, unsigned seed = 1);

}  // namespace parse_logo_bin::testing

#endif  // PARSE_LOGO_BIN_TESTS_TOOL_RUNNER_H
