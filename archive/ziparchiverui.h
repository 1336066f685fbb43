#pragma once

#include <QString>

class QObject;

// What the archiver shows the user. The base class is what an unattended run does: nothing is
// shown (the message stays in LastMessage and goes to OnMessage), no password is given, and
// every question gets its safe answer (Cancel, else No). The window installs its dialogs
// (archive/dialogs/archiverdialogs.h); tests install their own answers.
class TZipArchiverUi {
public:
    enum Button { Ok = 0x1, Cancel = 0x2, Yes = 0x4, No = 0x8, Retry = 0x10 };

    virtual ~TZipArchiverUi() = default;
    // A modal box with one OK button. `owner` is the archiver's owner (may be null).
    virtual void ShowMessage(QObject* owner, const QString& text);
    // The password dialog; returns the typed text, or empty for Cancel.
    virtual QString AskPassword(QObject* owner, const QString& title, const QString& prompt,
                                const QString& ok, const QString& cancel);
    // A question offering `buttons` (Button bits); returns the one pressed.
    virtual Button Ask(QObject* owner, const QString& title, const QString& text, unsigned buttons);
    // Lets the window and its buttons work while the library runs.
    virtual void ProcessEvents();
    // The archive's directory is being read (a wait cursor in the window).
    virtual void SetBusy(bool busy);

    // The installed user interface, or the unattended one.
    static TZipArchiverUi& Default();
    // Installs `ui` (not owned) for every archiver without one of its own; null: unattended.
    static void SetDefault(TZipArchiverUi* ui);
};
