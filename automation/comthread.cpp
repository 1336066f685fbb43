#include "automation/comthread.h"

namespace tarnwick::automation {

namespace {
thread_local int initCount = 0;
} // namespace

HResult CoInitialize() {
    return ++initCount == 1 ? sOk : sFalse;
}

void CoUninitialize() {
    if (initCount > 0) --initCount;
}

int CoInitializeCount() {
    return initCount;
}

} // namespace tarnwick::automation
