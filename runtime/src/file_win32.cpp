#include <windows.h>

#include <algorithm>

#include "runtime/codepage.h"
#include "runtime/file.h"

namespace rt {
namespace {

// Paths and command lines are code page 936 texts; the wide calls take them
// exactly, whatever the system's own code page is.
std::wstring Wide(std::string_view text) {
  const std::u16string w = TextToWide(text);
  return std::wstring(w.begin(), w.end());
}

const wchar_t* WidePath(const Path& path) {
  return reinterpret_cast<const wchar_t*>(path.native().c_str());
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

Path Path::FromText(std::string_view text) {
  return Path(TextToWide(text));
}

std::string Path::Display() const {
  return WideToText(native_);
}

Path operator/(const Path& folder, std::string_view name) {
  if (folder.empty()) return Path::FromText(name);
  return Path(folder.native() + u"\\" + TextToWide(name));
}

Path ProgramPath() {
  // Long paths need more than MAX_PATH; grow until the name fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  return Path(Path::Native(path.begin(), path.end()));  // UTF-16 as it is: no conversion
}

Path ProgramDirectory() {
  Path::Native path = ProgramPath().native();
  const auto slash = path.find_last_of(u'\\');
  if (slash != Path::Native::npos) path.resize(slash);
  return Path(std::move(path));
}

namespace {

ReadError OpenErrorOf(const Path& path, DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ReadError::kMissing;
    case ERROR_ACCESS_DENIED: {
      // A folder cannot be opened as a file: the system says "denied".
      const DWORD attributes = GetFileAttributesW(WidePath(path));
      return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                 ? ReadError::kFolder
                 : ReadError::kDenied;
    }
    default:
      return ReadError::kUnreadable;
  }
}

}  // namespace

Result<Bytes, ReadError> ReadFileBytes(const Path& path) {
  using Read = Result<Bytes, ReadError>;
  HANDLE h = CreateFileW(WidePath(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Read::Failure(OpenErrorOf(path, GetLastError()));
  Bytes bytes;
  std::uint8_t buffer[65536];
  DWORD got = 0;
  bool read = true;
  while ((read = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  CloseHandle(h);
  if (!read) return Read::Failure(ReadError::kUnreadable);
  return bytes;
}

namespace {

// Writes every byte, in pieces the call can take; false on a failure.
bool WriteAll(HANDLE h, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, piece, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

bool WriteFileBytes(const Path& path, const Bytes& bytes, FileAccess /*access*/) {
  const std::wstring file(WidePath(path));
  const std::wstring temp = file + L".tmp";
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, bytes);
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  if (ok && MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

bool RunCommandLine(std::string_view commandLine, bool wait, int windowStyle) {
  if (commandLine.empty()) return false;
  return Start(nullptr, Wide(commandLine), TRUE, wait, windowStyle);
}

bool OpenTextEditor(const Path& path) {
  // The system's own editor by its full path, so that a "notepad.exe" beside
  // the program or in the current folder never runs.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::wstring editor = std::wstring(system, n) + L"\\notepad.exe";
  const std::wstring file(WidePath(path));
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return Start(editor.c_str(), L"\"" + editor + L"\" \"" + file + L"\"", FALSE, false, 2);
}

bool AppendFileBytes(const Path& path, const Bytes& bytes) {
  HANDLE h = CreateFileW(WidePath(path), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(h, &size) != 0;
  const bool ok = sized && WriteAll(h, bytes);
  // A short write (a full disk) is cut back off: the next append must not
  // be glued to a part. Appending handles cannot move the end, so a second
  // handle does it.
  if (sized && !ok) {
    HANDLE cut = CreateFileW(WidePath(path), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (cut != INVALID_HANDLE_VALUE) {
      if (SetFilePointerEx(cut, size, nullptr, FILE_BEGIN)) SetEndOfFile(cut);
      CloseHandle(cut);
    }
  }
  return CloseHandle(h) && ok;
}

bool RenameFile(const Path& from, const Path& to) {
  return MoveFileExW(WidePath(from), WidePath(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

FileStamp StatFile(const Path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(WidePath(path), GetFileExInfoStandard, &data)) return {};
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
    Sleep(static_cast<DWORD>(std::min(ms, 4294967294.0)));  // below INFINITE
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
