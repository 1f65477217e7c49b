// Starting another program with the signal dispositions it expects.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <unistd.h>  // environ

namespace rt::posix {

// posix_spawnp, with SIGPIPE, SIGINT, SIGTERM and SIGHUP back at their
// defaults in the child: ignored ones would be inherited across exec.
inline int SpawnProgram(pid_t* pid, char* const argv[], const posix_spawn_file_actions_t* actions) {
  posix_spawnattr_t attr;
  ::posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  const int failed = ::posix_spawnp(pid, argv[0], actions, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  return failed;
}

}  // namespace rt::posix
