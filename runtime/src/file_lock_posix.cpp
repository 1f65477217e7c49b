#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "runtime/file_lock.h"
#include "runtime/text.h"

namespace rt {
namespace {

// The decimal id at the start of the file; 0 when there is none.
std::int64_t HolderOf(int fd) {
  char buffer[32];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return 0;
  return ParseDecimal(std::string_view(buffer, static_cast<std::size_t>(n))).value_or(0);
}

}  // namespace

ProcessLock ProcessLock::Take(const Path& path) {
  // Close-on-exec: an editor the program starts must not keep the lock alive.
  const int fd = ::open(path.native().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return {State::kFailed, -1, 0};
  int locked = 0;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const bool taken = errno == EWOULDBLOCK;
    const std::int64_t holder = taken ? HolderOf(fd) : 0;
    ::close(fd);
    return {taken ? State::kTaken : State::kFailed, -1, holder};
  }
  const std::string id = std::to_string(ProcessId());
  // The id is a courtesy to the next copy: the lock holds without it.
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, id.data(), id.size(), 0);
  return {State::kHeld, fd, 0};
}

ProcessLock::ProcessLock(ProcessLock&& other) noexcept
    : state_(other.state_), handle_(std::exchange(other.handle_, -1)), holder_(other.holder_) {}

ProcessLock::~ProcessLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::int64_t ProcessId() {
  return ::getpid();
}

}  // namespace rt
