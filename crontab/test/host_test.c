/* A host that knows only crontab.h and the shared library: it adds the
   default line and an every-second line, starts, receives callbacks, stops. */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
static void Pause10ms(void) {
  Sleep(10);
}
#else
#include <threads.h>
static void Pause10ms(void) {
  (void)thrd_sleep(&(struct timespec){.tv_nsec = 10 * 1000 * 1000}, NULL);
}
#endif

#include "crontab/crontab.h"

static atomic_int calls;
static atomic_int badName;

static void OnTrigger(double fireTime, const char* taskName) {
  if (fireTime <= 0 || strcmp(taskName, "every") != 0) atomic_store(&badName, 1);
  atomic_fetch_add(&calls, 1);
}

static int Check(int ok, const char* what) {
  if (!ok) (void)fprintf(stderr, "host: %s failed\n", what);
  return ok ? 0 : 1;
}

int main(void) {
  int failures = 0;
  crontab_handle* handle = calloc(1, sizeof *handle);
  if (!handle) return 1;
  failures += Check(crontab_ProcessNotifyLib(1, 0, 0) == 0, "start notification");
  crontab_Intialize(handle);
  failures += Check(crontab_Add(handle, "1 1 8,10,11,12,13,14,15,17,19,21,22,23 * * * * 定时提醒",
                                OnTrigger) == 1,
                    "add default line");
  failures += Check(crontab_Add(handle, "* * * * * * * every", OnTrigger) == 1, "add every");
  failures += Check(crontab_Tasks(handle) == 2, "tasks");
  failures += Check(crontab_Start(handle) == 1 && crontab_State(handle) == 1, "start");
  /* The first tick comes at once; allow a slow machine ten seconds. */
  for (int i = 0; i < 1000 && atomic_load(&calls) < 2; ++i) {
    Pause10ms();
  }
  failures += Check(atomic_load(&calls) >= 2, "callbacks");
  failures += Check(atomic_load(&badName) == 0, "callback arguments");
  failures += Check(crontab_Stop(handle, 0) == 1 && crontab_State(handle) == 0, "stop");
  char* lines = crontab_Get(handle, NULL);
  failures += Check(lines != NULL && strstr(lines, "\r\n* * * * * * * every") != NULL, "get");
#ifdef _WIN32
  /* A host on another C runtime releases the text into the process heap. */
  failures +=
      Check(HeapSize(GetProcessHeap(), 0, lines) == strlen(lines) + 1, "text on the process heap");
  failures += Check(HeapFree(GetProcessHeap(), 0, lines) != 0, "HeapFree of the text");
#else
  free(lines);
#endif
  crontab_Free(crontab_Get(handle, "every"));
  crontab_Destroy(handle);
  free(handle);
  failures += Check(crontab_ProcessNotifyLib(6, 0, 0) == 0, "stop notification");
  if (failures == 0) puts("host: ok");
  return failures == 0 ? 0 : 1;
}
