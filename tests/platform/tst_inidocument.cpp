#include "platform/filename.h"
#include "platform/inidocument.h"

#include <QTest>

using tarnwick::IniDocument;

class TestIniDocument : public QObject {
    Q_OBJECT
private slots:
    void valueRoundTrip_data();
    void valueRoundTrip();
    void nameRoundTrip_data();
    void nameRoundTrip();
    void keyPathRoundTrip_data();
    void keyPathRoundTrip();
    void handEditedFile();
    void rewriteKeepsWhatAPersonWrote();
    void keyTree();
};

void TestIniDocument::valueRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("raw"); // written as it stands, readable in the file

    QTest::newRow("empty") << QString() << true;
    QTest::newRow("file list") << QStringLiteral("/data/Sales.mdb|/data/Stock.mdb") << true;
    QTest::newRow("semicolon") << QStringLiteral("a;b;;") << true;
    QTest::newRow("leading semicolon") << QStringLiteral("; not a comment") << true;
    QTest::newRow("hash") << QStringLiteral("# not a comment") << true;
    QTest::newRow("equals") << QStringLiteral("=a=b=") << true;
    QTest::newRow("backslashes") << QStringLiteral("C:\\Data\\Sales.mdb\\") << true;
    QTest::newRow("escape lookalikes") << QStringLiteral("\\n \\x41 \\\" \\\\") << true;
    QTest::newRow("group lookalike") << QStringLiteral("[Backup]") << true;
    QTest::newRow("inner quotes") << QStringLiteral("say \"hi\"") << true;
    QTest::newRow("non-ASCII") << QStringLiteral("Größe ☃ 日本語 🙂") << true;
    QTest::newRow("time") << QStringLiteral("0.875") << true;
    QTest::newRow("leading quote") << QStringLiteral("\"quoted\"") << false;
    QTest::newRow("lone quote") << QStringLiteral("\"") << false;
    QTest::newRow("leading blanks") << QStringLiteral("  two") << false;
    QTest::newRow("trailing blanks") << QStringLiteral("two  ") << false;
    QTest::newRow("only blanks") << QStringLiteral("   ") << false;
    QTest::newRow("tab") << QStringLiteral("\tx\t") << false;
    QTest::newRow("no-break space") << QStringLiteral("x\u00a0") << false;
    QTest::newRow("log lines") << QStringLiteral("first|second\nthird\r\n\n") << false;
    QTest::newRow("CR alone") << QStringLiteral("a\rb") << false;
    QTest::newRow("controls") << QStringLiteral("a") + QChar(0) + QChar(0x1b) + QChar(0x7f)
                              << false;
    QTest::newRow("quote and escapes") << QStringLiteral(" \"\\x\\\" ") << false;
    QTest::newRow("percent lookalikes") << QStringLiteral("\\%41 \\%e9 100%") << true;
    // Bytes of a file name that are not UTF-8 come back as they were, in a file that is UTF-8.
    QTest::newRow("name not UTF-8")
        << tarnwick::fileNameFromBytes("/srv/b\xff\xe9.mdb|/srv/\xc3(.mdb") << false;
}

void TestIniDocument::valueRoundTrip() {
    QFETCH(QString, value);
    QFETCH(bool, raw);
    IniDocument doc;
    doc.setValue(QStringLiteral("Messages"), QStringLiteral("Backup"), value);
    doc.setValue(QStringLiteral("Messages"), QStringLiteral("After"), QStringLiteral("x"));
    const QByteArray text = doc.serialize();
    const IniDocument back = IniDocument::parse(text);
    QCOMPARE(back.value(QStringLiteral("Messages"), QStringLiteral("Backup")), value);
    QCOMPARE(back.value(QStringLiteral("Messages"), QStringLiteral("After")), QStringLiteral("x"));
    QCOMPARE(back.serialize(), text);
    QVERIFY(QUtf8StringView(text).isValidUtf8());
    QCOMPARE(text.contains("\nBackup=" + value.toUtf8() + "\n"), raw);
    QCOMPARE(text.count('\n'), 3); // header, two values: nothing spills onto other lines
}

void TestIniDocument::nameRoundTrip_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QStringLiteral("Hx1");
    QTest::newRow("empty (default value)") << QString();
    QTest::newRow("equals") << QStringLiteral("a=b");
    QTest::newRow("hash") << QStringLiteral("#x");
    QTest::newRow("semicolon") << QStringLiteral(";x");
    QTest::newRow("bracket") << QStringLiteral("[x]");
    QTest::newRow("blanks") << QStringLiteral(" x ");
    QTest::newRow("quote") << QStringLiteral("\"x");
    QTest::newRow("line break") << QStringLiteral("a\nb");
    QTest::newRow("non-ASCII") << QStringLiteral("Schlüssel");
}

void TestIniDocument::nameRoundTrip() {
    QFETCH(QString, name);
    IniDocument doc;
    doc.setValue(QStringLiteral("Form"), name, QStringLiteral("v=1"));
    const IniDocument back = IniDocument::parse(doc.serialize());
    QCOMPARE(back.valueNames(QStringLiteral("Form")), QStringList{name});
    QCOMPARE(back.value(QStringLiteral("Form"), name), QStringLiteral("v=1"));
}

void TestIniDocument::keyPathRoundTrip_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("nested") << QStringLiteral("SOFTWARE\\ODBC\\odbc.ini\\ODBC Data Sources");
    QTest::newRow("closing bracket") << QStringLiteral("a]b\\c");
    QTest::newRow("blanks") << QStringLiteral(" a \\ b ");
    QTest::newRow("quote") << QStringLiteral("\"a");
    QTest::newRow("dots") << QStringLiteral("DAO.DBEngine.36");
}

