#include "platform/shellfileoperation.h"

#include "platform/linuxshellfileoperation.h"

#include <atomic>

namespace tarnwick {

namespace {
std::atomic<ShellFileOperation*> installed{nullptr};
}

ShellFileOperation& ShellFileOperation::current() {
    if (ShellFileOperation* op = installed.load(std::memory_order_acquire)) return *op;
    static LinuxShellFileOperation native;
    return native;
}

void ShellFileOperation::install(ShellFileOperation* operation) {
    installed.store(operation, std::memory_order_release);
}

} // namespace tarnwick
