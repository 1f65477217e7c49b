#include <windows.h>

#include <string>
#include <utility>

#include "runtime/file_lock.h"
#include "runtime/text.h"

namespace rt {
namespace {

// The locked byte lies far past the id, so that a copy refused the lock can
// still read who holds it.
constexpr DWORD kLockedByteHigh = 1;  // offset 4 GiB

OVERLAPPED LockedRange() {
  OVERLAPPED range{};
  range.OffsetHigh = kLockedByteHigh;
  return range;
}

// The decimal id at the start of the file; 0 when there is none.
std::int64_t HolderOf(HANDLE h) {
  char buffer[32];
  DWORD n = 0;
  if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr) || n == 0) return 0;
  return ParseDecimal(std::string_view(buffer, n)).value_or(0);
}

}  // namespace

ProcessLock ProcessLock::Take(const Path& path) {
  // Not inherited: an editor the program starts must not keep the lock alive.
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.native().c_str()),
                         GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {State::kFailed, -1, 0};
  OVERLAPPED range = LockedRange();
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    const bool taken = GetLastError() == ERROR_LOCK_VIOLATION;
    const std::int64_t holder = taken ? HolderOf(h) : 0;
    CloseHandle(h);
    return {taken ? State::kTaken : State::kFailed, -1, holder};
  }
  const std::string id = std::to_string(ProcessId());
  DWORD written = 0;
  // The id is a courtesy to the next copy: the lock holds without it.
  if (SetEndOfFile(h)) {
    (void)WriteFile(h, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
  }
  return {State::kHeld, reinterpret_cast<std::intptr_t>(h), 0};
}

ProcessLock::ProcessLock(ProcessLock&& other) noexcept
    : state_(other.state_), handle_(std::exchange(other.handle_, -1)), holder_(other.holder_) {}

ProcessLock::~ProcessLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::int64_t ProcessId() {
  return GetCurrentProcessId();
}

}  // namespace rt
