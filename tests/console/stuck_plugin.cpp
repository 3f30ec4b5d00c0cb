// Stands in for libflorrin.so in the abort tests: its scan never ends, as a plug-in caught in a
// hostile movie looks to the host.
#include <unistd.h>

#define STUCK_EXPORT extern "C" __attribute__((visibility("default")))

STUCK_EXPORT int _module_init(void) {
    return 1;
}

STUCK_EXPORT void* _process_file(const char*, const char*) {
    // kelvrac leaves every signal to its watch thread, so nothing ever wakes this one.
    for (;;) pause();
}

STUCK_EXPORT void _module_done(void) {}

STUCK_EXPORT const char* _module_version(void) {
    return "stuck";
}
