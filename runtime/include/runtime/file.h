// File, process and wait services.
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
// content or the new one, never a part. False (and the file untouched) when
// any step fails.
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
// False when the file cannot be opened or not all bytes were written.
bool AppendFileBytes(const Path& path, const Bytes& bytes);

// Gives the file `from` the name `to`, replacing a file of that name.
bool RenameFile(const Path& from, const Path& to);

// What tells that a file changed without reading it: its size, its times
// and (where the platform has one) its file id. Equal stamps: the file is
// very likely unchanged.
struct FileStamp {
  bool exists = false;  // false also when the file cannot be reached
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // platform units
  std::int64_t changed = 0;   // status change (permissions, renames); 0 where unknown
  std::uint64_t id = 0;       // 0 where unknown
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
FileStamp StatFile(const Path& path);

// Window style codes: 1 hidden, 2 normal (default), 3 minimised, 4 maximised,
// 5 normal not activated, 6 minimised not activated.
bool RunCommandLine(std::string_view commandLine, bool wait = false, int windowStyle = 2);

// Opens a text file in the system's own editor, without waiting; false when
// no editor could be started. The file is created empty if it is missing.
bool OpenTextEditor(const Path& path);

// Delay units: 0 ms, 1 s, 2 min, 3 h; any other unit n multiplies by n.
bool DelayWithMessages(int interval, int unit = 0);
void ProcessPendingMessages();

// Milliseconds of a DelayWithMessages call (exposed for its unit table),
// at most kMaxDelayMs.
double DelayMilliseconds(int interval, int unit);
// About 28,500 years: what every platform's timer can still count.
inline constexpr double kMaxDelayMs = 9e14;

}  // namespace rt
