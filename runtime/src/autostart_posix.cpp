// The program as a systemd user unit, told to systemd through systemctl.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "locale_posix.h"
#include "runtime/autostart.h"
#include "runtime/file.h"
#include "spawn_posix.h"

namespace rt {
namespace {

// systemctl answers at once; one that hangs (no bus) is given up.
constexpr std::int64_t kToolTimeLimitMs = 30000;
// What is kept of its output: its first line is all that is shown.
constexpr std::size_t kToolOutputKept = 4096;

std::string HomeFolder() {
  const char* home = ::getenv("HOME");
  if (home && *home == '/') return home;
  const passwd* user = ::getpwuid(::getuid());
  return user && user->pw_dir ? user->pw_dir : "";
}

// Where systemd looks for a user's own units.
std::string UnitFolder() {
  const char* config = ::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return std::string(config) + "/systemd/user";
  const std::string home = HomeFolder();
  return home.empty() ? "" : home + "/.config/systemd/user";
}

bool MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    if (::mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

struct ToolRun {
  bool found = true;
  bool succeeded = false;
  std::string output;  // its first bytes, standard output and error together
};

std::int64_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Keeps the first bytes the child writes until it closes its end or time is up.
void ReadUntilClosed(int fd, std::int64_t deadline, std::string& output) {
  char buffer[1024];
  for (;;) {
    const std::int64_t left = deadline - NowMs();
    if (left <= 0) return;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    if (output.size() < kToolOutputKept) output.append(buffer, static_cast<std::size_t>(n));
  }
}

// True when the child exits with 0 by the deadline; ended at the deadline.
bool WaitOrEnd(pid_t pid, std::int64_t deadline) {
  int status = 0;
  pid_t done = 0;
  for (;;) {
    done = ::waitpid(pid, &status, WNOHANG);
    if (done < 0 && errno == EINTR) continue;
    if (done != 0 || NowMs() >= deadline) break;
    ::usleep(10000);
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
  }
  return done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// systemctl --user with the arguments, its input empty and its output kept.
ToolRun Systemctl(std::vector<std::string> args) {
  ToolRun run;
  args.insert(args.begin(), {"systemctl", "--user"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
  pid_t pid = 0;
  const int failed = posix::SpawnProgram(&pid, argv.data(), &actions);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (failed != 0) {
    ::close(ends[0]);
    run.found = failed != ENOENT;
    return run;
  }
  const std::int64_t deadline = NowMs() + kToolTimeLimitMs;
  ReadUntilClosed(ends[0], deadline, run.output);
  ::close(ends[0]);
  run.succeeded = WaitOrEnd(pid, deadline);
  return run;
}

std::string FirstLine(std::string_view output) {
  const std::size_t start = std::min(output.find_first_not_of(" \t\r\n"), output.size());
  output.remove_prefix(start);
  return posix::FromLocale(output.substr(0, output.find_first_of("\r\n")));
}

// Runs the steps in order up to the first failure.
void TellSystemd(AutostartResult& result, std::initializer_list<std::vector<std::string>> steps) {
  for (const auto& step : steps) {
    const ToolRun run = Systemctl(step);
    if (!run.found) {
      result.outcome = AutostartOutcome::kNoManager;
      return;
    }
    if (!run.succeeded) {
      result.outcome = AutostartOutcome::kManagerFailed;
      result.detail = FirstLine(run.output);
      return;
    }
  }
}

std::string UnitFile(const AutostartProgram& program) {
  const std::string folder = UnitFolder();
  return folder.empty() ? "" : folder + "/" + program.name + ".service";
}

}  // namespace

AutostartEntry FindAutostart(const AutostartProgram& program) {
  AutostartEntry entry;
  entry.file = Path(UnitFile(program));
  if (entry.file.empty()) return entry;
  entry.present = StatFile(entry.file).exists;
  const Bytes bytes = ReadFileBytes(entry.file).value_or({});
  const auto target = UnitExecStart(std::string(bytes.begin(), bytes.end()), HomeFolder());
  if (!target) return entry;
  entry.target = Path(*target);
  entry.startsProgram = SameFile(*target, program.program.native());
  return entry;
}

AutostartResult EnableAutostart(const AutostartProgram& program) {
  AutostartResult result;
  result.before = FindAutostart(program);
  const std::string& file = result.before.file.native();
  const auto unit = UserUnitText(program.program.native(), program.title);
  if (!unit) {
    result.outcome = AutostartOutcome::kUnfitPath;
  } else if (file.empty() || !MakeFolders(UnitFolder())) {
    result.outcome = AutostartOutcome::kNoFolder;
  } else if (!WriteFileBytes(result.before.file, Bytes(unit->begin(), unit->end()))) {
    result.outcome = AutostartOutcome::kFileFailed;
  } else {
    TellSystemd(result, {{"daemon-reload"}, {"enable", "--now", program.name + ".service"}});
  }
  return result;
}

AutostartResult DisableAutostart(const AutostartProgram& program) {
  AutostartResult result;
  result.before = FindAutostart(program);
  if (!result.before.present) return result;
  const std::string unit = program.name + ".service";
  TellSystemd(result, {{"disable", "--now", unit}});
  const AutostartOutcome told = result.outcome;
  // The link enabling made, in case systemctl could not take it away.
  const std::string wants = UnitFolder() + "/default.target.wants/" + unit;
  struct stat st {};
  if (::lstat(wants.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(wants.c_str());
  if (::unlink(result.before.file.native().c_str()) != 0 && errno != ENOENT) {
    result.outcome = AutostartOutcome::kFileFailed;
    return result;
  }
  if (told == AutostartOutcome::kDone) TellSystemd(result, {{"daemon-reload"}});
  return result;
}

}  // namespace rt
