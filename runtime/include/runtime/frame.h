// The process frame: start, stop, exit hooks, library modules, fatal reports
// and binding of library routines by name.
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

// Adds a library module; it is told of start and stop in the order added.
void AddLibraryModule(ModuleEntry entry);
// Slot 1..3; nullptr empties it.
void SetExitHook(int slot, ExitHook hook);

// Out-of-memory handler, stop requests (InstallStopRequests), component
// library, start notification to each module.
void RuntimeStartup();

// Exit code of a stop asked for by an interrupt (Ctrl+C, Ctrl+Break, SIGINT);
// a termination request (SIGTERM, SIGHUP, the console window closing) ends
// with 0, as a normal stop.
inline constexpr int kInterruptExitCode = 130;
// Longest wait for the stop steps when the stop was asked for from outside.
inline constexpr int kStopGraceMs = 900;

// Lets the outside world stop the program in order (StopOnRequest), and
// makes a write to a closed pipe fail instead of ending the process.
// Called by RuntimeStartup; later calls do nothing.
void InstallStopRequests();
// Runs the stop sequence, on another thread and for at most kStopGraceMs,
// then ends the process with the code.
[[noreturn]] void StopOnRequest(int code);
// Blocks the calling thread for good; the process goes on until a stop
// request or a fatal report ends it.
[[noreturn]] void WaitForStop();

struct ProgramSteps {
  void (*start)() = nullptr;    // runs before main
  ExitHook exitHook = nullptr;  // becomes exit hook 1
  int (*main)() = nullptr;      // its result is the exit code
};
// Runs the steps, then ExitProgram with main's result (0 without main).
[[noreturn]] void ProgramStart(const ProgramSteps& steps);

// Runs the stop steps (exit hooks 1..3, stop notifications, release of the
// libraries loaded by the binder, component library) without ending the
// process. Each step runs at most once per process: a call from another
// thread while they run waits for them (at most kStopGraceMs), a call from
// one of the steps returns at once.
void RunStopSequence();
// RunStopSequence, then ends the process with the code.
[[noreturn]] void ExitProgram(int code);

// Modal error box (on a system without one: title and text on standard error).
void ShowErrorBox(std::string_view text, std::string_view title);

inline constexpr int kRuntimeErrorCount = 11;
std::string_view RuntimeErrorText(int number);  // "" outside 1..11
std::string FormatRuntimeError(int number, int site, int offset, bool hostModule);

// Shows the report in a box titled "error" and ends the process with code 1.
[[noreturn]] void RaiseRuntimeError(int number, int site, int offset);
// The same for a fault inside a library module: the library's own cleanup
// runs instead of the host's stop sequence.
[[noreturn]] void RaiseLibraryRuntimeError(int number, int site, int offset, void (*cleanup)());

// Raises error 4 for an index below 1 and error 1 past the count.
void CheckArrayIndex(std::int64_t index, std::int64_t count, int site, int offset);

// Report for exhausted memory, then exit code 1.
[[noreturn]] void ReportOutOfMemory();

// Memory any module of the process may release, whatever C runtime it was
// built with (the process heap on Windows, malloc elsewhere); nullptr when
// none is left. FreeSharedBytes(nullptr) does nothing.
void* AllocateSharedBytes(std::size_t size);
void FreeSharedBytes(void* bytes);

// Resolves routineName in libraryName ("#n": ordinal n, the number read as
// atoi reads it, so "#12abc" is 12; "name@@..." looks up
// "name"), loading the library when it is not yet in the process, and stores
// the routine in the slot. A library or routine that cannot be found is a
// fatal report. Safe when several threads bind at once.
void* BindLibraryRoutine(std::string_view libraryName, std::string_view routineName,
                         std::atomic<void*>* slot);
// Frees the libraries the binder loaded (part of the stop sequence).
void ReleaseLoadedLibraries();
// Number of libraries the binder loaded and has not released.
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
