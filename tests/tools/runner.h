#pragma once

// Runs a program with arguments as exact bytes (QProcess would re-encode them), without a
// display, with a time limit, and with its output in files.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTemporaryFile>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct Run {
    pid_t pid = -1;
    QByteArray errPath;
    int status = 0;
    bool finished = false;

    // Exit code, 128 + signal when killed by one, -1 when it did not end in time.
    int exitCode() const {
        if (!finished) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    QByteArray err() const {
        QFile f(QString::fromLocal8Bit(errPath));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool wait(int ms) {
        QElapsedTimer t;
        t.start();
        while (!finished) {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                finished = true;
                break;
            }
            if (t.elapsed() > ms) return false;
            QThread::msleep(10);
        }
        return true;
    }
    // Ends a run that did not finish (never leaves a process behind).
    void reap() {
        if (finished || pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        finished = true;
    }
};

// Starts `argv` with standard output to `outPath` and standard error to a file of `tmpDir`.
inline Run start(const QList<QByteArray>& argv, const QByteArray& outPath, const QByteArray& tmpDir,
                 const QByteArray& cwd = QByteArray()) {
    static int counter = 0;
    Run run;
    run.errPath = tmpDir + "/stderr-" + QByteArray::number(++counter);
    std::vector<char*> args;
    for (const QByteArray& a : argv)
        args.push_back(const_cast<char*>(a.constData()));
    args.push_back(nullptr);
    // No display: every program must run headless.
    QList<QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (!v.startsWith("DISPLAY=") && !v.startsWith("WAYLAND_DISPLAY=") &&
            !v.startsWith("QT_QPA_PLATFORM="))
            env << v;
    }
    std::vector<char*> envp;
    for (const QByteArray& e : env)
        envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, run.errPath.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.isEmpty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.constData());
    if (posix_spawn(&run.pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        run.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}
