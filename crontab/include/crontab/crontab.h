/* The scheduler library's interface: a scheduler object reached through a
   caller-owned handle, and the library's module notification entry. */
#ifndef CRONTAB_CRONTAB_H
#define CRONTAB_CRONTAB_H

/* clang-format off */
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
/* Called on a timer thread: fireTime is a date-time (days since 1899-12-30, whole seconds),
   taskName a zero-terminated code page 936 text valid during the call. */
typedef void (*crontab_callback)(double fireTime, const char* taskName);
/* Caller-owned, zero-filled before crontab_Intialize. */
typedef struct crontab_handle { void* object; } crontab_handle;
void    crontab_Intialize(crontab_handle* self);
void    crontab_Copy(crontab_handle* self, const crontab_handle* source);
void    crontab_Destroy(crontab_handle* self);
int     crontab_Add(crontab_handle* self, const char* line, crontab_callback callback); /* 1 or 0 */
int     crontab_Del(crontab_handle* self, const char* name);  /* NULL: omitted, same as "" */
char*   crontab_Get(crontab_handle* self, const char* name);  /* NULL: omitted; never returns NULL; release with free() */
int     crontab_Start(crontab_handle* self);
int     crontab_Stop(crontab_handle* self, int noWait);      /* 0: wait for a running tick */
int     crontab_State(crontab_handle* self);
int32_t crontab_Tasks(crontab_handle* self);
int32_t crontab_ProcessNotifyLib(int32_t code, intptr_t value, intptr_t reserved);
#ifdef __cplusplus
}
#endif
/* clang-format on */

#endif /* CRONTAB_CRONTAB_H */
