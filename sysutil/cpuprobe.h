#pragma once

#include "runtime/component.h"
#include "runtime/errors.h"

#include <cstdint>

// Raised by TPentiumMMX when the processor offers no identity leaf.
class ECpuProbeError : public Exception {
public:
    ECpuProbeError(const QString& message, int code) : Exception(message), m_code(code) {}
    int ErrorCode() const { return m_code; }

private:
    int m_code;
};

// What the processor says about itself (CPUID), its time-stamp counter (RDTSC), and single MMX
// operations on 64-bit values. Every property but ErrorEnable is read anew at each access.
class TPentiumMMX : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool ErrorEnable READ ErrorEnable WRITE SetErrorEnable)
    Q_PROPERTY(bool CpuIDsupport READ CpuIDsupport)
    Q_PROPERTY(bool RDTSCsupport READ RDTSCsupport)
    Q_PROPERTY(bool MMXsupport READ MMXsupport)
    Q_PROPERTY(QString VendorString READ VendorString)
    Q_PROPERTY(uchar SteppingID READ SteppingID)
    Q_PROPERTY(uchar Model READ Model)
    Q_PROPERTY(ushort Family READ Family)
    Q_PROPERTY(int FeatureFlags READ FeatureFlags)
    Q_PROPERTY(int TimeStampHigh READ TimeStampHigh)
    Q_PROPERTY(int TimeStampLow READ TimeStampLow)
public:
    static constexpr int NotSupportedCode = 0x00010001;

    explicit TPentiumMMX(QObject* owner = nullptr) : TComponent(owner) {}

    bool ErrorEnable() const { return m_errorEnable; }
    void SetErrorEnable(bool v) { m_errorEnable = v; }

    bool CpuIDsupport() const;
    bool RDTSCsupport() const;
    bool MMXsupport() const;
    QString VendorString() const;
    // Fields of leaf 1 (Model and Family with their extended parts); without it they raise
    // ECpuProbeError when ErrorEnable is set and are 0 otherwise.
    uchar SteppingID() const;
    uchar Model() const;
    ushort Family() const;
    int FeatureFlags() const;
    int TimeStampHigh() const;
    int TimeStampLow() const;

    // later - earlier, wrapping.
    static std::uint32_t Interval32(std::uint32_t later, std::uint32_t earlier);
    static void Interval64(std::uint64_t later, std::uint64_t earlier, std::uint64_t& result);

    // One MMX instruction with first as destination and second as source; codes 1-44 in the
    // order PAND, PANDN, POR, PXOR, PSRLW ... PMADDWD. Unknown codes give 0.
    static void MmxOperate(std::uint8_t operation, std::uint64_t first, std::uint64_t second,
                           std::uint64_t& result);

private:
    std::uint32_t leaf1Eax(const char* property) const;

    bool m_errorEnable = false;
};

// Lets window descriptions name TPentiumMMX.
void RegisterCpuProbe();
