#include "archive/ziplibrary.h"

#include "platform/sharedlibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

// TARNWICK_LIB_DIR and TARNWICK_INSTALLED_LIB_DIR come from the build (archive/CMakeLists.txt).

namespace ZipLibrary {

State& state() {
    static State s;
    return s;
}

namespace {
QString& systemName() {
    static QString name;
    return name;
}
} // namespace

void SetSystemLibraryName(const QString& name) {
    systemName() = name;
}

QString SystemLibraryName() {
    return systemName().isEmpty() ? QString::fromLatin1(FileName) : systemName();
}

QStringList PrivateFolders() {
    QStringList r;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        r << dir;
        if (!QStringLiteral(TARNWICK_INSTALLED_LIB_DIR).isEmpty())
            r << dir + QStringLiteral("/" TARNWICK_INSTALLED_LIB_DIR);
    }
    if (!QStringLiteral(TARNWICK_LIB_DIR).isEmpty()) r << QStringLiteral(TARNWICK_LIB_DIR);
    return r;
}

QStringList SystemSearch() {
    if (!systemName().isEmpty()) return {systemName()};
    // Our own folders first (a copy shipped beside the program wins), then the loader's own
    // order (the run path, LD_LIBRARY_PATH, the cache, the system folders).
    QStringList r;
    for (const QString& dir : PrivateFolders()) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(FileName);
        if (QFileInfo::exists(path)) r << path;
    }
    r << QString::fromLatin1(FileName);
    return r;
}

void Load(const Caller& caller) {
    auto& s = state();
    const auto report = [&caller](int m) {
        if (caller.report) caller.report(m);
    };
    QStringList candidates;
    const QString inDir = caller.folder + QLatin1Char('/') + QLatin1String(FileName);
    if (!caller.folder.isEmpty() && QFileInfo::exists(inDir))
        candidates << inDir;
    else
        candidates = SystemSearch();
    auto& loader = tarnwick::SharedLibraryLoader::Current();
    try {
        void* h = nullptr;
        for (const auto& path : candidates) {
            h = loader.Open(path);
            if (h) break;
        }
        if (!h) {
            s.handle = nullptr;
            report(ZipMsg::LibraryNotLoaded);
            return;
        }
        s.handle = h;
        if (caller.trace) report(ZipMsg::LibraryLoaded);
        s.exec = reinterpret_cast<ZipLibExecFn>(loader.Symbol(h, "ZipLibExec"));
        s.version = reinterpret_cast<GetZipLibVersionFn>(loader.Symbol(h, "GetZipLibVersion"));
        if (!s.exec) report(ZipMsg::NoZipLibExec);
        if (!s.version) report(ZipMsg::NoGetZipLibVersion);
    } catch (...) {
        // A fault while loading is reported by the messages above or not at all.
    }
}

void Unload() {
    auto& s = state();
    if (s.handle) tarnwick::SharedLibraryLoader::Current().Close(s.handle);
    // The entry points went with the library: nothing may call them any more.
    s = {};
}

int Version(const Caller& caller) {
    auto& s = state();
    bool loadedHere = false;
    if (!s.handle) {
        Load(caller);
        loadedHere = s.handle != nullptr;
    }
    int v = 0;
    if (s.handle && s.version) v = s.version();
    if (loadedHere) Unload();
    return v;
}

} // namespace ZipLibrary
