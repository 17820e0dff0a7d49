// The platform layer on Windows: Win32 file handles, FlushFileBuffers,
// MoveFileExW, a named mutex per directory, and console control events.
//
// Where Windows differs: a directory cannot be flushed (its entries are
// written through by MoveFileExW instead); a file open elsewhere without
// sharing cannot be replaced or removed; the read-only attribute stands in
// for permission bits; Ctrl+C, Ctrl+Break and closing the console are the
// interrupts.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "platform.h"

namespace parse_logo_bin::platform {
namespace {

// The system's reason, as an errno value where one says the same (so that
// a missing file compares equal to std::errc::no_such_file_or_directory,
// and its text is the one the tool prints elsewhere), else as it is.
std::error_code error_from(DWORD code) {
  int value = 0;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      value = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      value = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      value = EEXIST;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      value = ENOSPC;
      break;
    case ERROR_FILE_TOO_LARGE:
      value = EFBIG;
      break;
    case ERROR_NOT_SAME_DEVICE:
      value = EXDEV;
      break;
    case ERROR_WRITE_PROTECT:
      value = EROFS;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      value = ENAMETOOLONG;
      break;
    case ERROR_DIRECTORY:
      value = ENOTDIR;
      break;
    default:
      return std::error_code(static_cast<int>(code), std::system_category());
  }
  return std::error_code(value, std::generic_category());
}

std::error_code last_error() { return error_from(::GetLastError()); }

HANDLE handle_of(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool information_of(std::intptr_t handle, BY_HANDLE_FILE_INFORMATION* info,
                    std::error_code& error) {
  if (::GetFileInformationByHandle(handle_of(handle), info)) return true;
  error = last_error();
  return false;
}

}  // namespace

File File::open(const Path& path, Access access, std::error_code& error) {
  DWORD desired = 0;
  DWORD disposition = OPEN_EXISTING;
  switch (access) {
    case Access::kRead:
      desired = GENERIC_READ;
      break;
    case Access::kReadWrite:
      desired = GENERIC_READ | GENERIC_WRITE;
      break;
    case Access::kWriteOrCreate:
      desired = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
      disposition = OPEN_ALWAYS;
      break;
    case Access::kCreateExclusive:
      // Shared for deletion, so that an interrupt can remove it while it is
      // still open here.
      desired = GENERIC_READ | GENERIC_WRITE | DELETE;
      disposition = CREATE_NEW;
      break;
  }
  error.clear();
  HANDLE handle = ::CreateFileW(path.c_str(), desired, kShareAll, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = last_error();
    return File();
  }
  return File(reinterpret_cast<std::intptr_t>(handle));
}

bool File::is_regular_file(std::error_code& error) const {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileType(handle_of(handle_)) == FILE_TYPE_DISK &&
         information_of(handle_, &info, error) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileId File::id(std::error_code& error) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!information_of(handle_, &info, error)) return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
              info.nFileIndexLow};
}

std::uint64_t File::size(std::error_code& error) const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle_of(handle_), &size)) {
    error = last_error();
    return 0;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::read(void* buffer, std::size_t size, std::error_code& error) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(
        std::min<std::size_t>(size - done, static_cast<std::size_t>(1) << 30));
    if (!::ReadFile(handle_of(handle_), bytes + done, wanted, &count,
                    nullptr)) {
      error = last_error();
      break;
    }
    if (count == 0) break;
    done += count;
  }
  return done;
}

void File::write(const void* buffer, std::size_t size, std::error_code& error) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(
        std::min<std::size_t>(size - done, static_cast<std::size_t>(1) << 30));
    if (!::WriteFile(handle_of(handle_), bytes + done, wanted, &count,
                     nullptr)) {
      error = last_error();
      return;
    }
    if (count == 0) {
      error = error_from(ERROR_DISK_FULL);
      return;
    }
    done += count;
  }
}

void File::seek(std::uint64_t offset, std::error_code& error) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(handle_of(handle_), distance, nullptr, FILE_BEGIN))
    error = last_error();
}

void File::truncate(std::uint64_t size, std::error_code& error) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(handle_of(handle_), FileEndOfFileInfo, &end,
                                    sizeof end))
    error = last_error();
}

