// Folders of a test's own under the system's temporary folder. A name is
// taken only by making the folder, which fails when it exists, so runs side
// by side (two checkouts, CI beside a developer) never share one.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace rt::testing {

// Makes a new empty folder prefix + random letters and returns its path.
inline std::filesystem::path UniqueTempFolder(std::string_view prefix) {
  static constexpr char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::string name(prefix);
    for (int i = 0; i < 12; ++i) name += kLetters[random() % 36];
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) return base / name;
    if (error) throw std::filesystem::filesystem_error("cannot make a test folder", base, error);
  }
}

// A unique folder that goes, with everything in it, with the object.
class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix) : path_(UniqueTempFolder(prefix)) {}
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace rt::testing
