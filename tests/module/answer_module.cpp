// A module for the loader's tests: loaded, it answers.
extern "C" __attribute__((visibility("default"))) int orv_test_module_answer() {
  return 42;
}
