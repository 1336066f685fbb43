#pragma once

// A small tmpfs for the duration of a test, to meet a full disk or a read-only file system
// for real. Mounting needs root (CI runs as root); ok() tells whether it worked.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>

namespace testutil {

class TmpfsMount {
public:
    // `options` as for mount -o, e.g. "size=1m".
    TmpfsMount(const QString& where, const char* options) : m_where(QFile::encodeName(where)) {
        QDir().mkpath(where);
        m_ok = ::mount("tarnwick-test", m_where.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                       options) == 0;
    }
    ~TmpfsMount() {
        if (m_ok) ::umount2(m_where.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return m_ok; }
    bool makeReadOnly() {
        return ::mount(nullptr, m_where.constData(), nullptr,
                       MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
    }

private:
    QByteArray m_where;
    bool m_ok = false;
};

} // namespace testutil
