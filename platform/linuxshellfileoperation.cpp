#include "platform/linuxshellfileoperation.h"

#include "platform/filename.h"
#include "platform/posix/durablereplace.h"
#include "platform/posix/faults.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

QByteArray encoded(const QString& path) {
    return fileNameToBytes(path);
}

// Creates `folder` and the folders leading to it, by their exact bytes.
bool makeFolders(const QByteArray& folder) {
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0) return S_ISDIR(st.st_mode);
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0 && !makeFolders(folder.left(slash))) return false;
    return ::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST;
}

using Fd = posix::UniqueFd;

enum class Method { Reflink, InKernel, ReadWrite };

struct DataOutcome {
    int error = 0; // errno of the failing step, 0 when the data is safely on disk
    bool cancelled = false;
    Method method = Method::InKernel;
};

// Errors with which copy_file_range says "not between these two files", not "the copy failed".
bool inKernelUnsupported(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF ||
           err == ETXTBSY || err == EPERM;
}

const char* kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "something else";
}

// Copies the whole of `in` (positioned at 0) to the empty `out`, then gives `out` the source's
// modification time. Runs on the worker thread.
DataOutcome copyData(int in, int out, const struct stat& source, qint64 chunk,
                     const std::atomic<bool>& cancel, std::atomic<qint64>& done) {
    DataOutcome result;
    if (::ioctl(out, FICLONE, in) == 0) {
        result.method = Method::Reflink;
        done.store(source.st_size);
    } else {
        bool inKernel = true;
        for (;;) {
            if (inKernel) {
                ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(chunk), 0);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    if (!inKernelUnsupported(errno)) {
                        result.error = errno;
                        return result;
                    }
                    inKernel = false;
                    result.method = Method::ReadWrite;
                    continue;
                }
                if (n == 0) {
                    // End of file, or a file that only reading reveals: make sure with read.
                    inKernel = false;
                    continue;
                }
                // Start writing this chunk out now, so that the flush at the end does not
                // have the whole file still ahead of it.
                ::sync_file_range(out, done.fetch_add(n), n, SYNC_FILE_RANGE_WRITE);
            } else {
                static constexpr ssize_t bufferSize = 1 << 20;
                std::vector<char> buffer(bufferSize);
                ssize_t n = 0;
                for (;;) {
                    n = ::read(in, buffer.data(), buffer.size());
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) break;
                    if (const int e = posix::writeAll(out, buffer.data(), size_t(n))) {
                        result.error = e;
                        return result;
                    }
                    ::sync_file_range(out, done.fetch_add(n), n, SYNC_FILE_RANGE_WRITE);
                    if (cancel.load()) break;
                }
                if (n < 0) {
                    result.error = errno;
                    return result;
                }
                if (cancel.load()) result.cancelled = true;
                break;
            }
            // Checked after a step, so a cancel always finds a started file to clean up.
            if (cancel.load()) {
                result.cancelled = true;
                return result;
            }
        }
        if (result.cancelled) return result;
    }
    // The copy keeps the source's time (the backup's age is the database's age).
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    if (::futimens(out, times) != 0) result.error = errno;
    return result;
}

QString errorText(int err) {
    switch (err) {
    case ENOENT:
        return QStringLiteral("The file cannot be found.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Access is denied.");
    case EROFS:
        return QStringLiteral("Access is denied: the disk is write-protected.");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("There is not enough free space on the disk.");
    case EISDIR:
        return QStringLiteral("It is a folder; only files are copied.");
    case ENOTDIR:
        return QStringLiteral("The target is not a folder.");
    default:
        return QString::fromLocal8Bit(std::strerror(err)) + QLatin1Char('.');
    }
}

bool hasWildcard(const QString& name) {
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?')) ||
           name.contains(QLatin1Char('['));
}

// Names a source list item stands for: itself, or what its wildcard matches.
QStringList expand(const QString& source, bool filesOnly) {
    const QFileInfo info(source);
    if (info.exists() || info.isSymLink() || !hasWildcard(info.fileName())) return {source};
    QDir::Filters filters = QDir::Files | QDir::Hidden | QDir::System;
    if (!filesOnly) filters |= QDir::Dirs | QDir::NoDotAndDotDot;
    const QFileInfoList matches =
        QDir(info.path()).entryInfoList({info.fileName()}, filters, QDir::Name | QDir::IgnoreCase);
    if (matches.isEmpty()) return {source}; // reported as missing
    QStringList names;
    for (const QFileInfo& m : matches)
        names << m.filePath();
    return names;
}

// Lets the worker run while the main thread keeps its events and the progress window going.
template <typename Work> void runWithEvents(Work work, const std::function<void()>& tick) {
    std::atomic<bool> finished{false};
    if (!QCoreApplication::instance()) {
        work();
        return;
    }
    QEventLoop loop;
    std::thread worker([&] {
        work();
        finished.store(true);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        tick();
        if (finished.load()) loop.quit();
    });
    timer.start();
    tick();
    while (!finished.load())
        loop.exec();
    worker.join();
}

} // namespace

