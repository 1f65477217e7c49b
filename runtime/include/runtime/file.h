// File, process and wait services. Any thread may call them; what a file
// allows at once is said where it matters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/path.h"
#include "runtime/result.h"
#include "runtime/text.h"

namespace rt {

// The running executable's own path; empty when the system cannot tell it.
Path ProgramPath();
// Directory of the running executable, without a trailing separator; empty
// when the system cannot tell it.
Path ProgramDirectory();

// Why a file could not be read.
enum class ReadError {
  kMissing,     // no such file (or folder on its way)
  kFolder,      // a folder, not a file
  kDenied,      // no permission
  kUnreadable,  // any other failure, while opening or reading
};
// The whole file, or why it cannot be had. Any thread.
Result<Bytes, ReadError> ReadFileBytes(const Path& path);

// Replaces the file's content with the bytes: they go to a temporary file
// beside it, which then takes the file's place, so a reader sees the old
// content or the new one, never a part; the bytes reach the disk before the
// rename. False (and the file untouched) when any step fails. The temporary
// file is `path` + ".tmp", so one writer per file at a time.
//   kOwnerOnly: readable by the owner alone (a secret): on POSIX a new file
//   is made with mode 0600 and a replaced one loses its group and other
//   bits; on Windows the folder's own permissions apply, as for any file.
enum class FileAccess { kAsBefore, kOwnerOnly };
bool WriteFileBytes(const Path& path, const Bytes& bytes,
                    FileAccess access = FileAccess::kAsBefore);

// What the system's own editors expect of a text file the program writes:
// its line end, and the mark a new UTF-8 file starts with (Notepad before
// 2019 takes a file without it for the ANSI code page).
#ifdef _WIN32
inline constexpr std::string_view kTextLineEnd = "\r\n";
inline constexpr std::string_view kUtf8FileMark = "\xEF\xBB\xBF";
#else
inline constexpr std::string_view kTextLineEnd = "\n";
inline constexpr std::string_view kUtf8FileMark{};
#endif

// Appends the bytes to the file, creating it when missing: all of them or,
// on failure (a full disk), none, the file cut back to its size before.
// False when the file cannot be opened or not all bytes were written. The
// cut assumes no one else appends meanwhile: one appender per file at a time.
bool AppendFileBytes(const Path& path, const Bytes& bytes);

// Gives the file `from` the name `to`, replacing a file of that name; false
// (nothing changed) when the system refuses.
bool RenameFile(const Path& from, const Path& to);

// What tells that a file changed without reading it: its size, its times
// and what else the platform gives cheaply. Equal stamps: the file is very
// likely unchanged. Beyond exists and size, the fields mean different things
// per platform: compare them, do not read them.
struct FileStamp {
  bool exists = false;  // false also when the file cannot be reached
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // platform units (ns on POSIX, 100 ns ticks on Windows)
  // POSIX: the status change (permissions, renames); Windows: the creation
  // time, which an editor's save by renaming renews.
  std::int64_t changed = 0;
  // POSIX: the file id (inode and device); Windows: the attribute bits.
  std::uint64_t id = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
// The file's stamp; all zero when it cannot be reached.
FileStamp StatFile(const Path& path);

// Starts a program from a command line (program text); no shell is involved.
// On POSIX the line is split at blanks and tabs, double quotes grouping, and
// the first word is looked for in PATH. False when it cannot be started; true
// once it has, or with wait once it has ended, whatever its exit code.
// Window style codes (Windows only): 1 hidden, 2 normal (default),
// 3 minimised, 4 maximised, 5 normal not activated, 6 minimised not activated.
bool RunCommandLine(std::string_view commandLine, bool wait = false, int windowStyle = 2);

// Opens a text file in the system's own editor (Notepad from the system
// folder; elsewhere the desktop's xdg-open). The file is created empty if it
// is missing. The editor is not waited for, but on Linux xdg-open's verdict
// is, for up to 3 s: false when it failed or no editor could be started.
bool OpenTextEditor(const Path& path);

// Blocks the calling thread for `interval` units: 0 ms, 1 s, 2 min, 3 h; any
// other unit n multiplies by n. At most kMaxDelayMs; nothing for a delay of 0
// or less. On Windows the thread's window messages are handled meanwhile.
// Always true.
bool DelayWithMessages(int interval, int unit = 0);
// Handles the window messages waiting for the calling thread (Windows);
// nothing elsewhere.
void ProcessPendingMessages();

// Milliseconds of a DelayWithMessages call (exposed for its unit table),
// at most kMaxDelayMs.
double DelayMilliseconds(int interval, int unit);
// About 28,500 years: what every platform's timer can still count.
inline constexpr double kMaxDelayMs = 9e14;

}  // namespace rt
