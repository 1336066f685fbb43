#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace tarnwick {

// Flags of a shell copy request. The values are those of the desktop shell the program was
// first written for, so a flags word keeps its meaning wherever it is logged or compared.
enum ShellCopyFlag : unsigned {
    fofSilent = 0x0004,            // no progress window
    fofRenameOnCollision = 0x0008, // never overwrite: give the copy a free name
    fofNoConfirmation = 0x0010,    // answer "yes" to every question (replace existing files)
    fofFilesOnly = 0x0080,         // wildcards match files only
    fofSimpleProgress = 0x0100,    // progress window with the title only, no file names
    fofNoConfirmMkdir = 0x0200,    // create a missing target folder without asking
};

struct ShellCopyRequest {
    QStringList sources;   // files to copy, in the order they are copied
    QString destination;   // the folder they are copied into
    unsigned flags = 0;    // ShellCopyFlag bits
    QString progressTitle; // used with fofSimpleProgress
};

struct ShellCopyResult {
    bool anyOperationsAborted = false; // the user cancelled some part of the copy
    int failures = 0;                  // items that were skipped after an error
    QStringList written;               // full paths of the copies made, in order
    QStringList warnings; // what a copy that was made left behind ("path: what"), to be logged
};

// The desktop's copy operation: copies files into a folder, showing progress and asking the
// user about errors and collisions as the flags say. Runs on the main thread and returns when
// the whole request is done; the event loop keeps running meanwhile.
class ShellFileOperation {
public:
    virtual ~ShellFileOperation() = default;
    virtual ShellCopyResult copy(const ShellCopyRequest& request) = 0;

    // The process-wide operation: the Linux one unless a test installed another.
    static ShellFileOperation& current();
    // Installs an operation (not owned) for the whole process; nullptr restores the default.
    static void install(ShellFileOperation* operation);
};

// Test double: records every request and answers with a scripted result without touching
// any file.
class RecordingShellFileOperation : public ShellFileOperation {
public:
    ShellCopyResult copy(const ShellCopyRequest& request) override {
        requests.push_back(request);
        return result;
    }

    std::vector<ShellCopyRequest> requests;
    ShellCopyResult result;
};

} // namespace tarnwick
