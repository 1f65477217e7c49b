// Console pieces shared by the platform implementations.
#pragma once

#include <string>

namespace rt {

// Size of one console read.
inline constexpr std::size_t kConsoleReadBuffer = 2048;
// Pieces of at most this size go to the output handle.
inline constexpr std::size_t kConsoleWritePiece = 1024;

// Serves one console read from `pending`, refilling it with readRaw (one
// line in code page 936 with its "\r\n" when it ended in one; false at end
// of input). A line longer than one read is handed out over several reads,
// never cutting a double-byte character, as the platform's console does.
std::string ReadConsolePiece(std::string& pending, bool (*readRaw)(std::string& line));

}  // namespace rt
