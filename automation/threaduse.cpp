#include "automation/threaduse.h"

namespace tarnwick::automation {

namespace {
thread_local int useCount = 0;
} // namespace

bool EnterAutomation() {
    return ++useCount == 1;
}

void LeaveAutomation() {
    if (useCount > 0) --useCount;
}

int AutomationUseCount() {
    return useCount;
}

} // namespace tarnwick::automation
