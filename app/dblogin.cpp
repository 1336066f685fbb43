#include "app/dblogin.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

TDbLogin::TDbLogin(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DbLogin"));
    setWindowTitle(QStringLiteral("Database Login"));
    setModal(true);
    DatabaseName = new QLabel(this);
    DatabaseName->setObjectName(QStringLiteral("DatabaseName"));
    const auto edit = [this](const char* name, bool secret) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        if (secret) e->setEchoMode(QLineEdit::Password);
        return e;
    };
    Username = edit("Username", false);
    Password = edit("Password", true);
    DbPassword = edit("DbPassword", true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Database ................:"), DatabaseName);
    const auto labelled = [&](const QString& text, QLineEdit* e) {
        auto* label = new QLabel(text, this);
        label->setBuddy(e);
        form->addRow(label, e);
    };
    labelled(QStringLiteral("&User Name .............:"), Username);
    labelled(QStringLiteral("&Password ...............:"), Password);
    labelled(QStringLiteral("&Database Password:"), DbPassword);

    OkButton = new QPushButton(QStringLiteral("Ok"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

namespace {

class WidgetLogin : public tarnwick::dao::LoginDialog {
public:
    bool Execute(const QString& databaseName, tarnwick::dao::LoginValues& values) override {
        TDbLogin dialog(QApplication::activeWindow());
        dialog.DatabaseName->setText(databaseName);
        dialog.Username->setText(values.userName);
        dialog.Password->clear();
        dialog.DbPassword->clear();
        dialog.Username->setFocus();
        if (dialog.exec() != QDialog::Accepted) return false;
        values.userName = dialog.Username->text();
        values.password = dialog.Password->text();
        values.databasePassword = dialog.DbPassword->text();
        return true;
    }
    void ShowMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
};

} // namespace

void InstallDbLoginDialog() {
    tarnwick::dao::SetLoginDialogFactory([] { return std::make_unique<WidgetLogin>(); });
}
