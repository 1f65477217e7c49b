// Texts handed to the host, which may run on another C runtime: they come
// from the process heap on Windows and from malloc elsewhere.
#pragma once

#include <string_view>

namespace cron {

// A zero-terminated copy; exhausted memory is a fatal report.
char* NewHostText(std::string_view text);
void FreeHostText(char* text);

}  // namespace cron
