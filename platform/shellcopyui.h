#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tarnwick {

// What the copy operation shows to the user: its progress window and its questions. One
// object serves one copy request.
class ShellCopyUi {
public:
    enum Choice { Retry, Skip, Cancel };
    enum ReplaceChoice { ReplaceYes, ReplaceAll, ReplaceNo, ReplaceCancel };

    virtual ~ShellCopyUi() = default;

    // Progress window; only called when the request is not silent. `title` is empty when the
    // window should show a default caption; `showNames` is false for simple progress.
    virtual void begin(const QString& title, bool showNames, qint64 totalBytes, int totalFiles) = 0;
    virtual void progress(const QString& source, const QString& target, qint64 doneBytes) = 0;
    // Polled while the copy runs: true once the user pressed Cancel.
    virtual bool cancelRequested() = 0;
    virtual void end() = 0;

    // A step failed on `path`: try again, leave this item, or stop the whole request.
    virtual Choice askError(const QString& path, const QString& message) = 0;
    // `target` exists and the request may neither rename nor overwrite silently.
    virtual ReplaceChoice askReplace(const QString& target) = 0;
    // Something about `path` the user should know that needs no answer (an item skipped).
    virtual void notice(const QString& path, const QString& message) {
        Q_UNUSED(path);
        Q_UNUSED(message);
    }
};

// No one to ask, as in a headless run: no progress window, a failing item is skipped (and
// counted as a failure by the copy), an existing file is never replaced. What would have been
// asked or shown is kept as lines, to be logged.
class UnattendedShellCopyUi : public ShellCopyUi {
public:
    void begin(const QString&, bool, qint64, int) override {}
    void progress(const QString&, const QString&, qint64) override {}
    bool cancelRequested() override { return false; }
    void end() override {}
    Choice askError(const QString& path, const QString& message) override;
    ReplaceChoice askReplace(const QString& target) override;
    void notice(const QString& path, const QString& message) override;

    QStringList lines; // "path: message", in order
};

// Test double: answers from a script and records what it was shown.
class ScriptedShellCopyUi : public ShellCopyUi {
public:
    void begin(const QString& title, bool showNames, qint64 totalBytes, int totalFiles) override;
    void progress(const QString& source, const QString& target, qint64 doneBytes) override;
    bool cancelRequested() override;
    void end() override { ++ended; }
    Choice askError(const QString& path, const QString& message) override;
    ReplaceChoice askReplace(const QString& target) override;

    // Script.
    Choice errorAnswer = Skip;
    ReplaceChoice replaceAnswer = ReplaceNo;
    QString cancelWhenSource;  // press Cancel as soon as this source's copy starts
    int retriesBeforeSkip = 0; // answer Retry this many times before errorAnswer

    // Record.
    int begun = 0;
    int ended = 0;
    QString title;
    bool showNames = false;
    qint64 totalBytes = 0;
    int totalFiles = 0;
    QStringList progressSources; // every distinct source in the order its copy started
    QStringList errors;          // "path: message"
    QStringList replaceQuestions;

private:
    bool m_cancel = false;
    int m_retries = 0;
};

} // namespace tarnwick