void TestIniDocument::keyPathRoundTrip() {
    QFETCH(QString, path);
    IniDocument doc;
    doc.createKey(path);
    doc.setValue(path, QStringLiteral("v"), QStringLiteral("1"));
    const IniDocument back = IniDocument::parse(doc.serialize());
    QVERIFY(back.keyExists(path));
    QCOMPARE(back.value(path, QStringLiteral("v")), QStringLiteral("1"));
}

void TestIniDocument::handEditedFile() {
    const QByteArray text = "\xEF\xBB\xBF"
                            "# settings\r\n"
                            "top = root value \r\n"
                            "\r\n"
                            "[ Backup ]\r\n"
                            "  Time = 0.5\r\n"
                            "ToDir=\"/backups \"   \r\n"
                            "half=\"quoted\" and not\r\n"
                            "unterminated=\"abc\r\n"
                            "this line has no equals sign\r\n"
                            "[Compact]\r\n"
                            "Version=3.5\r\n"
                            "[backup]\r\n"
                            "time=0.25\r\n"
                            "[broken\r\n";
    const IniDocument doc = IniDocument::parse(text);
    QCOMPARE(doc.value(QString(), QStringLiteral("top")), QStringLiteral("root value"));
    // A group written twice is one key, and the later value wins.
    QCOMPARE(doc.value(QStringLiteral("BACKUP"), QStringLiteral("TIME")), QStringLiteral("0.25"));
    QCOMPARE(doc.value(QStringLiteral("Backup"), QStringLiteral("ToDir")),
             QStringLiteral("/backups "));
    QCOMPARE(doc.value(QStringLiteral("Backup"), QStringLiteral("half")),
             QStringLiteral("\"quoted\" and not"));
    QCOMPARE(doc.value(QStringLiteral("Backup"), QStringLiteral("unterminated")),
             QStringLiteral("\"abc"));
    QCOMPARE(doc.value(QStringLiteral("Compact"), QStringLiteral("Version")),
             QStringLiteral("3.5"));
    QCOMPARE(doc.valueNames(QStringLiteral("Backup")),
             (QStringList{QStringLiteral("Time"), QStringLiteral("ToDir"), QStringLiteral("half"),
                          QStringLiteral("unterminated")}));
    QVERIFY(!doc.keyExists(QStringLiteral("broken")));
}

void TestIniDocument::rewriteKeepsWhatAPersonWrote() {
    const QByteArray text = "# my notes\n"
                            "[Backup]\n"
                            "; the nightly run\n"
                            "Time = 0.5\n"
                            "stray line\n"
                            "Gone=x\n"
                            "ToDir=/b\n"
                            "\n"
                            "# compact below\n"
                            "[Compact]\n"
                            "Version=3.6\n"
                            "# end\n";
    IniDocument doc = IniDocument::parse(text);
    doc.setValue(QStringLiteral("Backup"), QStringLiteral("Time"), QStringLiteral("0.75"));
    doc.removeValue(QStringLiteral("Backup"), QStringLiteral("Gone"));
    doc.setValue(QStringLiteral("Form"), QStringLiteral("left"), QStringLiteral("10"));
    QCOMPARE(doc.serialize(), QByteArray("# my notes\n"
                                         "[Backup]\n"
                                         "; the nightly run\n"
                                         "Time=0.75\n"
                                         "stray line\n"
                                         "ToDir=/b\n"
                                         "\n"
                                         "# compact below\n"
                                         "[Compact]\n"
                                         "Version=3.6\n"
                                         "\n"
                                         "[Form]\n"
                                         "left=10\n"
                                         "# end\n"));
}

void TestIniDocument::keyTree() {
    IniDocument doc;
    doc.createKey(QStringLiteral("Software\\Zeta"));
    doc.setValue(QStringLiteral("Software\\alpha\\Deep"), QStringLiteral("v"), QStringLiteral("1"));
    doc.createKey(QStringLiteral("SOFTWARE\\ZETA")); // exists already, whatever the case
    doc.createKey(QStringLiteral("Other"));

    QVERIFY(doc.keyExists(QStringLiteral("software")));
    QVERIFY(doc.keyExists(QStringLiteral("Software\\ALPHA")));
    QVERIFY(!doc.keyExists(QStringLiteral("Soft")));
    QCOMPARE(doc.childKeys(QString()),
             (QStringList{QStringLiteral("Other"), QStringLiteral("Software")}));
    QCOMPARE(doc.childKeys(QStringLiteral("software")),
             (QStringList{QStringLiteral("alpha"), QStringLiteral("Zeta")}));

    QVERIFY(doc.deleteKey(QStringLiteral("Software\\Alpha")));
    QVERIFY(!doc.keyExists(QStringLiteral("Software\\alpha\\Deep")));
    QVERIFY(doc.keyExists(QStringLiteral("Software\\Zeta")));
    QVERIFY(!doc.deleteKey(QStringLiteral("Software\\Alpha")));

    const IniDocument back = IniDocument::parse(doc.serialize());
    QCOMPARE(back.childKeys(QStringLiteral("Software")), QStringList{QStringLiteral("Zeta")});
    QVERIFY(back.keyExists(QStringLiteral("Other")));
}

QTEST_APPLESS_MAIN(TestIniDocument)
#include "tst_inidocument.moc"
