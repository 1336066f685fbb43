// The memory and network panels' handlers.

#include "app/form1.h"

#include <QApplication>

void TForm1::refreshMemoryFigures() {
    cgMemory->SetPosition(MemDefrag1->FreeMemory());
    // Byte counts beyond 2 GiB are shown as they are, not cut to 32 bits.
    Label1->SetCaption(QStringLiteral("%1 of %2").arg(cgMemory->Position()).arg(cgMemory->Max()));
}

void TForm1::FoldPanel4BeforeExpand(QObject* Sender) {
    if (auto* panel = qobject_cast<QWidget*>(Sender)) panel->raise();
    refreshMemoryFigures();
}

// Before a compaction: the memory panel unfolds (refreshing its figures) so the user sees the run.
void TForm1::defragmentMemoryFirst() {
    FoldPanel4->Expand();
    FoldPanel4->raise();
    MemDefrag1->DefragAll();
    FoldPanel4->Collapse();
    FoldPanel4->lower();
    repaint();
}

void TForm1::SpeedButton5Click(QObject*) {
    refreshMemoryFigures();
    MemDefrag1->DefragAll();
    QApplication::processEvents();
    cgMemory->SetPosition(MemDefrag1->FreeMemory());
}

void TForm1::MemDefrag1BeforeDefrag(QObject*) {
    Label2->SetCaption(QStringLiteral("Memory Defragging.."));
    Label2->setVisible(true);
    cgProgress->SetPosition(0);
    cgProgress->setVisible(true);
}

void TForm1::MemDefrag1Progress(QObject*, int Progress) {
    cgProgress->SetPosition(Progress);
    QApplication::processEvents();
}

void TForm1::MemDefrag1AfterDefrag(QObject*) {
    cgProgress->setVisible(false);
    Label2->setVisible(false);
    cgMemory->SetMax(MemDefrag1->TotalMemory());
    cgMemory->SetPosition(MemDefrag1->FreeMemory());
}

void TForm1::SpeedButton1Click(QObject*) {
    try {
        NetConnectDlg1->Execute();
    } catch (...) {
        // The dialog has shown its own errors; nothing may leave a click.
    }
}

void TForm1::SpeedButton2Click(QObject*) {
    try {
        NetDisConnectDlg1->Execute();
    } catch (...) {
    }
}
