// The network dialogs against a real Samba server on 127.0.0.1, mounted through GVfs on a
// private session bus. gvfs-samba.sh sets all of that up and runs this test inside it.
#include "platform/desktop/networkshares.h"
#include "sysutil/widgets/netdialogs.h"

#include <QFile>
#include <QTest>

#include "dialogdriver.h"

using namespace tarnwick;

class TestGvfsShares : public QObject {
    Q_OBJECT
    QString address, user, password;

    bool isMounted() {
        for (const MountedShare& s : NetworkShares::current().mounted())
            if (s.address.startsWith(address)) return true;
        return false;
    }

private slots:
    void initTestCase() {
        address = qEnvironmentVariable("TARNWICK_SMB_SHARE");
        user = qEnvironmentVariable("TARNWICK_SMB_USER");
        password = qEnvironmentVariable("TARNWICK_SMB_PASSWORD");
        if (address.isEmpty()) QSKIP("runs inside gvfs-samba.sh only");
    }

    void cancelAndWrongPassword() {
        TNetConnectDlg dlg;
        whenDialogShows([](QDialog* d) { click(d, "cancel"); });
        QCOMPARE(dlg.Execute(), -1);

        QString seen;
        whenDialogShows([&](QDialog* d) {
            fill(d, address, user, password + "x");
            click(d, "connect");
            seen = message(d);
            click(d, "cancel");
        });
        QCOMPARE(dlg.Execute(), int(netresult::LogonFailure));
        QVERIFY2(seen.contains("user name or password is incorrect"), qPrintable(seen));
        QVERIFY(!isMounted());
    }

    void connectReadDisconnect() {
        TNetConnectDlg dlg;
        whenDialogShows([&](QDialog* d) {
            fill(d, address, user, password);
            child<QLineEdit>(d, "domain")->setText("WORKGROUP");
            click(d, "connect");
        });
        QCOMPARE(dlg.Execute(), 0);

        // Listed, and its files readable through the FUSE path GVfs gives it.
        QString path;
        QTRY_VERIFY_WITH_TIMEOUT(isMounted(), 30000);
        for (const MountedShare& s : NetworkShares::current().mounted())
            if (s.address.startsWith(address)) path = s.path;
        QVERIFY2(!path.isEmpty(), "no local path for the share");
        QFile f(path + "/hello.txt");
        QTRY_VERIFY_WITH_TIMEOUT(f.exists(), 30000);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("hello from samba\n"));
        f.close();

        TNetDisConnectDlg dis;
        whenDialogShows([&](QDialog* d) {
            auto* list = child<QListWidget>(d, "shares");
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->data(Qt::UserRole).toString().startsWith(address))
                    list->setCurrentRow(i);
            click(d, "disconnect");
        });
        QCOMPARE(dis.Execute(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isMounted(), 30000);
    }
};

QTEST_MAIN(TestGvfsShares)
#include "tst_gvfsshares.moc"
