#include "platform/sharedlibrary.h"

#include <QFile>

#include <dlfcn.h>

namespace tarnwick {

namespace {
SharedLibraryLoader* current = nullptr;
} // namespace

SharedLibraryLoader& SharedLibraryLoader::Current() {
    static DlopenLoader system;
    return current ? *current : system;
}

void SharedLibraryLoader::SetCurrent(SharedLibraryLoader* loader) {
    current = loader;
}

void* DlopenLoader::Open(const QString& path) {
    return ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
}

void* DlopenLoader::Symbol(void* handle, const char* name) {
    return ::dlsym(handle, name);
}

void DlopenLoader::Close(void* handle) {
    ::dlclose(handle);
}

} // namespace tarnwick
