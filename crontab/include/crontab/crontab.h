/* The scheduler library's interface: a scheduler object reached through a
   caller-owned handle, and the library's module notification entry.

   A handle is meant for one thread at a time. Calls on one handle from
   several threads are safe all the same (each takes the object's lock),
   except crontab_Intialize, crontab_Copy and crontab_Destroy, which replace
   or end the object. crontab_Stop(handle, 0) must not be called from a task's
   own callback: it would wait for the tick that makes the call.

   Texts from crontab_Get belong to the caller: release them with
   crontab_Free. On Windows they come from the process heap, so
   HeapFree(GetProcessHeap(), 0, text) works too, from a host on any C
   runtime; elsewhere they come from malloc and free() works too. */
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
/* Caller-owned, zero-filled before the first crontab_Intialize; a second
   crontab_Intialize tears the old object down (its timer stops). */
typedef struct crontab_handle { void* object; } crontab_handle;
void    crontab_Intialize(crontab_handle* self);
void    crontab_Copy(crontab_handle* self, const crontab_handle* source);
void    crontab_Destroy(crontab_handle* self);
int     crontab_Add(crontab_handle* self, const char* line, crontab_callback callback); /* 1 or 0 */
int     crontab_Del(crontab_handle* self, const char* name);  /* NULL: omitted, same as "" */
char*   crontab_Get(crontab_handle* self, const char* name);  /* NULL: omitted; never returns NULL; release with crontab_Free */
int     crontab_Start(crontab_handle* self);
int     crontab_Stop(crontab_handle* self, int noWait);      /* 0: wait for a running tick */
int     crontab_State(crontab_handle* self);
int32_t crontab_Tasks(crontab_handle* self);
void    crontab_Free(char* text);                             /* a text from crontab_Get; NULL: no effect */
/* Replaces the whole task set in one step, running or not: a tick sees the
   old set or the new one, and no second is evaluated twice or left out. A
   line equal to a present task's line (same callback) keeps that task as it
   is; the others are added as by crontab_Add, in order. accepted, when not
   NULL, receives 1 or 0 per line. Returns the number of tasks afterwards. */
int32_t crontab_Replace(crontab_handle* self, const char* const* lines, int32_t count,
                        crontab_callback callback, int* accepted);
/* Called on a timer thread when the clock jumped forward by more than the
   few seconds a tick catches up: the first and last second skipped (date-
   times), which fire nothing. */
typedef void (*crontab_skip_callback)(double firstSkipped, double lastSkipped);
void    crontab_OnSkip(crontab_handle* self, crontab_skip_callback callback); /* NULL: none */
/* Called on a timer thread, once, by the tick that sees the clock set back
   (a daylight-saving change is no step): seconds, how far back; lastFired,
   the latest second already evaluated (a date-time). takenAsNew 0: nothing
   fires until the clock passes lastFired again, so nothing is repeated;
   1: the clock is more than three hours behind lastFired and firing goes
   on from the new time. */
typedef void (*crontab_back_callback)(int64_t seconds, double lastFired, int takenAsNew);
void    crontab_OnClockBack(crontab_handle* self, crontab_back_callback callback); /* NULL: none */
/* Seconds up to lastDone (a date-time) count as already evaluated: a program
   restarted within a second it fired before does not fire it again. Before
   crontab_Start; a later second than any evaluated moves nothing back. */
void    crontab_DoneUntil(crontab_handle* self, double lastDone);
int32_t crontab_ProcessNotifyLib(int32_t code, intptr_t value, intptr_t reserved);
#ifdef __cplusplus
}
#endif
/* clang-format on */

#endif /* CRONTAB_CRONTAB_H */
