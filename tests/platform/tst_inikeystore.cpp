#include "platform/atomicfile.h"
#include "platform/inikeystore.h"
#include "tests/common/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace tarnwick;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    void init();
    void storeLocations();
    void fileLayout();
    void openWithoutCreate();
    void createWithParents();
    void keyPaths();
    void listAndDelete();
    void permissions();
    void changesMergeWithOtherWriters();
    void unreadableStoreIsNeverOverwritten();
    void symlinkedStoreStaysALink();
    void orphanedTemporaryFilesAreRemoved();
    void fifoInPlaceOfTheStore();
    void machineStore();
    void classesRoot();
    void rootsWithoutStore();

private:
    QTemporaryDir m_tmp;
    QString m_userFile;
};

void TestRegistry::init() {
    QVERIFY(m_tmp.isValid());
    // Every case gets fresh folders; the machine store never points at /etc.
    static int n = 0;
    const QString base = m_tmp.path() + QStringLiteral("/case%1").arg(++n);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(base + QStringLiteral("/etc-xdg")));
    m_userFile = base + QStringLiteral("/config/Tarnwick/Tarnwick.ini");
}

void TestRegistry::storeLocations() {
    QCOMPARE(IniKeyStore::storePath(reg::CURRENT_USER), m_userFile);
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_tmp.path() + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    QCOMPARE(IniKeyStore::storePath(reg::CURRENT_USER),
             m_tmp.path() + QStringLiteral("/home/.config/Tarnwick/Tarnwick.ini"));
    qputenv("HOME", oldHome);

    const QString a = m_tmp.path() + QStringLiteral("/dirs-a"),
                  b = m_tmp.path() + QStringLiteral("/dirs-b");
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(a + QLatin1Char(':') + b));
    QCOMPARE(IniKeyStore::storePath(reg::LOCAL_MACHINE),
             a + QStringLiteral("/Tarnwick/Tarnwick.ini"));
    writeText(b + QStringLiteral("/Tarnwick/Tarnwick.ini"), "[x]\n");
    QCOMPARE(IniKeyStore::storePath(reg::LOCAL_MACHINE),
             b + QStringLiteral("/Tarnwick/Tarnwick.ini"));
    QCOMPARE(IniKeyStore::storePath(reg::CLASSES_ROOT), QString());
}

// The window's items: one group per section, each value under its key name.
void TestRegistry::fileLayout() {
    {
        IniKeyStore r;
        const struct {
            const char *section, *key, *value;
        } items[] = {
            {"Compact", "Hx1", "/data/Sales.mdb"},
            {"Backup", "filenames", "/data/a.mdb|/data/b.mdb"},
            {"Messages", "Backup", "Backup of a.mdb done 07.12.2026 02:00:01|"},
            {"Compact", "Version", "3.6"},
            {"Backup", "Time", "0.0833333333333333"},
            {"Form", "Height", "352"},
            {"Backup", "State1", "1"},
            {"Messages", "Compact", " indented\nsecond line"},
        };
        for (const auto& i : items) {
            r.closeKey();
            QVERIFY(r.openKey(QLatin1String(i.section), true));
            QVERIFY(r.writeString(QLatin1String(i.key), QString::fromUtf8(i.value)));
        }
        QVERIFY(!QFile::exists(m_userFile)); // one write for the whole save
    }
    QCOMPARE(
        readAll(m_userFile),
        QByteArray("# Tarnwick settings. One [group] per key, nested keys as [Parent\\Child].\n"
                   "# A value is the text after \"=\"; in a \"quoted\" value \\\\ \\\" \\n \\r "
                   "\\t \\xHH stand for themselves.\n"
                   "\n"
                   "[Compact]\n"
                   "Hx1=/data/Sales.mdb\n"
                   "Version=3.6\n"
                   "\n"
                   "[Backup]\n"
                   "filenames=/data/a.mdb|/data/b.mdb\n"
                   "Time=0.0833333333333333\n"
                   "State1=1\n"
                   "\n"
                   "[Messages]\n"
                   "Backup=Backup of a.mdb done 07.12.2026 02:00:01|\n"
                   "Compact=\" indented\\nsecond line\"\n"
                   "\n"
                   "[Form]\n"
                   "Height=352\n"));
    IniKeyStore r;
    QVERIFY(r.openKey(QStringLiteral("Messages"), false));
    QCOMPARE(r.readString(QStringLiteral("compact")), QStringLiteral(" indented\nsecond line"));
}

