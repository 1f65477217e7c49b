// The library module: its start notification, its registration list and its
// fatal reports.
#include "library.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string_view>

#include "crontab_object.h"
#include "interface.h"
#include "runtime/frame.h"

namespace cron {
namespace {

constexpr std::string_view kEntryName = "crontab_ProcessNotifyLib";
// The ten operations a host binds by name or number.
constexpr int32_t kOperationCount = 10;
// Codes a host may send besides start and stop: one asks for the entry's
// own name; two carry nothing this library needs and are acknowledged.
constexpr int32_t kNotifyEntryName = 15;
constexpr int32_t kNotifyAcknowledgedA = 14;
constexpr int32_t kNotifyAcknowledgedB = 16;

constexpr crontab_parameter kHandleParameter[] = {{CRONTAB_TYPE_HANDLE, 0}};
constexpr crontab_parameter kAddParameters[] = {{CRONTAB_TYPE_TEXT, 0}, {CRONTAB_TYPE_ROUTINE, 0}};
constexpr crontab_parameter kOptionalText[] = {{CRONTAB_TYPE_TEXT, 1}};
constexpr crontab_parameter kOptionalBool[] = {{CRONTAB_TYPE_BOOL, 1}};

template <class F>
void (*Entry(F* routine))(void) {
  return reinterpret_cast<void (*)(void)>(routine);
}

struct Registry {
  crontab_operation operations[kOperationCount];
  std::atomic<bool> built{false};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::once_flag initialized;

void BuildRegistry() {
  auto& r = TheRegistry();
  const crontab_operation operations[] = {
      {"crontab_Intialize", Entry(&crontab_Intialize), CRONTAB_KIND_CONSTRUCTOR, CRONTAB_TYPE_NONE,
       0, nullptr},
      {"crontab_Copy", Entry(&crontab_Copy), CRONTAB_KIND_COPY, CRONTAB_TYPE_NONE, 1,
       kHandleParameter},
      {"crontab_Destroy", Entry(&crontab_Destroy), CRONTAB_KIND_DESTRUCTOR, CRONTAB_TYPE_NONE, 0,
       nullptr},
      {"crontab_Add", Entry(&crontab_Add), CRONTAB_KIND_METHOD, CRONTAB_TYPE_BOOL, 2,
       kAddParameters},
      {"crontab_Del", Entry(&crontab_Del), CRONTAB_KIND_METHOD, CRONTAB_TYPE_BOOL, 1,
       kOptionalText},
      {"crontab_Get", Entry(&crontab_Get), CRONTAB_KIND_METHOD, CRONTAB_TYPE_TEXT, 1,
       kOptionalText},
      {"crontab_Start", Entry(&crontab_Start), CRONTAB_KIND_METHOD, CRONTAB_TYPE_BOOL, 0, nullptr},
      {"crontab_Stop", Entry(&crontab_Stop), CRONTAB_KIND_METHOD, CRONTAB_TYPE_BOOL, 1,
       kOptionalBool},
      {"crontab_State", Entry(&crontab_State), CRONTAB_KIND_METHOD, CRONTAB_TYPE_BOOL, 0, nullptr},
      {"crontab_Tasks", Entry(&crontab_Tasks), CRONTAB_KIND_METHOD, CRONTAB_TYPE_INT32, 0, nullptr},
  };
  std::copy(std::begin(operations), std::end(operations), r.operations);
  r.built.store(true, std::memory_order_release);
}

}  // namespace

void LibraryCleanup() {
  ClearSnapshotTable();
}

void RaiseLibraryError(int number, int site) {
  rt::RaiseLibraryRuntimeError(number, site, 1, &LibraryCleanup);
}

}  // namespace cron

extern "C" {

int32_t crontab_ProcessNotifyLib(int32_t code, intptr_t value, intptr_t reserved) {
  switch (code) {
    case rt::kNotifyStart:
      std::call_once(cron::initialized, cron::BuildRegistry);
      return 0;
    case rt::kNotifyStop:
    case cron::kNotifyAcknowledgedA:
    case cron::kNotifyAcknowledgedB:
      return 0;
    case cron::kNotifyEntryName: {
      // The entry's own name, into the buffer `value` of `reserved` bytes.
      const auto size = static_cast<int32_t>(cron::kEntryName.size());
      if (value != 0 && reserved > size) {
        auto* buffer = reinterpret_cast<char*>(value);
        std::memcpy(buffer, cron::kEntryName.data(), cron::kEntryName.size());
        buffer[size] = '\0';
      }
      return size;
    }
    default:
      return -1;
  }
}

const crontab_operation* crontab_OperationAt(int32_t index) {
  const auto& r = cron::TheRegistry();
  if (!r.built.load(std::memory_order_acquire) || index < 1 || index > cron::kOperationCount)
    return nullptr;
  return &r.operations[index - 1];
}

int32_t crontab_OperationCount(void) {
  return cron::TheRegistry().built.load(std::memory_order_acquire) ? cron::kOperationCount : 0;
}

const crontab_operation* crontab_FindOperation(const char* name) {
  if (!name) return nullptr;
  for (int32_t i = 1; i <= crontab_OperationCount(); ++i) {
    const auto* operation = crontab_OperationAt(i);
    if (std::strcmp(operation->name, name) == 0) return operation;
  }
  return nullptr;
}

}  // extern "C"