// Windows has no call to start or wait for the write-back of a range; the
// flush before the rename does it all.
void File::start_writeback(std::uint64_t, std::uint64_t) {}
void File::wait_for_writeback(std::uint64_t, std::uint64_t) {}

void File::sync(std::error_code& error) {
  if (!::FlushFileBuffers(handle_of(handle_))) error = last_error();
}

void File::copy_permissions_from(const Path& other) {
  DWORD attributes = ::GetFileAttributesW(other.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0)
    return;
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(handle_of(handle_), FileBasicInfo, &basic,
                                     sizeof basic)) {
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    ::SetFileInformationByHandle(handle_of(handle_), FileBasicInfo, &basic,
                                 sizeof basic);
  }
}

void File::close(std::error_code& error) {
  if (handle_ == kClosed) return;
  if (!::CloseHandle(handle_of(std::exchange(handle_, kClosed))))
    error = last_error();
}

void rename_replacing(const Path& from, const Path& to,
                      std::error_code& error) {
  // Write-through: the call returns once the rename is on the disk, which
  // stands in for the flush of the directory.
  if (!::MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = last_error();
}

void remove_file(const Path& path, std::error_code& error) {
  if (!::DeleteFileW(path.c_str())) error = last_error();
}

// Directories cannot be flushed on Windows; renames write through instead.
void sync_directory(const Path&, std::error_code&) {}

DirectoryLock::DirectoryLock(const Path& directory) {
  // The lock is a mutex named after the directory's identity (its volume
  // and file index), so that every name of the directory finds it. The
  // system releases a mutex whose holder ends; the next waiter gets it.
  HANDLE dir = ::CreateFileW(
      (directory.empty() ? Path(".") : directory).c_str(), FILE_READ_ATTRIBUTES,
      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = ::GetFileInformationByHandle(dir, &info);
  ::CloseHandle(dir);
  if (!known) return;
  std::wstring name = L"Local\\parse_logo_bin-" +
                      std::to_wstring(info.dwVolumeSerialNumber) + L"-" +
                      std::to_wstring(info.nFileIndexHigh) + L"-" +
                      std::to_wstring(info.nFileIndexLow);
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return;
  DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

DirectoryLock::~DirectoryLock() {
  if (handle_ == -1) return;
  ::ReleaseMutex(handle_of(handle_));
  ::CloseHandle(handle_of(handle_));
}

void prepare_standard_streams() { use_binary_standard_output(); }

void use_binary_standard_output() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

namespace {

// The console control handler runs on a thread of its own: this lock keeps
// it from removing the file while the main thread registers or renames it.
CRITICAL_SECTION& interrupt_lock() {
  static struct Lock {
    Lock() { ::InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
  } lock;
  return lock.section;
}

std::wstring pending_path;
bool has_pending = false;
bool handler_installed = false;

// Removes the registered file (it is open, and shared for deletion: it goes
// when the process ends, which the next handler, the default one, does).
BOOL WINAPI remove_pending_file_on_interrupt(DWORD) {
  ::EnterCriticalSection(&interrupt_lock());
  if (has_pending) ::DeleteFileW(pending_path.c_str());
  has_pending = false;
  ::LeaveCriticalSection(&interrupt_lock());
  return FALSE;
}

}  // namespace

void remove_on_interrupt(const Path& path, std::error_code& error) {
  (void)error;  // any name fits
  ::EnterCriticalSection(&interrupt_lock());
  pending_path = path.wstring();
  has_pending = true;
  if (!handler_installed)
    handler_installed =
        ::SetConsoleCtrlHandler(remove_pending_file_on_interrupt, TRUE);
  ::LeaveCriticalSection(&interrupt_lock());
}

void forget_on_interrupt() {
  ::EnterCriticalSection(&interrupt_lock());
  has_pending = false;
  ::LeaveCriticalSection(&interrupt_lock());
}

InterruptsHeld::InterruptsHeld() { ::EnterCriticalSection(&interrupt_lock()); }

InterruptsHeld::~InterruptsHeld() { ::LeaveCriticalSection(&interrupt_lock()); }

}  // namespace parse_logo_bin::platform
