// tarnwick-zip: drives the zip archiver unattended, with the main window's settings
// (level 9, names without paths, the twelve store-only suffixes).
#include "archive/ziparchiver.h"
#include "archive/zipmessages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>

namespace {

const char* const kHelp =
    "Usage: tarnwick-zip add [OPTIONS] ARCHIVE FILE...\n"
    "       tarnwick-zip list ARCHIVE\n"
    "\n"
    "add   adds the files to the archive, creating it when needed. Files already in it\n"
    "      under the same name are replaced; other entries are kept.\n"
    "list  shows the archive's entries.\n"
    "\n"
    "Options of add:\n"
    "  -l, --level N        compression level 0-9 (default 9)\n"
    "  -p, --password TEXT  encrypt with this password (traditional zip encryption)\n"
    "  -r, --recurse        go into folders named or matched\n"
    "      --paths          keep the folder part of names (default: bare file names)\n"
    "      --temp-dir DIR   write the new archive in DIR first\n"
    "  -v, --verbose        show what is being done\n"
    "  -h, --help           show this text\n"
    "\n"
    "Names may hold the wildcards * and ?. The exit status is 0 only when every file was\n"
    "added.\n";

class Reporter : public QObject {
    Q_OBJECT
public:
    bool verbose = false;
    bool warned = false;
public slots:
    void Message(QObject*, int code, QString text) {
        if (code != 0) warned = true;
        if (code != 0 || verbose) std::fprintf(stderr, "%s\n", qPrintable(text));
    }
};

int usage(const char* problem) {
    std::fprintf(stderr, "tarnwick-zip: %s\n\n%s", problem, kHelp);
    return 2;
}

int list(const QString& archive) {
    if (!QFileInfo(archive).isFile()) {
        std::fprintf(stderr, "tarnwick-zip: %s: no such archive\n", qPrintable(archive));
        return 1;
    }
    TZipArchiver z;
    z.SetUnattended(true);
    Reporter r;
    r.verbose = true;
    z.OnMessage = TZipMessageEvent(&r, "Message");
    z.SetZipFileName(archive);
    if (z.ErrorCode() != 0) return 1;
    for (const auto& e : z.Contents()) {
        const QDate d((e.ModDate >> 9) + 1980, (e.ModDate >> 5) & 15, e.ModDate & 31);
        const QTime t(e.ModTime >> 11, (e.ModTime >> 5) & 63, (e.ModTime & 31) * 2);
        std::printf("%12u %12u %-8s %s %s%s\n", e.UncompressedSize, e.CompressedSize,
                    e.CompressionMethod == 0   ? "stored"
                    : e.CompressionMethod == 8 ? "deflated"
                                               : "other",
                    qPrintable(QDateTime(d, t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                    qPrintable(e.FileName), e.Encrypted ? " (encrypted)" : "");
    }
    if (!z.ArchiveComment().isEmpty()) std::printf("comment: %s\n", qPrintable(z.ArchiveComment()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-zip"));
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return usage("no command given");
    if (args.contains("-h") || args.contains("--help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("list")) {
        if (args.size() != 1) return usage("list takes one archive");
        return list(args.first());
    }
    if (command != QLatin1String("add")) return usage("unknown command");

    TZipArchiver z;
    z.SetUnattended(true);
    z.SetAddCompLevel(9);
    z.SetAddStoreSuffixes(TZipArchiver::AddStoreExts(0xFFF));
    Reporter r;
    z.OnMessage = TZipMessageEvent(&r, "Message");
    TZipArchiver::AddOpts options;
    QStringList files;
    QString archive;
    bool wildcards = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (a == "-l" || a == "--level") {
            bool ok = false;
            const int level = value().toInt(&ok);
            if (!ok || level < 0 || level > 9) return usage("the level is a number from 0 to 9");
            z.SetAddCompLevel(level);
        } else if (a == "-p" || a == "--password") {
            const QString pw = value();
            if (pw.isEmpty()) return usage("the password is empty");
            z.SetPassword(pw);
            options |= TZipArchiver::AddEncrypt;
        } else if (a == "-r" || a == "--recurse") {
            options |= TZipArchiver::AddRecurseDirs;
        } else if (a == "--paths") {
            options |= TZipArchiver::AddDirNames;
        } else if (a == "--temp-dir") {
            z.SetTempDir(value());
        } else if (a == "-v" || a == "--verbose") {
            z.SetVerbose(true);
            r.verbose = true;
        } else if (a.startsWith('-') && a.size() > 1) {
            return usage("unknown option");
        } else if (archive.isEmpty()) {
            archive = a;
        } else {
            files << QFileInfo(a).absoluteFilePath();
            wildcards = wildcards || a.contains('*') || a.contains('?');
        }
    }
    if (archive.isEmpty() || files.isEmpty())
        return usage("add needs an archive and at least one file");
    z.SetAddOptions(options);
    z.SetZipFileName(QFileInfo(archive).absoluteFilePath());
    z.SetFSpecArgs(files);
    z.Add();
    const int added = z.AddedCount();
    std::fprintf(stderr, "%d file%s added to %s\n", added, added == 1 ? "" : "s",
                 qPrintable(archive));
    const bool complete =
        added > 0 && !r.warned &&
        (wildcards || options.testFlag(TZipArchiver::AddRecurseDirs) || added == files.size());
    return complete ? 0 : 1;
}

#include "main.moc"
