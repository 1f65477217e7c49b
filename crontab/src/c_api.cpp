// The C interface: each operation reaches the object held by the handle.
#include <functional>
#include <string>
#include <vector>

#include "crontab_object.h"
#include "host_text.h"
#include "interface.h"

namespace {

cron::crontab* Object(const crontab_handle* self) {
  return self ? static_cast<cron::crontab*>(self->object) : nullptr;
}

std::string_view TextOrEmpty(const char* text) {
  return text ? std::string_view(text) : "";
}

// A local second as a host's callback receives it.
double DateTimeOf(std::int64_t second) {
  return rt::DateTimeFromSystemTime(cron::TimeFromLocalSeconds(second));
}

// The observer that calls a host's callback, or none when it gave none.
template <class Callback, class Call>
auto ObserverOf(Callback callback, Call call) -> decltype(std::function(call)) {
  if (!callback) return nullptr;
  return call;
}

cron::ObjectFactory& Factory() {
  static cron::ObjectFactory factory;
  return factory;
}

}  // namespace

namespace cron {

void SetObjectFactory(ObjectFactory factory) {
  Factory() = std::move(factory);
}

std::unique_ptr<crontab> MakeObject() {
  return Factory() ? Factory()() : std::make_unique<crontab>();
}

std::vector<Schedule> SchedulesInForce(const crontab_handle* handle) {
  const crontab* object = Object(handle);
  return object ? object->Schedules() : std::vector<Schedule>();
}

}  // namespace cron

extern "C" {

void crontab_Intialize(crontab_handle* self) {
  if (!self) return;
  // A live handle's object is torn down, as by crontab_Copy: its timer stops.
  auto* fresh = cron::MakeObject().release();
  delete Object(self);
  self->object = fresh;
}

void crontab_Copy(crontab_handle* self, const crontab_handle* source) {
  if (!self || self == source) return;
  const cron::crontab* from = Object(source);
  auto* copy = from ? new cron::crontab(*from) : cron::MakeObject().release();
  // The destination's own object is torn down, not leaked.
  delete Object(self);
  self->object = copy;
}

void crontab_Destroy(crontab_handle* self) {
  if (!self) return;
  delete Object(self);
  self->object = nullptr;
}

int crontab_Add(crontab_handle* self, const char* line, crontab_callback callback) {
  auto* object = Object(self);
  return object && object->Add(TextOrEmpty(line), callback) ? 1 : 0;
}

int crontab_Del(crontab_handle* self, const char* name) {
  auto* object = Object(self);
  return object && object->Del(TextOrEmpty(name)) ? 1 : 0;
}

char* crontab_Get(crontab_handle* self, const char* name) {
  auto* object = Object(self);
  return cron::NewHostText(object ? object->Get(TextOrEmpty(name)) : std::string());
}

int crontab_Start(crontab_handle* self) {
  auto* object = Object(self);
  return object && object->Start() ? 1 : 0;
}

int crontab_Stop(crontab_handle* self, int noWait) {
  auto* object = Object(self);
  return !object || object->Stop(noWait != 0) ? 1 : 0;
}

int crontab_State(crontab_handle* self) {
  auto* object = Object(self);
  return object && object->State() ? 1 : 0;
}

int32_t crontab_Tasks(crontab_handle* self) {
  auto* object = Object(self);
  return object ? object->Tasks() : 0;
}

int32_t crontab_Replace(crontab_handle* self, const char* const* lines, int32_t count,
                        crontab_callback callback, int* accepted) {
  auto* object = Object(self);
  if (!object) return 0;
  std::vector<std::string> texts;
  if (lines && count > 0) {
    texts.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) texts.emplace_back(TextOrEmpty(lines[i]));
  }
  const std::vector<bool> added = object->Replace(texts, callback);
  if (accepted) {
    for (std::size_t i = 0; i < added.size(); ++i) accepted[i] = added[i] ? 1 : 0;
  }
  return object->Tasks();
}

void crontab_OnSkip(crontab_handle* self, crontab_skip_callback callback) {
  if (auto* object = Object(self)) {
    object->SetSkipObserver(ObserverOf(callback, [callback](std::int64_t first, std::int64_t last) {
      callback(DateTimeOf(first), DateTimeOf(last));
    }));
  }
}

void crontab_OnClockBack(crontab_handle* self, crontab_back_callback callback) {
  if (auto* object = Object(self)) {
    object->SetBackObserver(ObserverOf(callback, [callback](const cron::BackStep& step) {
      callback(step.seconds, DateTimeOf(step.lastEvaluated), step.takenAsNew ? 1 : 0);
    }));
  }
}

void crontab_DoneUntil(crontab_handle* self, double lastDone) {
  auto* object = Object(self);
  const auto time = rt::SystemTimeFromDateTime(lastDone);
  if (object && time) object->DoneUntil(cron::LocalSeconds(*time));
}

void crontab_Free(char* text) {
  cron::FreeHostText(text);
}

}  // extern "C"
