#pragma once

// Helpers shared by the picker tests: a window that records the pickers' events, and drops of
// files as a file manager makes them.

#include "controls/form.h"
#include "controls/pickers.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

class TRecorder : public TForm {
    Q_OBJECT
public:
    QStringList changes; // sender names, one per OnChange
    QStringList events;  // "before:<name>", "after:<name>:<action>", "drop", "button"
    // What OnBeforeDialog / OnAfterDialog hand back.
    bool beforeAction = true;
    QString beforeName; // replaces the name when not empty
    std::optional<bool> afterAction;

    void Wire(TFileDirEdit* e) {
        e->SetOnChange(TNotifyEvent(this, "EditChange"));
        e->SetOnBeforeDialog(TExecOpenDialogEvent(this, "EditBeforeDialog"));
        e->SetOnAfterDialog(TExecOpenDialogEvent(this, "EditAfterDialog"));
        e->SetOnDropFiles(TNotifyEvent(this, "EditDropFiles"));
        e->SetOnButtonClick(TNotifyEvent(this, "EditButtonClick"));
    }

public slots:
    void EditChange(QObject* Sender) { changes << Sender->objectName(); }
    void EditBeforeDialog(QObject*, QString* Name, bool* Action) {
        events << QStringLiteral("before:%1").arg(*Name);
        if (!beforeName.isEmpty()) *Name = beforeName;
        *Action = beforeAction;
    }
    void EditAfterDialog(QObject*, QString* Name, bool* Action) {
        events << QStringLiteral("after:%1:%2").arg(*Name).arg(*Action);
        if (afterAction) *Action = *afterAction;
    }
    void EditDropFiles(QObject*) { events << QStringLiteral("drop"); }
    void EditButtonClick(QObject*) { events << QStringLiteral("button"); }
};

// Drags the files over the widget and drops them; returns whether the drop was taken.
inline bool DropOn(QWidget* w, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls); // text/uri-list
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    return drop.isAccepted();
}
