// Running programs on POSIX systems: fork and exec, pipes, signals, and
// tmpfs mounts in a private mount namespace.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "tool_runner.h"

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
    if (options.file_size_limit != 0) {
      rlimit limit{options.file_size_limit, options.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
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

Process::~Process() {
  if (process_ < 0) return;
  kill(static_cast<pid_t>(process_), SIGKILL);
  kill(static_cast<pid_t>(process_), SIGCONT);
  wait();
}

void Process::signal(int signal_number) const {
  kill(static_cast<pid_t>(process_), signal_number);
}

bool Process::has_ended() const {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(process_), &info,
                WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == process_;
}

Outcome Process::wait() {
  Outcome outcome;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
  int out_fd = static_cast<int>(out_), err_fd = static_cast<int>(err_);
  if (!collect(out_fd, err_fd, &outcome.out, &outcome.err, deadline)) {
    kill(static_cast<pid_t>(process_), SIGKILL);
    close(out_fd);
    close(err_fd);
  }
  int status;
  while (waitpid(static_cast<pid_t>(process_), &status, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  process_ = -1;
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

bool make_fifo(const std::string& path) {
  return mkfifo(path.c_str(), 0666) == 0;
}

}  // namespace parse_logo_bin::testing
