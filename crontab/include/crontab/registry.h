/* The scheduler library's registration list: its ten operations with their
   kinds and typed parameters, in registration order, for hosts that bind
   operations by name. The list is built by the start notification
   (crontab_ProcessNotifyLib with code 1). The list and everything it points
   to are the library's, static and never freed; any thread may read it. */
#ifndef CRONTAB_REGISTRY_H
#define CRONTAB_REGISTRY_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(CRONTAB_BUILD_DLL)
#define CRONTAB_API __declspec(dllexport)
#elif defined(CRONTAB_USE_DLL)
#define CRONTAB_API __declspec(dllimport)
#else
#define CRONTAB_API
#endif
#else
#define CRONTAB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Kind flags. */
#define CRONTAB_KIND_METHOD 0x0
#define CRONTAB_KIND_CONSTRUCTOR 0x202
#define CRONTAB_KIND_COPY 0x82
#define CRONTAB_KIND_DESTRUCTOR 0x102

/* Type codes of results and parameters (0: no result). */
#define CRONTAB_TYPE_NONE 0x0u
#define CRONTAB_TYPE_HANDLE 0x20001u
#define CRONTAB_TYPE_BOOL 0x80000002u
#define CRONTAB_TYPE_TEXT 0x80000004u
#define CRONTAB_TYPE_ROUTINE 0x80000006u
#define CRONTAB_TYPE_INT32 0x80000301u

typedef struct crontab_parameter {
  uint32_t type;
  int optional; /* 1: may be omitted */
} crontab_parameter;

typedef struct crontab_operation {
  const char* name;
  void (*entry)(void); /* cast to the operation's own type before calling */
  uint32_t kind;
  uint32_t resultType;
  int32_t parameterCount;              /* parameters after the handle */
  const crontab_parameter* parameters; /* parameterCount of them; NULL for none */
} crontab_operation;

/* The operation of exactly that name (case counts); NULL for an unknown or
   NULL name, or before the start notification. */
CRONTAB_API const crontab_operation* crontab_FindOperation(const char* name);
/* 10 after the start notification, 0 before. */
CRONTAB_API int32_t crontab_OperationCount(void);
/* index 1..count, in registration order; else NULL. */
CRONTAB_API const crontab_operation* crontab_OperationAt(int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* CRONTAB_REGISTRY_H */
