#pragma once

namespace tarnwick::automation {

// Each thread that uses automation objects says so first and says when it is done; uses nest,
// and objects can only be created while the thread's count is positive.
// Enter answers true for the thread's first use and false when it was already in use.
bool EnterAutomation();
// Ends one use; more ends than uses are ignored.
void LeaveAutomation();
// The calling thread's count of uses.
int AutomationUseCount();

} // namespace tarnwick::automation
