// Stands in for a "notepad.exe" planted beside the program or in the current
// folder: if it is ever started, it leaves a mark beside the file it was
// asked to open.
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
  if (argc > 1) {
    std::ofstream(std::filesystem::path(argv[argc - 1]).parent_path() / "planted-notepad-ran")
        << "ran\n";
  }
  return 0;
}
