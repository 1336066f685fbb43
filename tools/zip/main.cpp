// tarnwick-zip: drives the zip archiver unattended, with the main window's settings
// (level 9, names without paths, the twelve store-only suffixes).
#include "archive/ziparchiver.h"
#include "archive/zipmessages.h"
#include "platform/filename.h"
#include "tools/common/cli.h"
#include "tools/common/output.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

const char* const kHelp =
    "Usage: tarnwick-zip add [OPTIONS] [--] ARCHIVE FILE...\n"
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
    "      --version        show the program's version\n"
    "\n"
    "Names may hold the wildcards * and ?; -- ends the options. The exit status is 0 only\n"
    "when every file was added; 2 means wrong use.\n";

class Reporter : public QObject {
    Q_OBJECT
public:
    bool verbose = false;
    bool warned = false;
public slots:
    void Message(QObject*, int code, QString text) {
        if (code != 0) warned = true;
        if (code != 0 || verbose)
            std::fprintf(stderr, "%s\n", tarnwick::fileNameToBytes(text).constData());
    }
};

int usage(const QString& problem) {
    return tarnwick::cli::badUse("tarnwick-zip", tarnwick::fileNameToBytes(problem).toStdString());
}

// The true sizes of an entry: a ZIP64 extra field holds those that do not fit 32 bits.
void realSizes(const ZipDirEntry& e, quint64* uncompressed, quint64* compressed) {
    *uncompressed = e.UncompressedSize;
    *compressed = e.CompressedSize;
    const QByteArray& x = e.ExtraData;
    const auto u16 = [&](qsizetype i) { return quint16(quint8(x[i]) | quint8(x[i + 1]) << 8); };
    const auto u64 = [&](qsizetype i) {
        quint64 v = 0;
        for (int k = 7; k >= 0; --k)
            v = v << 8 | quint8(x[i + k]);
        return v;
    };
    for (qsizetype i = 0; i + 4 <= x.size();) {
        const quint16 id = u16(i), size = u16(i + 2);
        qsizetype at = i + 4;
        const qsizetype end = at + size;
        if (end > x.size()) break;
        if (id == 0x0001) {
            if (e.UncompressedSize == 0xFFFFFFFF && at + 8 <= end) {
                *uncompressed = u64(at);
                at += 8;
            }
            if (e.CompressedSize == 0xFFFFFFFF && at + 8 <= end) *compressed = u64(at);
            break;
        }
        i = end;
    }
}

int list(const QString& archive) {
    struct stat st {};
    const QByteArray bytes = tarnwick::fileNameToBytes(archive);
    if (::stat(bytes.constData(), &st) != 0) {
        std::fprintf(stderr, "tarnwick-zip: %s: %s\n", bytes.constData(), std::strerror(errno));
        return 1;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "tarnwick-zip: %s: not a regular file\n", bytes.constData());
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
        quint64 uncompressed = 0, compressed = 0;
        realSizes(e, &uncompressed, &compressed);
        std::printf("%12llu %12llu %-8s %s %s%s\n", static_cast<unsigned long long>(uncompressed),
                    static_cast<unsigned long long>(compressed),
                    e.CompressionMethod == 0   ? "stored"
                    : e.CompressionMethod == 8 ? "deflated"
                                               : "other",
                    qPrintable(QDateTime(d, t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                    tarnwick::fileNameToBytes(e.FileName).constData(),
                    e.Encrypted ? " (encrypted)" : "");
    }
    if (!z.ArchiveComment().isEmpty())
        std::printf("comment: %s\n", z.ArchiveComment().toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-zip"));
    QStringList args = tarnwick::argumentsFromBytes(argc, argv);
    if (args.isEmpty()) return usage(QStringLiteral("no command given"));
    const qsizetype dashes = args.indexOf(QStringLiteral("--"));
    const QStringList leading = dashes < 0 ? args : args.mid(0, dashes);
    if (leading.contains("-h") || leading.contains("--help")) {
        std::fputs(kHelp, stdout);
        return tarnwick::cli::finishOutput("tarnwick-zip", 0, 2);
    }
    if (leading.contains("--version")) {
        tarnwick::cli::printVersion("tarnwick-zip");
        return tarnwick::cli::finishOutput("tarnwick-zip", 0, 2);
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("list")) {
        if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
        if (args.size() != 1) return usage(QStringLiteral("list takes one archive"));
        if (args.first().startsWith('-') && dashes < 0)
            return usage(QStringLiteral("unknown option ") + args.first());
        return tarnwick::cli::finishOutput("tarnwick-zip", list(args.first()), 1);
    }
    if (command != QLatin1String("add")) return usage(QStringLiteral("unknown command ") + command);

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
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        const bool option = !optionsEnded && a.startsWith('-') && a.size() > 1;
        if (option && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (option && (a == "-l" || a == "--level")) {
            bool ok = false;
            const int level = value().toInt(&ok);
            if (!ok || level < 0 || level > 9)
                return usage(QStringLiteral("the level is a number from 0 to 9"));
            z.SetAddCompLevel(level);
        } else if (option && (a == "-p" || a == "--password")) {
            const QString pw = value();
            if (pw.isEmpty()) return usage(QStringLiteral("the password is empty"));
            z.SetPassword(pw);
            options |= TZipArchiver::AddEncrypt;
        } else if (option && (a == "-r" || a == "--recurse")) {
            options |= TZipArchiver::AddRecurseDirs;
        } else if (option && a == "--paths") {
            options |= TZipArchiver::AddDirNames;
        } else if (option && a == "--temp-dir") {
            z.SetTempDir(value());
        } else if (option && (a == "-v" || a == "--verbose")) {
            z.SetVerbose(true);
            r.verbose = true;
        } else if (option) {
            return usage(QStringLiteral("unknown option ") + a);
        } else if (archive.isEmpty()) {
            archive = a;
        } else {
            files << tarnwick::absoluteFileName(a);
            wildcards = wildcards || a.contains('*') || a.contains('?');
        }
    }
    if (archive.isEmpty() || files.isEmpty())
        return usage(QStringLiteral("add needs an archive and at least one file"));
    z.SetAddOptions(options);
    z.SetZipFileName(tarnwick::absoluteFileName(archive));
    z.SetFSpecArgs(files);
    z.Add();
    const int added = z.AddedCount();
    std::fprintf(stderr, "%d file%s added to %s\n", added, added == 1 ? "" : "s",
                 tarnwick::fileNameToBytes(archive).constData());
    const bool complete =
        added > 0 && !r.warned &&
        (wildcards || options.testFlag(TZipArchiver::AddRecurseDirs) || added == files.size());
    return tarnwick::cli::finishOutput("tarnwick-zip", complete ? 0 : 1, 1);
}

#include "main.moc"
