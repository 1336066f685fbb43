#pragma once

#include <QString>

namespace tarnwick {

// What a spanned copy needs to know of the drive that holds a folder. Asked of the folder
// itself, never of the mount table, which a chroot or container may not show.
class DriveProbe {
public:
    virtual ~DriveProbe() = default;

    // True when the folder lies on a removable medium (a USB stick, a memory card).
    virtual bool IsRemovable(const QString& folder) = 0;
    // Bytes that this process may still write there; -1 when that cannot be told.
    virtual qint64 FreeBytes(const QString& folder) = 0;

    // The probe in use: the system's unless replaced.
    static DriveProbe& Current();
    // Replaces it (nullptr goes back to the system's); the caller keeps ownership.
    static void SetCurrent(DriveProbe* probe);
};

// Linux: the folder's device number leads through sysfs to its disk's "removable" flag;
// free space comes from statvfs.
class LinuxDriveProbe : public DriveProbe {
public:
    // sysfs is where sysfs is mounted; tests give a folder of their own.
    explicit LinuxDriveProbe(QString sysfs = QStringLiteral("/sys")) : m_sysfs(std::move(sysfs)) {}
    bool IsRemovable(const QString& folder) override;
    qint64 FreeBytes(const QString& folder) override;

private:
    QString m_sysfs;
};

} // namespace tarnwick
