#pragma once

// The small modal dialog in which the user types a zip password.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    TPasswordDlg(QWidget* owner, const QString& title, const QString& prompt, const QString& ok,
                 const QString& cancel);
    QString Password() const;
    QLineEdit* Edit() const { return m_edit; }

private:
    QLabel* m_label;
    QLineEdit* m_edit;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};
