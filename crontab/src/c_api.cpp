// The C interface: each operation reaches the object held by the handle.
#include <cstdlib>
#include <cstring>
#include <string>

#include "crontab_object.h"
#include "interface.h"
#include "runtime/frame.h"

namespace {

cron::crontab* Object(const crontab_handle* self) {
  return self ? static_cast<cron::crontab*>(self->object) : nullptr;
}

std::string_view TextOrEmpty(const char* text) {
  return text ? std::string_view(text) : "";
}

}  // namespace

extern "C" {

void crontab_Intialize(crontab_handle* self) {
  if (self) self->object = new cron::crontab();
}

void crontab_Copy(crontab_handle* self, const crontab_handle* source) {
  if (!self || self == source) return;
  const cron::crontab* from = Object(source);
  auto* copy = from ? new cron::crontab(*from) : new cron::crontab();
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
  const std::string text = object ? object->Get(TextOrEmpty(name)) : std::string();
  auto* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (!out) rt::ReportOutOfMemory();
  std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
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

}  // extern "C"