void TestRegistry::openWithoutCreate() {
    {
        IniKeyStore r;
        QVERIFY(!r.openKey(QStringLiteral("Backup"), false));
        QVERIFY(!r.hasCurrentKey());
        QVERIFY(!r.readString(QStringLiteral("Time")));
        QVERIFY(!r.writeString(QStringLiteral("Time"), QStringLiteral("1")));
        QVERIFY(!r.keyExists(QStringLiteral("Backup")));
    }
    QVERIFY(!QFile::exists(m_userFile));
    QVERIFY(!QFile::exists(QFileInfo(m_userFile).path()));

    writeText(m_userFile, "[Backup]\nTime=0.5\n");
    IniKeyStore r;
    QVERIFY(r.openKey(QStringLiteral("Backup"), false));
    QVERIFY(!r.openKey(QStringLiteral("Compact"), false));
    QCOMPARE(r.currentPath(), QStringLiteral("Backup")); // a failed open keeps the open key
    QCOMPARE(r.readString(QStringLiteral("Time")), QStringLiteral("0.5"));
    QVERIFY(!r.readString(QStringLiteral("Missing")));
    QVERIFY(r.openKeyReadOnly(QStringLiteral("\\Backup")));
    QVERIFY(!r.writeString(QStringLiteral("Time"), QStringLiteral("1")));
}

void TestRegistry::createWithParents() {
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Software\\Tarnwick\\Deep"), true));
        QVERIFY(r.keyNames().isEmpty());
        QVERIFY(r.flush());
    }
    QVERIFY(readAll(m_userFile).contains("\n[Software\\Tarnwick\\Deep]\n"));
    IniKeyStore r;
    QVERIFY(r.keyExists(QStringLiteral("Software")));
    QVERIFY(r.openKey(QStringLiteral("software\\TARNWICK"), false));
    QCOMPARE(r.keyNames(), QStringList{QStringLiteral("Deep")});
    QVERIFY(r.valueNames().isEmpty());
}

void TestRegistry::keyPaths() {
    IniKeyStore r;
    QVERIFY(r.openKey(QStringLiteral("\\\\SOFTWARE\\ODBC\\\\"), true));
    QCOMPARE(r.currentPath(), QStringLiteral("SOFTWARE\\ODBC"));
    // Relative to the open key, as Windows' registry class does it.
    QVERIFY(r.openKey(QStringLiteral("odbc.ini"), true));
    QCOMPARE(r.currentPath(), QStringLiteral("SOFTWARE\\ODBC\\odbc.ini"));
    QVERIFY(r.writeString(QStringLiteral("DBQ"), QStringLiteral("/data/x.mdb")));
    QVERIFY(r.openKey(QStringLiteral("\\Form"), true));
    QCOMPARE(r.currentPath(), QStringLiteral("Form"));
    r.closeKey();
    QVERIFY(r.openKey(QStringLiteral("Software\\ODBC\\ODBC.INI"), false));
    QCOMPARE(r.readString(QStringLiteral("dbq")), QStringLiteral("/data/x.mdb"));
    QVERIFY(r.openKey(QString(), false)); // the open key itself
    QCOMPARE(r.currentPath(), QStringLiteral("Software\\ODBC\\ODBC.INI"));
    QVERIFY(r.openKey(QStringLiteral("\\"), false)); // the root
    QCOMPARE(r.keyNames(), (QStringList{QStringLiteral("Form"), QStringLiteral("SOFTWARE")}));
}

void TestRegistry::listAndDelete() {
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Backup"), true));
        for (const char* n : {"Time", "filenames", "ToDir", "State1"})
            QVERIFY(r.writeString(QLatin1String(n), QStringLiteral("v")));
        QVERIFY(r.writeString(QStringLiteral("TIME"), QStringLiteral("w"))); // same value
        QVERIFY(r.createKey(QStringLiteral("Sub\\One")));
        QVERIFY(r.createKey(QStringLiteral("\\Backup\\alpha")));
    }
    IniKeyStore r;
    QVERIFY(r.openKey(QStringLiteral("Backup"), false));
    QCOMPARE(r.valueNames(), (QStringList{QStringLiteral("Time"), QStringLiteral("filenames"),
                                          QStringLiteral("ToDir"), QStringLiteral("State1")}));
    QCOMPARE(r.readString(QStringLiteral("time")), QStringLiteral("w"));
    QCOMPARE(r.keyNames(), (QStringList{QStringLiteral("alpha"), QStringLiteral("Sub")}));
    QVERIFY(r.deleteValue(QStringLiteral("ToDir")));
    QVERIFY(!r.deleteValue(QStringLiteral("ToDir")));
    QVERIFY(r.deleteKey(QStringLiteral("Sub")));
    QVERIFY(!r.keyExists(QStringLiteral("\\Backup\\Sub\\One")));
    QVERIFY(!r.deleteKey(QStringLiteral("\\")));
    QVERIFY(r.flush());
    const QByteArray text = readAll(m_userFile);
    QVERIFY(!text.contains("ToDir"));
    QVERIFY(!text.contains("Sub"));
    QVERIFY(text.contains("[Backup\\alpha]"));
}

