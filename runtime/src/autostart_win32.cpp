// The program as a shortcut in the user's Startup folder.
#include <windows.h>
//
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "runtime/autostart.h"
#include "runtime/codepage.h"

namespace rt {
namespace {

// The component library on this thread for the life of the object (the
// command line runs before the process frame starts it).
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

// One interface pointer, released at the end of its scope.
template <class T>
class Held {
 public:
  Held() = default;
  ~Held() {
    if (p_) p_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return p_; }
  T** Out() { return &p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

const wchar_t* Wide(const Path& path) {
  return reinterpret_cast<const wchar_t*>(path.native().c_str());
}

Path FromWide(const wchar_t* text) {
  return Path(Path::Native(reinterpret_cast<const char16_t*>(text)));
}

Path StartupFolder(bool create) {
  PWSTR folder = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(
      FOLDERID_Startup, create ? DWORD{KF_FLAG_CREATE} : DWORD{0}, nullptr, &folder);
  Path path = SUCCEEDED(hr) && folder ? FromWide(folder) : Path();
  CoTaskMemFree(folder);
  return path;
}

Path ShortcutFile(const AutostartProgram& program, bool create) {
  const Path folder = StartupFolder(create);
  return folder.empty() ? Path() : folder / (program.title + ".lnk");
}

bool MakeLink(Held<IShellLinkW>& link, Held<IPersistFile>& file) {
  return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.Out()))) &&
         SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out())));
}

Path ShortcutTarget(const Path& shortcut) {
  Held<IShellLinkW> link;
  Held<IPersistFile> file;
  if (!MakeLink(link, file) || FAILED(file->Load(Wide(shortcut), STGM_READ))) return {};
  std::wstring target(32768, L'\0');
  if (FAILED(
          link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, SLGP_RAWPATH))) {
    return {};
  }
  return FromWide(target.c_str());
}

bool SameFile(const Path& a, const Path& b) {
  return !a.empty() && CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) == CSTR_EQUAL;
}

Path FolderOf(const Path& program) {
  Path::Native folder = program.native();
  const auto slash = folder.find_last_of(u"\\/");
  folder.resize(slash == Path::Native::npos ? 0 : slash);
  return Path(folder);
}

bool SaveShortcut(const AutostartProgram& program, const Path& shortcut) {
  Held<IShellLinkW> link;
  Held<IPersistFile> file;
  const std::u16string description = TextToWide(program.title);
  return MakeLink(link, file) && SUCCEEDED(link->SetPath(Wide(program.program))) &&
         SUCCEEDED(link->SetWorkingDirectory(Wide(FolderOf(program.program)))) &&
         SUCCEEDED(link->SetDescription(reinterpret_cast<const wchar_t*>(description.c_str()))) &&
         SUCCEEDED(file->Save(Wide(shortcut), TRUE));
}

AutostartEntry Find(const AutostartProgram& program, bool create) {
  AutostartEntry entry;
  entry.file = ShortcutFile(program, create);
  if (entry.file.empty()) return entry;
  entry.present = GetFileAttributesW(Wide(entry.file)) != INVALID_FILE_ATTRIBUTES;
  if (!entry.present) return entry;
  entry.target = ShortcutTarget(entry.file);
  entry.startsProgram = SameFile(entry.target, program.program);
  return entry;
}

}  // namespace

AutostartEntry FindAutostart(const AutostartProgram& program) {
  const ComScope com;
  return Find(program, false);
}

AutostartResult EnableAutostart(const AutostartProgram& program) {
  const ComScope com;
  AutostartResult result;
  result.before = Find(program, true);
  if (result.before.file.empty()) {
    result.outcome = AutostartOutcome::kNoFolder;
  } else if (!SaveShortcut(program, result.before.file)) {
    result.outcome = AutostartOutcome::kFileFailed;
  }
  return result;
}

AutostartResult DisableAutostart(const AutostartProgram& program) {
  const ComScope com;
  AutostartResult result;
  result.before = Find(program, false);
  if (result.before.present && !DeleteFileW(Wide(result.before.file))) {
    result.outcome = AutostartOutcome::kFileFailed;
  }
  return result;
}

}  // namespace rt
