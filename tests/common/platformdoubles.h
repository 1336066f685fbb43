#pragma once

// Stand-ins for platform services, installed while they live.

#include "platform/driveprobe.h"
#include "platform/sharedlibrary.h"

#include <QHash>
#include <QStringList>

namespace testutil {

// Every folder is on one drive, removable or not, with the free space given.
class FakeDriveProbe : public tarnwick::DriveProbe {
public:
    FakeDriveProbe(bool removable, qint64 freeBytes) : removable(removable), freeBytes(freeBytes) {
        SetCurrent(this);
    }
    ~FakeDriveProbe() override { SetCurrent(nullptr); }
    bool IsRemovable(const QString&) override { return removable; }
    qint64 FreeBytes(const QString&) override { return freeBytes; }

    bool removable;
    qint64 freeBytes;
};

// Loads only the libraries it was given, as tables of symbols, and records what happens.
class FakeLibraryLoader : public tarnwick::SharedLibraryLoader {
public:
    using Symbols = QHash<QByteArray, void*>;
    FakeLibraryLoader() { SetCurrent(this); }
    ~FakeLibraryLoader() override { SetCurrent(nullptr); }

    void* Open(const QString& path) override {
        opened << path;
        const auto it = libraries.find(path.section(QLatin1Char('/'), -1));
        return it == libraries.end() ? nullptr : &it.value();
    }
    void* Symbol(void* handle, const char* name) override {
        return static_cast<Symbols*>(handle)->value(name);
    }
    void Close(void* handle) override { closed << handle; }

    QHash<QString, Symbols> libraries; // by file name
    QStringList opened;
    QList<void*> closed;
};

} // namespace testutil
