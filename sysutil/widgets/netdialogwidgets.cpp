#include "sysutil/widgets/netdialogwidgets.h"

#include "platform/desktop/networkshares.h"
#include "platform/printerqueues.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

bool isShareAddress(const QUrl& url) {
    static const QStringList schemes = {"smb", "sftp", "ftp", "ftps", "dav", "davs"};
    return url.isValid() && schemes.contains(url.scheme().toLower()) && !url.host().isEmpty();
}

QString explain(int code, const QString& detail) {
    QString text;
    switch (code) {
    case netresult::LogonFailure:
        text = QStringLiteral("The user name or password is incorrect.");
        break;
    case netresult::AccessDenied:
        text = QStringLiteral("Access to the share was denied.");
        break;
    case netresult::BadNetPath:
        text = QStringLiteral("The server cannot be reached.");
        break;
    case netresult::BadNetName:
        text = QStringLiteral("The server has no such share.");
        break;
    case netresult::NotSupported:
        text = QStringLiteral("This kind of address cannot be mounted here.");
        break;
    case netresult::NotConnected:
        text = QStringLiteral("The share is not connected.");
        break;
    default:
        text = QStringLiteral("The operation failed.");
        break;
    }
    if (!detail.isEmpty()) text += QStringLiteral("\n") + detail;
    return text + QStringLiteral(" (error %1)").arg(code);
}

QPushButton* button(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role,
                    const char* name) {
    QPushButton* b = box->addButton(text, role);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLabel* messageLabel(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(QStringLiteral("message"));
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::darkRed);
    l->setPalette(p);
    l->hide();
    return l;
}

} // namespace

NetConnectDialog::NetConnectDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Connect Network Drive"));
    auto* form = new QFormLayout;
    auto edit = [&](const char* name, const QString& label) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        form->addRow(label, e);
        return e;
    };
    m_address = edit("address", QStringLiteral("&Share:"));
    m_address->setPlaceholderText(QStringLiteral("smb://server/share"));
    m_address->setToolTip(
        QStringLiteral("smb://server/share, sftp://host/folder, ftp://host, dav://host/folder"));
    m_user = edit("user", QStringLiteral("&User:"));
    m_domain = edit("domain", QStringLiteral("&Domain:"));
    m_password = edit("password", QStringLiteral("&Password:"));
    m_password->setEchoMode(QLineEdit::Password);
    m_message = messageLabel(this);
    auto* box = new QDialogButtonBox(this);
    m_connect = button(box, QStringLiteral("Connect"), QDialogButtonBox::AcceptRole, "connect");
    m_cancel = button(box, QStringLiteral("Cancel"), QDialogButtonBox::RejectRole, "cancel");
    m_connect->setDefault(true);
    connect(m_connect, &QPushButton::clicked, this, &NetConnectDialog::connectShare);
    connect(m_cancel, &QPushButton::clicked, this, &NetConnectDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(box);
    resize(420, sizeHint().height());
}

void NetConnectDialog::reject() {
    // Leaving while a mount runs stops it; the mount's end closes the dialog.
    if (m_busy) {
        NetworkShares::current().cancel();
        return;
    }
    QDialog::reject();
}

void NetConnectDialog::showMessage(const QString& text) {
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

void NetConnectDialog::setBusy(bool busy) {
    m_busy = busy;
    for (QWidget* w : {static_cast<QWidget*>(m_address), static_cast<QWidget*>(m_user),
                       static_cast<QWidget*>(m_domain), static_cast<QWidget*>(m_password),
                       static_cast<QWidget*>(m_connect)})
        w->setEnabled(!busy);
}

void NetConnectDialog::connectShare() {
    if (m_busy) return;
    const QString address = m_address->text().trimmed();
    if (!isShareAddress(QUrl(address))) {
        showMessage(QStringLiteral("Enter a share address such as smb://server/share."));
        m_address->setFocus();
        return;
    }
    ShareLogin login{address, m_user->text(), m_domain->text(), m_password->text(), {}};
    login.question = [this](const QString& text, const QStringList& choices) {
        QMessageBox box(QMessageBox::Question, windowTitle(), text, QMessageBox::NoButton, this);
        QList<QAbstractButton*> buttons;
        for (const QString& c : choices)
            buttons << box.addButton(c, QMessageBox::AcceptRole);
        box.exec();
        return static_cast<int>(buttons.indexOf(box.clickedButton()));
    };
    showMessage(QStringLiteral("Connecting to %1 ...").arg(address));
    setBusy(true);
    QString detail;
    const int result = NetworkShares::current().mount(login, &detail);
    setBusy(false);
    if (result == netresult::Success) {
        m_outcome = 0;
        done(QDialog::Accepted);
    } else if (result == netresult::Cancelled) {
        m_outcome = -1;
        QDialog::reject();
    } else {
        m_outcome = result;
        showMessage(explain(result, detail));
        (result == netresult::LogonFailure ? m_password : m_address)->setFocus();
    }
}

NetDisconnectDialog::NetDisconnectDialog(bool printers, QWidget* parent)
    : QDialog(parent), m_printers(printers) {
    setWindowTitle(printers ? QStringLiteral("Printer Connections")
                            : QStringLiteral("Disconnect Network Drive"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("shares"));
    m_message = messageLabel(this);
    auto* box = new QDialogButtonBox(this);
    m_disconnect =
        button(box, QStringLiteral("Disconnect"), QDialogButtonBox::AcceptRole, "disconnect");
    m_cancel = button(box, printers ? QStringLiteral("Close") : QStringLiteral("Cancel"),
                      QDialogButtonBox::RejectRole, "cancel");
    // Printer queues belong to the system's printer settings: listed, not removed here.
    m_disconnect->setVisible(!printers);
    connect(m_disconnect, &QPushButton::clicked, this, &NetDisconnectDialog::disconnectShare);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &NetDisconnectDialog::disconnectShare);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(printers ? QStringLiteral("Printer queues:")
                                          : QStringLiteral("Connected network shares:"),
                                 this));
    layout->addWidget(m_list);
    layout->addWidget(m_message);
    layout->addWidget(box);
    resize(460, 300);
    fill();
}

void NetDisconnectDialog::fill() {
    m_list->clear();
    if (m_printers) {
        for (const QString& q : PrinterQueues::current().queues())
            m_list->addItem(q);
        if (m_list->count() == 0) {
            m_message->setText(QStringLiteral("There are no printer connections."));
            m_message->show();
        }
        return;
    }
    for (const MountedShare& s : NetworkShares::current().mounted()) {
        auto* item = new QListWidgetItem(
            s.path.isEmpty() ? QStringLiteral("%1  (%2)").arg(s.name, s.address)
                             : QStringLiteral("%1  (%2)  %3").arg(s.name, s.address, s.path),
            m_list);
        item->setData(Qt::UserRole, s.address);
    }
    if (m_list->count() > 0) m_list->setCurrentRow(0);
    m_disconnect->setEnabled(m_list->count() > 0);
    if (m_list->count() == 0) {
        m_message->setText(QStringLiteral("No network shares are connected."));
        m_message->show();
    }
}

void NetDisconnectDialog::disconnectShare() {
    if (m_printers || !m_list->currentItem()) return;
    const QString address = m_list->currentItem()->data(Qt::UserRole).toString();
    QString detail;
    const int result = NetworkShares::current().unmount(address, &detail);
    if (result == netresult::Success) {
        m_outcome = 0;
        done(QDialog::Accepted);
        return;
    }
    m_outcome = result;
    fill();
    m_message->setText(explain(result, detail));
    m_message->show();
}

} // namespace tarnwick
