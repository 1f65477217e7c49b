#include <windows.h>
#undef SetConsoleTitle  // ours is the portable service

#include <algorithm>
#include <mutex>

#include "console_internal.h"
#include "runtime/codepage.h"
#include "runtime/console.h"

namespace rt {
namespace {

constexpr UINT kCodePage936 = 936;

std::mutex& OutputMutex() {
  static std::mutex m;
  return m;
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

// Bytes of another code page as program text.
std::string From(UINT codePage, std::string_view bytes) {
  if (codePage == kCodePage936 || bytes.empty()) return std::string(bytes);
  const int in = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), in, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), in, reinterpret_cast<wchar_t*>(wide.data()), n);
  return WideToText(wide);
}

// What files and pipes get: the program's text (code page 936, with
// GB18030's four-byte codes for what 936 lacks), which every system's tools
// can read as GB18030; UTF-8 where that is the system's code page. Another
// code page would lose the program's Chinese texts.
std::string RedirectedBytes(std::string_view text) {
  return GetACP() == CP_UTF8 ? TextToUtf8(text) : std::string(text);
}

std::size_t ReadRedirected(char* buffer, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got, nullptr))
    return 0;
  return got;
}

// Redirected input comes in the system's code page.
std::string FromSystemCodePage(std::string_view bytes) {
  return From(GetACP(), bytes);
}

std::size_t SystemCodePageOpenTail(std::string_view bytes) {
  const UINT codePage = GetACP();
  if (codePage == CP_UTF8) return Utf8OpenTail(bytes);
  if (codePage == kCodePage936) return GbkOpenTail(bytes);  // taken as it is, four-byte codes too
  std::size_t i = 0;
  while (i + 1 < bytes.size()) i += IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) ? 2 : 1;
  return i < bytes.size() && IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) ? 1 : 0;
}

// Only the main thread reads the console.
StreamLineReader& RedirectedReader() {
  static StreamLineReader reader({ReadRedirected, FromSystemCodePage, SystemCodePageOpenTail});
  return reader;
}

// Whether redirected input has nothing more to give, told without reading
// it: a file read to its end, a pipe whose writer is gone with nothing left
// in it, or a character device that is no console (NUL).
bool RedirectedAtEnd(HANDLE in) {
  switch (GetFileType(in)) {
    case FILE_TYPE_DISK: {
      LARGE_INTEGER at{}, size{};
      return SetFilePointerEx(in, LARGE_INTEGER{}, &at, FILE_CURRENT) && GetFileSizeEx(in, &size) &&
             at.QuadPart >= size.QuadPart;
    }
    case FILE_TYPE_PIPE: {
      DWORD waiting = 0;
      if (PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr)) return false;
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    case FILE_TYPE_CHAR:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string TextToConsole(std::string_view text) {
  return RedirectedBytes(text);
}
std::string TextFromConsole(std::string_view bytes) {
  return FromSystemCodePage(bytes);
}

void WriteStdout(std::string_view text, Stream stream) {
  if (text.empty()) return;
  HANDLE h = GetStdHandle(stream == Stream::kErr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  const std::lock_guard lock(OutputMutex());
  if (IsConsole(h)) {
    // Wide output shows the Chinese texts whatever the console's code page.
    const std::u16string wide = TextToWide(text);
    std::size_t done = 0;
    while (done < wide.size()) {
      std::size_t end = std::min(wide.size(), done + kConsoleWritePiece);
      // Both halves of a character beyond the basic plane in one call.
      if (end < wide.size() && end - done > 1 && wide[end - 1] >= 0xD800 &&
          wide[end - 1] <= 0xDBFF) {
        --end;
      }
      const auto piece = static_cast<DWORD>(end - done);
      DWORD written = 0;
      if (!WriteConsoleW(h, wide.data() + done, piece, &written, nullptr) || written == 0) return;
      done += written;
    }
    return;
  }
  const std::string bytes = RedirectedBytes(text);
  for (std::string_view rest = bytes; !rest.empty();) {
    const auto piece = static_cast<DWORD>(std::min(rest.size(), kConsoleWritePiece));
    DWORD written = 0;
    if (!WriteFile(h, rest.data(), piece, &written, nullptr) || written == 0) return;
    rest.remove_prefix(written);
  }
}

std::string ReadConsoleLine() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return {};
  if (!IsConsole(in)) return RedirectedReader().Read();
  // Read wide, so that what the console's code page lacks is typed too.
  wchar_t buffer[kConsoleReadBuffer];
  DWORD got = 0;
  if (!ReadConsoleW(in, buffer, kConsoleReadBuffer, &got, nullptr)) return {};
  return ConsoleLineFromRaw(
      WideToText(std::u16string_view(reinterpret_cast<char16_t*>(buffer), got)));
}

bool ConsoleInputEnded() {
  // A console has no end of input; redirected input has.
  return !IsConsole(GetStdHandle(STD_INPUT_HANDLE)) && RedirectedReader().Ended();
}

ConsoleInput StandardInputKind() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return ConsoleInput::kEnded;
  if (IsConsole(in)) return ConsoleInput::kTerminal;
  const StreamLineReader& reader = RedirectedReader();
  if (reader.Holds()) return ConsoleInput::kRedirected;
  return RedirectedAtEnd(in) ? ConsoleInput::kEnded : ConsoleInput::kRedirected;
}

void SetConsoleTitle(std::string_view title) {
  const std::u16string wide = TextToWide(title);
  SetConsoleTitleW(reinterpret_cast<const wchar_t*>(wide.c_str()));
}

void FreeConsole() {
  ::FreeConsole();
}

}  // namespace rt
