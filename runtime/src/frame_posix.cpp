#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

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
