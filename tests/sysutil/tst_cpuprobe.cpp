#include "sysutil/cpuprobe.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <array>
#include <functional>

#include "doubles.h"

namespace {

using u64 = std::uint64_t;

// Lanes of a 64-bit value, low lane first.
template <typename T> std::array<T, 8 / sizeof(T)> lanes(u64 v) {
    std::array<T, 8 / sizeof(T)> a;
    std::memcpy(a.data(), &v, 8);
    return a;
}
template <typename T> u64 pack(const std::array<T, 8 / sizeof(T)>& a) {
    u64 v;
    std::memcpy(&v, a.data(), 8);
    return v;
}
template <typename T, typename F> u64 lanewise(u64 x, u64 y, F f) {
    auto a = lanes<T>(x), b = lanes<T>(y);
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<T>(f(a[i], b[i]));
    return pack<T>(a);
}
template <typename T> T saturate(long long v) {
    return static_cast<T>(
        std::clamp<long long>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}
// Shifts by the whole 64-bit count; counts past the lane width clear (or fill with the sign).
template <typename T> u64 shift(u64 x, u64 n, int dir) {
    return lanewise<T>(x, 0, [&](T a, T) -> T {
        constexpr unsigned bits = sizeof(T) * 8;
        if (dir < 0) return n >= bits ? T(0) : T(a << n);
        if (std::is_signed_v<T>) return n >= bits ? T(a < 0 ? -1 : 0) : T(a >> n);
        return n >= bits ? T(0) : T(a >> n);
    });
}
template <typename From, typename To> u64 packs(u64 x, u64 y) {
    auto a = lanes<From>(x), b = lanes<From>(y);
    std::array<To, 8 / sizeof(To)> r;
    for (size_t i = 0; i < a.size(); ++i) {
        r[i] = saturate<To>(a[i]);
        r[i + a.size()] = saturate<To>(b[i]);
    }
    return pack<To>(r);
}
template <typename T> u64 unpack(u64 x, u64 y, bool high) {
    auto a = lanes<T>(x), b = lanes<T>(y);
    std::array<T, 8 / sizeof(T)> r;
    const size_t half = a.size() / 2, from = high ? half : 0;
    for (size_t i = 0; i < half; ++i) {
        r[2 * i] = a[from + i];
        r[2 * i + 1] = b[from + i];
    }
    return pack<T>(r);
}

using Ref = std::function<u64(u64, u64)>;
using s8 = std::int8_t;
using s16 = std::int16_t;
using s32 = std::int32_t;
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;

// The instructions in operation-code order, computed in plain C++.
const std::vector<std::pair<const char*, Ref>> references = {
    {"PAND", [](u64 a, u64 b) { return a & b; }},
    {"PANDN", [](u64 a, u64 b) { return ~a & b; }},
    {"POR", [](u64 a, u64 b) { return a | b; }},
    {"PXOR", [](u64 a, u64 b) { return a ^ b; }},
    {"PSRLW", [](u64 a, u64 b) { return shift<u16>(a, b, 1); }},
    {"PSRLD", [](u64 a, u64 b) { return shift<u32>(a, b, 1); }},
    {"PSRLQ", [](u64 a, u64 b) { return shift<u64>(a, b, 1); }},
    {"PSRAW", [](u64 a, u64 b) { return shift<s16>(a, b, 1); }},
    {"PSRAD", [](u64 a, u64 b) { return shift<s32>(a, b, 1); }},
    {"PSLLW", [](u64 a, u64 b) { return shift<u16>(a, b, -1); }},
    {"PSLLD", [](u64 a, u64 b) { return shift<u32>(a, b, -1); }},
    {"PSLLQ", [](u64 a, u64 b) { return shift<u64>(a, b, -1); }},
    {"PCMPGTB",
     [](u64 a, u64 b) { return lanewise<s8>(a, b, [](s8 x, s8 y) { return x > y ? -1 : 0; }); }},
    {"PCMPGTW",
     [](u64 a, u64 b) { return lanewise<s16>(a, b, [](s16 x, s16 y) { return x > y ? -1 : 0; }); }},
    {"PCMPGTD",
     [](u64 a, u64 b) { return lanewise<s32>(a, b, [](s32 x, s32 y) { return x > y ? -1 : 0; }); }},
    {"PCMPEQB",
     [](u64 a, u64 b) { return lanewise<u8>(a, b, [](u8 x, u8 y) { return x == y ? 0xFF : 0; }); }},
    {"PCMPEQW",
     [](u64 a, u64 b) {
         return lanewise<u16>(a, b, [](u16 x, u16 y) { return x == y ? 0xFFFF : 0; });
     }},
    {"PCMPEQD",
     [](u64 a, u64 b) {
         return lanewise<u32>(a, b, [](u32 x, u32 y) { return x == y ? ~0u : 0u; });
     }},
    {"PACKSSWB", [](u64 a, u64 b) { return packs<s16, s8>(a, b); }},
    {"PACKSSDW", [](u64 a, u64 b) { return packs<s32, s16>(a, b); }},
    {"PACKUSWB", [](u64 a, u64 b) { return packs<s16, u8>(a, b); }},
    {"PUNPCKLBW", [](u64 a, u64 b) { return unpack<u8>(a, b, false); }},
    {"PUNPCKLWD", [](u64 a, u64 b) { return unpack<u16>(a, b, false); }},
    {"PUNPCKLDQ", [](u64 a, u64 b) { return unpack<u32>(a, b, false); }},
    {"PUNPCKHBW", [](u64 a, u64 b) { return unpack<u8>(a, b, true); }},
    {"PUNPCKHWD", [](u64 a, u64 b) { return unpack<u16>(a, b, true); }},
    {"PUNPCKHDQ", [](u64 a, u64 b) { return unpack<u32>(a, b, true); }},
    {"PADDUSB",
     [](u64 a, u64 b) {
         return lanewise<u8>(a, b, [](u8 x, u8 y) { return saturate<u8>(x + y); });
     }},
    {"PADDUSW",
     [](u64 a, u64 b) {
         return lanewise<u16>(a, b, [](u16 x, u16 y) { return saturate<u16>(x + y); });
     }},
    {"PADDSB",
     [](u64 a, u64 b) {
         return lanewise<s8>(a, b, [](s8 x, s8 y) { return saturate<s8>(x + y); });
     }},
    {"PADDSW",
     [](u64 a, u64 b) {
         return lanewise<s16>(a, b, [](s16 x, s16 y) { return saturate<s16>(x + y); });
     }},
    {"PADDB", [](u64 a, u64 b) { return lanewise<u8>(a, b, [](u8 x, u8 y) { return x + y; }); }},
    {"PADDW", [](u64 a, u64 b) { return lanewise<u16>(a, b, [](u16 x, u16 y) { return x + y; }); }},
    {"PADDD", [](u64 a, u64 b) { return lanewise<u32>(a, b, [](u32 x, u32 y) { return x + y; }); }},
    {"PSUBUSB",
     [](u64 a, u64 b) {
         return lanewise<u8>(a, b, [](u8 x, u8 y) { return saturate<u8>(x - y); });
     }},
    {"PSUBUSW",
     [](u64 a, u64 b) {
         return lanewise<u16>(a, b, [](u16 x, u16 y) { return saturate<u16>(x - y); });
     }},
    {"PSUBSB",
     [](u64 a, u64 b) {
         return lanewise<s8>(a, b, [](s8 x, s8 y) { return saturate<s8>(x - y); });
     }},
    {"PSUBSW",
     [](u64 a, u64 b) {
         return lanewise<s16>(a, b, [](s16 x, s16 y) { return saturate<s16>(x - y); });
     }},
    {"PSUBB", [](u64 a, u64 b) { return lanewise<u8>(a, b, [](u8 x, u8 y) { return x - y; }); }},
    {"PSUBW", [](u64 a, u64 b) { return lanewise<u16>(a, b, [](u16 x, u16 y) { return x - y; }); }},
    {"PSUBD", [](u64 a, u64 b) { return lanewise<u32>(a, b, [](u32 x, u32 y) { return x - y; }); }},
    {"PMULLW",
     [](u64 a, u64 b) {
         return lanewise<s16>(a, b, [](s16 x, s16 y) { return (x * y) & 0xFFFF; });
     }},
    {"PMULHW",
     [](u64 a, u64 b) { return lanewise<s16>(a, b, [](s16 x, s16 y) { return (x * y) >> 16; }); }},
    {"PMADDWD",
     [](u64 a, u64 b) {
         auto x = lanes<s16>(a), y = lanes<s16>(b);
         std::array<u32, 2> r;
         for (int i = 0; i < 2; ++i)
             r[i] = static_cast<u32>(x[2 * i] * y[2 * i] + x[2 * i + 1] * y[2 * i + 1]);
         return pack<u32>(r);
     }},
};

QByteArray cpuinfoField(const QByteArray& text, const QByteArray& name) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(name) && line.indexOf(':') > 0 &&
            line.left(line.indexOf(':')).trimmed() == name)
            return line.mid(line.indexOf(':') + 1).trimmed();
    return {};
}

} // namespace

