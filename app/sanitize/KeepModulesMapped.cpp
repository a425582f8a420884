// Sanitizer builds only: dlclose leaves every module mapped. SANE's dll layer unloads its backends in
// sane_exit, after which LeakSanitizer can no longer name the library that kept memory; with the
// modules mapped, scripts/lsan.supp can say whose it is. The program's own unloading bookkeeping is
// unchanged (handles are still released and reloaded through the module layer).
extern "C" __attribute__((visibility("default"))) int dlclose(void*) {
  return 0;
}
