// What the portable frame needs from the platform.
#pragma once

#include <string>
#include <string_view>

#include "runtime/frame.h"

namespace rt::platform {

void InitComponentLibrary();
void UninitComponentLibrary();
void ShowErrorBox(std::string_view text, std::string_view title);
[[noreturn]] void EndProcess(int code);
// Hands interrupts and termination requests to StopOnRequest; ignores
// broken pipes.
void InstallStopRequests();
#ifdef _WIN32
// The console control handler (Ctrl+C, Ctrl+Break, close, logoff, shutdown).
int __stdcall OnConsoleControl(unsigned long event);
#endif

using LibraryHandle = void*;
// The library if the process already has it, else nullptr.
LibraryHandle FindLoadedLibrary(const std::string& name);
LibraryHandle LoadLibrary(const std::string& name);
void FreeLibrary(LibraryHandle library);
void* FindRoutine(LibraryHandle library, const RoutineLookup& lookup);

}  // namespace rt::platform
