// Library-wide services: runtime error reports and the module's cleanup.
#pragma once

namespace cron {

// Check sites, told apart in runtime error reports.
inline constexpr int kSiteFullRange = 1;

// Releases the library's global tables (run before a fatal report ends the process).
void LibraryCleanup();

// Reports runtime error `number` at `site` and ends the process.
[[noreturn]] void RaiseLibraryError(int number, int site);

}  // namespace cron
