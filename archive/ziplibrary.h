#pragma once

// The zip library as the whole process sees it: one handle and the two entry points,
// shared by every archiver.

#include "ziplib.h"

#include <QString>
#include <QStringList>

class TZipArchiver;

namespace ZipLibrary {

struct State {
    void* handle = nullptr;
    ZipLibExecFn exec = nullptr;
    GetZipLibVersionFn version = nullptr;
};
State& state();

// The library's file name, in DLLDirectory or found by the system's search order.
inline constexpr const char* FileName = "libziplib.so";

// Where the library is looked for when DLLDirectory does not hold it: beside the program,
// in the build's library folder, then by the bare name through the loader's search order.
QStringList SystemSearch();
// Replaces that search by one name or path (empty restores it). Tests point it at a name
// that does not exist to see the "no library anywhere" path.
void SetSystemLibraryName(const QString& name);
QString SystemLibraryName();

} // namespace ZipLibrary

// Loads the library (DLLDirectory first, then the system's search order) and looks up
// both entry points; failures are reported through the component's messages.
void LoadZipLibrary(TZipArchiver* component);
// Frees the library if it is loaded; one call frees it whatever the number of loads.
void UnloadZipLibrary(TZipArchiver* component);
// GetZipLibVersion of the library, loading it for this call when needed; 0 when it cannot.
int ZipLibraryVersion(TZipArchiver* component);