class TestPentiumMMX : public QObject {
    Q_OBJECT
private slots:
    void identityMatchesProcCpuinfo() {
#if !defined(__x86_64__) && !defined(__i386__)
        QSKIP("not an x86 processor");
#endif
        QFile f("/proc/cpuinfo");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray info = f.readAll();
        TPentiumMMX cpu;
        cpu.SetErrorEnable(true);
        QVERIFY(cpu.CpuIDsupport());
        QCOMPARE(cpu.VendorString().toLatin1(), cpuinfoField(info, "vendor_id"));
        QCOMPARE(QByteArray::number(cpu.Family()), cpuinfoField(info, "cpu family"));
        QCOMPARE(QByteArray::number(cpu.Model()), cpuinfoField(info, "model"));
        QCOMPARE(QByteArray::number(cpu.SteppingID()), cpuinfoField(info, "stepping"));
        const QList<QByteArray> flags = cpuinfoField(info, "flags").split(' ');
        QCOMPARE(cpu.MMXsupport(), flags.contains("mmx"));
        QCOMPARE(cpu.RDTSCsupport(), flags.contains("tsc"));
        const std::uint64_t t1 = (std::uint64_t(std::uint32_t(cpu.TimeStampHigh())) << 32);
        QVERIFY(t1 > 0);
    }