namespace {
std::mutex defaultUiMutex;
LinuxShellFileOperation::UiFactory& defaultUi() {
    static LinuxShellFileOperation::UiFactory factory;
    return factory;
}
} // namespace

void LinuxShellFileOperation::setDefaultUi(UiFactory factory) {
    const std::lock_guard lock(defaultUiMutex);
    defaultUi() = std::move(factory);
}

LinuxShellFileOperation::LinuxShellFileOperation()
    : m_factory([]() -> std::unique_ptr<ShellCopyUi> {
          UiFactory factory;
          {
              const std::lock_guard lock(defaultUiMutex);
              factory = defaultUi();
          }
          if (factory) return factory();
          return std::make_unique<UnattendedShellCopyUi>();
      }) {}

LinuxShellFileOperation::LinuxShellFileOperation(ShellCopyUi* ui) {
    // Hands the same object out for every request without taking it over.
    struct Borrowed : ShellCopyUi {
        explicit Borrowed(ShellCopyUi* u) : ui(u) {}
        void begin(const QString& t, bool n, qint64 b, int f) override { ui->begin(t, n, b, f); }
        void progress(const QString& s, const QString& t, qint64 d) override {
            ui->progress(s, t, d);
        }
        bool cancelRequested() override { return ui->cancelRequested(); }
        void end() override { ui->end(); }
        Choice askError(const QString& p, const QString& m) override { return ui->askError(p, m); }
        void notice(const QString& p, const QString& m) override { ui->notice(p, m); }
        ReplaceChoice askReplace(const QString& t) override { return ui->askReplace(t); }
        ShellCopyUi* ui;
    };
    m_factory = [ui] { return std::make_unique<Borrowed>(ui); };
}

LinuxShellFileOperation::LinuxShellFileOperation(UiFactory factory)
    : m_factory(std::move(factory)) {}

QString LinuxShellFileOperation::collisionName(const QString& fileName, int n) {
    QString stem = fileName;
    QString ext;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        stem = fileName.left(dot);
        ext = fileName.mid(dot);
        if (stem.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive) && stem.size() > 4) {
            stem.chop(4);
            ext.prepend(QLatin1String(".tar"));
        }
    }
    static const QRegularExpression numbered(QStringLiteral("^(.*) \\((\\d{1,9})\\)$"));
    const QRegularExpressionMatch m = numbered.match(stem);
    int base = 0;
    if (m.hasMatch()) {
        stem = m.captured(1);
        base = m.captured(2).toInt();
    }
    return QStringLiteral("%1 (%2)%3").arg(stem).arg(base + n).arg(ext);
}

