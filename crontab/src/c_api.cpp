// The C interface: each operation reaches the object held by the handle.
#include <string>

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

void crontab_Free(char* text) {
  cron::FreeHostText(text);
}

}  // extern "C"
