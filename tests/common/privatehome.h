#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

// Points HOME and the XDG folders at a temporary folder, unless the test runs under ctest,
// whose test helper has already done so. A test binary started by hand then cannot reach the
// user's own settings.
inline void usePrivateHome() {
    if (qEnvironmentVariableIsSet("TARNWICK_SOURCE_DIR")) return;
    static QTemporaryDir dir;
    const QByteArray home = dir.path().toUtf8();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_CONFIG_DIRS", home + "/etc-xdg");
    qputenv("XDG_DATA_HOME", home + "/data");
    qputenv("XDG_CACHE_HOME", home + "/cache");
    // Locks and sockets of programs the test starts stay private too.
    QDir().mkpath(dir.path() + "/runtime");
    QFile::setPermissions(dir.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", home + "/runtime");
}
