// The zip library through its C interface, as the archiver drives it: what it writes
// must satisfy Info-ZIP, 7-Zip and Python, and every command field must have its effect.
#include "ziptestutil.h"

#include <QTemporaryDir>
#include <sys/stat.h>
#include <utime.h>

using namespace ziptest;

class TestZipLib : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(Library::get().exec);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void versionIs160() { QCOMPARE(Library::get().version(), 160); }

    void contentRoundTrips_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("level");
        QTest::newRow("empty") << "empty.mdb" << QByteArray() << 8 << 9;
        QTest::newRow("text") << "notes.txt" << QByteArray("hello, archive\n").repeated(1000) << 8
                              << 9;
        QTest::newRow("random 3.5 MiB, several blocks")
            << "blob.bin" << randomBytes(3 * 1048576 + 524288, 7) << 8 << 6;
        QTest::newRow("block boundary") << "edge.bin" << QByteArray(1048576, 'a') + "b" << 8 << 9;
        QTest::newRow("store suffix") << "picture.GIF" << randomBytes(100000, 3) << 0 << 9;
        QTest::newRow("level 0 stores") << "plain.txt" << QByteArray("x").repeated(5000) << 0 << 0;
        QTest::newRow("level 1") << "fast.txt" << QByteArray("abc").repeated(100000) << 8 << 1;
    }
    void contentRoundTrips() {
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(int, method);
        QFETCH(int, level);
        const QString src = m_dir->filePath("in/" + name);
        writeFile(src, data);
        const QString zip = m_dir->filePath("out.zip");
        Command c(zip, {{src.toStdString()}});
        c.cmd.head.level = level;
        QCOMPARE(c.run(), 1);
        verifyWithTools(zip);
        const auto info = inspect(zip);
        QCOMPARE(names(info), QStringList{name});
        const auto e = entry(info, name);
        QCOMPARE(e["size"].toInteger(), data.size());
        QCOMPARE(quint32(e["crc"].toInteger()), crcOf(data));
        QCOMPARE(e["method"].toInt(), method);
        QVERIFY(e["readOk"].toBool());
        QCOMPARE(dirList(m_dir->path()), QStringList{"out.zip"});
    }

    void zipinfoShowsStoredForSuffixes() {
        writeFile(m_dir->filePath("a.png"), randomBytes(5000, 1));
        writeFile(m_dir->filePath("b.mdb"), QByteArray(5000, 'z'));
        const QString zip = m_dir->filePath("s.zip");
        Command c(zip, {{m_dir->filePath("a.png").toStdString()},
                        {m_dir->filePath("b.mdb").toStdString()}});
        QCOMPARE(c.run(), 2);
        const auto r = tool("zipinfo", {"-v", zip});
        QVERIFY(r.out.contains("compression method:                             none (stored)"));
        QVERIFY(r.out.contains("compression method:                             deflated"));
    }

    void secondAddKeepsFirstEntryAndComment() {
        writeFile(m_dir->filePath("one.mdb"), "first");
        writeFile(m_dir->filePath("two.mdb"), "second");
        const QString zip = m_dir->filePath("g.zip");
        Command a(zip, {{m_dir->filePath("one.mdb").toStdString()}});
        a.comment = "nightly backup";
        QCOMPARE(a.run(), 1);
        Command b(zip, {{m_dir->filePath("two.mdb").toStdString()}});
        QCOMPARE(b.run(), 1);
        verifyWithTools(zip);
        const auto info = inspect(zip);
        QCOMPARE(names(info), (QStringList{"one.mdb", "two.mdb"}));
        QCOMPARE(info["comment"].toString(), QString("nightly backup"));
        // Adding the same name again replaces it rather than duplicating it.
        writeFile(m_dir->filePath("one.mdb"), "first, changed");
        Command d(zip, {{m_dir->filePath("one.mdb").toStdString()}});
        QCOMPARE(d.run(), 1);
        const auto again = inspect(zip);
        QCOMPARE(names(again), (QStringList{"one.mdb", "two.mdb"}));
        QCOMPARE(entry(again, "one.mdb")["size"].toInt(), 14);
    }

    void encryptionExtractsWithUnzip_data() {
        QTest::addColumn<bool>("ownPassword");
        QTest::newRow("command password") << false;
        QTest::newRow("password of the line") << true;
    }
    void encryptionExtractsWithUnzip() {
        QFETCH(bool, ownPassword);
        const QByteArray data = QByteArray("secret records ").repeated(3000);
        writeFile(m_dir->filePath("db.mdb"), data);
        writeFile(m_dir->filePath("pic.gif"), randomBytes(3000, 9));
        const QString zip = m_dir->filePath("e.zip");
        FileSpecArg s1{m_dir->filePath("db.mdb").toStdString()},
            s2{m_dir->filePath("pic.gif").toStdString()};
        std::unique_ptr<Command> c;
        if (ownPassword) {
            s1.password = s2.password = "line pw";
            s1.encrypt = s2.encrypt = ZIPLIB_SPEC_OWN_PASSWORD;
            c = std::make_unique<Command>(zip, std::vector<FileSpecArg>{s1, s2});
            c->password = "other";
        } else {
            s1.password = s2.password = "Sesame";
            s1.encrypt = s2.encrypt = ZIPLIB_TRUE32;
            c = std::make_unique<Command>(zip, std::vector<FileSpecArg>{s1, s2});
            c->password = "Sesame";
            c->cmd.head.encrypt = ZIPLIB_TRUE32;
        }
        QCOMPARE(c->run(), 2);
        const QString pw = ownPassword ? "line pw" : "Sesame";
        verifyWithTools(zip, pw);
        const auto info = inspect(zip, pw);
        QVERIFY(entry(info, "db.mdb")["encrypted"].toBool());
        QVERIFY(entry(info, "db.mdb")["readOk"].toBool());
        QVERIFY(entry(info, "pic.gif")["encrypted"].toBool());
        const QString out = m_dir->filePath("x");
        QCOMPARE(tool("unzip", {"-qq", "-P", pw, zip, "-d", out}).exit, 0);
        QCOMPARE(readAll(out + "/db.mdb"), data);
        QVERIFY(tool("unzip", {"-qq", "-o", "-P", "wrong", zip, "-d", out}).exit != 0);
    }

    void passwordAskedThroughCallback_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("added");
        QTest::newRow("answered") << "typed" << 1;
        QTest::newRow("refused") << "" << 0;
    }
    void passwordAskedThroughCallback() {
        QFETCH(QString, reply);
        QFETCH(int, added);
        writeFile(m_dir->filePath("db.mdb"), "data");
        const QString zip = m_dir->filePath("p.zip");
        Command c(zip, {{m_dir->filePath("db.mdb").toStdString(), nullptr, ZIPLIB_TRUE32}});
        c.cmd.head.encrypt = ZIPLIB_TRUE32;
        int confirm = -1;
        c.recorder.answer = [&](ZipCallbackData& d) {
            if (d.action == ZIPLIB_ACTION_PASSWORD) {
                confirm = d.code & 1; // a new password: the caller asks for confirmation
                std::strcpy(d.text, reply.toUtf8().constData());
                d.code = reply.isEmpty() ? 0 : 1;
            }
            return 0;
        };
        QCOMPARE(c.run(), added);
        QCOMPARE(c.recorder.count(ZIPLIB_ACTION_PASSWORD), 1);
        QCOMPARE(confirm, 1);
        if (added)
            verifyWithTools(zip, reply);
        else
            QVERIFY(!QFile::exists(zip));
    }

    void selection_data() {
        QTest::addColumn<QString>("file_spec");
        QTest::addColumn<bool>("recurse");
        QTest::addColumn<bool>("junk");
        QTest::addColumn<bool>("dirs");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QString>("exclude");
        QTest::addColumn<QStringList>("expected");
        const QStringList all{"a.mdb", "b.txt", "sub/c.mdb", "sub/deep/d.mdb"};
        QTest::newRow("wildcard, flat")
            << "*.mdb" << false << false << false << false << "" << QStringList{"a.mdb"};
        QTest::newRow("wildcard, recursive") << "*.mdb" << true << false << false << false << ""
                                             << QStringList{"a.mdb", "sub/c.mdb", "sub/deep/d.mdb"};
        QTest::newRow("question mark")
            << "?.txt" << false << false << false << false << "" << QStringList{"b.txt"};
        QTest::newRow("folder, recursive, junked")
            << "sub" << true << true << false << false << "" << QStringList{"c.mdb", "d.mdb"};
        QTest::newRow("folder with entries")
            << "sub" << true << false << true << false << ""
            << QStringList{"sub/", "sub/c.mdb", "sub/deep/", "sub/deep/d.mdb"};
        QTest::newRow("folder without recursion")
            << "sub" << false << false << false << false << "" << QStringList{};
        QTest::newRow("exclusion") << "*" << true << false << false << false << "*deep*"
                                   << QStringList{"a.mdb", "b.txt", "sub/c.mdb"};
        QTest::newRow("hidden left out")
            << "*" << false << false << false << false << "" << QStringList{"a.mdb", "b.txt"};
        QTest::newRow("hidden included") << "*" << false << false << false << true << ""
                                         << QStringList{".hidden", "a.mdb", "b.txt"};
        Q_UNUSED(all);
    }
    void selection() {
        QFETCH(QString, file_spec);
        QFETCH(bool, recurse);
        QFETCH(bool, junk);
        QFETCH(bool, dirs);
        QFETCH(bool, hidden);
        QFETCH(QString, exclude);
        QFETCH(QStringList, expected);
        const QString root = m_dir->filePath("tree");
        for (const char* f : {"a.mdb", "b.txt", "sub/c.mdb", "sub/deep/d.mdb", ".hidden"})
            writeFile(root + "/" + f, f);
        const QString zip = m_dir->filePath("sel.zip");
        Command c(zip, {{file_spec.toStdString(), nullptr, 0, uint16_t(recurse ? 0xFFFF : 0),
                         (root + "/").toStdString()}});
        c.cmd.head.junk_dirs = junk ? ZIPLIB_TRUE32 : 0;
        c.cmd.head.no_dir_entries = dirs ? 0 : ZIPLIB_TRUE32;
        c.cmd.head.system_files = hidden ? ZIPLIB_TRUE32 : 0;
        if (!exclude.isEmpty()) c.exclusions.push_back(exclude.toStdString());
        const int files = static_cast<int>(std::count_if(
            expected.begin(), expected.end(), [](const QString& n) { return !n.endsWith('/'); }));
        QCOMPARE(c.run(), files);
        if (expected.isEmpty()) {
            QVERIFY(!QFile::exists(zip));
            return;
        }
        verifyWithTools(zip);
        auto got = names(inspect(zip));
        got.sort();
        QCOMPARE(got, expected);
    }

    void archiveIsNotAddedToItself() {
        writeFile(m_dir->filePath("a.mdb"), "a");
        const QString zip = m_dir->filePath("self.zip");
        Command first(zip, {{m_dir->filePath("a.mdb").toStdString()}});
        QCOMPARE(first.run(), 1);
        Command c(zip, {{m_dir->filePath("*").toStdString()}});
        QCOMPARE(c.run(), 1);
        QCOMPARE(names(inspect(zip)), QStringList{"a.mdb"});
    }

    void forceDosNames() {
        writeFile(m_dir->filePath("d/Long file name.backup"), "x");
        const QString zip = m_dir->filePath("dos.zip");
        Command c(zip, {{m_dir->filePath("d/Long file name.backup").toStdString()}});
        c.cmd.head.force_dos = ZIPLIB_TRUE32;
        QCOMPARE(c.run(), 1);
        const auto info = inspect(zip);
        QCOMPARE(names(info), QStringList{"LONG_FIL.BAC"});
        QCOMPARE(entry(info, "LONG_FIL.BAC")["create_system"].toInt(), 0);
    }

    void updateAndFreshen_data() {
        QTest::addColumn<bool>("update");
        QTest::addColumn<QStringList>("expected"); // names whose content is "new"
        QTest::addColumn<QStringList>("present");
        QTest::newRow("update adds new and newer")
            << true << QStringList{"newer.mdb", "fresh.mdb"}
            << QStringList{"fresh.mdb", "newer.mdb", "older.mdb"};
        QTest::newRow("freshen only replaces newer")
            << false << QStringList{"newer.mdb"} << QStringList{"newer.mdb", "older.mdb"};
    }
    void updateAndFreshen() {
        QFETCH(bool, update);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, present);
        const QString zip = m_dir->filePath("u.zip");
        for (const char* f : {"newer.mdb", "older.mdb"}) {
            writeFile(m_dir->filePath(f), "old");
            setTime(m_dir->filePath(f), 1600000000);
        }
        Command a(zip, {{m_dir->filePath("*.mdb").toStdString()}});
        QCOMPARE(a.run(), 2);
        writeFile(m_dir->filePath("newer.mdb"), "new");
        setTime(m_dir->filePath("newer.mdb"), 1700000000);
        writeFile(m_dir->filePath("older.mdb"), "new");
        setTime(m_dir->filePath("older.mdb"), 1500000000);
        writeFile(m_dir->filePath("fresh.mdb"), "new");
        Command b(zip, {{m_dir->filePath("*.mdb").toStdString()}});
        b.cmd.head.update = update ? ZIPLIB_TRUE32 : 0;
        b.cmd.head.freshen = update ? 0 : ZIPLIB_TRUE32;
        QCOMPARE(b.run(), int(expected.size()));
        auto info = inspect(zip);
        auto got = names(info);
        got.sort();
        QCOMPARE(got, present);
        for (const auto& n : present)
            QCOMPARE(entry(info, n)["size"].toInt(), 3); // "old" and "new" have the same size
        const QString out = m_dir->filePath("x");
        QCOMPARE(tool("unzip", {"-qq", zip, "-d", out}).exit, 0);
        for (const auto& n : present)
            QCOMPARE(readAll(out + "/" + n), QByteArray(expected.contains(n) ? "new" : "old"));
    }

    void moveDeletesSourcesAfterWriting() {
        writeFile(m_dir->filePath("m/a.mdb"), "a");
        writeFile(m_dir->filePath("m/b.mdb"), "b");
        const QString zip = m_dir->filePath("mv.zip");
        Command c(zip, {{m_dir->filePath("m/*.mdb").toStdString()}});
        c.cmd.head.move = ZIPLIB_TRUE32;
        c.recorder.answer = [&](ZipCallbackData& d) {
            if (d.action == ZIPLIB_ACTION_NEW_FILE) // still there while it is being written
                [&] { QVERIFY(QFile::exists(m_dir->filePath("m/a.mdb"))); }();
            return 0;
        };
        QCOMPARE(c.run(), 2);
        QVERIFY(!QFile::exists(m_dir->filePath("m/a.mdb")));
        QVERIFY(!QFile::exists(m_dir->filePath("m/b.mdb")));
        QCOMPARE(names(inspect(zip)).size(), 2);
    }

    void latestTimeSetsArchiveTime() {
        writeFile(m_dir->filePath("a.mdb"), "a");
        writeFile(m_dir->filePath("b.mdb"), "b");
        setTime(m_dir->filePath("a.mdb"), 1500000000);
        setTime(m_dir->filePath("b.mdb"), 1600000000);
        const QString zip = m_dir->filePath("t.zip");
        Command c(zip, {{m_dir->filePath("*.mdb").toStdString()}});
        c.cmd.head.latest_time = ZIPLIB_TRUE32;
        QCOMPARE(c.run(), 2);
        QCOMPARE(QFileInfo(zip).lastModified().toSecsSinceEpoch(), 1600000000);
    }

    void temporaryFileGoesToTempDir() {
        writeFile(m_dir->filePath("big.mdb"), randomBytes(3 << 20, 5));
        const QString tmp = m_dir->filePath("tmpdir");
        QDir().mkpath(tmp);
        const QString zip = m_dir->filePath("td.zip");
        Command c(zip, {{m_dir->filePath("big.mdb").toStdString()}});
        c.tempDir = tmp.toStdString();
        QStringList seen;
        c.recorder.answer = [&](ZipCallbackData& d) {
            if (d.action == ZIPLIB_ACTION_PROGRESS && seen.isEmpty()) seen = dirList(tmp);
            return 0;
        };
        QCOMPARE(c.run(), 1);
        QCOMPARE(seen.size(), 1);
        QVERIFY(seen.first().startsWith(".tarnwick-")); // ours, so a later run can sweep it
        QVERIFY(dirList(tmp).isEmpty());
        verifyWithTools(zip);
    }

    void callbackProtocol() {
        writeFile(m_dir->filePath("a.mdb"), randomBytes(2500000, 2));
        writeFile(m_dir->filePath("b.mdb"), "small");
        const QString zip = m_dir->filePath("cb.zip");
        Command c(zip, {{m_dir->filePath("a.mdb").toStdString()},
                        {m_dir->filePath("b.mdb").toStdString()}});
        c.cmd.head.verbose = ZIPLIB_TRUE32;
        c.recorder.answer = [&](ZipCallbackData& d) {
            if (d.action == ZIPLIB_ACTION_NEW_NAME && QByteArray(d.text) == "b.mdb") {
                std::strcpy(d.text, "renamed.mdb");
                d.code = 1;
            }
            if (d.action == ZIPLIB_ACTION_FILE_COMMENT && QByteArray(d.text) == "a.mdb") {
                std::strcpy(d.text, "the big one");
                d.code = 1;
            }
            return 0;
        };
        QCOMPARE(c.run(), 2);
        const auto& calls = c.recorder.calls;
        for (const auto& k : calls)
            QCOMPARE(k.thread, std::this_thread::get_id());
        QCOMPARE(calls.back().action, int(ZIPLIB_ACTION_END_BATCH));
        // Totals first, then per file: start and bytes adding up to its size.
        auto at = [&](int action) {
            return std::find_if(calls.begin(), calls.end(),
                                [&](const auto& k) { return k.action == action; });
        };
        QCOMPARE(at(ZIPLIB_ACTION_TOTAL_FILES)->size, 2);
        QCOMPARE(at(ZIPLIB_ACTION_TOTAL_SIZE)->size, 2500005);
        QVERIFY(at(ZIPLIB_ACTION_TOTAL_SIZE) < at(ZIPLIB_ACTION_NEW_FILE));
        QCOMPARE(c.recorder.count(ZIPLIB_ACTION_NEW_FILE), 2);
        qint64 bytes = 0;
        for (const auto& k : calls)
            if (k.action == ZIPLIB_ACTION_PROGRESS) bytes += k.size;
        QCOMPARE(bytes, 2500005);
        QVERIFY(c.recorder.count(ZIPLIB_ACTION_PROGRESS) >= 3);
        QVERIFY(c.recorder.messages().join('\n').contains("adding: a.mdb"));
        const auto info = inspect(zip);
        QCOMPARE(names(info), (QStringList{"a.mdb", "renamed.mdb"}));
        QCOMPARE(entry(info, "a.mdb")["comment"].toString(), QString("the big one"));
    }

    void longFormCommand() {
        writeFile(m_dir->filePath("lf/a.mdb"), "a");
        writeFile(m_dir->filePath("lf/sub/b.mdb"), "b");
        const QString zip = m_dir->filePath("long.zip");
        auto cmd = std::make_unique<ZipCommandLong>();
        std::memset(cmd.get(), 0, sizeof *cmd);
        Recorder rec;
        std::string archive = zip.toStdString();
        std::string line1 = ">" + m_dir->filePath("lf/*.mdb").toStdString() + "<pw";
        cmd->head.caller = &rec;
        cmd->head.version = 160;
        cmd->head.callback = &Recorder::callback;
        cmd->head.level = 9;
        cmd->head.junk_dirs = ZIPLIB_TRUE32;
        cmd->head.no_dir_entries = ZIPLIB_TRUE32;
        cmd->head.grow = ZIPLIB_TRUE32;
        cmd->head.archive_name = archive.data();
        cmd->head.spec_count = 1;
        cmd->check = ZIPLIB_CHECK_WORD;
        cmd->specs[0] = line1.data();
        QCOMPARE(Library::get().exec(cmd.get()), 2);
        verifyWithTools(zip, "pw");
        QVERIFY(entry(inspect(zip, "pw"), "b.mdb")["encrypted"].toBool());
    }

    void badRecordIsRefused() {
        ZipCommandShort cmd;
        std::memset(&cmd, 0, sizeof cmd);
        Recorder rec;
        cmd.head.caller = &rec;
        cmd.head.callback = &Recorder::callback;
        QCOMPARE(Library::get().exec(&cmd), 0);
        QCOMPARE(rec.count(ZIPLIB_ACTION_MESSAGE), 1);
        QCOMPARE(rec.calls[0].code, int(ZIPLIB_E_PARMS));
    }

    void nothingMatchedLeavesNoArchive() {
        const QString zip = m_dir->filePath("none.zip");
        Command c(zip, {{m_dir->filePath("missing.mdb").toStdString()}});
        QCOMPARE(c.run(), 0);
        QVERIFY(!QFile::exists(zip));
        QVERIFY(c.recorder.messages().join('\n').contains("missing.mdb"));
    }

private:
    static void setTime(const QString& path, time_t t) {
        struct utimbuf u {
            t, t
        };
        QCOMPARE(utime(path.toLocal8Bit().constData(), &u), 0);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestZipLib)
#include "tst_ziplib.moc"
