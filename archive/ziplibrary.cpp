#include "archive/ziplibrary.h"

#include "archive/ziparchiver.h"
#include "archive/zipmessages.h"
#include "platform/sharedlibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#ifndef TARNWICK_LIB_DIR
#define TARNWICK_LIB_DIR ""
#endif
#ifndef TARNWICK_INSTALLED_LIB_DIR
#define TARNWICK_INSTALLED_LIB_DIR ""
#endif

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

QStringList SystemSearch() {
    if (!systemName().isEmpty()) return {systemName()};
    // As Windows looks beside the program first, so do we; then in the package's private
    // folder relative to the program, then where the build puts the library; then the
    // loader's own order (the run path, LD_LIBRARY_PATH, the cache, the system folders).
    QStringList r;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        const QString beside = dir + QLatin1String(FileName);
        if (QFileInfo::exists(beside)) r << beside;
        const QString installed =
            dir + QLatin1String(TARNWICK_INSTALLED_LIB_DIR "/") + QLatin1String(FileName);
        if (!QStringLiteral(TARNWICK_INSTALLED_LIB_DIR).isEmpty() && QFileInfo::exists(installed))
            r << installed;
    }
    const QString built = QStringLiteral(TARNWICK_LIB_DIR "/") + QLatin1String(FileName);
    if (!QStringLiteral(TARNWICK_LIB_DIR).isEmpty() && QFileInfo::exists(built)) r << built;
    r << QString::fromLatin1(FileName);
    return r;
}

} // namespace ZipLibrary

void LoadZipLibrary(TZipArchiver* component) {
    auto& s = ZipLibrary::state();
    QStringList candidates;
    const QString dir = component ? component->DLLDirectory() : QString();
    const QString inDir = dir + QLatin1Char('/') + QLatin1String(ZipLibrary::FileName);
    if (!dir.isEmpty() && QFileInfo::exists(inDir))
        candidates << inDir;
    else
        candidates = ZipLibrary::SystemSearch();
    // The Windows error mode has no counterpart: loading shows no dialogs.
    auto& loader = tarnwick::SharedLibraryLoader::Current();
    try {
        void* h = nullptr;
        for (const auto& path : candidates) {
            h = loader.Open(path);
            if (h) break;
        }
        if (!h) {
            s.handle = nullptr;
            if (component) component->ShowZipMessage(ZipMsg::LibraryNotLoaded, QString());
            return;
        }
        s.handle = h;
        if (component && component->Trace())
            component->ShowZipMessage(ZipMsg::LibraryLoaded, QString());
        s.exec = reinterpret_cast<ZipLibExecFn>(loader.Symbol(h, "ZipLibExec"));
        s.version = reinterpret_cast<GetZipLibVersionFn>(loader.Symbol(h, "GetZipLibVersion"));
        if (!s.exec && component) component->ShowZipMessage(ZipMsg::NoZipLibExec, QString());
        if (!s.version && component)
            component->ShowZipMessage(ZipMsg::NoGetZipLibVersion, QString());
    } catch (...) {
        // A fault while loading is reported by the messages above or not at all.
    }
}

void UnloadZipLibrary(TZipArchiver*) {
    auto& s = ZipLibrary::state();
    if (s.handle) tarnwick::SharedLibraryLoader::Current().Close(s.handle);
    // The entry points went with the library: nothing may call them any more.
    s = {};
}

int ZipLibraryVersion(TZipArchiver* component) {
    auto& s = ZipLibrary::state();
    bool loadedHere = false;
    if (!s.handle) {
        LoadZipLibrary(component);
        loadedHere = s.handle != nullptr;
    }
    int v = 0;
    if (s.handle && s.version) v = s.version();
    if (loadedHere) UnloadZipLibrary(component);
    return v;
}
