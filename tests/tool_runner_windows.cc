// Running programs on Windows (under wine in CI): CreateProcessW with pipes,
// drained by two threads.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tool_runner.h"

namespace parse_logo_bin::testing {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": error " +
                           std::to_string(::GetLastError()));
}

HANDLE handle_of(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// An argument as CommandLineToArgvW reads it back.
std::wstring quoted(const std::wstring& argument) {
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(2 * backslashes, L'\\');
  return result + L"\"";
}

void drain(HANDLE pipe, std::string* sink) {
  char buffer[4096];
  DWORD count;
  while (::ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0)
    sink->append(buffer, count);
}

}  // namespace

ScratchDir::ScratchDir() {
  std::random_device random;
  base_ = (fs::temp_directory_path() /
           ("logo-test-" + std::to_string(random()) + "-" +
            std::to_string(::GetCurrentProcessId())))
              .string();
  work_ = base_ + "/work";
  fs::create_directories(work_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

bool ScratchDir::mount_tmpfs(const std::string&) { return false; }

Process ScratchDir::start(const std::string& program,
                          const RunOptions& options) {
  if (!options.faults.empty() || options.unprivileged ||
      options.file_size_limit != 0 || !options.ignored_signals.empty() ||
      !options.closed_descriptors.empty())
    throw std::logic_error("this run needs Linux; skip the test");
  std::wstring command_line = quoted(fs::path(program).wstring());
  for (const std::string& arg : options.args)
    command_line += L" " + quoted(fs::path(arg).wstring());

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!::CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !::CreatePipe(&err_read, &err_write, &inherit, 0))
    fail("CreatePipe");
  ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION created{};
  std::wstring directory = fs::path(work_).wstring();
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, directory.c_str(), &startup, &created))
    fail("CreateProcessW");
  ::CloseHandle(created.hThread);
  ::CloseHandle(out_write);
  ::CloseHandle(err_write);
  return Process(reinterpret_cast<std::intptr_t>(created.hProcess),
                 reinterpret_cast<std::intptr_t>(out_read),
                 reinterpret_cast<std::intptr_t>(err_read),
                 options.timeout_seconds);
}

Process::~Process() {
  if (process_ == -1) return;
  ::TerminateProcess(handle_of(process_), 1);
  wait();
}

void Process::signal(int) const { ::TerminateProcess(handle_of(process_), 1); }

bool Process::has_ended() const {
  return ::WaitForSingleObject(handle_of(process_), 0) == WAIT_OBJECT_0;
}

Outcome Process::wait() {
  Outcome outcome;
  std::thread out_reader(drain, handle_of(out_), &outcome.out);
  std::thread err_reader(drain, handle_of(err_), &outcome.err);
  DWORD timeout = static_cast<DWORD>(timeout_seconds_) * 1000;
  if (::WaitForSingleObject(handle_of(process_), timeout) != WAIT_OBJECT_0)
    ::TerminateProcess(handle_of(process_), 1);
  ::WaitForSingleObject(handle_of(process_), INFINITE);
  out_reader.join();
  err_reader.join();
  ::CloseHandle(handle_of(out_));
  ::CloseHandle(handle_of(err_));
  DWORD code = 1;
  ::GetExitCodeProcess(handle_of(process_), &code);
  ::CloseHandle(handle_of(std::exchange(process_, -1)));
  outcome.exit_code = static_cast<int>(code);
  return outcome;
}

bool make_fifo(const std::string&) { return false; }

}  // namespace parse_logo_bin::testing
