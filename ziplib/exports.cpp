// The two exported entry points; everything else in the library is hidden.
#include "ziplib.h"

#include "src/engine.h"

extern "C" __attribute__((visibility("default"))) int32_t ZipLibExec(void* command) {
    return ziplib::execute(command);
}

extern "C" __attribute__((visibility("default"))) int32_t GetZipLibVersion(void) {
    return ZIPLIB_VERSION;
}
