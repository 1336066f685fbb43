#include "archive/ziparchiverui.h"

#include <QCoreApplication>

#include <atomic>

void TZipArchiverUi::ShowMessage(QObject*, const QString&) {}

QString TZipArchiverUi::AskPassword(QObject*, const QString&, const QString&, const QString&,
                                    const QString&) {
    return {};
}

TZipArchiverUi::Button TZipArchiverUi::Ask(QObject*, const QString&, const QString&,
                                           unsigned buttons) {
    // Nobody to ask: stop rather than go on or overwrite.
    if (buttons & Cancel) return Cancel;
    if (buttons & No) return No;
    return Cancel;
}

void TZipArchiverUi::ProcessEvents() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void TZipArchiverUi::SetBusy(bool) {}

namespace {
std::atomic<TZipArchiverUi*> installedUi{nullptr};
}

TZipArchiverUi& TZipArchiverUi::Default() {
    if (TZipArchiverUi* ui = installedUi.load(std::memory_order_acquire)) return *ui;
    static TZipArchiverUi unattended;
    return unattended;
}

void TZipArchiverUi::SetDefault(TZipArchiverUi* ui) {
    installedUi.store(ui, std::memory_order_release);
}