ShellCopyResult LinuxShellFileOperation::copy(const ShellCopyRequest& request) {
    ShellCopyResult result;
    m_methods = {};
    const bool silent = request.flags & fofSilent;
    const bool rename = request.flags & fofRenameOnCollision;
    const bool noConfirm = request.flags & fofNoConfirmation;
    const bool simple = request.flags & fofSimpleProgress;
    const bool makeDir = request.flags & fofNoConfirmMkdir;

    QStringList items;
    for (const QString& source : request.sources) {
        if (!source.isEmpty()) items << expand(source, request.flags & fofFilesOnly);
    }
    if (items.isEmpty()) return result;

    qint64 totalBytes = 0;
    for (const QString& item : items) {
        struct stat st {};
        if (::stat(encoded(item).constData(), &st) == 0 && S_ISREG(st.st_mode))
            totalBytes += st.st_size;
    }

    std::unique_ptr<ShellCopyUi> ui = m_factory();
    if (!silent)
        ui->begin(simple ? request.progressTitle : QString(), !simple, totalBytes,
                  int(items.size()));
    struct EndProgress {
        ShellCopyUi* ui;
        bool on;
        ~EndProgress() {
            if (on) ui->end();
        }
    } endProgress{ui.get(), !silent};
    const auto cancelled = [&] { return !silent && ui->cancelRequested(); };

    // The target folder.
    const QString folder = QDir::cleanPath(request.destination);
    Fd dir;
    for (;;) {
        if (makeDir) makeFolders(encoded(folder));
        dir.reset(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.valid()) break;
        const int err = errno;
        const QString message =
            err == ENOENT ? QStringLiteral("The target folder \"%1\" does not exist.").arg(folder)
                          : errorText(err);
        switch (ui->askError(folder, message)) {
        case ShellCopyUi::Retry:
            continue;
        case ShellCopyUi::Skip:
            result.failures = int(items.size());
            return result;
        case ShellCopyUi::Cancel:
            result.anyOperationsAborted = true;
            return result;
        }
    }

    bool replaceAll = false;
    qint64 doneBefore = 0;
    for (int i = 0; i < items.size(); ++i) {
        const QString& source = items.at(i);
        const QString name = QFileInfo(source).fileName();
        const QString target = folder + QLatin1Char('/') + name;
        if (cancelled()) {
            result.anyOperationsAborted = true;
            break;
        }
        if (!silent) ui->progress(source, target, doneBefore);

        // A failed step asks the user; true means "try this item again".
        enum class Next { Retry, Skip, Stop };
        const auto fail = [&](int err) {
            switch (ui->askError(source, errorText(err))) {
            case ShellCopyUi::Retry:
                return Next::Retry;
            case ShellCopyUi::Skip:
                ++result.failures;
                return Next::Skip;
            case ShellCopyUi::Cancel:
                break;
            }
            result.anyOperationsAborted = true;
            return Next::Stop;
        };

        Next next = Next::Retry;
        while (next == Next::Retry) {
            next = Next::Skip;
            // Never blocks: a FIFO or device is seen for what it is before anything is read.
            Fd in(
                ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
            struct stat st {};
            if (!in.valid() || ::fstat(in.get(), &st) != 0) {
                next = fail(errno);
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                next = fail(EISDIR);
                continue;
            }
            if (!S_ISREG(st.st_mode)) {
                // Not a question anyone can answer differently: said, counted and left.
                ui->notice(
                    source,
                    QStringLiteral("It is %1, not a file; skipped.").arg(kindOf(st.st_mode)));
                ++result.failures;
                continue;
            }

            const QByteArray targetName = encoded(name);
            struct stat existing {};
            if (!rename && ::fstatat(dir.get(), targetName.constData(), &existing, 0) == 0) {
                if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) {
                    switch (ui->askError(source, QStringLiteral("The source and destination "
                                                                "file names are the same."))) {
                    case ShellCopyUi::Retry:
                        next = Next::Retry;
                        break;
                    case ShellCopyUi::Skip:
                        ++result.failures;
                        break;
                    case ShellCopyUi::Cancel:
                        result.anyOperationsAborted = true;
                        next = Next::Stop;
                        break;
                    }
                    continue;
                }
                if (!noConfirm && !replaceAll) {
                    const ShellCopyUi::ReplaceChoice answer = ui->askReplace(target);
                    if (answer == ShellCopyUi::ReplaceNo) continue;
                    if (answer == ShellCopyUi::ReplaceCancel) {
                        result.anyOperationsAborted = true;
                        next = Next::Stop;
                        continue;
                    }
                    replaceAll = answer == ShellCopyUi::ReplaceAll;
                }
            }

            // The data goes to a hidden temporary file beside its final place. A copy is never
            // more readable than its source, and belongs to whoever made it.
            posix::ReplaceOptions options;
            options.newFileMode = st.st_mode & 0777;
            options.keepOwner = false;
            options.newNameOnly = rename;
            posix::DurableReplace out;
            if (!out.openAt(dir.get(), targetName.toStdString(), options)) {
                if (out.refused()) {
                    ui->notice(target, QStringLiteral("It is not a file; it was left as it is."));
                    ++result.failures;
                    continue;
                }
                next = fail(out.errorCode());
                continue;
            }
            out.setMode(st.st_mode & 0777);

            std::atomic<bool> stop{false};
            std::atomic<qint64> done{0};
            DataOutcome outcome;
            if (cancelled()) stop.store(true);
            const int inFd = in.get();
            const qint64 chunk = m_chunk;
            runWithEvents(
                [&] {
                    outcome = copyData(inFd, out.fd(), st, chunk, stop, done);
                    if (outcome.error == 0 && !outcome.cancelled && !out.sync())
                        outcome.error = out.errorCode();
                },
                [&] {
                    if (silent) return;
                    ui->progress(source, target, doneBefore + done.load());
                    if (ui->cancelRequested()) stop.store(true);
                });
            if (outcome.cancelled) {
                out.discard();
                result.anyOperationsAborted = true;
                next = Next::Stop;
                continue;
            }
            if (outcome.error != 0) {
                out.discard();
                next = fail(outcome.error);
                continue;
            }

            // Into place: a free name when renaming, else replacing the old file atomically.
            QString finalName = name;
            bool placed = false;
            if (rename) {
                for (int n = 0; n <= 100000; ++n) {
                    finalName = n == 0 ? name : collisionName(name, n);
                    placed = out.commitAsNew(encoded(finalName).toStdString());
                    if (placed || out.errorCode() != EEXIST) break;
                }
            } else {
                placed = out.commit();
            }
            if (!placed) {
                const int err = out.errorCode();
                out.discard();
                next = fail(err);
                continue;
            }

            switch (outcome.method) {
            case Method::Reflink:
                ++m_methods.reflink;
                break;
            case Method::InKernel:
                ++m_methods.inKernel;
                break;
            case Method::ReadWrite:
                ++m_methods.readWrite;
                break;
            }
            result.written << folder + QLatin1Char('/') + finalName;
            // The copy is sound, but a second name of it may have stayed behind: say so.
            if (!out.warning().empty())
                result.warnings << target + QStringLiteral(": ") +
                                       QString::fromStdString(out.warning());
            doneBefore += done.load();
            if (!silent) ui->progress(source, target, doneBefore);
        }
        if (next == Next::Stop) break;
    }
    return result;
}

} // namespace tarnwick
