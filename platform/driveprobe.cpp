#include "platform/driveprobe.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace tarnwick {

namespace {
DriveProbe* current = nullptr;
} // namespace

DriveProbe& DriveProbe::Current() {
    static LinuxDriveProbe system;
    return current ? *current : system;
}

void DriveProbe::SetCurrent(DriveProbe* probe) {
    current = probe;
}

bool LinuxDriveProbe::IsRemovable(const QString& folder) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) return false;
    // /sys/dev/block/MAJOR:MINOR is the block device (tmpfs and other virtual file systems
    // have none); a partition's flag is on the disk it belongs to.
    QString dev = QFileInfo(QStringLiteral("%1/dev/block/%2:%3")
                                .arg(m_sysfs)
                                .arg(major(st.st_dev))
                                .arg(minor(st.st_dev)))
                      .canonicalFilePath();
    if (dev.isEmpty()) {
        // A file system in user space (NTFS on a stick) has no device number of a disk; the
        // mount table, where this process can see it, names the device.
        const QByteArray device = QStorageInfo(folder).device();
        if (!device.startsWith("/dev/")) return false;
        dev =
            QFileInfo(m_sysfs + QStringLiteral("/class/block/") + QFile::decodeName(device.mid(5)))
                .canonicalFilePath();
        if (dev.isEmpty()) return false;
    }
    if (QFileInfo::exists(dev + QStringLiteral("/partition"))) dev = QFileInfo(dev).path();
    QFile flag(dev + QStringLiteral("/removable"));
    return flag.open(QIODevice::ReadOnly) && flag.readAll().trimmed() == "1";
}

qint64 LinuxDriveProbe::FreeBytes(const QString& folder) {
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0) return -1;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

} // namespace tarnwick
