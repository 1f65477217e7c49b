#include "runtime/frame.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "platform.h"
#include "runtime/console.h"

namespace rt {
namespace {

using ::testing::ExitedWithCode;

#ifdef _WIN32
constexpr const char* kSystemLibrary = "kernel32";
constexpr const char* kSystemRoutine = "GetCurrentProcessId";
#else
constexpr const char* kSystemLibrary = "libc.so.6";
constexpr const char* kSystemRoutine = "getpid";
#endif

// Steps report themselves on standard error so the child's order is visible.
void Say(const char* what) {
  WriteStdout(what, Stream::kErr);
}

std::int32_t ModuleA(std::int32_t code, std::intptr_t, std::intptr_t) {
  Say(code == kNotifyStart ? "[A start]" : "[A stop]");
  return 0;
}
std::int32_t ModuleB(std::int32_t code, std::intptr_t, std::intptr_t) {
  Say(code == kNotifyStart ? "[B start]" : "[B stop]");
  return 0;
}

TEST(FrameDeathTest, StartAndStopOrder) {
  EXPECT_EXIT(
      {
        AddLibraryModule(ModuleA);
        AddLibraryModule(ModuleB);
        SetExitHook(3, [] { Say("[hook3]"); });
        RuntimeStartup();
        ProgramStart({.start = [] { Say("[create]"); },
                      .exitHook = [] { Say("[hook1]"); },
                      .main =
                          [] {
                            Say("[main]");
                            return 3;
                          }});
      },
      ExitedWithCode(3),
      "\\[A start\\]\\[B start\\]\\[create\\]\\[main\\]\\[hook1\\]\\[hook3\\]"
      "\\[A stop\\]\\[B stop\\]$");
}

// Expected texts stay within one line: the Windows flavour of death-test
// expressions does not cross line ends.
TEST(FrameDeathTest, FatalReportsEndWithCodeOne) {
  EXPECT_EXIT(RaiseRuntimeError(9, 3, 4), ExitedWithCode(1),
              "program internal error number is 9\\. ");
  EXPECT_EXIT(
      {
        SetExitHook(1, [] { Say("[hook1]"); });
        CheckArrayIndex(0, 5, 1, 2);
      },
      ExitedWithCode(1), "\\[hook1\\]$");
  EXPECT_EXIT(CheckArrayIndex(6, 5, 1, 2), ExitedWithCode(1), "number is 1");
  // The library's own report skips the host's exit hooks.
  EXPECT_EXIT(
      {
        SetExitHook(1, [] { Say("[hook1]"); });
        RaiseLibraryRuntimeError(10, 1, 1, [] { Say("[cleanup]"); });
      },
      ExitedWithCode(1), "\\[cleanup\\]$");
  EXPECT_EXIT(
      {
        RuntimeStartup();
        std::get_new_handler()();
      },
      ExitedWithCode(1), "^error");
}

#ifndef _WIN32
// The stop requests of the system run the same steps as a normal end, with
// 130 for an interrupt and 0 for a termination request.
TEST(FrameDeathTest, StopRequestsRunTheStopSteps) {
  const struct {
    int signal, code;
  } cases[] = {{SIGINT, kInterruptExitCode}, {SIGTERM, 0}, {SIGHUP, 0}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          AddLibraryModule(ModuleA);
          RuntimeStartup();
          SetExitHook(1, [] { Say("[hook1]"); });
          (void)::raise(c.signal);
          WaitForStop();
        },
        ExitedWithCode(c.code), "\\[A start\\]\\[hook1\\]\\[A stop\\]$")
        << "signal " << c.signal;
  }
}

// What was ignored from the start (nohup's SIGHUP) stays ignored.
TEST(FrameDeathTest, SignalsIgnoredFromTheStartStayIgnored) {
  EXPECT_EXIT(
      {
        (void)::signal(SIGHUP, SIG_IGN);
        RuntimeStartup();
        struct sigaction hup {};
        struct sigaction term {};
        ::sigaction(SIGHUP, nullptr, &hup);
        ::sigaction(SIGTERM, nullptr, &term);
        std::exit(hup.sa_handler == SIG_IGN && term.sa_handler != SIG_DFL ? 0 : 1);
      },
      ExitedWithCode(0), "");
}

// A stop step that never finishes does not keep the process alive.
TEST(FrameDeathTest, StopRequestEndsEvenWhenAStepHangs) {
  EXPECT_EXIT(
      {
        RuntimeStartup();
        SetExitHook(1, [] {
          Say("[hook1]");
          WaitForStop();
        });
        (void)::raise(SIGTERM);
        WaitForStop();
      },
      ExitedWithCode(0), "\\[hook1\\]$");
}

