#include <objbase.h>
#include <windows.h>
#undef LoadLibrary  // ours is the platform layer's

#include <cstdio>

#include "platform.h"
#include "runtime/codepage.h"
#include "runtime/console.h"

namespace rt::platform {

void InitComponentLibrary() {
  CoInitialize(nullptr);
}
void UninitComponentLibrary() {
  CoUninitialize();
}

void ShowErrorBox(std::string_view text, std::string_view title) {
  // Also on standard error, for runs without a desktop.
  WriteStdout(std::string(title) + "\r\n" + std::string(text) + "\r\n", Stream::kErr);
  const std::u16string wideText = TextToWide(text), wideTitle = TextToWide(title);
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(wideText.c_str()),
              reinterpret_cast<const wchar_t*>(wideTitle.c_str()), MB_ICONERROR | MB_OK);
}

void EndProcess(int code) {
  (void)std::fflush(nullptr);
  // Our stop steps have run; ExitProcess would now run every library's
  // detach code while timer and HTTP threads may still be working, which can
  // end the process abnormally. Ending it outright keeps the exit code.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      StopOnRequest(kInterruptExitCode);
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process a few seconds after a close; the stop
      // steps are done well before.
      StopOnRequest(0);
    default:
      return FALSE;
  }
}

void InstallStopRequests() {
  // Writes to a closed pipe already fail here instead of ending the process.
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

LibraryHandle FindLoadedLibrary(const std::string& name) {
  return reinterpret_cast<LibraryHandle>(GetModuleHandleA(name.c_str()));
}

LibraryHandle LoadLibrary(const std::string& name) {
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(name.c_str()));
}

void FreeLibrary(LibraryHandle library) {
  ::FreeLibrary(static_cast<HMODULE>(library));
}

void* FindRoutine(LibraryHandle library, const RoutineLookup& lookup) {
  const auto module = static_cast<HMODULE>(library);
  if (lookup.byOrdinal) {
    if (lookup.ordinal <= 0 || lookup.ordinal > 0xFFFF) return nullptr;
    return reinterpret_cast<void*>(
        GetProcAddress(module, MAKEINTRESOURCEA(static_cast<WORD>(lookup.ordinal))));
  }
  return reinterpret_cast<void*>(GetProcAddress(module, lookup.name.c_str()));
}

}  // namespace rt::platform

namespace rt {

// The process heap is the one heap every module of the process can release
// into, whatever C runtime it was built with.
void* AllocateSharedBytes(std::size_t size) {
  return HeapAlloc(GetProcessHeap(), 0, size);
}

void FreeSharedBytes(void* bytes) {
  if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
}

}  // namespace rt
