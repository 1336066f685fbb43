#pragma once

// The zip library as the whole process sees it: one handle and the two entry points,
// shared by every archiver.

#include "archive/zipmessages.h"
#include "ziplib.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace ZipLibrary {

struct State {
    void* handle = nullptr;
    ZipLibExecFn exec = nullptr;
    GetZipLibVersionFn version = nullptr;
};
State& state();

// The library's file name, in the caller's library folder or found by the system's search order.
inline constexpr const char* FileName = "libziplib.so";

// The folders of the package's private files (this library, the self-extractor stub): beside
// the program, the package's folder relative to the program, the build's library folder.
QStringList PrivateFolders();

// Where the library is looked for when the caller's folder does not hold it: beside the program,
// in the build's library folder, then by the bare name through the loader's search order.
QStringList SystemSearch();
// Replaces that search by one name or path (empty restores it). Tests point it at a name
// that does not exist to see the "no library anywhere" path.
void SetSystemLibraryName(const QString& name);
QString SystemLibraryName();

// Who asks for the library: the folder it names first and where load messages go. Empty, it
// names no folder and nobody hears of failures.
struct Caller {
    QString folder;
    bool trace = false;
    std::function<void(int zipMsg)> report;
};

// Loads the library (the caller's folder first, then the system's search order) and looks up
// both entry points; failures are reported to the caller.
void Load(const Caller& caller);
// Frees the library if it is loaded; one call frees it whatever the number of loads.
void Unload();
// GetZipLibVersion of the library, loading it for this call when needed; 0 when it cannot.
int Version(const Caller& caller);

} // namespace ZipLibrary