// Output into a pipe whose reader went away fails quietly; the program
// goes on and ends normally.
TEST(FrameDeathTest, ClosedPipeDoesNotEndTheProcess) {
  EXPECT_EXIT(
      {
        RuntimeStartup();
        int ends[2];
        if (::pipe(ends) != 0) std::abort();
        ::close(ends[0]);
        ::dup2(ends[1], STDOUT_FILENO);
        WriteStdout("nobody reads this\r\n");
        std::thread([] { WriteStdout("nor this\r\n"); }).join();
        Say("[alive]");
        ExitProgram(0);
      },
      ExitedWithCode(0), "\\[alive\\]$");
}
#else
// Ctrl+C, Ctrl+Break and the console closing run the stop steps; an
// interrupt ends with 130, a close with 0.
TEST(FrameDeathTest, ConsoleControlEventsRunTheStopSteps) {
  const struct {
    DWORD event;
    int code;
  } cases[] = {{CTRL_C_EVENT, kInterruptExitCode},
               {CTRL_BREAK_EVENT, kInterruptExitCode},
               {CTRL_CLOSE_EVENT, 0}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          AddLibraryModule(ModuleA);
          RuntimeStartup();
          SetExitHook(1, [] { Say("[hook1]"); });
          platform::OnConsoleControl(c.event);  // as the system calls it
          WaitForStop();
        },
        ExitedWithCode(c.code), "\\[A start\\]\\[hook1\\]\\[A stop\\]$")
        << "event " << c.event;
  }
}
#endif

TEST(Frame, RuntimeErrorTexts) {
  EXPECT_EQ(FormatRuntimeError(9, 12, 3, true),
            "program internal error number is 9. \r\n"
            "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围\r\n"
            "错误位置:12,3(仅5.8以上版本有效)");
  EXPECT_EQ(FormatRuntimeError(1, 7, 0, false),
            "program internal error number is 1. \r\n数组成员引用下标超出定义范围\r\n错误位置:7,0");
  EXPECT_EQ(FormatRuntimeError(12, 1, 1, false),
            "program internal error number is 12. \r\n\r\n错误位置:1,1");
  EXPECT_EQ(RuntimeErrorText(0), "");
  EXPECT_EQ(RuntimeErrorText(11), "所提供参数的数据类型不符合要求");
  EXPECT_NO_FATAL_FAILURE(CheckArrayIndex(1, 1, 0, 0));
}

TEST(Frame, RoutineNames) {
  struct Case {
    std::string in, name;
    bool byOrdinal;
    long ordinal;
  } cases[] = {
      {"#12", "", true, 12},
      // The number is read as atoi reads it.
      {"#12abc", "", true, 12},
      {"# 7", "", true, 7},
      {"#-3", "", true, -3},
      {"#x", "", true, 0},
      {"#99999999999999999999", "", true, 0},
      {"lstrlenW@@kernel32", "lstrlenW", false, 0},
      {"a@b@@c", "a@b@@c", false, 0},
      {"@@x", "", false, 0},
      {"plain", "plain", false, 0},
  };
  for (const auto& c : cases) {
    const RoutineLookup r = ParseRoutineName(c.in);
    EXPECT_EQ(r.name, c.name) << c.in;
    EXPECT_EQ(r.byOrdinal, c.byOrdinal) << c.in;
    EXPECT_EQ(r.ordinal, c.ordinal) << c.in;
  }
}

TEST(Frame, BindsRoutinesOnceAndReleasesLoadedLibraries) {
  std::atomic<void*> slot{nullptr};
  std::atomic<void*> other{nullptr};
  void* results[2] = {};
  std::thread t1([&] { results[0] = BindLibraryRoutine(BINDTEST_LIB, "bindtest_answer", &slot); });
  std::thread t2(
      [&] { results[1] = BindLibraryRoutine(BINDTEST_LIB, "bindtest_answer@@x", &other); });
  t1.join();
  t2.join();
  ASSERT_NE(results[0], nullptr);
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(reinterpret_cast<int (*)()>(slot.load())(), 42);
  EXPECT_EQ(LoadedLibraryCount(), 1);  // recorded once
  // A library the process already has is not recorded.
  std::atomic<void*> pid{nullptr};
  EXPECT_NE(BindLibraryRoutine(kSystemLibrary, kSystemRoutine, &pid), nullptr);
  EXPECT_EQ(LoadedLibraryCount(), 1);
  ReleaseLoadedLibraries();
  EXPECT_EQ(LoadedLibraryCount(), 0);
}

#ifdef _WIN32
TEST(Frame, BindsByOrdinal) {
  std::atomic<void*> slot{nullptr};
  ASSERT_NE(BindLibraryRoutine(BINDTEST_LIB, "#1", &slot), nullptr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(slot.load())(), 42);
  ReleaseLoadedLibraries();
}
#endif

TEST(FrameDeathTest, BindingFailuresAreFatal) {
  std::atomic<void*> slot{nullptr};
  EXPECT_EXIT(BindLibraryRoutine("no-such-library.so", "f", &slot), ExitedWithCode(1),
              "\"no-such-library\\.so\"");
  EXPECT_EXIT(BindLibraryRoutine(BINDTEST_LIB, "missing@@1", &slot), ExitedWithCode(1),
              "\"missing@@1\"");
  EXPECT_EXIT(BindLibraryRoutine(BINDTEST_LIB, "#999", &slot), ExitedWithCode(1), "^DLL ERROR");
}

}  // namespace
}  // namespace rt
