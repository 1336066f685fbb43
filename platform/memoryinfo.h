#pragma once

#include <QString>

#include <cstdint>

namespace tarnwick {

// Physical memory of the machine as this process may use it, in bytes.
struct MemoryFigures {
    std::uint64_t total = 0;     // installed memory, or the memory limit of our cgroup
    std::uint64_t available = 0; // what can be taken now without swapping or reclaim pressure
};

// Where the memory figures come from. The Linux one reads /proc/meminfo and the cgroup limits.
class MemoryInfo {
public:
    virtual ~MemoryInfo() = default;
    virtual MemoryFigures read() const = 0;

    // The process-wide source: the Linux one unless a test installed another.
    static const MemoryInfo& current();
    // Installs a source (not owned) for the whole process; nullptr restores the default.
    static void install(const MemoryInfo* info);
};

// /proc/meminfo's MemTotal and MemAvailable, each bounded by the memory limit of the cgroup
// the process runs in (v2 memory.max, v1 memory.limit_in_bytes) and of every cgroup above it.
// The paths are parameters so that tests can hand in files of their own.
class LinuxMemoryInfo : public MemoryInfo {
public:
    explicit LinuxMemoryInfo(QString meminfo = QStringLiteral("/proc/meminfo"),
                             QString selfCgroup = QStringLiteral("/proc/self/cgroup"),
                             QString cgroupRoot = QStringLiteral("/sys/fs/cgroup"));
    MemoryFigures read() const override;

private:
    QString m_meminfo, m_selfCgroup, m_cgroupRoot;
};

} // namespace tarnwick