void TestRegistry::permissions() {
    const mode_t oldMask = ::umask(0); // no help from the umask
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Form"), true));
        QVERIFY(r.writeString(QStringLiteral("left"), QStringLiteral("1")));
    }
    ::umask(oldMask);
    QCOMPARE(modeOf(m_userFile), mode_t(0600));
    QCOMPARE(modeOf(QFileInfo(m_userFile).path()), mode_t(0700));

    // A person's own choice of permissions survives a save.
    QVERIFY(::chmod(QFile::encodeName(m_userFile).constData(), 0640) == 0);
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Form"), true));
        QVERIFY(r.writeString(QStringLiteral("left"), QStringLiteral("2")));
    }
    QCOMPARE(modeOf(m_userFile), mode_t(0640));
}

void TestRegistry::changesMergeWithOtherWriters() {
    IniKeyStore a, b;
    QVERIFY(a.openKey(QStringLiteral("Backup"), true));
    QVERIFY(b.openKey(QStringLiteral("Compact"), true));
    QVERIFY(a.writeString(QStringLiteral("Time"), QStringLiteral("0.5")));
    QVERIFY(b.writeString(QStringLiteral("Time"), QStringLiteral("0.25")));
    QVERIFY(a.flush());
    QVERIFY(b.flush());

    // A person edits the file while a reader is alive; the next open sees it.
    IniKeyStore c;
    QVERIFY(c.openKey(QStringLiteral("Backup"), false));
    QCOMPARE(c.readString(QStringLiteral("Time")), QStringLiteral("0.5"));
    QByteArray text = readAll(m_userFile);
    text.replace("Time=0.5", "Time = 0.75");
    writeText(m_userFile, text);
    QVERIFY(c.openKey(QStringLiteral("\\Backup"), false));
    QCOMPARE(c.readString(QStringLiteral("Time")), QStringLiteral("0.75"));
    QVERIFY(c.openKey(QStringLiteral("\\Compact"), false));
    QCOMPARE(c.readString(QStringLiteral("Time")), QStringLiteral("0.25"));
}

void TestRegistry::unreadableStoreIsNeverOverwritten() {
    writeText(m_userFile, "[Backup]\nTime=0.5\n");
    QVERIFY(::chmod(QFile::encodeName(m_userFile).constData(), 0) == 0);
    QVERIFY(testutil::runTestUnprivileged(
        [] {
            IniKeyStore r;
            QVERIFY(!r.openKey(QStringLiteral("Backup"), false));
            QVERIFY(!r.openKey(QStringLiteral("Backup"), true));
            QVERIFY(!r.createKey(QStringLiteral("Other")));
        },
        {m_tmp.path()}));
    QVERIFY(::chmod(QFile::encodeName(m_userFile).constData(), 0600) == 0);
    QCOMPARE(readAll(m_userFile), QByteArray("[Backup]\nTime=0.5\n"));
}

void TestRegistry::symlinkedStoreStaysALink() {
    const QString real = m_tmp.path() + QStringLiteral("/dotfiles/Tarnwick.ini");
    writeText(real, "[Form]\nleft=1\n");
    QDir().mkpath(QFileInfo(m_userFile).path());
    QVERIFY(QFile::link(real, m_userFile));
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Form"), false));
        QVERIFY(r.writeString(QStringLiteral("left"), QStringLiteral("2")));
    }
    QVERIFY(QFileInfo(m_userFile).isSymLink());
    QCOMPARE(readAll(real), QByteArray("[Form]\nleft=2\n"));
}

