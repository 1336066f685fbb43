/* A stand-in zip library for the interface tests: it hands every command to a handler
 * the test installs, and reports whatever version the test sets. Built three times: whole,
 * without ZipLibExec and without GetZipLibVersion. */
#include <stdint.h>

typedef int32_t (*Handler)(void* command);
static Handler handler;
static int32_t version = 160;

__attribute__((visibility("default"))) void FakeZipLibSetHandler(Handler h) {
    handler = h;
}
__attribute__((visibility("default"))) void FakeZipLibSetVersion(int32_t v) {
    version = v;
}

#ifndef FAKE_NO_EXEC
__attribute__((visibility("default"))) int32_t ZipLibExec(void* command) {
    return handler ? handler(command) : 0;
}
#endif
#ifndef FAKE_NO_VERSION
__attribute__((visibility("default"))) int32_t GetZipLibVersion(void) {
    return version;
}
#endif
