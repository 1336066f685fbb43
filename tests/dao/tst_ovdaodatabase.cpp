// The database component through the real automation layer: engines registered in each
// combination, version switches and their rollback, the guards while connected (to an ODBC data
// source), the connection's messages, the machine store's keys, and the order of the file
// operations' steps against a recording engine.
#include "automation/threaduse.h"
#include "dao/ovdaodatabase.h"
#include "daoengine/engine.h"
#include "platform/inikeystore.h"
#include "platform/tempfilename.h"

#include <QTemporaryDir>
#include <QTest>

#include "tests/common/privatehome.h"
#include "tests/dao/daotestutil.h"

using namespace tarnwick;
using namespace tarnwick::automation;

const QString kOldDao = "You does not have Microsoft DAO installed ot it is an OLD Version!";
const QString k97 = "(In Access'97 mode)";
const QString k2000 = "(In Access'2000 mode)";
const QString k2007 = "(In Access'2007 mode)";

QString modeOf(const QString& version) {
    return version == "3.5" ? k97 : version == "3.6" ? k2000 : k2007;
}

// Records the compaction and repair calls; writes `output` as the compacted copy when asked.
class RecordingEngine : public daoengine::DBEngine {
    Q_OBJECT
public:
    using DBEngine::DBEngine;
    static inline QList<QVariantList> calls;
    static inline QByteArray output; // empty: the compaction fails
    static inline bool tempExistedAtCall = false;

    Q_INVOKABLE void CompactDatabase(QVariant source, QVariant destination, QVariant locale,
                                     QVariant options, QVariant connect) {
        calls.append({"Compact", source, destination, locale, options, connect});
        tempExistedAtCall = QFile::exists(destination.toString());
        if (output.isEmpty()) throw EAutomationError("compaction refused");
        QFile f(destination.toString());
        if (!f.open(QIODevice::WriteOnly) || f.write(output) != output.size())
            throw EAutomationError("cannot write the copy");
    }
    Q_INVOKABLE void RepairDatabase(QVariant name) { calls.append({"Repair", name}); }
};

// Answers the login from code, as a window's handler would.
class LoginHandler : public QObject {
    Q_OBJECT
public:
    QStringList seen;
    QStringList answer;
public slots:
    void Login(QObject*, QStringList* lines) {
        seen = *lines;
        *lines = answer;
    }
};

