#include "sysutil/widgets/netdialogs.h"

#include "runtime/classregistry.h"
#include "sysutil/widgets/netdialogwidgets.h"

#include <QApplication>

namespace {

// The window the dialog belongs to: the owner's window if it has one, else the active one.
QWidget* dialogParent(QObject* owner) {
    if (auto* w = qobject_cast<QWidget*>(owner)) return w->window();
    return QApplication::activeWindow();
}

} // namespace

int TNetConnectDlg::Execute() {
    tarnwick::NetConnectDialog dialog(dialogParent(parent()));
    dialog.exec();
    m_lastResult = dialog.Outcome();
    return m_lastResult;
}

int TNetDisConnectDlg::Execute() {
    tarnwick::NetDisconnectDialog dialog(m_resourceType == rtPrinter, dialogParent(parent()));
    dialog.exec();
    m_lastResult = dialog.Outcome();
    return m_lastResult;
}

void RegisterNetDialogs() {
    TClassRegistry::Register<TNetConnectDlg>();
    TClassRegistry::Register<TNetDisConnectDlg>();
}
