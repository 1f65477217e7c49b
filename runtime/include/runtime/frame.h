// The process frame: start, stop, exit hooks, library modules, fatal reports
// and binding of library routines by name. Starting is the main thread's;
// stopping, fatal reports and binding may come from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// Notification entry of a library module: (code, value, reserved) -> result.
using ModuleEntry = std::int32_t (*)(std::int32_t code, std::intptr_t value,
                                     std::intptr_t reserved);
inline constexpr std::int32_t kNotifyStart = 1;
inline constexpr std::int32_t kNotifyStop = 6;

using ExitHook = void (*)();
inline constexpr int kExitHookCount = 3;

// Adds a library module; it is told of start (by RuntimeStartup, so add it
// before) and stop in the order added. The entry must stay callable until the
// stop sequence. Any thread, but not from a library's load-time code while
// BindLibraryRoutine loads it (the frame's lock is held then).
void AddLibraryModule(ModuleEntry entry);
// Slot 1..3 (others are ignored); nullptr empties it. Hooks run first in
// the stop sequence, slot 1 first. Any thread.
void SetExitHook(int slot, ExitHook hook);

// Out-of-memory handler, stop requests (InstallStopRequests), component
// library (for the calling thread), start notification to each module. Once,
// from the main thread, before the program's own work.
void RuntimeStartup();

// Exit code of a stop asked for by an interrupt (Ctrl+C, Ctrl+Break, SIGINT);
// a termination request (SIGTERM, SIGHUP, the console window closing) ends
// with 0, as a normal stop.
inline constexpr int kInterruptExitCode = 130;
// Longest wait for the stop steps when the stop was asked for from outside.
inline constexpr int kStopGraceMs = 900;

// Lets the outside world stop the program in order (StopOnRequest), and
// makes a write to a closed pipe fail instead of ending the process. On POSIX
// a signal ignored from the start (nohup) stays ignored. Called by
// RuntimeStartup; later calls do nothing.
void InstallStopRequests();
// Runs the stop sequence, on another thread and for at most kStopGraceMs,
// then ends the process with the code (as ExitProgram does). Any thread.
[[noreturn]] void StopOnRequest(int code);
// Blocks the calling thread for good; the process goes on until a stop
// request or a fatal report ends it.
[[noreturn]] void WaitForStop();

struct ProgramSteps {
  void (*start)() = nullptr;    // runs before main
  ExitHook exitHook = nullptr;  // becomes exit hook 1
  int (*main)() = nullptr;      // its result is the exit code
};
// Runs start, makes exitHook exit hook 1 (emptying it without one), runs
// main, then ExitProgram with main's result (0 without main).
[[noreturn]] void ProgramStart(const ProgramSteps& steps);

// Runs the stop steps (exit hooks 1..3, stop notifications, release of the
// libraries loaded by the binder, component library) without ending the
// process. Each step runs at most once per process: a call from another
// thread while they run waits for them (at most kStopGraceMs), a call from
// one of the steps returns at once. Any thread.
void RunStopSequence();
// RunStopSequence, then ends the process with the code at once: no static
// destructors or exit handlers run, since other threads may still be at work.
[[noreturn]] void ExitProgram(int code);

// Title and text on standard error and, on Windows, in a modal error box too,
// which blocks the calling thread until the user closes it. Any thread.
void ShowErrorBox(std::string_view text, std::string_view title);

inline constexpr int kRuntimeErrorCount = 11;
std::string_view RuntimeErrorText(int number);  // "" outside 1..11
// The report of a runtime error: its number, its text and where it was
// raised (hostModule: the host's own code, with its version note).
std::string FormatRuntimeError(int number, int site, int offset, bool hostModule);

// Shows the report in a box titled "error", runs the stop sequence and ends
// the process with code 1.
[[noreturn]] void RaiseRuntimeError(int number, int site, int offset);
// The same for a fault inside a library module: the library's own cleanup
// (nullptr: none) runs instead of the host's stop sequence.
[[noreturn]] void RaiseLibraryRuntimeError(int number, int site, int offset, void (*cleanup)());

// Returns when 1 <= index <= count; raises error 4 for an index below 1 and
// error 1 past the count, which end the process.
void CheckArrayIndex(std::int64_t index, std::int64_t count, int site, int offset);

// Report for exhausted memory, then exit code 1 after the stop sequence; a
// second report while one is under way ends the process at once.
[[noreturn]] void ReportOutOfMemory();

// Memory any module of the process may release, whatever C runtime it was
// built with (the process heap on Windows, malloc elsewhere); nullptr when
// none is left. FreeSharedBytes(nullptr) does nothing. Any thread.
void* AllocateSharedBytes(std::size_t size);
void FreeSharedBytes(void* bytes);

// Resolves routineName in libraryName ("#n": ordinal n, the number read as
// atoi reads it, so "#12abc" is 12, and 0 past 65535; "name@@..." looks up
// "name"), loading the library when it is not yet in the process, and stores
// the routine in the slot, which the caller keeps: a slot already set is
// returned at once. Returns the routine; a library or routine that cannot be
// found is a fatal report (exit code 1). Ordinals are found on Windows only.
// Safe when several threads bind at once; a library's load-time code must
// not bind or add a module.
void* BindLibraryRoutine(std::string_view libraryName, std::string_view routineName,
                         std::atomic<void*>* slot);
// Frees the libraries the binder loaded (part of the stop sequence); slots
// bound into them are then stale.
void ReleaseLoadedLibraries();
// Number of libraries the binder loaded and has not released. It keeps 100 at
// most: one loaded beyond that is never released nor counted.
int LoadedLibraryCount();

// What a routine is looked up by: the ordinal of "#n", else the name after
// the "@@" rule.
struct RoutineLookup {
  std::string name;
  bool byOrdinal = false;
  long ordinal = 0;
};
RoutineLookup ParseRoutineName(std::string_view routineName);

}  // namespace rt