class TestOvDaoDatabase : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString userFile;
    bool odbc = false;

    static void machineValue(const QString& key, const QString& name, const QString& value) {
        IniKeyStore r(reg::LOCAL_MACHINE);
        QVERIFY(r.openKey(key, true));
        if (!name.isEmpty()) QVERIFY(r.writeString(name, value));
        QVERIFY(r.flush());
    }

    static void useRecordingEngines() {
        for (const QString& id : daoengine::EngineProgIds()) {
            const daoengine::EngineVersion v = daoengine::EngineVersionOf(id);
            RegisterClass(id, [v] { return std::make_shared<RecordingEngine>(v); });
        }
        RecordingEngine::calls.clear();
        RecordingEngine::output.clear();
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QVERIFY(dir.isValid());
        odbc = setUpOdbc(dir.path(), "TarnwickUser", "TarnwickSystem", &userFile);
    }
    void init() { registerEngines(true, true); }

    void engineCombinations_data() {
        QTest::addColumn<bool>("v35");
        QTest::addColumn<bool>("v36");
        QTest::addColumn<bool>("v120");
        QTest::addColumn<QString>("first");  // version after construction, or its error
        QTest::addColumn<QString>("ask35");  // version after asking for 3.5, or its error
        QTest::addColumn<QString>("ask36");  // version after asking for 3.6, or its error
        QTest::addColumn<QString>("ask120"); // version after asking for 12.0, or its error
        QTest::newRow("none") << false << false << false << "Cannot find DAO on your system!"
                              << ""
                              << ""
                              << "";
        QTest::newRow("3.5 and 3.6") << true << true << false << "3.5"
                                     << "3.5"
                                     << "3.6" << kOldDao;
        QTest::newRow("only 3.5") << true << false << false << "3.5"
                                  << "3.5" << kOldDao << kOldDao;
        QTest::newRow("only 3.6") << false << true << false << "3.6"
                                  << "3.6"
                                  << "3.6" << kOldDao;
        QTest::newRow("all three") << true << true << true << "3.5"
                                   << "3.5"
                                   << "3.6"
                                   << "12.0";
        QTest::newRow("only 12.0")
            << false << false << true << "12.0" << kOldDao << kOldDao << "12.0";
    }
    void engineCombinations() {
        QFETCH(bool, v35);
        QFETCH(bool, v36);
        QFETCH(bool, v120);
        QFETCH(QString, first);
        QFETCH(QString, ask35);
        QFETCH(QString, ask36);
        QFETCH(QString, ask120);
        registerEngines(v35, v36, v120);
        std::unique_ptr<TOvDaoDatabase> db;
        const QString error = errorOf([&] { db = std::make_unique<TOvDaoDatabase>(); });
        if (!db) {
            QCOMPARE(error, first);
            QCOMPARE(AutomationUseCount(), 0);
            return;
        }
        QCOMPARE(db->Version(), first);
        QCOMPARE(db->VersionInfo(), modeOf(first));
        QVERIFY(!db->WorkspaceObject()); // the first rebuild makes it
        for (const auto& [asked, expected] :
             {std::pair{"3.5", ask35}, std::pair{"3.6", ask36}, std::pair{"12.0", ask120}}) {
            const QString before = db->Version();
            const QString switchError = errorOf([&] { db->SetVersion(asked); });
            if (expected.startsWith("You")) {
                QCOMPARE(switchError, expected);
                QCOMPARE(db->Version(), before); // rolled back, with a working engine
                QVERIFY(db->EngineObject() && db->WorkspaceObject());
            } else {
                QCOMPARE(switchError, QString());
                QCOMPARE(db->Version(), expected);
                QCOMPARE(Get(db->WorkspaceObject(), "Name").toString(), QString("DaoWorkspace"));
            }
            QCOMPARE(db->VersionInfo(), modeOf(db->Version()));
        }
        db.reset();
        QCOMPARE(AutomationUseCount(), 0);
    }

    void versionSettersAndIgnoredProperties() {
        TOvDaoDatabase db;
        db.SetVersion("3.61");
        QCOMPARE(db.Version(), QString("3.6"));
        QCOMPARE(db.VersionDetails(), QString("3.6"));
        db.SetVersionInfo("x");
        db.SetVersionDetails("x");
        db.SetComponentVersion("x");
        db.SetUsesDynaDao(false);
        QCOMPARE(db.VersionInfo(), k2000);
        QCOMPARE(db.VersionDetails(), QString("3.6"));
        QCOMPARE(db.ComponentVersion(), QString("4.50"));
        QVERIFY(db.UsesDynaDao());
        db.SetDatabase("/x.mdb");
        db.SetDatabaseType("Access");
        QCOMPARE(db.Database(), QString());
        // A user the engine does not know: the rebuild fails, the value stays.
        db.SetUserName("Bob");
        QCOMPARE(db.UserName(), QString("Bob"));
    }

    void machineStoreKeys() {
        machineValue("SOFTWARE\\Microsoft\\JET\\4.0\\Engines", "SystemDB", "/srv/system.mdw");
        machineValue("SOFTWARE\\Microsoft\\JET\\4.0\\ISAM Formats\\dBASE III", "", "");
        machineValue("SOFTWARE\\Microsoft\\JET\\4.0\\ISAM Formats\\Excel 8.0", "", "");
        registerEngines(false, true, false);
        TOvDaoDatabase db;
        QCOMPARE(db.SystemDatabase(), QString("/srv/system.mdw"));
        QCOMPARE(Get(db.EngineObject(), "SystemDB").toString(), QString("/srv/system.mdw"));
        QCOMPARE(db.DatabaseTypes(), QStringList({"Access", "ODBC", "dBASE III", "Excel 8.0"}));
        db.SetSystemDatabase("");
        QCOMPARE(db.SystemDatabase(), QString("/srv/system.mdw"));
        // The ACE engine keeps its keys under Office's; it has no ISAM formats here.
        machineValue("SOFTWARE\\Microsoft\\Office\\12.0\\Access Connectivity Engine\\Engines",
                     "SystemDB", "/srv/ace.mdw");
        registerEngines(false, true, true);
        db.SetVersion("12.0");
        QCOMPARE(db.DatabaseTypes(), QStringList({"Access", "ODBC"}));
        db.SetSystemDatabase("");
        QCOMPARE(db.SystemDatabase(), QString("/srv/ace.mdw"));
        QFile::remove(IniKeyStore::storePath(reg::LOCAL_MACHINE));
    }

    void connectionMessages_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<int>("engineType");
        QTest::addColumn<QString>("message");
        const QString p = "TOvDaoDatabase.F_Set_Active: ";
        QTest::newRow("no database") << "Access"
                                     << "" << 2 << p + "Database property is not defined!";
        QTest::newRow("no type") << ""
                                 << "x" << 2 << p + "DatabaseType property is not defined!";
        QTest::newRow("Access on ODBC direct")
            << "access"
            << "/x.mdb" << 1
            << p + "ODBC direct workspaces\nare NOT supported for MS Access Databases!";
        QTest::newRow("ISAM on ODBC direct")
            << "dBASE III"
            << "/x" << 1 << p + "ODBC direct workspaces NOT supported!";
        QTest::newRow("ISAM not installed")
            << "dBASE III"
            << "/x" << 2 << "The installable format dBASE III is not available on this system.";
        QTest::newRow("missing file")
            << "Access"
            << "/nowhere/x.mdb" << 2 << "The database file /nowhere/x.mdb does not exist.";
    }
    void connectionMessages() {
        QFETCH(QString, type);
        QFETCH(QString, database);
        QFETCH(int, engineType);
        QFETCH(QString, message);
        TOvDaoDatabase db;
        db.SetDatabaseType(type);
        db.SetDatabase(database);
        db.SetEngineType(engineType);
        QCOMPARE(errorOf([&] { db.SetConnected(true); }), message);
        QVERIFY(!db.Connected());
        QVERIFY(!db.DatabaseObject());
    }

    void odbcDataSources() {
        if (!odbc) QSKIP("Debian's SQLite ODBC driver (libsqliteodbc) or sqlite3 is missing");
        TOvDaoDatabase db;
        QVERIFY(db.OdbcDrivers().contains("SQLite3"));
        QCOMPARE(db.UserDataSources(), QStringList{"TarnwickUser"});
        QCOMPARE(db.SystemDataSources(), QStringList{"TarnwickSystem"});
        QCOMPARE(db.DataSourcePaths(),
                 QStringList(
                     {"TarnwickUser=" + userFile, "TarnwickSystem=" + dir.path() + "/system.db"}));
        db.SetDatabaseType("ODBC");
        db.SetDatabase("TarnwickUser");
        db.SetConnected(true);
        QVERIFY(db.Connected());
        QCOMPARE(db.TableNames(), QStringList({"Customers", "Orders", "Big"}));
        QCOMPARE(db.QueryNames(), QStringList());
        QCOMPARE(db.DatabaseLanguage(), QString("Undefined or unknown"));
        QCOMPARE(db.CollatingCode(), -1);
        db.SetConnected(false);
        QVERIFY(db.TableNames().isEmpty());
        QCOMPARE(db.DatabaseLanguage(), QString());
        db.SetDatabase("NoSuchSource");
        QVERIFY(errorOf([&] { db.SetConnected(true); }).startsWith("ODBC connection failed"));
    }

    // Values from a handler or preset lines that the engine refuses are an error at once: asking
    // again would get the same values for ever.
    void loginWithoutDialog_data() {
        QTest::addColumn<bool>("prompt");
        QTest::addColumn<bool>("handler");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("error");
        const QString refused = "Not a valid account name or password.";
        for (bool prompt : {false, true}) {
            const QByteArray p = prompt ? "prompt, " : "";
            QTest::newRow(p + "handler") << prompt << true << "Admin"
                                         << "";
            QTest::newRow(p + "preset") << prompt << false << "Admin"
                                        << "";
            QTest::newRow(p + "handler refused") << prompt << true << "Bob" << refused;
            QTest::newRow(p + "preset refused") << prompt << false << "Bob" << refused;
        }
    }
    void loginWithoutDialog() {
        if (!odbc) QSKIP("Debian's SQLite ODBC driver (libsqliteodbc) or sqlite3 is missing");
        QFETCH(bool, prompt);
        QFETCH(bool, handler);
        QFETCH(QString, user);
        QFETCH(QString, error);
        TOvDaoDatabase db;
        db.SetDatabaseType("ODBC");
        db.SetDatabase("TarnwickUser");
        db.SetLoginPrompt(prompt);
        db.SetDatabasePassword("old");
        const QStringList lines{"USER NAME=" + user, "PASSWORD=", "DBPASSWORD=pw"};
        LoginHandler h;
        h.answer = lines;
        if (handler)
            db.SetOnLogin(TLoginEvent(&h, "Login"));
        else
            db.PresetLogin() = lines;
        QCOMPARE(errorOf([&] { db.SetConnected(true); }), error);
        QCOMPARE(db.Connected(), error.isEmpty());
        QCOMPARE(db.UserName(), user);
        QCOMPARE(db.DatabasePassword(), QString("pw"));
        if (handler)
            QCOMPARE(h.seen, QStringList({"USER NAME=Admin", "PASSWORD=", "DBPASSWORD=old"}));
    }

    void guardsWhileConnected_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* p, const QVariant& v, const QString& m) {
            QTest::newRow(p) << QByteArray(p) << v << "TOvDaoDatabase." + m;
        };
        row("DatabaseType", "Access",
            "F_Set_DatabaseType: Cannot set Database Type while Database is connected!");
        row("EngineType", 1,
            "F_Set_EngineType: Cannot set EngineType Type while Database is connected!");
        row("PrivateEngine", false,
            "F_Set_EngineType: Cannot set PrivateEngine Type while Database is connected!");
        row("ReadOnly", true, "F_Set_ReadOnly: Cannot change mode while Database is connected!");
        row("Exclusive", true,
            "F_Set_Exclusive: Cannot change Exclusive mode while Database is connected!");
        row("LoginPrompt", true,
            "F_Set_LoginPrompt: Cannot change LoginPrompt while Database is connected!");
        row("UserName", "x",
            "F_Set_UserName: Cannot change User Name while Database is connected!");
        row("Password", "x", "F_Set_Password: Cannot change Password while Database is connected!");
        row("Database", "x", "F_Set_Database: Cannot set Database while Database is connected!");
        row("DatabasePassword", "x",
            "F_Set_DatabasePassword: Cannot change Database Password while Database is connected!");
        row("SystemDatabase", "x",
            "F_Set_SystemDatabase: Cannot set SystemDatabase while Database is connected!");
        row("Version", "3.5",
            "F_Set_DaoVersion: Cannot set Dao Version while Database is connected!");
        row("Workspace", "x", "F_Set_Workspace: Cannot set Workspace while Database is connected!");
    }
    void guardsWhileConnected() {
        if (!odbc) QSKIP("Debian's SQLite ODBC driver (libsqliteodbc) or sqlite3 is missing");
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QString, message);
        TOvDaoDatabase db;
        db.SetDatabaseType("ODBC");
        db.SetDatabase("TarnwickUser");
        db.SetConnected(true);
        const Dispatch engine = db.EngineObject();
        const QVariant before = db.property(property);
        const int index = db.metaObject()->indexOfProperty(property);
        QVariant v = value;
        QVERIFY(v.convert(db.metaObject()->property(index).metaType()));
        // Straight into the component's setter, as the store and the description reader write.
        QCOMPARE(errorOf([&] {
                     void* argv[] = {v.data(), nullptr, nullptr, nullptr};
                     db.qt_metacall(QMetaObject::WriteProperty, index, argv);
                 }),
                 message);
        QCOMPARE(db.property(property), before);
        QVERIFY(db.Connected());
        QCOMPARE(db.EngineObject(), engine);
        // Not guarded.
        db.SetQueryTimeout(30);
        db.SetSaveUserName(false);
        db.SetDefaultCursorDriver(2);
        QCOMPARE(db.QueryTimeout(), 30);
    }

    void fileOperationSteps_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QVariant>("locale");
        QTest::addColumn<QVariant>("options");
        const QVariant missing = Missing();
        QTest::newRow("compact") << "compact"
                                 << "" << missing << missing;
        QTest::newRow("compact with password") << "compact"
                                               << "pw" << missing << missing;
        QTest::newRow("repair on 3.6 compacts") << "repair"
                                                << "" << missing << missing;
        QTest::newRow("encrypt and decrypt") << "both"
                                             << "" << QVariant("") << QVariant(4);
        QTest::newRow("version 64 with encrypt")
            << "v64"
            << "" << QVariant(";LANGID=0x0409") << QVariant(66);
    }
    void fileOperationSteps() {
        QFETCH(QString, operation);
        QFETCH(QString, password);
        QFETCH(QVariant, locale);
        QFETCH(QVariant, options);
        useRecordingEngines();
        TOvDaoDatabase db;
        db.SetVersion("3.6");
        const QString file = dir.path() + "/a.mdb";
        QFile::remove(file);
        QVERIFY(QFile::copy(QFINDTESTDATA("tst_ovdaodatabase.cpp"), file));
        const QByteArray original = [&] {
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        for (const QByteArray& output : {QByteArray(), QByteArray("not a database")}) {
            RecordingEngine::calls.clear();
            RecordingEngine::output = output;
            const QString error = errorOf([&] {
                if (operation == "compact") db.CompactDatabaseFile(file, password);
                if (operation == "repair") db.RepairDatabaseFile(file, password);
                if (operation == "both")
                    db.CompactDatabaseFileWithOptions(file, "", true, true, 0, password);
                if (operation == "v64")
                    db.CompactDatabaseFileWithOptions(file, ";LANGID=0x0409", true, false, 64,
                                                      password);
            });
            // A refused compaction passes the engine's text; a copy that fails verification
            // does not replace the file.
            QVERIFY2(output.isEmpty() ? error == "compaction refused"
                                      : error.contains("did not replace"),
                     qPrintable(error));
            QCOMPARE(RecordingEngine::calls.size(), 1);
            const QVariantList call = RecordingEngine::calls.front();
            QCOMPARE(call[1].toString(), file);
            const QString temp = call[2].toString();
            QCOMPARE(QFileInfo(temp).absolutePath(), dir.path());
            // A name the next writer in the folder removes when a kill left it.
            QVERIFY(QFileInfo(temp).fileName().startsWith(".tarnwick-"));
            QVERIFY(temp.endsWith(".part"));
            QVERIFY(!RecordingEngine::tempExistedAtCall);
            QVERIFY(!QFile::exists(temp));
            QCOMPARE(IsMissing(call[3]), IsMissing(locale));
            QCOMPARE(call[3].toString(), IsMissing(locale) ? QString() : locale.toString());
            QCOMPARE(IsMissing(call[4]), IsMissing(options));
            if (!IsMissing(options)) QCOMPARE(call[4].toInt(), options.toInt());
            QCOMPARE(call[5].toString(), password.isEmpty() ? QString() : ";pwd=" + password);
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), original);
        }
    }

    void repairOn35AndTemporaryNames() {
        useRecordingEngines();
        TOvDaoDatabase db;
        db.SetVersion("3.5");
        db.RepairDatabaseFile("/srv/a.mdb", "pw");
        QCOMPARE(RecordingEngine::calls, QList<QVariantList>({{"Repair", "/srv/a.mdb"}}));

        // A name without a folder works in the current folder.
        RecordingEngine::calls.clear();
        const QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        errorOf([&] { db.CompactDatabaseFile("b.mdb", ""); });
        QVERIFY(QDir::setCurrent(here));
        QCOMPARE(RecordingEngine::calls.size(), 1);
        QCOMPARE(QFileInfo(RecordingEngine::calls.front()[2].toString()).absolutePath(),
                 dir.path());

        // No temporary file: a clear error before the engine runs.
        RecordingEngine::calls.clear();
        const QString error =
            errorOf([&] { db.CompactDatabaseFile(dir.path() + "/missing/a.mdb", ""); });
        QVERIFY2(error.startsWith("TOvDaoDatabase.CompactDatabaseFile: No temporary file can be "
                                  "created in " +
                                  dir.path() + "/missing/"),
                 qPrintable(error));
        QVERIFY(RecordingEngine::calls.isEmpty());
        QCOMPARE(TOvDaoDatabase::CompactOptionsValue(true, true, 0), 4);
        QCOMPARE(TOvDaoDatabase::CompactOptionsValue(true, false, 64), 66);
    }

    void systemTempNames() {
        SystemTempFileNames names;
        QString error;
        const QString a = names.create(dir.path(), "mdbx", &error);
        const QString b = names.create(dir.path(), "mdbx", &error);
        QVERIFY(!a.isEmpty() && a != b && QFile::exists(a) && QFile::exists(b));
        QVERIFY(QFileInfo(a).fileName().startsWith("mdb") && a.endsWith(".tmp"));
        QCOMPARE(QFileInfo(a).permissions() & (QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
        QVERIFY(names.create(dir.path() + "/missing", "mdb", &error).isEmpty());
        QVERIFY(error.contains("missing"));
    }
};

QTEST_GUILESS_MAIN(TestOvDaoDatabase)
#include "tst_ovdaodatabase.moc"
