#include "jobs/verify.h"

#include "platform/filename.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <memory>

namespace tarnwick::jobs {

namespace {

constexpr qint64 kChunk = 1 << 20;

struct ArchiveCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// Opens for reading by the name's exact bytes (QFile would re-encode a name that is not UTF-8),
// without blocking on a FIFO put in its place.
bool openByName(QFile& file, const QString& name) {
    const int fd =
        ::open(fileNameToBytes(name).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

} // namespace

QString checkArchive(const QString& archive, const QString& source, QByteArray* sha256) {
    int error = 0;
    std::unique_ptr<zip_t, ArchiveCloser> z(
        zip_open(fileNameToBytes(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        return QStringLiteral("the archive cannot be opened (%1)").arg(why);
    }
    QFile original;
    if (!openByName(original, source))
        return QStringLiteral("the source cannot be read (%1)").arg(original.errorString());
    const QString wanted = QFileInfo(source).fileName();
    bool found = false;
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (zip_int64_t i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(zip_get_name(z.get(), i, ZIP_FL_ENC_GUESS));
        const bool isSource = !found && QFileInfo(name).fileName() == wanted;
        // Reading an entry to its end makes the library check its CRC.
        std::unique_ptr<zip_file_t, EntryCloser> f(zip_fopen_index(z.get(), i, 0));
        if (!f) return QStringLiteral("entry %1 cannot be read").arg(name);
        if (isSource) original.seek(0);
        bool same = isSource;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (;;) {
            const zip_int64_t got = zip_fread(f.get(), buffer.data(), kChunk);
            if (got < 0)
                return QStringLiteral("entry %1 is damaged (%2)")
                    .arg(name, QString::fromUtf8(zip_error_strerror(zip_file_get_error(f.get()))));
            if (got == 0) break;
            if (same) same = original.read(got) == QByteArrayView(buffer.constData(), got);
            if (same) hash.addData(QByteArrayView(buffer.constData(), got));
        }
        if (same && original.atEnd()) {
            found = true;
            if (sha256) *sha256 = hash.result().toHex();
        }
    }
    if (!found) return QStringLiteral("no entry holds the bytes of %1").arg(source);
    return {};
}

QString compareFiles(const QString& source, const QString& copy, QByteArray* sha256) {
    QFile a, b;
    if (!openByName(a, source)) return QStringLiteral("%1 cannot be read").arg(source);
    if (!openByName(b, copy)) return QStringLiteral("%1 cannot be read").arg(copy);
    if (a.size() != b.size()) return QStringLiteral("%1 has another size").arg(copy);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (!a.atEnd()) {
        const QByteArray x = a.read(kChunk), y = b.read(kChunk);
        if (x.isEmpty() && a.error() != QFileDevice::NoError)
            return QStringLiteral("%1 cannot be read").arg(source);
        if (x != y) return QStringLiteral("%1 differs from %2").arg(copy, source);
        hash.addData(y);
    }
    if (sha256) *sha256 = hash.result().toHex();
    return {};
}

} // namespace tarnwick::jobs
