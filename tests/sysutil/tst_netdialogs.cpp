#include "app/mainwindow.h"
#include "sysutil/widgets/netdialogs.h"

#include <QTest>

#include "dialogdriver.h"
#include "doubles.h"
#include "tests/common/privatehome.h"

using namespace tarnwick;

class TestNetDialogs : public QObject {
    Q_OBJECT
    FakeNetworkShares shares;
    FakePrinterQueues printers;

private slots:
    void initTestCase() {
        usePrivateHome();
        NetworkShares::install(&shares);
        PrinterQueues::install(&printers);
    }
    void cleanupTestCase() {
        NetworkShares::install(nullptr);
        PrinterQueues::install(nullptr);
    }
    void init() {
        shares.logins.clear();
        shares.shares.clear();
    }

    void connectSucceeds() {
        TNetConnectDlg dlg;
        QCOMPARE(dlg.LastResult(), 0);
        whenDialogShows([](QDialog* d) {
            fill(d, " smb://fileserver/Accounts ", "anna", "secret");
            child<QLineEdit>(d, "domain")->setText("OFFICE");
            click(d, "connect");
        });
        QCOMPARE(dlg.Execute(), 0);
        QCOMPARE(dlg.LastResult(), 0);
        QCOMPARE(shares.logins.size(), 1);
        const ShareLogin& l = shares.logins.first();
        QCOMPARE(l.address, QStringLiteral("smb://fileserver/Accounts"));
        QCOMPARE(l.user + "|" + l.domain + "|" + l.password, QStringLiteral("anna|OFFICE|secret"));
    }

    // Errors stay in the dialog for another try; giving up then reports the last error.
    void errorsAreShownInTheDialog() {
        TNetConnectDlg dlg;
        QStringList seen;
        whenDialogShows([&](QDialog* d) {
            fill(d, "fileserver/Accounts", "anna", "secret");
            click(d, "connect");
            seen << message(d);
            fill(d, "sftp://fileserver/home", "anna", "wrong");
            click(d, "connect");
            seen << message(d);
            QVERIFY(d->isVisible());
            click(d, "cancel");
        });
        QCOMPARE(dlg.Execute(), int(netresult::LogonFailure));
        QCOMPARE(seen.size(), 2);
        QVERIFY2(seen[0].contains("smb://server/share"), qPrintable(seen[0]));
        QVERIFY2(seen[1].contains("user name or password is incorrect"), qPrintable(seen[1]));
        QCOMPARE(shares.logins.size(), 1); // the malformed address never reached the mount
    }

    void cancelChangesNothing() {
        TNetConnectDlg dlg;
        whenDialogShows([](QDialog* d) { click(d, "cancel"); });
        QCOMPARE(dlg.Execute(), -1);
        QVERIFY(shares.logins.isEmpty());

        TNetDisConnectDlg dis;
        shares.shares = {{"a", "smb://s/a", {}}};
        whenDialogShows([](QDialog* d) { click(d, "cancel"); });
        QCOMPARE(dis.Execute(), -1);
        QCOMPARE(shares.shares.size(), 1);
    }

    void disconnectUnmountsTheChosenShare() {
        shares.shares = {{"a", "smb://s/a", {}}, {"b", "sftp://h/b", "/run/user/1/gvfs/b"}};
        TNetDisConnectDlg dlg;
        QCOMPARE(dlg.ResourceType(), TNetDisConnectDlg::rtDisk);
        whenDialogShows([](QDialog* d) {
            auto* list = child<QListWidget>(d, "shares");
            QCOMPARE(list->count(), 2);
            list->setCurrentRow(1);
            click(d, "disconnect");
        });
        QCOMPARE(dlg.Execute(), 0);
        QCOMPARE(shares.shares.size(), 1);
        QCOMPARE(shares.shares.first().address, QStringLiteral("smb://s/a"));

        // Nothing mounted: said so, and nothing to press.
        shares.shares.clear();
        QString seen;
        whenDialogShows([&](QDialog* d) {
            seen = message(d);
            QVERIFY(!child<QPushButton>(d, "disconnect")->isEnabled());
            click(d, "cancel");
        });
        QCOMPARE(dlg.Execute(), -1);
        QCOMPARE(seen, QStringLiteral("No network shares are connected."));
    }

    void printerQueuesAreListed() {
        TNetDisConnectDlg dlg;
        dlg.SetResourceType(TNetDisConnectDlg::rtPrinter);
        for (const QStringList& queues : {QStringList{}, QStringList{"Office_Laser", "Label"}}) {
            printers.names = queues;
            QStringList items;
            QString seen;
            whenDialogShows([&](QDialog* d) {
                auto* list = child<QListWidget>(d, "shares");
                for (int i = 0; i < list->count(); ++i)
                    items << list->item(i)->text();
                seen = message(d);
                click(d, "cancel");
            });
            QCOMPARE(dlg.Execute(), -1);
            QCOMPARE(items, queues);
            QCOMPARE(seen, queues.isEmpty() ? QStringLiteral("There are no printer connections.")
                                            : QString());
        }
    }

    // The window's buttons open the dialogs; cancelling shows nothing else.
    void windowButtonsOpenTheDialogs() {
        MainWindow form;
        whenDialogShows([](QDialog* d) { click(d, "cancel"); });
        form.SpeedButton1Click(nullptr);
        QCOMPARE(form.netConnectDialog->LastResult(), -1);
        whenDialogShows([](QDialog* d) { click(d, "cancel"); });
        form.SpeedButton2Click(nullptr);
        QCOMPARE(form.netDisconnectDialog->LastResult(), -1);
        QCOMPARE(form.netDisconnectDialog->ResourceType(), TNetDisConnectDlg::rtDisk);
        QVERIFY(form.processor->ErrorEnable());
    }
};

QTEST_MAIN(TestNetDialogs)
#include "tst_netdialogs.moc"
