#include <windows.h>

#include <algorithm>

#include "runtime/codepage.h"
#include "runtime/file.h"

namespace rt {
namespace {

// Paths and command lines are code page 936 texts; the wide calls take them
// exactly, whatever the system's own code page is.
std::wstring Wide(std::string_view text) {
  const std::u16string w = GbkToWide(text);
  return std::wstring(w.begin(), w.end());
}

std::string Narrow(const wchar_t* wide, std::size_t n) {
  return WideToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(wide), n));
}

WORD ShowWindowValue(int windowStyle) {
  switch (windowStyle) {
    case 1:
      return SW_HIDE;
    case 3:
      return SW_SHOWMINIMIZED;
    case 4:
      return SW_SHOWMAXIMIZED;
    case 5:
      return SW_SHOWNOACTIVATE;
    case 6:
      return SW_SHOWMINNOACTIVE;
    default:
      return SW_SHOW;
  }
}

bool Start(const wchar_t* application, std::wstring commandLine, bool inherit, bool wait,
           int windowStyle) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  GetStartupInfoW(&si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = ShowWindowValue(windowStyle);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, inherit, 0, nullptr,
                      nullptr, &si, &pi)) {
    return false;
  }
  if (wait) WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

std::string ProgramDirectory() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (n == 0 || n >= std::size(path)) return {};
  std::string dir = Narrow(path, n);
  const auto slash = dir.find_last_of('\\');
  if (slash != std::string::npos) dir.resize(slash);
  return dir;
}

Bytes ReadFileBytes(std::string_view path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  Bytes bytes;
  std::uint8_t buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  CloseHandle(h);
  return bytes;
}

bool RunCommandLine(std::string_view commandLine, bool wait, int windowStyle) {
  if (commandLine.empty()) return false;
  return Start(nullptr, Wide(commandLine), TRUE, wait, windowStyle);
}

bool OpenTextEditor(std::string_view path) {
  // The system's own editor by its full path, so that a "notepad.exe" beside
  // the program or in the current folder never runs.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::wstring editor = std::wstring(system, n) + L"\\notepad.exe";
  const std::wstring file = Wide(path);
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return Start(editor.c_str(), L"\"" + editor + L"\" \"" + file + L"\"", FALSE, false, 2);
}

bool WriteFileBytes(std::string_view path, const Bytes& bytes) {
  const std::wstring target = Wide(path);
  const std::wstring temp = target + L".tmp";
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    ok = WriteFile(h, bytes.data() + done, piece, &written, nullptr) && written > 0;
    done += written;
  }
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (ok && MoveFileExW(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temp.c_str());
  return false;
}

bool AppendFileBytes(std::string_view path, const Bytes& bytes) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    ok = WriteFile(h, bytes.data() + done, piece, &written, nullptr) && written > 0;
    done += written;
  }
  return CloseHandle(h) && ok;
}

bool RenameFile(std::string_view from, std::string_view to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

FileStamp StatFile(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return {};
  const auto join = [](DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
  };
  return {.exists = true,
          .size = join(data.nFileSizeHigh, data.nFileSizeLow),
          .modified = static_cast<std::int64_t>(
              join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)),
          // Creation time and attributes change when an editor saves by renaming
          // a new file over the old one, or when the file is made read-only.
          .changed = static_cast<std::int64_t>(
              join(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime)),
          .id = data.dwFileAttributes};
}

bool DelayWithMessages(int interval, int unit) {
  const double ms = DelayMilliseconds(interval, unit);
  if (!(ms > 0)) return true;
  HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
  LARGE_INTEGER due;
  due.QuadPart = static_cast<LONGLONG>(ms * -10000.0);  // relative, 100 ns units
  if (timer == nullptr || !SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    if (timer) CloseHandle(timer);
    Sleep(static_cast<DWORD>(ms));
    return true;
  }
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, 0xFF);
    if (r != WAIT_OBJECT_0 + 1) break;  // the timer fired, or the wait failed: never spin
    ProcessPendingMessages();
  }
  CloseHandle(timer);
  return true;
}

void ProcessPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace rt
