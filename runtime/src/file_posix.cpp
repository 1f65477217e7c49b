#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <thread>

#include "locale_posix.h"
#include "runtime/file.h"

extern char** environ;

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

}  // namespace

std::string ProgramDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return {};
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash != std::string::npos) path.resize(slash);
  return posix::FromLocale(path);
}

Bytes ReadFileBytes(std::string_view path) {
  const int fd = ::open(posix::ToLocale(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  Bytes bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // keep what was read
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return bytes;
}

bool RunCommandLine(std::string_view commandLine, bool wait, int /*windowStyle*/) {
  std::vector<std::string> args = SplitCommandLine(posix::ToLocale(commandLine));
  if (args.empty()) return false;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  if (wait) {
    WaitFor(pid);
  } else {
    std::thread([pid] { WaitFor(pid); }).detach();  // reap it when it ends
  }
  return true;
}

double DelayMilliseconds(int interval, int unit) {
  static constexpr double kMultiplier[] = {1, 1000, 60000, 3600000};
  const double m = unit >= 0 && unit <= 3 ? kMultiplier[unit] : unit;
  return interval * m;
}

bool DelayWithMessages(int interval, int unit) {
  const double ms = DelayMilliseconds(interval, unit);
  if (!(ms > 0)) return true;
  const auto ns = static_cast<long long>(ms * 1e6);
  timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  return true;
}

// A console program on this platform has no window message queue.
void ProcessPendingMessages() {}

}  // namespace rt
