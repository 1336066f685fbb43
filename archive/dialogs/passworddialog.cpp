#include "archive/dialogs/passworddialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

TPasswordDlg::TPasswordDlg(QWidget* owner, const QString& title, const QString& prompt,
                           const QString& ok, const QString& cancel)
    : QDialog(owner) {
    setWindowTitle(title);
    setFixedSize(344, 137);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(12);
    f.setBold(true);
    setFont(f);
    m_label = new QLabel(prompt, this);
    m_label->setGeometry(20, 8, 297, 18);
    m_edit = new QLineEdit(this);
    m_edit->setGeometry(20, 40, 297, m_edit->sizeHint().height());
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setMaxLength(80);
    m_ok = new QPushButton(ok, this);
    m_ok->setGeometry(44, 72, 90, 28);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(cancel, this);
    m_cancel->setGeometry(205, 72, 90, 28);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

QString TPasswordDlg::Password() const {
    return m_edit->text();
}
