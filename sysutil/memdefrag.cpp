#include "sysutil/memdefrag.h"

#include "platform/memoryblocks.h"
#include "platform/memoryinfo.h"
#include "runtime/classregistry.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

qint64 clampToSigned(std::uint64_t v) {
    return static_cast<qint64>(std::min<std::uint64_t>(v, std::numeric_limits<qint64>::max()));
}

} // namespace

TMemDefrag::TMemDefrag(QObject* owner) : TComponent(owner) {
    m_total = clampToSigned(tarnwick::MemoryInfo::current().read().total);
}

qint64 TMemDefrag::FreeMemory() const {
    return clampToSigned(tarnwick::MemoryInfo::current().read().available);
}

std::uint64_t TMemDefrag::SafetyMargin(std::uint64_t total) {
    return std::max<std::uint64_t>(64 * BlockSize, total / 32);
}

int TMemDefrag::BlockCap(std::uint64_t total, std::uint64_t available) {
    const std::uint64_t margin = SafetyMargin(total);
    if (available <= margin) return 0;
    return static_cast<int>(std::min<std::uint64_t>((available - margin) / BlockSize, MaxBlocks));
}

int TMemDefrag::Percent(int steps, int total) {
    if (total <= 0) return 100;
    const long long num = 100LL * steps;
    long long q = num / total;
    const long long twice = 2 * (num % total);
    if (twice > total || (twice == total && q % 2 != 0)) ++q;
    return static_cast<int>(q);
}

void TMemDefrag::Defrag(int Amount) {
    if (m_defragging) return;
    m_defragging = true;
    m_lastTaken = 0;
    tarnwick::MemoryBlocks& source = tarnwick::MemoryBlocks::current();
    std::vector<void*> blocks;
    std::size_t released = 0;
    // Whatever a handler throws, every block taken goes back, in the order taken.
    auto releaseRest = [&] {
        for (; released < blocks.size(); ++released)
            source.release(blocks[released], BlockSize);
    };
    try {
        int n = std::clamp(Amount, 0, MaxBlocks);
        m_onBefore(this);
        if (n > 0) {
            const tarnwick::MemoryFigures start = tarnwick::MemoryInfo::current().read();
            const std::uint64_t margin = SafetyMargin(start.total);
            n = std::min(n, BlockCap(start.total, start.available));
            blocks.reserve(static_cast<std::size_t>(n));
            int steps = 0;
            for (int i = 0; i < n; ++i) {
                // Other programs may grow meanwhile: the margin holds against what is free now.
                if (tarnwick::MemoryInfo::current().read().available < margin + BlockSize) break;
                void* p = source.take(BlockSize);
                if (!p) break;
                blocks.push_back(p);
                m_onProgress(this, Percent(++steps, 2 * n));
            }
            // A run cut short counts its steps against what it actually took, so it still
            // ends at 100.
            const int taken = static_cast<int>(blocks.size());
            m_lastTaken = taken;
            for (; released < blocks.size(); ++released) {
                source.release(blocks[released], BlockSize);
                ++steps;
                m_onProgress(this, Percent(steps, taken == n ? 2 * n : 2 * taken));
            }
        }
    } catch (...) {
        releaseRest();
        m_defragging = false;
        throw;
    }
    m_defragging = false;
    m_onAfter(this);
}

void TMemDefrag::DefragAll() {
    Defrag(static_cast<int>(
        std::min<qint64>(m_total / qint64(BlockSize), std::numeric_limits<int>::max())));
}

void RegisterMemDefrag() {
    TClassRegistry::Register<TMemDefrag>();
}
