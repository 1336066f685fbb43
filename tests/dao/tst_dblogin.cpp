// The login dialog driven offscreen through the component (an ODBC data source behind it), and
// the window's engine version text.
#include "app/dblogin.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tests/common/privatehome.h"
#include "tests/dao/daotestutil.h"

using Step = std::function<void(QWidget*)>;

class TestDbLogin : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString userFile;
    bool odbc = false;

    // Answers the modal windows as they appear, one step each; any later one is rejected so
    // that a fault cannot leave the test waiting.
    QTimer* driver = nullptr;
    void drive(QList<Step> steps) {
        auto* timer = driver = new QTimer(this);
        timer->setInterval(10);
        auto remaining = std::make_shared<QList<Step>>(std::move(steps));
        auto last = std::make_shared<QPointer<QWidget>>();
        connect(timer, &QTimer::timeout, this, [remaining, last] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w == last->data()) return;
            *last = w;
            if (remaining->isEmpty()) {
                QTest::qFail("an unexpected window appeared", __FILE__, __LINE__);
                if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
                return;
            }
            remaining->takeFirst()(w);
        });
        timer->start();
    }

    static Step login(const QString& expectUser, const QString& user, const QString& dbPassword,
                      bool ok) {
        return [=](QWidget* w) {
            auto* d = qobject_cast<TDbLogin*>(w);
            QVERIFY(d);
            auto reject = qScopeGuard([d] { d->reject(); });
            QCOMPARE(d->windowTitle(), QString("Database Login"));
            QCOMPARE(d->DatabaseName->text(), QString("TarnwickUser"));
            QCOMPARE(d->Username->text(), expectUser);
            QVERIFY(d->Password->text().isEmpty() && d->DbPassword->text().isEmpty());
            QCOMPARE(d->Password->echoMode(), QLineEdit::Password);
            d->Username->setText(user);
            d->DbPassword->setText(dbPassword);
            reject.dismiss();
            QTest::mouseClick(ok ? d->OkButton : d->CancelButton, Qt::LeftButton);
        };
    }

    static Step message(const QString& text) {
        return [=](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            const auto close = qScopeGuard([box] { box->button(QMessageBox::Ok)->click(); });
            QCOMPARE(box->text(), text);
        };
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QApplication::setQuitOnLastWindowClosed(false);
        RegisterComponentClasses();
        odbc = setUpOdbc(dir.path(), "TarnwickUser", "TarnwickSystem", &userFile);
    }

    void cleanup() {
        delete driver;
        driver = nullptr;
    }

    void windowShowsTheEngineMode() {
        registerEngines(true, true);
        {
            MainWindow form;
            QCOMPARE(form.engineInfo->text(), QString("(In Access'2000 mode)"));
            QCOMPARE(form.database->Version(), QString("3.6"));
            form.show();
            form.engineVersion->lineEdit()->selectAll();
            QTest::keyClicks(form.engineVersion->lineEdit(), "3.5");
            QCOMPARE(form.database->Version(), QString("3.5"));
            QCOMPARE(form.engineInfo->text(), QString("(In Access'97 mode)"));
        }
        // The design version cannot be bound: the window is not created.
        registerEngines(true, false);
        QVERIFY(
            errorOf([] { MainWindow form; }).contains("You does not have Microsoft DAO installed"));
        registerEngines(true, true);
    }

    void loginOk() {
        if (!odbc) QSKIP("Debian's SQLite ODBC driver (libsqliteodbc) or sqlite3 is missing");
        TOvDaoDatabase db;
        db.SetDatabaseType("ODBC");
        db.SetDatabase("TarnwickUser");
        db.SetLoginPrompt(true);
        drive({login("Admin", "Admin", "secret", true)});
        db.SetConnected(true);
        QVERIFY(db.Connected());
        QCOMPARE(db.DatabasePassword(), QString("secret"));
        QVERIFY(db.TableNames().contains("Customers"));
    }

    void wrongUserThenCancel() {
        if (!odbc) QSKIP("Debian's SQLite ODBC driver (libsqliteodbc) or sqlite3 is missing");
        TOvDaoDatabase db;
        db.SetDatabaseType("ODBC");
        db.SetDatabase("TarnwickUser");
        db.SetLoginPrompt(true);
        drive(
            {login("Admin", "Bob", "", true), message("Not a valid account name or password."),
             login("Bob", "Bob", "", false),
             message(
                 "If You not enter Username and Password You may not gain access to your data!")});
        db.SetConnected(true); // no error
        QVERIFY(!db.Connected());
        QCOMPARE(db.UserName(), QString());
    }
};

QTEST_MAIN(TestDbLogin)
#include "tst_dblogin.moc"
