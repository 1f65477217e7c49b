// Console pieces shared by the platform implementations.
#pragma once

#include <string>

namespace rt {

// Size of one console read.
inline constexpr std::size_t kConsoleReadBuffer = 2048;
// Pieces of at most this size go to the output handle.
inline constexpr std::size_t kConsoleWritePiece = 1024;

// Serves one console read from `pending`. When it is empty, one line is read
// byte by byte with readByte (false at the end of input) and converted to
// code page 936 with fromBytes; it keeps a "\r\n" when it ended in a line
// break ("\n" or "\r\n"), as a console read gives it. A line longer than one
// read is handed out over several reads, never cutting a double-byte
// character, as the platform's console does.
std::string ReadConsolePiece(std::string& pending, bool (*readByte)(char& c),
                             std::string (*fromBytes)(std::string_view bytes));

}  // namespace rt
