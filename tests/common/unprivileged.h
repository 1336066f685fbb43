#pragma once

// Root reads and writes every file, so a test of permissions proves nothing when it runs as
// root, as it does in CI. These helpers run a test body in a forked child that has given up
// root, so the same suite covers what an ordinary user meets.

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testutil {

// The account the child becomes: "nobody", which every Debian system has.
constexpr uid_t unprivilegedUid = 65534;
constexpr gid_t unprivilegedGid = 65534;

inline bool isRoot() {
    return ::geteuid() == 0;
}

// Gives the folders (and everything below them, links not followed) to `uid`/`gid`.
inline bool chownTree(const QStringList& folders, uid_t uid, gid_t gid) {
    bool ok = true;
    for (const QString& folder : folders) {
        ok &= ::lchown(QFile::encodeName(folder).constData(), uid, gid) == 0;
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            ok &= ::lchown(QFile::encodeName(it.next()).constData(), uid, gid) == 0;
    }
    return ok;
}

// Exit status of a child that could not reach a handed-over folder (see runUnprivileged).
constexpr int unreachableFolderStatus = 125;

// The first folder on the way to `path`, `path` included, that this process may not pass
// through; empty when there is none.
inline QByteArray blockedOnTheWayTo(const QString& path) {
    QByteArray way = "/";
    if (::access(way.constData(), X_OK) != 0) return way;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const QString& part :
         QDir::cleanPath(absolute).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!way.endsWith('/')) way += '/';
        way += QFile::encodeName(part);
        if (::access(way.constData(), X_OK) != 0) return way;
    }
    return {};
}

// Who a child becomes: a user, its group and its supplementary groups.
struct Identity {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups = {};
};

// Runs `body` in a child that has become `who` and returns its result, or -1 when the child
// could not become `who` or did not end normally. `handOver` as in runUnprivileged.
// Not root: runs `body` here.
inline int runAs(const Identity& who, const std::function<int()>& body,
                 const QStringList& handOver = {}) {
    if (!isRoot()) return body();
    if (!chownTree(handOver, who.uid, who.gid)) return -1;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Supplementary groups first: root's group would still open group-readable files.
        if (::setgroups(who.groups.size(), who.groups.data()) != 0 || ::setgid(who.gid) != 0 ||
            ::setuid(who.uid) != 0 || (who.uid != 0 && ::setuid(0) == 0))
            ::_exit(126);
        for (const QString& folder : handOver) {
            const QByteArray blocked = blockedOnTheWayTo(folder);
            if (blocked.isEmpty()) continue;
            struct stat st {};
            const unsigned mode = ::stat(blocked.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
            std::fprintf(stderr,
                         "the user with uid %u cannot reach %s: it may not pass through %s "
                         "(mode %04o)\n",
                         unsigned(who.uid), QFile::encodeName(folder).constData(),
                         blocked.constData(), mode);
            std::fflush(stderr);
            ::_exit(unreachableFolderStatus);
        }
        const int result = body();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(result); // no destructors: the parent owns the temporary folders
    }
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    chownTree(handOver, ::geteuid(), ::getegid());
    if (waited != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` as an unprivileged user and returns its result, or -1 when the child could not
// drop root or did not end normally. `handOver` folders belong to that user while the body
// runs and to this process's user afterwards, so the test can check and remove what it made.
// When a folder above one of them is closed to others (a private TMPDIR, a root file system
// made by mktemp -d), every read would fail and every "cannot read" check pass for the wrong
// reason: the child then names the folder in the way and ends with unreachableFolderStatus.
// Not root: runs `body` here.
inline int runUnprivileged(const std::function<int()>& body, const QStringList& handOver = {}) {
    return runAs({unprivilegedUid, unprivilegedGid}, body, handOver);
}

// The same for a body of QVERIFY/QCOMPARE checks: true when none of them failed. The child's
// failures are printed by the child; the caller fails the test on false:
//   QVERIFY(testutil::runTestUnprivileged([&] { QVERIFY(!canRead(file)); }, {dir}));
inline bool runTestUnprivileged(const std::function<void()>& body,
                                const QStringList& handOver = {}) {
    if (!isRoot()) {
        body();
        return !QTest::currentTestFailed();
    }
    return runUnprivileged(
               [&] {
                   body();
                   return QTest::currentTestFailed() ? 1 : 0;
               },
               handOver) == 0;
}

} // namespace testutil
