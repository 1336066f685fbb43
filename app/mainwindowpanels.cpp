// The memory and network panels' handlers.

#include "app/mainwindow.h"

#include <QApplication>

void MainWindow::refreshMemoryFigures() {
    memoryGauge->SetPosition(memDefrag->FreeMemory());
    // Byte counts beyond 2 GiB are shown as they are, not cut to 32 bits.
    memoryFigures->SetCaption(
        QStringLiteral("%1 of %2").arg(memoryGauge->Position()).arg(memoryGauge->Max()));
}

void MainWindow::FoldPanel4BeforeExpand(QObject* Sender) {
    if (auto* panel = qobject_cast<QWidget*>(Sender)) panel->raise();
    refreshMemoryFigures();
}

// Before a compaction: the memory panel unfolds (refreshing its figures) so the user sees the run.
void MainWindow::defragmentMemoryFirst() {
    memoryPanel->Expand();
    memoryPanel->raise();
    memDefrag->DefragAll();
    memoryPanel->Collapse();
    memoryPanel->lower();
    repaint();
}

void MainWindow::SpeedButton5Click(QObject*) {
    refreshMemoryFigures();
    memDefrag->DefragAll();
    QApplication::processEvents();
    memoryGauge->SetPosition(memDefrag->FreeMemory());
}

void MainWindow::MemDefrag1BeforeDefrag(QObject*) {
    defragState->SetCaption(QStringLiteral("Memory Defragging.."));
    defragState->setVisible(true);
    defragProgress->SetPosition(0);
    defragProgress->setVisible(true);
}

void MainWindow::MemDefrag1Progress(QObject*, int Progress) {
    defragProgress->SetPosition(Progress);
    QApplication::processEvents();
}

void MainWindow::MemDefrag1AfterDefrag(QObject*) {
    defragProgress->setVisible(false);
    defragState->setVisible(false);
    memoryGauge->SetMax(memDefrag->TotalMemory());
    memoryGauge->SetPosition(memDefrag->FreeMemory());
}

void MainWindow::SpeedButton1Click(QObject*) {
    try {
        netConnectDialog->Execute();
    } catch (...) {
        // The dialog has shown its own errors; nothing may leave a click.
    }
}

void MainWindow::SpeedButton2Click(QObject*) {
    try {
        netDisconnectDialog->Execute();
    } catch (...) {
    }
}
