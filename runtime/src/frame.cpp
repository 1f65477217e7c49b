#include "runtime/frame.h"

#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform.h"
#include "runtime/text.h"

namespace rt {
namespace {

constexpr std::size_t kMaxLoadedLibraries = 100;

struct FrameState {
  std::mutex mutex;  // guards modules and loaded
  std::vector<ModuleEntry> modules;
  std::array<std::atomic<ExitHook>, kExitHookCount> hooks{};
  std::vector<platform::LibraryHandle> loaded;
  std::atomic<bool> reportingOutOfMemory{false};
  // The stop sequence: not begun, running on stopper, or done.
  std::mutex stopMutex;
  std::condition_variable stopDone;
  enum class Stop { kNotBegun, kRunning, kDone } stop = Stop::kNotBegun;
  std::thread::id stopper;
};

FrameState& State() {
  static FrameState state;
  return state;
}

[[noreturn]] void FatalDllReport(const std::string& text) {
  ShowErrorBox(text, "DLL ERROR");
  ExitProgram(1);
}

void OutOfMemoryHandler() {
  ReportOutOfMemory();
}

constexpr std::string_view kRuntimeErrors[kRuntimeErrorCount] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误，通常是DLL参数数目不正确",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

}  // namespace

void AddLibraryModule(ModuleEntry entry) {
  auto& s = State();
  const std::lock_guard lock(s.mutex);
  s.modules.push_back(entry);
}

void SetExitHook(int slot, ExitHook hook) {
  if (slot >= 1 && slot <= kExitHookCount) State().hooks[slot - 1].store(hook);
}

void RuntimeStartup() {
  std::set_new_handler(OutOfMemoryHandler);
  InstallStopRequests();
  platform::InitComponentLibrary();
  std::vector<ModuleEntry> modules;
  {
    const std::lock_guard lock(State().mutex);
    modules = State().modules;
  }
  for (ModuleEntry entry : modules) entry(kNotifyStart, 0, 0);
}

void ProgramStart(const ProgramSteps& steps) {
  if (steps.start) steps.start();
  SetExitHook(1, steps.exitHook);
  ExitProgram(steps.main ? steps.main() : 0);
}

void RunStopSequence() {
  auto& s = State();
  {
    // A fatal report raised by a step must not run the steps again; a
    // second thread stopping waits for them, but not for ever: a step may
    // be waiting for that very thread.
    std::unique_lock lock(s.stopMutex);
    if (s.stop == FrameState::Stop::kRunning && s.stopper != std::this_thread::get_id()) {
      s.stopDone.wait_for(lock, std::chrono::milliseconds(kStopGraceMs),
                          [&] { return s.stop == FrameState::Stop::kDone; });
    }
    if (s.stop != FrameState::Stop::kNotBegun) return;
    s.stop = FrameState::Stop::kRunning;
    s.stopper = std::this_thread::get_id();
  }
  for (auto& hook : s.hooks) {
    if (ExitHook h = hook.load()) h();
  }
  std::vector<ModuleEntry> modules;
  {
    const std::lock_guard lock(s.mutex);
    modules = s.modules;
  }
  for (ModuleEntry entry : modules) entry(kNotifyStop, 0, 0);
  ReleaseLoadedLibraries();
  platform::UninitComponentLibrary();
  {
    const std::lock_guard lock(s.stopMutex);
    s.stop = FrameState::Stop::kDone;
  }
  s.stopDone.notify_all();
}

void InstallStopRequests() {
  static std::once_flag once;
  std::call_once(once, platform::InstallStopRequests);
}

void StopOnRequest(int code) {
  // The steps run on a thread of their own, so that one that hangs (a
  // delivery waiting for its reply) cannot keep the process alive.
  std::thread(RunStopSequence).detach();
  auto& s = State();
  {
    std::unique_lock lock(s.stopMutex);
    s.stopDone.wait_for(lock, std::chrono::milliseconds(kStopGraceMs),
                        [&] { return s.stop == FrameState::Stop::kDone; });
  }
  platform::EndProcess(code);
}

void WaitForStop() {
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock lock(mutex);
  for (;;) never.wait(lock);
}

void ExitProgram(int code) {
  RunStopSequence();
  platform::EndProcess(code);
}

void ShowErrorBox(std::string_view text, std::string_view title) {
  platform::ShowErrorBox(text, title);
}

std::string_view RuntimeErrorText(int number) {
  return number >= 1 && number <= kRuntimeErrorCount ? kRuntimeErrors[number - 1] : "";
}

std::string FormatRuntimeError(int number, int site, int offset, bool hostModule) {
  const std::string description(RuntimeErrorText(number));
  return FormatText(
      hostModule
          ? "program internal error number is %d. \r\n%s\r\n错误位置:%d,%d(仅5.8以上版本有效)"
          : "program internal error number is %d. \r\n%s\r\n错误位置:%d,%d",
      number, description.c_str(), site, offset);
}

void RaiseRuntimeError(int number, int site, int offset) {
  ShowErrorBox(FormatRuntimeError(number, site, offset, true), "error");
  ExitProgram(1);
}

void RaiseLibraryRuntimeError(int number, int site, int offset, void (*cleanup)()) {
  ShowErrorBox(FormatRuntimeError(number, site, offset, false), "error");
  if (cleanup) cleanup();
  platform::EndProcess(1);
}

void CheckArrayIndex(std::int64_t index, std::int64_t count, int site, int offset) {
  if (index < 1) RaiseRuntimeError(4, site, offset);
  if (index > count) RaiseRuntimeError(1, site, offset);
}

void ReportOutOfMemory() {
  // Reporting may itself need memory; a second failure ends at once.
  if (State().reportingOutOfMemory.exchange(true)) platform::EndProcess(1);
  ShowErrorBox("内存不足", "error");
  ExitProgram(1);
}

RoutineLookup ParseRoutineName(std::string_view routineName) {
  RoutineLookup lookup;
  if (!routineName.empty() && routineName.front() == '#') {
    lookup.byOrdinal = true;
    // Read as atoi reads: blanks, a sign, then digits up to the first
    // other byte. A number past the ordinal range is no ordinal (0).
    std::string_view rest = routineName.substr(1);
    while (!rest.empty() && (rest.front() == ' ' || (rest.front() >= '\t' && rest.front() <= '\r')))
      rest.remove_prefix(1);
    long sign = 1;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
      sign = rest.front() == '-' ? -1 : 1;
      rest.remove_prefix(1);
    }
    const DigitRun digits = ReadDigits(rest, 0, 10);
    const bool inRange = !digits.overflowed && digits.value <= 65535;
    lookup.ordinal = inRange ? sign * static_cast<long>(digits.value) : 0;
    return lookup;
  }
  lookup.name = std::string(routineName);
  const auto at = lookup.name.find('@');
  if (at != std::string::npos && at + 1 < lookup.name.size() && lookup.name[at + 1] == '@') {
    lookup.name.resize(at);
  }
  return lookup;
}

