#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "locale_posix.h"
#include "platform.h"
#include "runtime/console.h"

namespace rt::platform {

// No component library on this platform.
void InitComponentLibrary() {}
void UninitComponentLibrary() {}

void ShowErrorBox(std::string_view text, std::string_view title) {
  std::string box(title);
  box.append("\r\n").append(text).append("\r\n");
  WriteStdout(box, Stream::kErr);
}

void EndProcess(int code) {
  (void)std::fflush(nullptr);
  // Timer threads may still run: end without running static destructors.
  ::_exit(code);
}

namespace {

int gStopPipe = -1;  // write end; the handler only writes the signal's number

void OnStopSignal(int signal) {
  const int saved = errno;
  const auto number = static_cast<unsigned char>(signal);
  (void)!::write(gStopPipe, &number, 1);
  errno = saved;
}

}  // namespace

void InstallStopRequests() {
  // A reader that went away (`| head`, a closed log pipe) makes writes fail
  // with EPIPE, which the output service gives up on quietly.
  (void)::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  if (::pipe(ends) != 0) return;
  for (int fd : ends) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);  // a flood of signals never blocks the handler
  gStopPipe = ends[1];
  // The stop runs on a thread of its own: the handler itself may interrupt
  // any code, the stop steps take locks.
  std::thread([fd = ends[0]] {
    unsigned char number = 0;
    while (::read(fd, &number, 1) != 1) {
      if (errno != EINTR) return;
    }
    StopOnRequest(number == SIGINT ? kInterruptExitCode : 0);
  }).detach();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start stays ignored: `nohup` ignores SIGHUP,
    // a shell without job control SIGINT for programs it runs in the
    // background.
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

LibraryHandle FindLoadedLibrary(const std::string& name) {
  return ::dlopen(posix::ToLocale(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
}

LibraryHandle LoadLibrary(const std::string& name) {
  return ::dlopen(posix::ToLocale(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void FreeLibrary(LibraryHandle library) {
  ::dlclose(library);
}

void* FindRoutine(LibraryHandle library, const RoutineLookup& lookup) {
  // Shared objects here have no ordinal table.
  if (lookup.byOrdinal) return nullptr;
  return ::dlsym(library, lookup.name.c_str());
}

}  // namespace rt::platform

namespace rt {

void* AllocateSharedBytes(std::size_t size) {
  return std::malloc(size);
}

void FreeSharedBytes(void* bytes) {
  std::free(bytes);
}

}  // namespace rt
