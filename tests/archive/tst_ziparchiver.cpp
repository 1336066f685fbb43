// TZipArchiver with the real zip library: adding, reading directories back, stopping,
// encryption, spanned archives and self-extractors.
#include "archive/ziparchiver.h"
#include "archive/ziplibrary.h"
#include "archive/zipmessages.h"
#include "tests/common/platformdoubles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

struct QuietUi : TZipArchiverUi {
    QStringList shown;
    Button answer = Yes;
    void ShowMessage(QObject*, const QString& text) override { shown << text; }
    QString AskPassword(QObject*, const QString&, const QString&, const QString&,
                        const QString&) override {
        return {};
    }
    Button Ask(QObject*, const QString&, const QString&, unsigned) override { return answer; }
    void ProcessEvents() override {}
};

QByteArray noise(qsizetype n, quint32 seed) {
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b[i] = static_cast<char>(seed >> 24);
    }
    return b;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int run(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(120000);
    if (output) *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QStringList files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class Watcher : public QObject {
    Q_OBJECT
public:
    int dirUpdates = 0;
    QList<int> seqs;
    QStringList messages;
    TZipArchiver* cancelOn = nullptr;
    bool cancelOnNewFile = false;
    bool armed = false;
public slots:
    void DirUpdate(QObject*) { ++dirUpdates; }
    void NewName(QObject*, int seq, ZipDirEntry) { seqs << seq; }
    void Message(QObject*, int code, QString text) {
        messages << QString::number(code) + ": " + text;
    }
    void Progress(QObject*, ZipTypes::ProgressType t, QString, int) {
        if (!cancelOn) return;
        if (!cancelOnNewFile && t == ZipTypes::ProgressUpdate) cancelOn->SetCancel(true);
        // For the spanned copy: its totals come after the library's end of batch.
        if (cancelOnNewFile && t == ZipTypes::EndOfBatch) armed = true;
        if (cancelOnNewFile && armed && t == ZipTypes::TotalFiles) cancelOn->SetCancel(true);
    }
};

class TestZipArchiver : public QObject {
    Q_OBJECT

    std::unique_ptr<TZipArchiver> make() {
        auto z = std::make_unique<TZipArchiver>();
        z->SetUi(&m_ui);
        z->SetLibraryFolder(QStringLiteral(ZIPLIB_DIR));
        z->SetAddStoreSuffixes(TZipArchiver::AddStoreExts(0xFFF));
        z->OnDirUpdate = TNotifyEvent(&m_watch, "DirUpdate");
        z->OnNewName = TZipNewNameEvent(&m_watch, "NewName");
        z->OnMessage = TZipMessageEvent(&m_watch, "Message");
        return z;
    }
    // Builds an archive with Python's zipfile from a small script body.
    void python(const QString& zip, const QString& body) {
        const QString script =
            QStringLiteral("import zipfile\nz = zipfile.ZipFile(%1, 'w')\n%2\nz.close()\n")
                .arg(QString("'" + zip + "'"), body);
        QString out;
        QCOMPARE(run("python3", {"-c", script}, &out), 0);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_ui = QuietUi();
        m_watch.dirUpdates = 0;
        m_watch.seqs.clear();
        m_watch.messages.clear();
        m_watch.cancelOn = nullptr;
        m_watch.cancelOnNewFile = false;
        m_watch.armed = false;
    }
    void cleanup() { UnloadZipLibrary(nullptr); }

    void addToNewThenSameArchive() {
        auto z = make();
        const QString a = m_dir->filePath("sub/first.mdb"), b = m_dir->filePath("second.mdb");
        QDir().mkpath(m_dir->filePath("sub"));
        writeFile(a, QByteArray("records ").repeated(5000));
        writeFile(b, "two");
        z->SetZipFileName(m_dir->filePath("backup.zip"));
        QCOMPARE(m_watch.dirUpdates, 1); // absent: only OnDirUpdate
        QVERIFY(z->Contents().isEmpty());
        z->FSpecArgsRef() << a;
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QCOMPARE(z->Contents().size(), 1);
        QCOMPARE(z->Contents()[0].FileName, QString("first.mdb")); // stored without its path
        QCOMPARE(z->Contents()[0].UncompressedSize, 40000u);
        QCOMPARE(z->Contents()[0].CompressionMethod, quint16(8));
        QVERIFY(z->FSpecArgs().isEmpty());
        QVERIFY(!ZipLibrary::state().handle); // Add loaded it, Add freed it
        z->FSpecArgsRef() << b;
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QCOMPARE(z->Contents().size(), 2);
        QCOMPARE(z->Contents()[0].FileName, QString("first.mdb"));
        QCOMPARE(z->Contents()[1].FileName, QString("second.mdb"));
        QCOMPARE(m_watch.seqs.mid(m_watch.seqs.size() - 2), (QList<int>{1, 2}));
        QCOMPARE(run("unzip", {"-tqq", m_dir->filePath("backup.zip")}), 0);
        QVERIFY(m_ui.shown.isEmpty());
    }

    void encryptedWithPassword() {
        auto z = make();
        z->SetUnattended(true);
        const QString f = m_dir->filePath("db.mdb");
        writeFile(f, noise(100000, 3));
        z->SetPassword("S3cret");
        z->SetAddOptions(TZipArchiver::AddEncrypt);
        z->SetZipFileName(m_dir->filePath("enc.zip"));
        z->SetFSpecArgs({f});
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QVERIFY(z->Contents()[0].Encrypted);
        const QString out = m_dir->filePath("out");
        QCOMPARE(run("unzip", {"-qq", "-P", "S3cret", m_dir->filePath("enc.zip"), "-d", out}), 0);
        QCOMPARE(readFile(out + "/db.mdb"), readFile(f));
    }

    void cancelLeavesOldArchive() {
        auto z = make();
        z->SetUnattended(true);
        writeFile(m_dir->filePath("small.mdb"), "small");
        z->SetZipFileName(m_dir->filePath("c.zip"));
        z->SetFSpecArgs({m_dir->filePath("small.mdb")});
        z->Add();
        const QByteArray before = readFile(m_dir->filePath("c.zip"));
        writeFile(m_dir->filePath("big.mdb"), noise(5 << 20, 4));
        m_watch.cancelOn = z.get();
        z->OnProgress = TZipProgressEvent(&m_watch, "Progress");
        z->SetFSpecArgs({m_dir->filePath("big.mdb")});
        z->Add();
        QCOMPARE(z->AddedCount(), 0);
        QVERIFY(!z->Cancel());
        QCOMPARE(readFile(m_dir->filePath("c.zip")), before);
        QCOMPARE(files(m_dir->path()), (QStringList{"big.mdb", "c.zip", "small.mdb"}));
        QCOMPARE(z->Contents().size(), 1);
    }

    void readContents_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("appended");
        QTest::addColumn<bool>("dirEntries");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("message");
        const QString two =
            "z.writestr('a.txt', 'x')\nz.writestr('d/', '')\nz.writestr('d/b.txt', 'y')";
        QTest::newRow("folder entries left out")
            << two << QByteArray() << false << 0 << QStringList{"a.txt", "d/b.txt"} << 1 << 0;
        QTest::newRow("folder entries kept")
            << two << QByteArray() << true << 0 << QStringList{"a.txt", "d/", "d/b.txt"} << 0 << 0;
        QTest::newRow("zero padding to 512")
            << two << QByteArray("pad") << false << 0 << QStringList{"a.txt", "d/b.txt"} << 1 << 0;
        QTest::newRow("data after the end")
            << two << QByteArray("junk") << false << 0 << QStringList{"a.txt", "d/b.txt"} << 1
            << int(ZipMsg::DataAfterEnd);
        // "cafX.txt" gets byte 0x82, MS-DOS's e-acute, in place of the X afterwards.
        const QString dos =
            "i = zipfile.ZipInfo('cafX.txt')\ni.create_system = 0\nz.writestr(i, 'x')";
        QTest::newRow("MS-DOS names from code page 437")
            << dos << QByteArray("oem") << false << 0 << QStringList{"café.txt"} << 0 << 0;
        QTest::newRow("cpOEM on a Unix entry")
            << "i = zipfile.ZipInfo('cafX.txt')\ni.create_system = 3\nz.writestr(i, 'x')"
            << QByteArray("oem") << false << 2 << QStringList{"café.txt"} << 0 << 0;
        QTest::newRow("UTF-8 flag wins over the host")
            << "i = zipfile.ZipInfo('caf\\u00e9.txt')\ni.create_system = 0\nz.writestr(i, 'x')"
            << QByteArray() << false << 0 << QStringList{"café.txt"} << 0 << 0;
    }
    void readContents() {
        QFETCH(QString, script);
        QFETCH(QByteArray, appended);
        QFETCH(bool, dirEntries);
        QFETCH(int, codePage);
        QFETCH(QStringList, names);
        QFETCH(int, skipped);
        QFETCH(int, message);
        const QString zip = m_dir->filePath("r.zip");
        python(zip, script + "\nz.comment = b'nightly'");
        if (appended == "oem") {
            QByteArray all = readFile(zip);
            all.replace("cafX", "caf\x82");
            writeFile(zip, all);
        } else if (appended == "pad") {
            QFile f(zip);
            QVERIFY(f.open(QIODevice::Append));
            f.write(QByteArray(512 - f.size() % 512, '\0'));
        } else if (!appended.isEmpty()) {
            QFile f(zip);
            QVERIFY(f.open(QIODevice::Append));
            f.write(appended);
        }
        auto z = make();
        z->SetUnattended(true);
        z->SetUseDirOnlyEntries(dirEntries);
        z->SetCodePage(TZipArchiver::CodePageOpts(codePage));
        z->SetZipFileName(zip);
        QStringList got;
        for (const auto& e : z->Contents())
            got << e.FileName;
        QCOMPARE(got, names);
        QCOMPARE(z->SkippedDirCount(), skipped);
        QCOMPARE(z->ArchiveComment(), QString("nightly"));
        QCOMPARE(z->ErrorCode(), message);
        QCOMPARE(m_watch.dirUpdates, 1);
        QCOMPARE(z->FirstEntryOffset(), 0);
    }

    void spannedOnFixedDrive() {
        auto z = make();
        z->SetUnattended(true);
        const QString f = m_dir->filePath("db.mdb");
        writeFile(f, noise(300000, 5));
        z->SetMaxVolumeSize(100000);
        z->SetMinFreeVolumeSize(1000);
        z->SetAddOptions(TZipArchiver::AddDiskSpan);
        z->SetTempDir(m_dir->filePath("tmp"));
        QDir().mkpath(m_dir->filePath("tmp"));
        z->SetZipFileName(m_dir->filePath("span.zip"));
        z->SetFSpecArgs({f});
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QCOMPARE(files(m_dir->path()),
                 (QStringList{"db.mdb", "span.z01", "span.z02", "span.z03", "span.zip"}));
        QVERIFY(files(m_dir->filePath("tmp")).isEmpty());
        QVERIFY(z->IsSpanned() == false); // the last part holds the directory, not the signature
        QCOMPARE(z->Contents().size(), 1);
        // Info-ZIP joins the parts into an ordinary archive that must test clean.
        QString out;
        QCOMPARE(run("zip",
                     {"-q", "-s", "0", m_dir->filePath("span.zip"), "--out",
                      m_dir->filePath("joined.zip")},
                     &out),
                 0);
        QCOMPARE(run("unzip", {"-tqq", m_dir->filePath("joined.zip")}, &out), 0);
        QCOMPARE(run("unzip", {"-qq", m_dir->filePath("joined.zip"), "-d", m_dir->filePath("x")}),
                 0);
        QCOMPARE(readFile(m_dir->filePath("x/db.mdb")), readFile(f));
    }

    // The size of each part comes from the drive's free space as the drive probe tells it,
    // not from the mount table, which a chroot or container may not show.
    void spannedPartsFollowTheDrivesFreeSpace() {
        testutil::FakeDriveProbe drive(false, 120000);
        auto z = make();
        z->SetUnattended(true);
        const QString f = m_dir->filePath("db.mdb");
        writeFile(f, noise(300000, 6));
        z->SetMinFreeVolumeSize(1000);
        z->SetAddOptions(TZipArchiver::AddDiskSpan);
        z->SetZipFileName(m_dir->filePath("span.zip"));
        z->SetFSpecArgs({f});
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QCOMPARE(files(m_dir->path()), (QStringList{"db.mdb", "span.z01", "span.z02", "span.zip"}));
        QCOMPARE(QFileInfo(m_dir->filePath("span.z01")).size(), 120000);
        QCOMPARE(QFileInfo(m_dir->filePath("span.z02")).size(), 120000);
    }

    // An archive with ZIP64 records does not fit the 32-bit fields of a spanned set.
    void spannedCopyRefusesZip64() {
        auto z = make();
        z->SetUnattended(true);
        QByteArray end(22, '\0');
        qToLittleEndian<quint32>(0x06054B50, end.data());
        qToLittleEndian<quint16>(0xFFFF, end.data() + 8);
        qToLittleEndian<quint16>(0xFFFF, end.data() + 10);
        qToLittleEndian<quint32>(0xFFFFFFFF, end.data() + 16);
        const QString temp = m_dir->filePath("big.tmp");
        writeFile(temp, QByteArray(100, 'x') + end);
        QCOMPARE(z->WriteSpannedArchive(temp, m_dir->filePath("span.zip")), -9);
        QVERIFY2(z->LastMessage().contains("ZIP64"), qPrintable(z->LastMessage()));
        QCOMPARE(files(m_dir->path()), QStringList{"big.tmp"});
    }

    void spannedCopyStopped() {
        auto z = make();
        z->SetUnattended(true);
        const QString f = m_dir->filePath("db.mdb");
        writeFile(f, noise(300000, 7));
        z->SetMaxVolumeSize(100000);
        z->SetMinFreeVolumeSize(1000);
        z->SetAddOptions(TZipArchiver::AddDiskSpan);
        z->SetZipFileName(m_dir->filePath("span.zip"));
        z->SetFSpecArgs({f});
        m_watch.cancelOn = z.get(); // the copy's first progress report sets Cancel
        z->OnProgress = TZipProgressEvent(&m_watch, "Progress");
        m_watch.cancelOnNewFile = true;
        z->Add();
        QCOMPARE(z->AddedCount(), 0);
        QCOMPARE(z->ErrorCode(), int(ZipMsg::SpanAborted));
        QCOMPARE(files(m_dir->path()), QStringList{"db.mdb"});
        QVERIFY(m_ui.shown.isEmpty());
    }

    void selfExtractor() {
        const QString stub = QStringLiteral(ZIPLIB_DIR "/ZipStub.bin");
        if (!QFile::exists(stub)) QSKIP("the self-extractor stub is not built");
        auto z = make();
        z->SetUnattended(true);
        z->SetSFXPath(stub);
        z->SetSFXDefaultDir(m_dir->filePath("default"));
        const QString f = m_dir->filePath("db.mdb");
        writeFile(f, noise(70000, 6) + QByteArray(70000, 'r'));
        z->SetZipFileName(m_dir->filePath("backup.exe"));
        z->SetFSpecArgs({f});
        z->Add();
        QCOMPARE(z->AddedCount(), 1);
        QCOMPARE(z->Contents().size(), 1);
        QVERIFY(z->FirstEntryOffset() >= QFileInfo(stub).size());
        QCOMPARE(z->ErrorCode(), 0);
        QString out;
        QCOMPARE(run(m_dir->filePath("backup.exe"), {"-d", m_dir->filePath("x")}, &out), 0);
        QCOMPARE(readFile(m_dir->filePath("x/db.mdb")), readFile(f));
        // A second add goes into the same self-extractor.
        writeFile(m_dir->filePath("two.mdb"), "two");
        z->SetFSpecArgs({m_dir->filePath("two.mdb")});
        z->Add();
        QCOMPARE(z->Contents().size(), 2);
        QCOMPARE(run(m_dir->filePath("backup.exe"), {}, &out), 0);
        QCOMPARE(readFile(m_dir->filePath("default/two.mdb")), QByteArray("two"));
        QCOMPARE(run("7z", {"t", "-bd", m_dir->filePath("backup.exe")}, &out), 0);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QuietUi m_ui;
    Watcher m_watch;
};

QTEST_MAIN(TestZipArchiver)
#include "tst_ziparchiver.moc"
