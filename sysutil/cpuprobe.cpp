#include "sysutil/cpuprobe.h"

#include "platform/processor.h"
#include "runtime/classregistry.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <mmintrin.h>
#define TARNWICK_MMX 1
#endif

using tarnwick::Processor;

bool TPentiumMMX::CpuIDsupport() const {
    return Processor::current().hasCpuid();
}

bool TPentiumMMX::RDTSCsupport() const {
    return CpuIDsupport() && (static_cast<std::uint32_t>(FeatureFlags()) & (1u << 4));
}

bool TPentiumMMX::MMXsupport() const {
    return CpuIDsupport() && (static_cast<std::uint32_t>(FeatureFlags()) & (1u << 23));
}

QString TPentiumMMX::VendorString() const {
    const tarnwick::CpuidRegisters r = Processor::current().cpuid(0);
    char text[12];
    std::memcpy(text, &r.ebx, 4);
    std::memcpy(text + 4, &r.edx, 4);
    std::memcpy(text + 8, &r.ecx, 4);
    return QString::fromLatin1(text, 12);
}

std::uint32_t TPentiumMMX::leaf1Eax(const char* property) const {
    if (Processor::current().cpuid(0).eax >= 1) return Processor::current().cpuid(1).eax;
    if (m_errorEnable)
        throw ECpuProbeError(QStringLiteral("CPU not supported %1").arg(QLatin1String(property)),
                             NotSupportedCode);
    return 0;
}

uchar TPentiumMMX::SteppingID() const {
    return leaf1Eax("SteppingID") & 0xF;
}

// Processors since the Pentium 4 count past 15 in the extended fields; the figures are those
// the processor's maker (and /proc/cpuinfo) give.
uchar TPentiumMMX::Model() const {
    const std::uint32_t eax = leaf1Eax("Model");
    const std::uint32_t family = (eax >> 8) & 0xF;
    std::uint32_t model = (eax >> 4) & 0xF;
    if (family == 6 || family == 15) model |= ((eax >> 16) & 0xF) << 4;
    return static_cast<uchar>(model);
}

ushort TPentiumMMX::Family() const {
    const std::uint32_t eax = leaf1Eax("Family");
    std::uint32_t family = (eax >> 8) & 0xF;
    if (family == 15) family += (eax >> 20) & 0xFF;
    return static_cast<ushort>(family);
}

int TPentiumMMX::FeatureFlags() const {
    const Processor& p = Processor::current();
    if (p.cpuid(0).eax >= 1) return static_cast<int>(p.cpuid(1).edx);
    if (m_errorEnable)
        throw ECpuProbeError(QStringLiteral("CPU not supported FeatureFlags"), NotSupportedCode);
    return 0;
}

int TPentiumMMX::TimeStampHigh() const {
    return static_cast<int>(Processor::current().timeStamp() >> 32);
}

int TPentiumMMX::TimeStampLow() const {
    return static_cast<int>(Processor::current().timeStamp() & 0xFFFFFFFFu);
}

std::uint32_t TPentiumMMX::Interval32(std::uint32_t later, std::uint32_t earlier) {
    return later - earlier;
}

void TPentiumMMX::Interval64(std::uint64_t later, std::uint64_t earlier, std::uint64_t& result) {
    result = later - earlier;
}

void TPentiumMMX::MmxOperate(std::uint8_t operation, std::uint64_t first, std::uint64_t second,
                             std::uint64_t& result) {
    result = 0;
#ifdef TARNWICK_MMX
    __m64 a, b, r;
    std::memcpy(&a, &first, 8);
    std::memcpy(&b, &second, 8);
    switch (operation) {
#define MMX_OP(code, intrinsic)                                                                    \
    case code:                                                                                     \
        r = intrinsic(a, b);                                                                       \
        break;
        MMX_OP(1, _mm_and_si64)
        MMX_OP(2, _mm_andnot_si64)
        MMX_OP(3, _mm_or_si64)
        MMX_OP(4, _mm_xor_si64)
        MMX_OP(5, _mm_srl_pi16)
        MMX_OP(6, _mm_srl_pi32)
        MMX_OP(7, _mm_srl_si64)
        MMX_OP(8, _mm_sra_pi16)
        MMX_OP(9, _mm_sra_pi32)
        MMX_OP(10, _mm_sll_pi16)
        MMX_OP(11, _mm_sll_pi32)
        MMX_OP(12, _mm_sll_si64)
        MMX_OP(13, _mm_cmpgt_pi8)
        MMX_OP(14, _mm_cmpgt_pi16)
        MMX_OP(15, _mm_cmpgt_pi32)
        MMX_OP(16, _mm_cmpeq_pi8)
        MMX_OP(17, _mm_cmpeq_pi16)
        MMX_OP(18, _mm_cmpeq_pi32)
        MMX_OP(19, _mm_packs_pi16)
        MMX_OP(20, _mm_packs_pi32)
        MMX_OP(21, _mm_packs_pu16)
        MMX_OP(22, _mm_unpacklo_pi8)
        MMX_OP(23, _mm_unpacklo_pi16)
        MMX_OP(24, _mm_unpacklo_pi32)
        MMX_OP(25, _mm_unpackhi_pi8)
        MMX_OP(26, _mm_unpackhi_pi16)
        MMX_OP(27, _mm_unpackhi_pi32)
        MMX_OP(28, _mm_adds_pu8)
        MMX_OP(29, _mm_adds_pu16)
        MMX_OP(30, _mm_adds_pi8)
        MMX_OP(31, _mm_adds_pi16)
        MMX_OP(32, _mm_add_pi8)
        MMX_OP(33, _mm_add_pi16)
        MMX_OP(34, _mm_add_pi32)
        MMX_OP(35, _mm_subs_pu8)
        MMX_OP(36, _mm_subs_pu16)
        MMX_OP(37, _mm_subs_pi8)
        MMX_OP(38, _mm_subs_pi16)
        MMX_OP(39, _mm_sub_pi8)
        MMX_OP(40, _mm_sub_pi16)
        MMX_OP(41, _mm_sub_pi32)
        MMX_OP(42, _mm_mullo_pi16)
        MMX_OP(43, _mm_mulhi_pi16)
        MMX_OP(44, _mm_madd_pi16)
#undef MMX_OP
    default:
        return;
    }
    std::memcpy(&result, &r, 8);
    // Leave the floating-point registers usable for the code that follows.
    _mm_empty();
#else
    (void)operation;
    (void)first;
    (void)second;
#endif
}

void RegisterCpuProbe() {
    TClassRegistry::Register<TPentiumMMX>();
}
