// File-system paths in the system's own form: bytes on POSIX systems, UTF-16
// on Windows. A name on Linux need not be text in the locale's character
// set, so a path becomes program text only to be shown. A Path is a plain
// value; its functions are pure: any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace rt {

class Path {
 public:
#ifdef _WIN32
  using Native = std::u16string;
#else
  using Native = std::string;
#endif

  Path() = default;
  // The system's form, taken as it is.
  explicit Path(Native native) : native_(std::move(native)) {}
  // A path written as program text, in the system's form: UTF-16 on Windows,
  // on POSIX the locale's character set as the console's (a GBK locale has
  // no four-byte characters: they become "?").
  static Path FromText(std::string_view text);

  const Native& native() const {
    return native_;
  }
  bool empty() const {
    return native_.empty();
  }

  // The path as program text, for the console; bytes that are no text in
  // the locale's character set show as U+FFFD.
  std::string Display() const;

  // `name` (program text) inside this folder, joined with the system's
  // separator; an empty folder gives the name alone.
  friend Path operator/(const Path& folder, std::string_view name);

  friend bool operator==(const Path&, const Path&) = default;

 private:
  Native native_;
};

}  // namespace rt
