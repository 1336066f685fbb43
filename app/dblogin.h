#pragma once

#include "dao/dblogin.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The database component's login dialog.
class TDbLogin : public QDialog {
    Q_OBJECT
public:
    explicit TDbLogin(QWidget* parent = nullptr);

    QLabel* DatabaseName = nullptr;
    QLineEdit* Username = nullptr;
    QLineEdit* Password = nullptr;
    QLineEdit* DbPassword = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
};

// Makes database components created from now on use TDbLogin and the window's message boxes.
void InstallDbLoginDialog();
