#include <windows.h>
#undef SetConsoleTitle  // ours is the portable service

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

// Bytes of another code page as code page 936 text.
std::string From(UINT codePage, std::string_view bytes) {
  if (codePage == kCodePage936 || bytes.empty()) return std::string(bytes);
  const int in = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), in, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), in, reinterpret_cast<wchar_t*>(wide.data()), n);
  return WideToGbk(wide);
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
  return std::string(text);
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
    const std::u16string wide = GbkToWide(text);
    std::size_t done = 0;
    while (done < wide.size()) {
      const auto piece = static_cast<DWORD>(std::min(wide.size() - done, kConsoleWritePiece));
      DWORD written = 0;
      if (!WriteConsoleW(h, wide.data() + done, piece, &written, nullptr) || written == 0) return;
      done += written;
    }
    return;
  }
  while (!text.empty()) {
    const auto piece = static_cast<DWORD>(std::min(text.size(), kConsoleWritePiece));
    DWORD written = 0;
    if (!WriteFile(h, text.data(), piece, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

std::string ReadConsoleLine() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return {};
  if (!IsConsole(in)) return RedirectedReader().Read();
  char buffer[kConsoleReadBuffer];
  DWORD got = 0;
  if (!ReadConsoleA(in, buffer, sizeof buffer, &got, nullptr)) return {};
  std::string raw = From(GetConsoleCP(), std::string_view(buffer, got));
  return ConsoleLineFromRaw(raw);
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
  const std::u16string wide = GbkToWide(title);
  SetConsoleTitleW(reinterpret_cast<const wchar_t*>(wide.c_str()));
}

void FreeConsole() {
  ::FreeConsole();
}

}  // namespace rt
