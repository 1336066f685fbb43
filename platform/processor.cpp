#include "platform/processor.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define TARNWICK_X86 1
#endif

namespace tarnwick {

namespace {

class HostProcessor : public Processor {
public:
    bool hasCpuid() const override {
#ifdef TARNWICK_X86
        // On 32-bit x86 this toggles the ID flag; on x86-64 CPUID always exists.
        return __get_cpuid_max(0, nullptr) != 0 || cpuidLeaf0Works();
#else
        return false;
#endif
    }
    CpuidRegisters cpuid(std::uint32_t leaf) const override {
        CpuidRegisters r;
#ifdef TARNWICK_X86
        if (hasCpuid()) __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
#else
        (void)leaf;
#endif
        return r;
    }
    std::uint64_t timeStamp() const override {
#ifdef TARNWICK_X86
        return __rdtsc();
#else
        return 0;
#endif
    }

private:
#ifdef TARNWICK_X86
    // __get_cpuid_max answers 0 both for "no CPUID" and for "highest leaf 0"; on x86-64 only
    // the second can be meant.
    static bool cpuidLeaf0Works() {
#ifdef __x86_64__
        return true;
#else
        return false;
#endif
    }
#endif
};

std::atomic<const Processor*> installed{nullptr};

} // namespace

const Processor& Processor::current() {
    static const HostProcessor host;
    const Processor* p = installed.load();
    return p ? *p : host;
}

void Processor::install(const Processor* processor) {
    installed.store(processor);
}

} // namespace tarnwick
