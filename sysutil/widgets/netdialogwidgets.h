#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnwick {

// "Connect Network Drive": the share's address, user, domain and password. Named children
// (address, user, domain, password, connect, cancel, message) let tests drive it.
class NetConnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetConnectDialog(QWidget* parent = nullptr);
    // 0 mounted; -1 closed without trying; after failed tries, the last one's error code.
    int Outcome() const { return m_outcome; }

    void reject() override;

private:
    void connectShare();
    void showMessage(const QString& text);
    void setBusy(bool busy);

    QLineEdit *m_address, *m_user, *m_domain, *m_password;
    QLabel* m_message;
    QPushButton *m_connect, *m_cancel;
    bool m_busy = false;
    int m_outcome = -1;
};

// "Disconnect Network Drive": the mounted network shares (or the printer queues), one to pick
// and unmount. Named children: shares, disconnect, cancel, message.
class NetDisconnectDialog : public QDialog {
    Q_OBJECT
public:
    NetDisconnectDialog(bool printers, QWidget* parent = nullptr);
    int Outcome() const { return m_outcome; }

private:
    void fill();
    void disconnectShare();

    bool m_printers;
    QListWidget* m_list;
    QLabel* m_message;
    QPushButton *m_disconnect, *m_cancel;
    int m_outcome = -1;
};

} // namespace tarnwick
