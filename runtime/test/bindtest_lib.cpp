// A library the test process does not load by itself.
#ifdef _WIN32
#define BINDTEST_EXPORT __declspec(dllexport)
#else
#define BINDTEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" BINDTEST_EXPORT int bindtest_answer() {
  return 42;
}