    void mmxOperationsMatchPlainComputation() {
#if !defined(__x86_64__) && !defined(__i386__)
        QSKIP("not an x86 processor");
#endif
        QCOMPARE(references.size(), size_t(44));
        QRandomGenerator rng(20261207);
        for (size_t op = 0; op < references.size(); ++op) {
            for (int round = 0; round < 300; ++round) {
                const u64 a = rng.generate64();
                u64 b = rng.generate64();
                // Shifts: counts within and past the lane widths.
                if (op >= 4 && op <= 11) b = round < 200 ? b % 70 : b;
                u64 result = 1;
                TPentiumMMX::MmxOperate(static_cast<std::uint8_t>(op + 1), a, b, result);
                const u64 expected = references[op].second(a, b);
                if (result != expected)
                    QFAIL(qPrintable(QStringLiteral("%1(%2, %3) = %4, expected %5")
                                         .arg(references[op].first)
                                         .arg(a, 16, 16, QChar('0'))
                                         .arg(b, 16, 16, QChar('0'))
                                         .arg(result, 16, 16, QChar('0'))
                                         .arg(expected, 16, 16, QChar('0'))));
            }
        }
        for (std::uint8_t code : {0, 45, 255}) {
            u64 result = 7;
            TPentiumMMX::MmxOperate(code, ~0ull, ~0ull, result);
            QCOMPARE(result, u64(0));
        }
    }

    void noIdentityLeaf() {
        FakeProcessor cpu;
        cpu.leaves = {{0, 0x756e6547, 0x6c65746e, 0x49656e69}}; // highest leaf 0, "GenuineIntel"
        Installed<tarnwick::Processor, FakeProcessor> i(cpu);
        TPentiumMMX probe;
        QCOMPARE(probe.VendorString(), QStringLiteral("GenuineIntel"));
        QCOMPARE(probe.Model(), 0); // without ErrorEnable
        probe.SetErrorEnable(true);
        const std::vector<std::pair<QString, std::function<void()>>> getters = {
            {"SteppingID", [&] { probe.SteppingID(); }},
            {"Model", [&] { probe.Model(); }},
            {"Family", [&] { probe.Family(); }},
            {"FeatureFlags", [&] { probe.FeatureFlags(); }},
            {"FeatureFlags", [&] { probe.MMXsupport(); }},
            {"FeatureFlags", [&] { probe.RDTSCsupport(); }},
        };
        for (const auto& [name, get] : getters) {
            try {
                get();
                QFAIL(qPrintable(name + " raised nothing"));
            } catch (const ECpuProbeError& e) {
                QCOMPARE(e.Message(), QStringLiteral("CPU not supported ") + name);
                QCOMPARE(e.ErrorCode(), 0x00010001);
            }
        }
    }

    void intervals() {
        QCOMPARE(TPentiumMMX::Interval32(5, 0xFFFFFFFB), 10u);
        QCOMPARE(TPentiumMMX::Interval32(0x30000, 0x1FFFF), 0x10001u);
        std::uint64_t r = 0;
        TPentiumMMX::Interval64(3, ~0ull, r);
        QCOMPARE(r, 4ull);
    }
};

QTEST_GUILESS_MAIN(TestPentiumMMX)
#include "tst_cpuprobe.moc"
