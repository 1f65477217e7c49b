#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "locale_posix.h"
#include "runtime/file.h"
#include "spawn_posix.h"

namespace rt {
namespace {

// Splits a command line at blanks; double quotes group blanks into one
// argument, as the platform's command lines do.
std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false, inArg = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg) args.push_back(std::move(current));
      current.clear();
      inArg = false;
    } else {
      current.push_back(c);
      inArg = true;
    }
  }
  if (inArg) args.push_back(std::move(current));
  return args;
}

void WaitFor(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Starts argv[0] (searched in PATH); waits for it or reaps it in the
// background when it ends.
bool Spawn(std::vector<std::string> args, bool wait) {
  if (args.empty()) return false;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix::SpawnProgram(&pid, argv.data(), nullptr) != 0) return false;
  if (wait) {
    WaitFor(pid);
  } else {
    std::thread([pid] { WaitFor(pid); }).detach();
  }
  return true;
}

}  // namespace

Path Path::FromText(std::string_view text) {
  return Path(posix::ToLocale(text));
}

std::string Path::Display() const {
  return posix::FromLocale(native_);
}

Path operator/(const Path& folder, std::string_view name) {
  if (folder.empty()) return Path::FromText(name);
  return Path(folder.native() + "/" + posix::ToLocale(name));
}

Path ProgramPath() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  return Path(std::move(path));  // the bytes as they are: no conversion
}

Path ProgramDirectory() {
  std::string path = ProgramPath().native();
  const auto slash = path.rfind('/');
  if (slash != std::string::npos) path.resize(slash == 0 ? 1 : slash);
  return Path(std::move(path));  // the bytes as they are: no conversion
}

namespace {

ReadError ReadErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ReadError::kMissing;
    case EISDIR:
      return ReadError::kFolder;
    case EACCES:
    case EPERM:
      return ReadError::kDenied;
    default:
      return ReadError::kUnreadable;
  }
}

}  // namespace

Result<Bytes, ReadError> ReadFileBytes(const Path& path) {
  using Read = Result<Bytes, ReadError>;
  const int fd = ::open(path.native().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Read::Failure(ReadErrorOf(errno));
  Bytes bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;  // a folder opens, and fails here
      ::close(fd);
      return Read::Failure(ReadErrorOf(error));
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return bytes;
}

namespace {

// Writes every byte, going on after interruptions; false on a failure.
bool WriteAll(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteFileBytes(const Path& path, const Bytes& bytes, FileAccess access) {
  const std::string& local = path.native();
  const std::string temp = local + ".tmp";
  // The replacement keeps the permissions of the file it replaces.
  struct stat old {};
  const bool replacing = ::stat(local.c_str(), &old) == 0;
  mode_t mode = replacing ? (old.st_mode & 07777) : 0644;
  const bool secret = access == FileAccess::kOwnerOnly;
  if (secret) mode = (mode & 0700) | 0600;
  // A stale temporary file would keep its own mode.
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The umask may have taken bits the old file had; a secret gets no more.
  bool ok = !(replacing || secret) || ::fchmod(fd, mode) == 0;
  ok = ok && WriteAll(fd, bytes);
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), local.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool RunCommandLine(std::string_view commandLine, bool wait, int /*windowStyle*/) {
  return Spawn(SplitCommandLine(posix::ToLocale(commandLine)), wait);
}

bool OpenTextEditor(const Path& path) {
  // The desktop's opener; something to open must exist first.
  std::string local = path.native();
  const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
  // Its messages stay off the console, and a terminal browser it may fall
  // back to never takes the console's input.
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string opener = "xdg-open";
  char* argv[] = {opener.data(), local.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  // Without a desktop the opener gives up at once; a verdict within a short
  // while tells whether an editor opened. One still running has opened it.
  for (int i = 0; i < 30; ++i) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return true;
    timespec pause{0, 100 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  std::thread([pid] { WaitFor(pid); }).detach();
  return true;
}

bool AppendFileBytes(const Path& path, const Bytes& bytes) {
  const int fd = ::open(path.native().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  const bool sized = ::fstat(fd, &st) == 0;
  const bool ok = sized && WriteAll(fd, bytes);
  // A short write (a full disk) is cut back off: the next append must not
  // be glued to a part.
  if (sized && !ok) (void)::ftruncate(fd, st.st_size);
  return ::close(fd) == 0 && ok;
}

bool RenameFile(const Path& from, const Path& to) {
  return ::rename(from.native().c_str(), to.native().c_str()) == 0;
}

FileStamp StatFile(const Path& path) {
  struct stat st {};
  if (::stat(path.native().c_str(), &st) != 0) return {};
  constexpr std::int64_t kNs = 1000000000;
  return {
      .exists = true,
      .size = static_cast<std::uint64_t>(st.st_size),
      .modified = std::int64_t{st.st_mtim.tv_sec} * kNs + st.st_mtim.tv_nsec,
      .changed = std::int64_t{st.st_ctim.tv_sec} * kNs + st.st_ctim.tv_nsec,
      .id = static_cast<std::uint64_t>(st.st_ino) ^ (static_cast<std::uint64_t>(st.st_dev) << 48)};
}

bool DelayWithMessages(int interval, int unit) {
  const double ms = DelayMilliseconds(interval, unit);
  if (!(ms > 0)) return true;
  const double seconds = std::floor(ms / 1000);
  timespec left{static_cast<time_t>(seconds),
                std::min(static_cast<long>((ms - seconds * 1000) * 1e6), 999999999L)};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  return true;
}

// A console program on this platform has no window message queue.
void ProcessPendingMessages() {}

}  // namespace rt
