#include "tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace parse_logo_bin::testing {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Drains both pipes together, so that neither can fill up and stall the
// child. Returns false if `deadline` passed first.
bool collect(int out_fd, int err_fd, std::string* out, std::string* err,
             std::chrono::steady_clock::time_point deadline) {
  pollfd fds[] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[] = {out, err};
  int open_count = 2;
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return true;
}

std::vector<std::string> environment_for(const RunOptions& options) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "ASAN_OPTIONS=", 13) != 0) env.push_back(*entry);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string asan_options = asan ? std::string(asan) + ":" : "";
  for (const Fault& fault : options.faults) {
    env.push_back(std::string("LD_PRELOAD=") + FAULT_INJECTION_LIBRARY);
    env.push_back("FAULT_CALL=" + fault.call);
    env.push_back("FAULT_PATH=" + fault.path);
    env.push_back("FAULT_SKIP=" + std::to_string(fault.skip));
    env.push_back("FAULT_ERRNO=" + fault.error);
    if (fault.signal != 0)
      env.push_back("FAULT_SIGNAL=" + std::to_string(fault.signal));
    // The preload comes before the sanitizer runtime, which is fine here.
    asan_options += "verify_asan_link_order=0";
  }
  if (!asan_options.empty()) env.push_back("ASAN_OPTIONS=" + asan_options);
  return env;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

bool Outcome::operator==(const Outcome& other) const {
  return out == other.out && err == other.err && exit_code == other.exit_code &&
         signal == other.signal;
}

void PrintTo(const Outcome& outcome, std::ostream* os) {
  auto quoted = [](const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
      if (c == '\r')
        q += "\\r";
      else if (c == '\n')
        q += "\\n";
      else if (c == '"')
        q += "\\\"";
      else
        q += c;
    }
    return q + "\"";
  };
  *os << "{stdout " << quoted(outcome.out) << ", stderr "
      << quoted(outcome.err);
  if (outcome.signal != 0)
    *os << ", killed by signal " << outcome.signal;
  else
    *os << ", exit " << outcome.exit_code;
  *os << "}";
}

Outcome exited(int code, std::string out, std::string err) {
  return {std::move(out), std::move(err), code, 0};
}

Outcome killed_by(int signal, std::string out, std::string err) {
  return {std::move(out), std::move(err), -1, signal};
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "logo-test-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
  base_ = pattern;
  work_ = base_ + "/work";
  fs::create_directory(work_);
}

ScratchDir::~ScratchDir() {
  if (mounted_) umount2(work_.c_str(), MNT_DETACH);
  std::error_code ignored;
  // Give back the permissions a test took away, so everything can go.
  for (auto it = fs::recursive_directory_iterator(base_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                      ignored);
  }
  fs::remove_all(base_, ignored);
}

bool ScratchDir::mount_tmpfs(const std::string& size) {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return false;
  std::string options = "size=" + size;
  mounted_ = mount("tmpfs", work_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  return mounted_;
}

Process ScratchDir::start(const std::string& program,
                          const RunOptions& options) {
  std::vector<std::string> argv{program};
  bool drop_privileges = options.unprivileged && geteuid() == 0;
  if (drop_privileges) {
    // The unprivileged user gets its own copy of the program, in a directory
    // it can reach whatever the build directory's permissions are.
    std::string copy = base_ + "/" + fs::path(program).filename().string();
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    fs::permissions(base_, fs::perms(0755));
    argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
            copy};
  }
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env = environment_for(options);
  std::vector<char*> argv_pointers = pointers_to(argv);
  std::vector<char*> env_pointers = pointers_to(env);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
    fail("pipe");
  pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : options.closed_descriptors) close(fd);
    if (chdir(work_.c_str()) != 0) _exit(126);
    rlimit limit{options.file_size_limit, options.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    // Past the file size limit a write fails with EFBIG instead of killing.
    signal(SIGXFSZ, SIG_IGN);
    for (int signal_number : options.ignored_signals)
      signal(signal_number, SIG_IGN);
    execvpe(argv_pointers[0], argv_pointers.data(), env_pointers.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  return Process(pid, out_pipe[0], err_pipe[0], options.timeout_seconds);
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_fd_(other.out_fd_),
      err_fd_(other.err_fd_),
      timeout_seconds_(other.timeout_seconds_) {}

Process::~Process() {
  if (pid_ < 0) return;
  kill(pid_, SIGKILL);
  kill(pid_, SIGCONT);
  wait();
}

void Process::signal(int signal_number) const { kill(pid_, signal_number); }

bool Process::has_ended() const {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info,
                WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

Outcome Process::wait() {
  Outcome outcome;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
  if (!collect(out_fd_, err_fd_, &outcome.out, &outcome.err, deadline)) {
    kill(pid_, SIGKILL);
    close(out_fd_);
    close(err_fd_);
  }
  int status;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  pid_ = -1;
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

Snapshot snapshot(const std::string& dir) {
  Snapshot entries;
  for (const fs::directory_entry& entry :
       fs::recursive_directory_iterator(dir)) {
    std::string name = entry.path().lexically_relative(dir).string();
    if (entry.is_symlink())
      entries[name] =
          "<symlink to " + fs::read_symlink(entry.path()).string() + ">";
    else if (entry.is_directory())
      entries[name] = "<directory>";
    else if (!entry.is_regular_file())
      entries[name] = "<special file>";
    else
      entries[name] = read_file(entry.path());
  }
  return entries;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("open " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.flush()) fail("write " + path);
}

std::string sample_bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace parse_logo_bin::testing
