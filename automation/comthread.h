#pragma once

#include <cstdint>

namespace tarnwick::automation {

// The counterpart of initialising the object system for a thread: each thread keeps a count;
// the first call answers sOk, later ones sFalse (already initialised), and every call is
// balanced by one CoUninitialize. Objects can only be created while the count is positive.
using HResult = std::int32_t;
constexpr HResult sOk = 0;
constexpr HResult sFalse = 1;

HResult CoInitialize();
void CoUninitialize();
// The calling thread's count.
int CoInitializeCount();

} // namespace tarnwick::automation
