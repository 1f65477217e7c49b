// What the application's tests share: the runtime's fakes (a console that
// records, a clock that stands still) and a folder of each test's own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "fakes.h"
#include "temp_folder.h"

namespace app {

using rt::testing::FixedClock;
using rt::testing::RecordingConsole;

// A new folder of the running test's own, for the program's files; the
// test removes it.
inline std::filesystem::path FreshTestFolder(std::string_view prefix) {
  return rt::testing::UniqueTempFolder(
      std::string(prefix) + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_");
}

}  // namespace app
