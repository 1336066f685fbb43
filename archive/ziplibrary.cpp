#include "archive/ziplibrary.h"

#include "archive/ziparchiver.h"
#include "archive/zipmessages.h"

#include <QFileInfo>

#include <dlfcn.h>

namespace ZipLibrary {

State& state() {
    static State s;
    return s;
}

namespace {
QString& systemName() {
    static QString name = QString::fromLatin1(FileName);
    return name;
}
} // namespace

void SetSystemLibraryName(const QString& name) {
    systemName() = name.isEmpty() ? QString::fromLatin1(FileName) : name;
}

QString SystemLibraryName() {
    return systemName();
}

} // namespace ZipLibrary

void LoadZipLibrary(TZipArchiver* component) {
    auto& s = ZipLibrary::state();
    QString path;
    const QString dir = component ? component->DLLDirectory() : QString();
    if (!dir.isEmpty() &&
        QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(ZipLibrary::FileName)))
        path = dir + QLatin1Char('/') + QLatin1String(ZipLibrary::FileName);
    else
        path = ZipLibrary::SystemLibraryName(); // a bare name: the loader's search order
    // The Windows error mode has no counterpart: dlopen shows no dialogs.
    try {
        void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            s.handle = nullptr;
            if (component) component->ShowZipMessage(ZipMsg::LibraryNotLoaded, QString());
            return;
        }
        s.handle = h;
        if (component && component->Trace())
            component->ShowZipMessage(ZipMsg::LibraryLoaded, QString());
        s.exec = reinterpret_cast<ZipLibExecFn>(dlsym(h, "ZipLibExec"));
        s.version = reinterpret_cast<GetZipLibVersionFn>(dlsym(h, "GetZipLibVersion"));
        if (!s.exec && component) component->ShowZipMessage(ZipMsg::NoZipLibExec, QString());
        if (!s.version && component)
            component->ShowZipMessage(ZipMsg::NoGetZipLibVersion, QString());
    } catch (...) {
        // A fault while loading is reported by the messages above or not at all.
    }
}

void UnloadZipLibrary(TZipArchiver*) {
    auto& s = ZipLibrary::state();
    if (s.handle) {
        dlclose(s.handle);
        s.handle = nullptr;
    }
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
