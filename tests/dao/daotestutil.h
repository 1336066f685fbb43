#pragma once

// Shared by the database component's tests: which engines are registered, ODBC data sources in
// private files, and the message of whatever a call raises.

#include "automation/classregistry.h"
#include "daoengine/engine.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <exception>
#include <functional>

// Registers the program's engines, then drops the versions not wanted.
inline void registerEngines(bool v35, bool v36, bool v120 = true) {
    using namespace tarnwick;
    using daoengine::EngineVersion;
    daoengine::RegisterEngineClasses();
    for (const QString& id : daoengine::EngineProgIds()) {
        const EngineVersion v = daoengine::EngineVersionOf(id);
        if ((v == EngineVersion::V35 && !v35) || (v == EngineVersion::V36 && !v36) ||
            (v == EngineVersion::V120 && !v120))
            automation::UnregisterClass(id);
    }
}

inline QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// Debian's SQLite ODBC driver, "" when it is not installed.
inline QString sqliteOdbcDriver() {
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"})
        if (QFile::exists(QString::fromLatin1(dir) + "/libsqlite3odbc.so"))
            return QString::fromLatin1(dir) + "/libsqlite3odbc.so";
    return {};
}

// A SQLite database with two tables and a view, made by the sqlite3 program.
inline bool makeSqliteDatabase(const QString& path) {
    const QString sqlite = QStandardPaths::findExecutable("sqlite3");
    if (sqlite.isEmpty()) return false;
    QProcess p;
    p.start(sqlite, {path, "CREATE TABLE Customers(id INTEGER, name TEXT);"
                           "CREATE TABLE Orders(id INTEGER);"
                           "CREATE VIEW Big AS SELECT * FROM Orders;"});
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

// Points unixODBC at private files: the drivers and a system data source in a folder of
// `root` (ODBCSYSINI), a user data source in a file of its own (ODBCINI, which stands for
// ~/.odbc.ini). Returns false when the driver or
// sqlite3 is missing.
inline bool setUpOdbc(const QString& root, const QString& userDsn, const QString& systemDsn,
                      QString* userFile) {
    const QString driver = sqliteOdbcDriver();
    if (driver.isEmpty()) return false;
    QDir().mkpath(root + "/sys");
    *userFile = root + "/user.db";
    if (!QFile::exists(*userFile) && !makeSqliteDatabase(*userFile)) return false;
    const auto write = [](const QString& path, const QString& text) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) > 0;
    };
    bool ok = write(root + "/sys/odbcinst.ini",
                    QStringLiteral("[SQLite3]\nDescription=SQLite3\nDriver=%1\n").arg(driver));
    ok = ok &&
         write(root + "/sys/odbc.ini",
               QStringLiteral("[%1]\nDriver=SQLite3\nDBQ=%2/system.db\n").arg(systemDsn, root));
    ok = ok && write(root + "/user-odbc.ini",
                     QStringLiteral("[%1]\nDriver=SQLite3\nDatabase=%2\n").arg(userDsn, *userFile));
    qputenv("ODBCSYSINI", QFile::encodeName(root + "/sys"));
    qputenv("ODBCINI", QFile::encodeName(root + "/user-odbc.ini"));
    return ok;
}