void TestRegistry::orphanedTemporaryFilesAreRemoved() {
    const QString folder = QFileInfo(m_userFile).path();
    const QString prefix = folder + QLatin1Char('/') + atomicTempPrefix(m_userFile);
    writeText(prefix + QStringLiteral("old123"), "half a fil");
    writeText(prefix + QStringLiteral("new123"), "being writ");
    struct utimbuf old {};
    old.actime = old.modtime = ::time(nullptr) - 3600;
    QVERIFY(::utime(QFile::encodeName(prefix + QStringLiteral("old123")).constData(), &old) == 0);
    {
        IniKeyStore r;
        QVERIFY(r.openKey(QStringLiteral("Form"), true));
        QVERIFY(r.writeString(QStringLiteral("left"), QStringLiteral("1")));
    }
    QVERIFY(!QFile::exists(prefix + QStringLiteral("old123")));
    QVERIFY(QFile::exists(prefix + QStringLiteral("new123"))); // may belong to a live writer
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// Neither reading nor saving waits on a FIFO where the store should be, and it stays a FIFO.
void TestRegistry::fifoInPlaceOfTheStore() {
    QDir().mkpath(QFileInfo(m_userFile).path());
    QVERIFY(::mkfifo(QFile::encodeName(m_userFile).constData(), 0600) == 0);
    {
        IniKeyStore r;
        QVERIFY(!r.openKey(QStringLiteral("Form"), true) ||
                !r.writeString(QStringLiteral("left"), QStringLiteral("1")) || !r.flush());
        QVERIFY2(r.lastError().contains(QStringLiteral("not a regular file")) ||
                     r.lastError().contains(QStringLiteral("FIFO")),
                 qPrintable(r.lastError()));
    }
    struct stat st {};
    QVERIFY(::lstat(QFile::encodeName(m_userFile).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(::unlink(QFile::encodeName(m_userFile).constData()) == 0);
}

void TestRegistry::machineStore() {
    const QString path = IniKeyStore::storePath(reg::LOCAL_MACHINE);
    QVERIFY(path.startsWith(m_tmp.path()));
    {
        const mode_t oldMask = ::umask(077);
        IniKeyStore r(reg::LOCAL_MACHINE);
        QVERIFY(r.openKey(QStringLiteral("SOFTWARE\\Microsoft\\JET\\4.0\\Engines"), true));
        QVERIFY(
            r.writeString(QStringLiteral("SystemDB"), QStringLiteral("/etc/tarnwick/system.mdw")));
        QVERIFY(r.flush());
        ::umask(oldMask);
    }
    QCOMPARE(modeOf(path), mode_t(0644)); // every user reads the machine's settings
    QCOMPARE(modeOf(QFileInfo(path).path()), mode_t(0755));
    QVERIFY(!QFile::exists(m_userFile));

    const QByteArray before = readAll(path);
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(path).path()).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    QVERIFY(testutil::runTestUnprivileged(
        [] {
            IniKeyStore r(reg::LOCAL_MACHINE);
            QVERIFY(!r.isWritable());
            QVERIFY(r.openKey(QStringLiteral("SOFTWARE\\Microsoft\\JET\\4.0\\Engines"), false));
            QCOMPARE(r.readString(QStringLiteral("SystemDB")),
                     QStringLiteral("/etc/tarnwick/system.mdw"));
            QVERIFY(!r.writeString(QStringLiteral("SystemDB"), QStringLiteral("x")));
            QVERIFY(!r.openKey(QStringLiteral("\\New"), true));
        },
        {m_tmp.path()}));
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(path).path()).constData(), 0755) == 0);
    QCOMPARE(readAll(path), before);
}

void TestRegistry::classesRoot() {
    registerAutomationClass(QStringLiteral("DAO.DBEngine.36"));
    {
        IniKeyStore r(reg::CLASSES_ROOT);
        QVERIFY(r.keyExists(QStringLiteral("dao.dbengine.36")));
        QVERIFY(!r.keyExists(QStringLiteral("DAO.DBEngine.35")));
        QVERIFY(r.openKey(QString(), false));
        QCOMPARE(r.keyNames(), QStringList{QStringLiteral("DAO.DBEngine.36")});
    }
    unregisterAutomationClass(QStringLiteral("DAO.DBEngine.36"));
    IniKeyStore r(reg::CLASSES_ROOT);
    QVERIFY(!r.openKey(QStringLiteral("DAO.DBEngine.36"), false));
    QVERIFY(!QFile::exists(QFileInfo(m_userFile).path()));
}

void TestRegistry::rootsWithoutStore() {
    // The settings store names its root by these identifiers and ordinals.
    const QMetaEnum roots = QMetaEnum::fromType<reg::TRegRoots>();
    QCOMPARE(roots.keyCount(), 7);
    QCOMPARE(roots.valueToKey(reg::CURRENT_USER), "CURRENT_USER");
    QCOMPARE(roots.keyToValue("DYN_DATA"), 6);
    for (auto root : {reg::USERS, reg::PERFORMANCE_DATA, reg::CURRENT_CONFIG, reg::DYN_DATA}) {
        IniKeyStore r(root);
        QVERIFY(!r.rootAvailable());
        QVERIFY(!r.openKey(QStringLiteral("Software"), true));
        QVERIFY(!r.openKey(QString(), false));
        QVERIFY(!r.createKey(QStringLiteral("Software")));
        QVERIFY(r.keyNames().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_inikeystore.moc"
