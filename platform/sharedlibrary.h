#pragma once

#include <QString>

namespace tarnwick {

// Loading a shared object at run time and finding its entry points (dlopen), behind an
// interface so that tests can stand in for the system's loader.
class SharedLibraryLoader {
public:
    virtual ~SharedLibraryLoader() = default;

    // A handle, or nullptr when the file cannot be loaded.
    virtual void* Open(const QString& path) = 0;
    // The address of an exported symbol, or nullptr.
    virtual void* Symbol(void* handle, const char* name) = 0;
    virtual void Close(void* handle) = 0;

    // The loader in use: the system's unless replaced.
    static SharedLibraryLoader& Current();
    // Replaces it (nullptr goes back to the system's); the caller keeps ownership.
    static void SetCurrent(SharedLibraryLoader* loader);
};

// dlopen with every symbol resolved at once and kept to the library itself.
class DlopenLoader : public SharedLibraryLoader {
public:
    void* Open(const QString& path) override;
    void* Symbol(void* handle, const char* name) override;
    void Close(void* handle) override;
};

} // namespace tarnwick
