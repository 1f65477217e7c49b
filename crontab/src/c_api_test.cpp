// The C interface as a host uses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crontab/crontab.h"
#include "crontab/registry.h"

namespace {

void Nothing(double, const char*) {}

std::string Take(char* text) {
  EXPECT_NE(text, nullptr);
  std::string out = text ? text : "";
  crontab_Free(text);
  return out;
}

class CApiTest : public ::testing::Test {
 protected:
  void SetUp() override { crontab_Intialize(&handle); }
  void TearDown() override { crontab_Destroy(&handle); }
  crontab_handle handle{};
};

TEST_F(CApiTest, OperationsThroughTheHandle) {
  EXPECT_EQ(crontab_Add(&handle, "1 2 3 * * * * a", Nothing), 1);
  EXPECT_EQ(crontab_Add(&handle, "1 2 3 * * * 2025 b", Nothing), 0);
  EXPECT_EQ(crontab_Add(&handle, nullptr, Nothing), 0);
  EXPECT_EQ(crontab_Tasks(&handle), 1);
  EXPECT_EQ(crontab_Add(&handle, "* * * * * * * b", Nothing), 1);
  EXPECT_EQ(Take(crontab_Get(&handle, nullptr)), Take(crontab_Get(&handle, "")));
  EXPECT_EQ(Take(crontab_Get(&handle, "b")), "* * * * * * * b");
  EXPECT_EQ(Take(crontab_Get(&handle, "c")), "");

  EXPECT_EQ(crontab_Start(&handle), 1);
  EXPECT_EQ(crontab_State(&handle), 1);
  EXPECT_EQ(crontab_Del(&handle, nullptr), 0);  // refused while running
  EXPECT_EQ(crontab_Stop(&handle, 0), 1);
  EXPECT_EQ(crontab_State(&handle), 0);
  EXPECT_EQ(crontab_Del(&handle, "a"), 1);
  EXPECT_EQ(crontab_Del(&handle, nullptr), 1);
  EXPECT_EQ(crontab_Tasks(&handle), 0);
}

TEST_F(CApiTest, ReplaceWhileRunning) {
  ASSERT_EQ(crontab_Add(&handle, "0 0 9 * * * * keep", Nothing), 1);
  ASSERT_EQ(crontab_Start(&handle), 1);
  const char* lines[] = {"0 0 9 * * * * keep", nullptr, "* * * * * * * b", "* * * * * * * B"};
  int accepted[4] = {7, 7, 7, 7};
  EXPECT_EQ(crontab_Replace(&handle, lines, 4, Nothing, accepted), 2);
  EXPECT_EQ(std::vector<int>(accepted, accepted + 4), (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(crontab_State(&handle), 1);
  EXPECT_EQ(Take(crontab_Get(&handle, nullptr)), "0 0 9 * * * * keep\r\n* * * * * * * b");
  EXPECT_EQ(crontab_Replace(&handle, nullptr, 0, Nothing, nullptr), 0);
  crontab_OnSkip(&handle, [](double, double) {});
  crontab_OnSkip(&handle, nullptr);
  crontab_handle empty{};
  EXPECT_EQ(crontab_Replace(&empty, lines, 1, Nothing, accepted), 0);
  crontab_OnSkip(&empty, nullptr);
}

TEST_F(CApiTest, DestroyTearsDownARunningHandle) {
  crontab_handle other{};
  crontab_Intialize(&other);
  ASSERT_EQ(crontab_Add(&other, "* * * * * * * a", Nothing), 1);
  ASSERT_EQ(crontab_Start(&other), 1);
  crontab_Destroy(&other);
  EXPECT_EQ(other.object, nullptr);
  // A destroyed handle answers safely.
  EXPECT_EQ(crontab_State(&other), 0);
  EXPECT_EQ(crontab_Tasks(&other), 0);
  EXPECT_EQ(crontab_Add(&other, "* * * * * * * a", Nothing), 0);
  EXPECT_EQ(Take(crontab_Get(&other, nullptr)), "");
  crontab_Destroy(&other);
}

TEST_F(CApiTest, CopyGivesAStoppedIndependentObject) {
  ASSERT_EQ(crontab_Add(&handle, "* * * * * * * a", Nothing), 1);
  ASSERT_EQ(crontab_Start(&handle), 1);
  crontab_handle copy{};
  crontab_Intialize(&copy);
  ASSERT_EQ(crontab_Add(&copy, "* * * * * * * old", Nothing), 1);
  crontab_Copy(&copy, &handle);  // the destination's own object is released
  EXPECT_EQ(crontab_State(&copy), 0);
  EXPECT_EQ(Take(crontab_Get(&copy, nullptr)), "* * * * * * * a");
  EXPECT_EQ(crontab_Del(&copy, "a"), 1);
  EXPECT_EQ(crontab_Tasks(&handle), 1);
  EXPECT_EQ(crontab_State(&handle), 1);
  crontab_Copy(&copy, &copy);  // no effect
  EXPECT_EQ(crontab_Tasks(&copy), 0);
  crontab_Destroy(&copy);
}

TEST_F(CApiTest, StopWithoutWaitReturnsAtOnceAndStartMakesAFreshTimer) {
  ASSERT_EQ(crontab_Add(&handle, "* * * * * * * a", Nothing), 1);
  ASSERT_EQ(crontab_Start(&handle), 1);
  EXPECT_EQ(crontab_Stop(&handle, 1), 1);
  EXPECT_EQ(crontab_State(&handle), 0);
  EXPECT_EQ(crontab_Start(&handle), 1);
  EXPECT_EQ(crontab_State(&handle), 1);
}

TEST_F(CApiTest, GetTextIsReleasedByTheLibrary) {
  crontab_Free(nullptr);  // no effect
  ASSERT_EQ(crontab_Add(&handle, "* * * * * * * a", Nothing), 1);
  char* text = crontab_Get(&handle, "a");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "* * * * * * * a");
  crontab_Free(text);
#ifndef _WIN32
  std::free(crontab_Get(&handle, nullptr));  // plain free() stays right here
#endif
}

std::atomic<int> ticks{0};
void Count(double, const char*) {
  ++ticks;
}

TEST_F(CApiTest, ConcurrentCallsOnOneRunningHandle) {
  // Not the documented use, but it must not break the object.
  ASSERT_EQ(crontab_Add(&handle, "* * * * * * * base", Count), 1);
  ASSERT_EQ(crontab_Start(&handle), 1);
  constexpr int kThreads = 4;
  constexpr int kRounds = 150;
  std::atomic<int> added{0};
  std::atomic<int> deleted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        const std::string line = "* * * * * * * " + name;
        if (crontab_Add(&handle, line.c_str(), Count) == 1) ++added;
        EXPECT_EQ(Take(crontab_Get(&handle, name.c_str())), line);
        if (i % 3 == 0) {
          EXPECT_EQ(crontab_Stop(&handle, i % 2), 1);
        } else if (i % 3 == 1) {
          if (crontab_Del(&handle, name.c_str()) == 1) ++deleted;
        } else {
          EXPECT_EQ(crontab_Start(&handle), 1);
        }
        if (i % 25 == 0) {
          EXPECT_FALSE(Take(crontab_Get(&handle, nullptr)).empty());
        }
        (void)crontab_State(&handle);
        (void)crontab_Tasks(&handle);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(added.load(), kThreads * kRounds);
  EXPECT_EQ(crontab_Stop(&handle, 0), 1);
  EXPECT_EQ(crontab_Tasks(&handle), 1 + added - deleted);
  const std::string all = Take(crontab_Get(&handle, nullptr));
  EXPECT_EQ(static_cast<int>(std::count(all.begin(), all.end(), '\n')) + 1, crontab_Tasks(&handle));
}

TEST(CApiNotifyTest, RegistrationListAndNotifications) {
  EXPECT_EQ(crontab_ProcessNotifyLib(1, 0x1234, 0), 0);
  EXPECT_EQ(crontab_ProcessNotifyLib(1, 0, 0), 0);  // a second start builds nothing twice
  EXPECT_EQ(crontab_ProcessNotifyLib(6, 0, 0), 0);
  EXPECT_EQ(crontab_ProcessNotifyLib(14, 0, 0), 0);
  EXPECT_EQ(crontab_ProcessNotifyLib(16, 0, 0), 0);
  EXPECT_EQ(crontab_ProcessNotifyLib(2, 0, 0), -1);
  char name[64] = {};
  EXPECT_EQ(crontab_ProcessNotifyLib(15, reinterpret_cast<intptr_t>(name), sizeof name), 24);
  EXPECT_STREQ(name, "crontab_ProcessNotifyLib");

  struct Expected {
    const char* name;
    std::uint32_t kind;
    std::uint32_t result;
    std::vector<crontab_parameter> parameters;
  };
  const Expected expected[] = {
      {"crontab_Intialize", 0x202, 0, {}},
      {"crontab_Copy", 0x82, 0, {{0x20001, 0}}},
      {"crontab_Destroy", 0x102, 0, {}},
      {"crontab_Add", 0, 0x80000002, {{0x80000004, 0}, {0x80000006, 0}}},
      {"crontab_Del", 0, 0x80000002, {{0x80000004, 1}}},
      {"crontab_Get", 0, 0x80000004, {{0x80000004, 1}}},
      {"crontab_Start", 0, 0x80000002, {}},
      {"crontab_Stop", 0, 0x80000002, {{0x80000002, 1}}},
      {"crontab_State", 0, 0x80000002, {}},
      {"crontab_Tasks", 0, 0x80000301, {}},
  };
  ASSERT_EQ(crontab_OperationCount(), 10);
  for (int i = 0; i < 10; ++i) {
    const crontab_operation* op = crontab_OperationAt(i + 1);
    ASSERT_NE(op, nullptr);
    EXPECT_STREQ(op->name, expected[i].name);
    EXPECT_EQ(op->kind, expected[i].kind) << op->name;
    EXPECT_EQ(op->resultType, expected[i].result) << op->name;
    ASSERT_EQ(op->parameterCount, static_cast<int32_t>(expected[i].parameters.size()));
    for (int p = 0; p < op->parameterCount; ++p) {
      EXPECT_EQ(op->parameters[p].type, expected[i].parameters[p].type) << op->name;
      EXPECT_EQ(op->parameters[p].optional, expected[i].parameters[p].optional) << op->name;
    }
    EXPECT_EQ(crontab_FindOperation(expected[i].name), op);
  }
  EXPECT_EQ(crontab_OperationAt(0), nullptr);
  EXPECT_EQ(crontab_OperationAt(11), nullptr);
  EXPECT_EQ(crontab_FindOperation("crontab_ProcessNotifyLib"), nullptr);
  EXPECT_EQ(crontab_FindOperation(nullptr), nullptr);

  // A host binds by name and calls through the entry.
  auto add = reinterpret_cast<int (*)(crontab_handle*, const char*, crontab_callback)>(
      crontab_FindOperation("crontab_Add")->entry);
  auto tasks =
      reinterpret_cast<int32_t (*)(crontab_handle*)>(crontab_FindOperation("crontab_Tasks")->entry);
  crontab_handle handle{};
  reinterpret_cast<void (*)(crontab_handle*)>(crontab_FindOperation("crontab_Intialize")->entry)(
      &handle);
  EXPECT_EQ(add(&handle, "* * * * * * * a", Nothing), 1);
  EXPECT_EQ(tasks(&handle), 1);
  reinterpret_cast<void (*)(crontab_handle*)>(crontab_FindOperation("crontab_Destroy")->entry)(
      &handle);
}

}  // namespace
