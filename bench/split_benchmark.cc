// Times the built tool's split, and merge through the example client,
// against the shell's own replacement of a file by a copy of the same bytes,
// durable (`cp`, `sync` of the copy, `mv`, `sync` of the directory) and not
// (`cp` then `mv`), side by side in one run, and records each program's peak
// memory.
//
// Every iteration first puts a fresh image in place and syncs the disk (not
// timed), so that no command pays for another's write-back; then it times
// one whole process of the program, from spawn to exit. The fixtures live
// in $PARSE_LOGO_BIN_BENCH_DIR, or else the temporary directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "parse_logo_bin.hpp"

namespace {
namespace fs = std::filesystem;
using parse_logo_bin::LOGO_HEADER_FILE;
using parse_logo_bin::LOGO_HEADER_SIZE;
using parse_logo_bin::LOGO_IMAGE_FILE;

constexpr std::int64_t kMiB = 1024 * 1024;

// Where this run keeps its fixtures and works; removed at the end of main.
fs::path scratch_dir() {
  const char* root = std::getenv("PARSE_LOGO_BIN_BENCH_DIR");
  return (root ? fs::path(root) : fs::temp_directory_path()) /
         ("logo-bench-" + std::to_string(getpid()));
}

// A working directory for each benchmark, with a fixture image of the
// benchmark's size that iterations copy from. Fixtures are made once a run
// and shared by the benchmarks of the same size.
class Workspace {
 public:
  explicit Workspace(std::int64_t size) : dir_(scratch_dir()) {
    fs::create_directories(dir_);
    fixture_ = dir_ / ("fixture-" + std::to_string(size));
    if (!fs::exists(fixture_) ||
        fs::file_size(fixture_) != static_cast<std::uintmax_t>(size))
      write_random(fixture_, size);
    work_ = dir_ / "work";
    fs::remove_all(work_);
    fs::create_directories(work_);
  }
  ~Workspace() { fs::remove_all(work_); }

  const fs::path& work() const { return work_; }

  // Lays out the inputs of the next run, on disk; the previous run's
  // outputs go.
  void prepare(bool split_already) {
    fs::remove_all(work_);
    fs::create_directories(work_);
    if (split_already) {
      std::ifstream in(fixture_, std::ios::binary);
      std::string header(LOGO_HEADER_SIZE, '\0');
      in.read(header.data(), static_cast<std::streamsize>(header.size()));
      std::ofstream(work_ / LOGO_HEADER_FILE, std::ios::binary) << header;
    }
    fs::copy_file(fixture_, work_ / LOGO_IMAGE_FILE);
    sync();
  }

 private:
  static void write_random(const fs::path& path, std::int64_t size) {
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(kMiB / sizeof(std::uint64_t));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::int64_t written = 0; written < size; written += kMiB) {
      for (auto& word : block) word = random();
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min(kMiB, size - written)));
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }

  fs::path dir_, fixture_, work_;
};

// The peak resident memory of the stopped process `pid`, in KiB.
long peak_memory_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Runs `argv` in `dir`, with its standard output discarded, and returns its
// wall time; raises `peak_kib` to its peak memory. The child is traced only
// to stop it on its way out, when its memory can still be read: the rusage
// of a child would also count the memory of this process, which it started
// as a copy of.
double run_timed(const std::vector<std::string>& argv, const fs::path& dir,
                 long* peak_kib) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv)
    pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    if (chdir(dir.c_str()) != 0) _exit(126);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);  // stopped by its exec
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
    int signal_number = 0;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8)))
      *peak_kib = std::max(*peak_kib, peak_memory_kib(pid));
    else
      signal_number = WSTOPSIG(status);  // passed on untouched
    ptrace(PTRACE_CONT, pid, nullptr, signal_number);
  }
  auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(argv[0] + " failed");
  return std::chrono::duration<double>(end - start).count();
}

// One benchmark: before each iteration the workspace is prepared, then
// `argv` runs in it.
void run_program(benchmark::State& state, std::vector<std::string> argv,
                 bool split_already) {
  const std::int64_t size = state.range(0) * kMiB;
  Workspace workspace(size);
  long peak_kib = 0;
  for (auto _ : state) {
    workspace.prepare(split_already);
    state.SetIterationTime(run_timed(argv, workspace.work(), &peak_kib));
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["peak_rss_KiB"] = static_cast<double>(peak_kib);
}

void Split(benchmark::State& state) {
  run_program(state, {PARSE_LOGO_BIN_TOOL}, false);
}

// The shell's durable replacement of the image by the same bytes: each
// step done, flushed to disk, and only then the next.
void DurableCpThenMv(benchmark::State& state) {
  run_program(state,
              {"sh", "-c",
               "cp --reflink=never logo_no_compressed.bin copy.bin && "
               "sync copy.bin && mv copy.bin logo_no_compressed.bin && "
               "sync ."},
              false);
}

// The same without flushes: what durability costs.
void CpThenMv(benchmark::State& state) {
  run_program(state,
              {"sh", "-c",
               "cp --reflink=never logo_no_compressed.bin copy.bin && "
               "mv copy.bin logo_no_compressed.bin"},
              false);
}

// Rebuilds the image from a 16-byte header file and a body of the size.
void Merge(benchmark::State& state) {
  run_program(state, {REBUILD_LOGO_IMAGE}, true);
}

void apply_sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"MiB"});
  for (std::int64_t mib : {8, 256}) benchmark->Args({mib});
  benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
}

BENCHMARK(Split)->Apply(apply_sizes);
BENCHMARK(DurableCpThenMv)->Apply(apply_sizes);
BENCHMARK(CpThenMv)->Apply(apply_sizes);
BENCHMARK(Merge)->Apply(apply_sizes);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(scratch_dir());
  return 0;
}
