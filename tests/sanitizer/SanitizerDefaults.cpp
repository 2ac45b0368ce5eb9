// Settings the sanitizer runtimes read at start-up, before any environment variable (which
// still overrides them, e.g. ASAN_OPTIONS=detect_leaks=0 for one run).

#define VORELTA_SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used))

VORELTA_SANITIZER_HOOK const char* __asan_default_options() {
    return "detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:"
           "strict_init_order=1:abort_on_error=0";
}

VORELTA_SANITIZER_HOOK const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks that Qt, fontconfig and the like leave at exit; each entry names a system library so
// that a leak allocated from our own code still fails the run.
VORELTA_SANITIZER_HOOK const char* __lsan_default_suppressions() {
    return
#include "LeakSuppressions.inc"
        ;
}
