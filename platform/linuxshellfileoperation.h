#pragma once

#include "platform/shellcopyui.h"
#include "platform/shellfileoperation.h"

#include <functional>
#include <memory>

namespace tarnwick {

// The copy operation on Linux. Each file is written under a hidden temporary name in the
// target folder, flushed to disk, then renamed into place, so a copy is either complete or not
// there at all. Data moves by reflink where the file system shares blocks, else by the kernel's
// copy_file_range, else by read and write (across file systems that refuse the in-kernel copy).
// The data is copied on a worker thread in chunks while the main thread keeps its event loop
// and the progress window running.
//
// Collisions are renamed the way KDE's file manager names copies: "name (1).ext", then
// "name (2).ext", the first free number; a name that already ends in " (N)" counts on from N.
class LinuxShellFileOperation : public ShellFileOperation {
public:
    using UiFactory = std::function<std::unique_ptr<ShellCopyUi>()>;

    // The process's default user interface (setDefaultUi), asked for at each request.
    LinuxShellFileOperation();
    // One user interface (not owned) for every request; for tests and tools.
    explicit LinuxShellFileOperation(ShellCopyUi* ui);
    explicit LinuxShellFileOperation(UiFactory factory);

    ShellCopyResult copy(const ShellCopyRequest& request) override;

    // The user interface of operations made without one: the window installs its progress
    // window and message boxes; until then (and after an empty factory) nobody is asked.
    static void setDefaultUi(UiFactory factory);

    // Bytes moved per step; the user's Cancel is honoured between steps.
    void setChunkSize(qint64 bytes) { m_chunk = bytes > 0 ? bytes : m_chunk; }

    // How the files of the last request were copied.
    struct Methods {
        int reflink = 0;
        int inKernel = 0;
        int readWrite = 0;
    };
    Methods lastMethods() const { return m_methods; }

    // The n-th (n >= 1) free-name candidate for `fileName` when it collides.
    static QString collisionName(const QString& fileName, int n);

private:
    UiFactory m_factory;
    qint64 m_chunk = 16 * 1024 * 1024;
    Methods m_methods;
};

} // namespace tarnwick
