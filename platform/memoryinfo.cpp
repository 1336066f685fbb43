#include "platform/memoryinfo.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <optional>

namespace tarnwick {

namespace {

std::atomic<const MemoryInfo*> installed{nullptr};

// Small files of the kernel's virtual file systems: read whole, never more than 64 KiB.
QByteArray readSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
    return f.read(64 * 1024);
}

std::optional<std::uint64_t> parseNumber(QByteArray text) {
    text = text.trimmed();
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok);
    return ok ? std::optional<std::uint64_t>(v) : std::nullopt;
}

// "MemTotal:       16314808 kB" -> bytes
std::optional<std::uint64_t> meminfoField(const QByteArray& text, QByteArrayView name) {
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || QByteArrayView(line).first(colon) != name) continue;
        QByteArray rest = line.mid(colon + 1).trimmed();
        std::uint64_t unit = 1;
        if (rest.endsWith(" kB")) {
            unit = 1024;
            rest.chop(3);
        }
        const auto v = parseNumber(rest);
        if (!v || *v > UINT64_MAX / unit) return std::nullopt;
        return *v * unit;
    }
    return std::nullopt;
}

struct Limit {
    std::uint64_t max = UINT64_MAX;
    std::uint64_t headroom = UINT64_MAX; // max - usage
    void bound(std::optional<std::uint64_t> limit, std::optional<std::uint64_t> usage) {
        if (!limit) return;
        max = std::min(max, *limit);
        const std::uint64_t used = usage.value_or(0);
        headroom = std::min(headroom, used < *limit ? *limit - used : 0);
    }
};

// Walks from the process's cgroup up to the root, for the v2 hierarchy and the v1 memory
// controller, and keeps the tightest limit found.
Limit cgroupLimit(const QString& selfCgroup, const QString& root) {
    Limit limit;
    for (const QByteArray& line : readSmallFile(selfCgroup).split('\n')) {
        // hierarchy-ID:controller-list:path
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3) continue;
        const QByteArray controllers = parts[1];
        QString path = QString::fromUtf8(line.mid(parts[0].size() + parts[1].size() + 2));
        if (path.contains(QStringLiteral("/../")) || path.endsWith(QStringLiteral("/.."))) continue;
        QString base, maxFile, usageFile;
        if (controllers.isEmpty()) {
            base = root;
            maxFile = QStringLiteral("memory.max");
            usageFile = QStringLiteral("memory.current");
        } else if (controllers.split(',').contains("memory")) {
            base = root + QStringLiteral("/memory");
            maxFile = QStringLiteral("memory.limit_in_bytes");
            usageFile = QStringLiteral("memory.usage_in_bytes");
        } else {
            continue;
        }
        for (;;) {
            const QString dir = base + path;
            // "max" (v2) and the huge v1 default parse or bound to nothing useful.
            limit.bound(parseNumber(readSmallFile(dir + '/' + maxFile)),
                        parseNumber(readSmallFile(dir + '/' + usageFile)));
            if (path.isEmpty() || path == QStringLiteral("/")) break;
            path.truncate(std::max<qsizetype>(path.lastIndexOf('/'), 0));
        }
    }
    return limit;
}

} // namespace

const MemoryInfo& MemoryInfo::current() {
    static const LinuxMemoryInfo system;
    const MemoryInfo* i = installed.load();
    return i ? *i : system;
}

void MemoryInfo::install(const MemoryInfo* info) {
    installed.store(info);
}

LinuxMemoryInfo::LinuxMemoryInfo(QString meminfo, QString selfCgroup, QString cgroupRoot)
    : m_meminfo(std::move(meminfo)), m_selfCgroup(std::move(selfCgroup)),
      m_cgroupRoot(std::move(cgroupRoot)) {}

MemoryFigures LinuxMemoryInfo::read() const {
    const QByteArray text = readSmallFile(m_meminfo);
    MemoryFigures f;
    f.total = meminfoField(text, "MemTotal").value_or(0);
    // Kernels before 3.14 lack MemAvailable; free memory is the cautious stand-in.
    f.available =
        meminfoField(text, "MemAvailable").value_or(meminfoField(text, "MemFree").value_or(0));
    const Limit limit = cgroupLimit(m_selfCgroup, m_cgroupRoot);
    f.total = std::min(f.total, limit.max);
    f.available = std::min({f.available, limit.headroom, f.total});
    return f;
}

} // namespace tarnwick
