#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace tarnwick {

// How a file that does not exist yet is created, and the folders leading to it.
struct NewFileModes {
    mode_t file = 0600;
    mode_t folder = 0700;
};

// Replaces the file at `path` with `data` so that a crash or kill at any moment leaves either the
// old or the new content. The bytes go to a temporary file beside the target, are read back and
// compared, flushed to the disk, and only then renamed over the target; the folder is flushed
// after the rename. Missing folders are created with `modes.folder`; a new file gets `modes.file`,
// an existing one keeps its permissions. A symbolic link is followed, so the file it points to is
// replaced and the link stays. Leftover temporary files of writers that died are removed.
// Returns false with a reason in `error` when the target could not be replaced; the old content is
// then untouched.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr,
                         NewFileModes modes = {});

// Serializes read-modify-write cycles on the files of one folder across processes: an advisory lock
// on the folder itself, so that no lock file is left behind. Creates the folder when missing.
class FolderLock {
public:
    explicit FolderLock(const QString& folder, mode_t newFolderMode = 0700);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool isLocked() const { return m_fd >= 0; }
    QString error() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// The prefix of the temporary files used for `path` (".<name>.tmp-"), for tests and clean-up.
QString atomicTempPrefix(const QString& path);

} // namespace tarnwick
