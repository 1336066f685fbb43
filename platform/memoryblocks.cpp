#include "platform/memoryblocks.h"

#include <atomic>
#include <cstring>

#include <sys/mman.h>

namespace tarnwick {

namespace {
std::atomic<MemoryBlocks*> installed{nullptr};
}

MemoryBlocks& MemoryBlocks::current() {
    static LinuxMemoryBlocks system;
    MemoryBlocks* b = installed.load();
    return b ? *b : system;
}

void MemoryBlocks::install(MemoryBlocks* blocks) {
    installed.store(blocks);
}

void* LinuxMemoryBlocks::take(std::size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Writing every page is what makes the kernel hand over a physical page for it.
    std::memset(p, 0, size);
    return p;
}

bool LinuxMemoryBlocks::release(void* block, std::size_t size) {
    return block && munmap(block, size) == 0;
}

} // namespace tarnwick
