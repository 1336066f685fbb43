#pragma once

// Drives the network dialogs the way a user would, while their Execute() runs.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// Runs `step` on the next modal dialog once it shows (polled, so a slow machine only waits).
inline void whenDialogShows(std::function<void(QDialog*)> step) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        step(dialog);
    });
    timer->start();
}

template <typename T> T* child(QDialog* d, const char* name) {
    return d->findChild<T*>(QLatin1String(name));
}

inline void fill(QDialog* d, const QString& address, const QString& user, const QString& password) {
    child<QLineEdit>(d, "address")->setText(address);
    child<QLineEdit>(d, "user")->setText(user);
    child<QLineEdit>(d, "password")->setText(password);
}

inline void click(QDialog* d, const char* button) {
    child<QPushButton>(d, button)->click();
}

inline QString message(QDialog* d) {
    auto* l = child<QLabel>(d, "message");
    return l->isVisible() ? l->text() : QString();
}
