// A module for the loader's tests: loaded, it answers. Its build id is the tests' own.
#include "platform/module_loader.h"

ORV_MODULE_BUILD_ID("the loader's test build");

extern "C" __attribute__((visibility("default"))) int orv_test_module_answer() {
  return 42;
}
