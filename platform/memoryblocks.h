#pragma once

#include <cstddef>

namespace tarnwick {

// Private anonymous memory taken and given back in blocks. take() returns nullptr when the
// system refuses; every page of a block it returns has been written, so it is resident.
class MemoryBlocks {
public:
    virtual ~MemoryBlocks() = default;
    virtual void* take(std::size_t size) = 0;
    virtual bool release(void* block, std::size_t size) = 0;

    // The process-wide source: the Linux one unless a test installed another.
    static MemoryBlocks& current();
    // Installs a source (not owned) for the whole process; nullptr restores the default.
    static void install(MemoryBlocks* blocks);
};

// mmap/munmap of anonymous read-write memory, zero-filled by hand after mapping.
class LinuxMemoryBlocks : public MemoryBlocks {
public:
    void* take(std::size_t size) override;
    bool release(void* block, std::size_t size) override;
};

} // namespace tarnwick
