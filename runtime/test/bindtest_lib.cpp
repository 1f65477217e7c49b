// A library the test process does not load by itself.
extern "C" __attribute__((visibility("default"))) int bindtest_answer() {
  return 42;
}
