// A tiny library for LoadLibraryA tests; built twice with different answers.
extern "C" __attribute__((visibility("default"))) int M3TestModuleAnswer() {
  return M3_TEST_MODULE_ANSWER;
}
