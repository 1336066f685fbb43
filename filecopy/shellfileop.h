#pragma once

#include "platform/shellfileoperation.h"
#include "runtime/component.h"

#include <QStringList>

// Copies a set of files into a folder through the desktop's copy operation, which shows its
// own progress window and asks the user about errors; collisions are renamed or confirmed as
// the properties say. Sources are collected with AddFile/AddFiles and copied, in sorted order,
// by one CopyTo.
class TShellFileOp : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool FilesOnly READ FilesOnly WRITE SetFilesOnly)
    Q_PROPERTY(bool NoConfirmation READ NoConfirmation WRITE SetNoConfirmation)
    Q_PROPERTY(bool AutoMakeDir READ AutoMakeDir WRITE SetAutoMakeDir)
    Q_PROPERTY(bool RenameOnCollision READ RenameOnCollision WRITE SetRenameOnCollision)
    Q_PROPERTY(bool Animate READ Animate WRITE SetAnimate)
    Q_PROPERTY(QString ProgressTitle READ ProgressTitle WRITE SetProgressTitle)
public:
    explicit TShellFileOp(QObject* owner = nullptr);

    bool FilesOnly() const { return m_filesOnly; }
    void SetFilesOnly(bool v) { m_filesOnly = v; }
    bool NoConfirmation() const { return m_noConfirmation; }
    void SetNoConfirmation(bool v) { m_noConfirmation = v; }
    bool AutoMakeDir() const { return m_autoMakeDir; }
    void SetAutoMakeDir(bool v) { m_autoMakeDir = v; }
    bool RenameOnCollision() const { return m_renameOnCollision; }
    void SetRenameOnCollision(bool v) { m_renameOnCollision = v; }
    bool Animate() const { return m_animate; }
    void SetAnimate(bool v) { m_animate = v; }
    QString ProgressTitle() const { return m_progressTitle; }
    void SetProgressTitle(const QString& v) { m_progressTitle = v; }

    // One source path joins the list. An empty path names no file and is ignored.
    void AddFile(const QString& path);
    // Every line joins the list.
    void AddFiles(const QStringList& paths);
    // Copies every collected file into `destination` and empties the list. True when the user
    // aborted some part of the copy; false when it ran to its end or there was nothing to copy.
    bool CopyTo(const QString& destination);

    // The collected sources: sorted without regard to case, each file once.
    const QStringList& SourceFiles() const { return m_sources; }
    // The flags word the properties stand for right now (ShellCopyFlag bits).
    unsigned Flags() const;
    // Files the last CopyTo left out after an error the user skipped. CopyTo reports those as
    // not aborted; a caller that must not call such a copy a success checks this.
    int LastFailures() const { return m_lastFailures; }

    // The operation used by CopyTo (not owned); nullptr means the process-wide one.
    void SetOperation(tarnwick::ShellFileOperation* operation) { m_operation = operation; }

private:
    bool m_filesOnly = false;
    bool m_noConfirmation = false;
    bool m_autoMakeDir = false;
    bool m_renameOnCollision = false;
    bool m_animate = true;
    QString m_progressTitle;
    QStringList m_sources;
    int m_lastFailures = 0;
    tarnwick::ShellFileOperation* m_operation = nullptr;
};

// Lets window descriptions name TShellFileOp.
void RegisterShellFileOp();