void* BindLibraryRoutine(std::string_view libraryName, std::string_view routineName,
                         std::atomic<void*>* slot) {
  if (void* bound = slot->load(std::memory_order_acquire)) return bound;
  auto& s = State();
  std::unique_lock lock(s.mutex);
  if (void* bound = slot->load(std::memory_order_acquire)) return bound;
  const std::string library(libraryName);
  platform::LibraryHandle module = platform::FindLoadedLibrary(library);
  if (!module) {
    module = platform::LoadLibrary(library);
    if (!module) {
      lock.unlock();
      FatalDllReport(FormatText("同目录下无法找到DLL文件:\"%s\".请与作者联系.", library.c_str()));
    }
    if (s.loaded.size() < kMaxLoadedLibraries) s.loaded.push_back(module);
  }
  void* routine = platform::FindRoutine(module, ParseRoutineName(routineName));
  if (!routine) {
    lock.unlock();
    const std::string name(routineName);
    FatalDllReport(
        FormatText("无法定位DLL文件:\"%s\"当中的\"%s\"函数.", library.c_str(), name.c_str()));
  }
  slot->store(routine, std::memory_order_release);
  return routine;
}

void ReleaseLoadedLibraries() {
  auto& s = State();
  const std::lock_guard lock(s.mutex);
  for (auto module : s.loaded) platform::FreeLibrary(module);
  s.loaded.clear();
}

int LoadedLibraryCount() {
  auto& s = State();
  const std::lock_guard lock(s.mutex);
  return static_cast<int>(s.loaded.size());
}

}  // namespace rt
