#pragma once

// The window's side of the archiver: its messages, questions and password dialog as modal boxes
// over the window. Without a QApplication (a program with no window) nothing is shown and the
// unattended answers hold.

#include "archive/ziparchiver.h"

class TZipArchiverDialogs : public TZipArchiverUi {
public:
    void ShowMessage(QObject* owner, const QString& text) override;
    QString AskPassword(QObject* owner, const QString& title, const QString& prompt,
                        const QString& ok, const QString& cancel) override;
    Button Ask(QObject* owner, const QString& title, const QString& text,
               unsigned buttons) override;
    void SetBusy(bool busy) override;
};

// Makes the dialogs every archiver's default, once for the process.
void InstallZipArchiverDialogs();
