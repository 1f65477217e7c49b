#include "runtime/file_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "temp_folder.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

Path ToPath(const fs::path& p) {
  return Path(Path::Native(p.native().begin(), p.native().end()));
}

// Locks of one file exclude each other within a process as between
// processes; the holder says who it is, and its end frees the file.
TEST(ProcessLockTest, OneHolderAtATimeAndItSaysWhoItIs) {
  const rt::testing::TempFolder folder("rt_lock_test_");
  const Path path = ToPath(folder.path() / "x.lock");
  std::optional<ProcessLock> first = ProcessLock::Take(path);
  ASSERT_EQ(first->state(), ProcessLock::State::kHeld);
  {
    const ProcessLock second = ProcessLock::Take(path);
    EXPECT_EQ(second.state(), ProcessLock::State::kTaken);
    EXPECT_EQ(second.holder(), ProcessId());
  }
  EXPECT_EQ(ProcessLock::Take(path).state(),
            ProcessLock::State::kTaken);  // refusals change nothing
  first.reset();
  // A stale id in the file does not stand in the way.
  EXPECT_EQ(ProcessLock::Take(path).state(), ProcessLock::State::kHeld);

  EXPECT_EQ(ProcessLock::Take(ToPath(folder.path() / "missing" / "x.lock")).state(),
            ProcessLock::State::kFailed);
}

}  // namespace
}  // namespace rt
