#pragma once

#include <cstdint>

namespace tarnwick {

struct CpuidRegisters {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// The processor's own identification and time-stamp counter.
class Processor {
public:
    virtual ~Processor() = default;
    // Whether the CPUID instruction exists.
    virtual bool hasCpuid() const = 0;
    // CPUID with the leaf in EAX (and 0 in ECX); zeros without CPUID.
    virtual CpuidRegisters cpuid(std::uint32_t leaf) const = 0;
    // RDTSC; 0 where there is none.
    virtual std::uint64_t timeStamp() const = 0;

    // The process-wide processor: the real one unless a test installed another.
    static const Processor& current();
    // Installs a processor (not owned) for the whole process; nullptr restores the default.
    static void install(const Processor* processor);
};

} // namespace tarnwick
