#include "jobs/provenance.h"

#include "platform/filename.h"
#include "platform/posix/uniquefd.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace tarnwick::jobs {

namespace {

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray escape(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '%' || c == '=')
            out += '%' + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

bool unescape(const QByteArray& text, QByteArray& out) {
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        out += static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16));
        i += 2;
    }
    return true;
}

QByteArray field(const char* key, const QByteArray& value) {
    return QByteArray(key) + '=' + escape(value);
}

QByteArray sourceFields(const BackupRecord& r) {
    return field("source", r.source) + ' ' + field("size", QByteArray::number(r.size)) + ' ' +
           field("mtime", r.mtime) + ' ' + field("sha256", r.sha256);
}

struct ArchiveCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};

} // namespace

bool BackupRecord::valid() const {
    if (source.isEmpty() || !source.startsWith('/') || size < 0 || mtime.isEmpty()) return false;
    if (sha256.size() != 64) return false;
    for (const char c : sha256)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

QByteArray archiveComment(const BackupRecord& r) {
    return "tarnwick-backup " + sourceFields(r);
}

QByteArray logLine(const BackupRecord& r) {
    return field("made", r.made) + ' ' + field("kind", r.kind) + ' ' + field("backup", r.backup) +
           ' ' + sourceFields(r);
}

bool parseRecord(const QByteArray& line, BackupRecord& r) {
    r = {};
    bool any = false;
    for (const QByteArray& token : line.trimmed().split(' ')) {
        const qsizetype eq = token.indexOf('=');
        if (eq < 0) {
            if (token != "tarnwick-backup") return false;
            continue;
        }
        QByteArray value;
        if (!unescape(token.mid(eq + 1), value)) return false;
        const QByteArray key = token.left(eq);
        any = true;
        if (key == "made")
            r.made = value;
        else if (key == "kind")
            r.kind = value;
        else if (key == "backup")
            r.backup = value;
        else if (key == "source")
            r.source = value;
        else if (key == "mtime")
            r.mtime = value;
        else if (key == "sha256")
            r.sha256 = value;
        else if (key == "size") {
            bool ok = false;
            r.size = value.toLongLong(&ok);
            if (!ok) return false;
        } // later keys are for later versions
    }
    return any && r.valid();
}

QString describeSource(const QString& source, BackupRecord& r) {
    r.source = fileNameToBytes(absoluteFileName(source));
    struct stat st {};
    if (::stat(r.source.constData(), &st) != 0) return source + QStringLiteral(": ") + sysError();
    r.size = st.st_size;
    r.mtime = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec, Qt::UTC)
                  .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                  .toLatin1() +
              '.' +
              QByteArray::number(static_cast<qint64>(st.st_mtim.tv_nsec)).rightJustified(9, '0') +
              'Z';
    return {};
}

QString hashFile(const QString& path, BackupRecord& r) {
    posix::UniqueFd fd(
        ::open(fileNameToBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return path + QStringLiteral(": ") + sysError();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return path + QStringLiteral(": ") + sysError();
    if (!S_ISREG(st.st_mode)) return path + QStringLiteral(": it is not a regular file");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            return path + QStringLiteral(": ") + sysError();
        }
        if (n == 0) break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
    }
    r.size = total;
    r.sha256 = hash.result().toHex();
    return {};
}

QString appendBackupLog(const QString& folder, const BackupRecord& r) {
    const QByteArray path = fileNameToBytes(folder) + '/' + kBackupLogName;
    const QString shown = fileNameFromBytes(path);
    posix::UniqueFd fd(::open(
        path.constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600));
    if (!fd) return shown + QStringLiteral(": ") + sysError();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return shown + QStringLiteral(": ") + sysError();
    if (!S_ISREG(st.st_mode)) return shown + QStringLiteral(": it is not a regular file");
    const QByteArray line = logLine(r) + '\n';
    // One write, so lines of runs in parallel never interleave.
    const ssize_t n = ::write(fd.get(), line.constData(), static_cast<size_t>(line.size()));
    if (n < 0) return shown + QStringLiteral(": ") + sysError();
    if (n != line.size()) return shown + QStringLiteral(": the line was cut short (disk full?)");
    if (::fsync(fd.get()) != 0) return shown + QStringLiteral(": ") + sysError();
    // A log just made must survive a crash too.
    if (st.st_size == line.size()) {
        posix::UniqueFd dir(
            ::open(fileNameToBytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir || ::fsync(dir.get()) != 0)
            return fileNameFromBytes(fileNameToBytes(folder)) + QStringLiteral(": ") + sysError();
    }
    if (fd.close() != 0) return shown + QStringLiteral(": ") + sysError();
    return {};
}

QList<BackupRecord> readBackupLog(const QString& folder, QString* error) {
    QList<BackupRecord> records;
    const QByteArray path = fileNameToBytes(folder) + '/' + kBackupLogName;
    posix::UniqueFd fd(
        ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        if (errno != ENOENT && error)
            *error = fileNameFromBytes(path) + QStringLiteral(": ") + sysError();
        return records;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = fileNameFromBytes(path) + QStringLiteral(": it is not a regular file");
        return records;
    }
    QByteArray text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = fileNameFromBytes(path) + QStringLiteral(": ") + sysError();
            return {};
        }
        if (n == 0) break;
        text.append(buffer, n);
    }
    for (const QByteArray& line : text.split('\n')) {
        BackupRecord r;
        // A line cut short by a crash, or not ours, is no record.
        if (parseRecord(line, r) && !r.backup.isEmpty() && !r.backup.contains('/') &&
            (r.kind == "zip" || r.kind == "copy"))
            records << r;
    }
    return records;
}

QList<BackupRecord> latestPerBackup(const QList<BackupRecord>& log) {
    QHash<QByteArray, qsizetype> last;
    for (qsizetype i = 0; i < log.size(); ++i)
        last[log[i].backup] = i;
    QList<BackupRecord> latest;
    for (qsizetype i = 0; i < log.size(); ++i)
        if (last.value(log[i].backup) == i) latest << log[i];
    return latest;
}

QByteArray readArchiveComment(const QString& archive) {
    int error = 0;
    // Never through a link, never blocking on a FIFO.
    const int fd = ::open(fileNameToBytes(archive).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    std::unique_ptr<zip_t, ArchiveCloser> z(zip_fdopen(fd, ZIP_RDONLY, &error));
    if (!z) {
        ::close(fd);
        return {};
    }
    int length = 0;
    const char* comment = zip_get_archive_comment(z.get(), &length, ZIP_FL_ENC_RAW);
    return comment ? QByteArray(comment, length) : QByteArray();
}

} // namespace tarnwick::jobs
