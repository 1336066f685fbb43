// tarnwick-run: runs the backup or the repair-and-compact job with the saved settings and no
// window, for systemd timers and cron. The job's lines go to standard output and the system log.
// Exit status: 0 every file succeeded, 1 some file failed, 2 bad use or nothing to do,
// 75 the job is already running (in the window or another run).

#include "jobs/headless.h"
#include "jobs/savedsettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace tarnwick::jobs;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs Tarnwick's backup or repair-and-compact job with the saved settings, "
                       "without a window.\nExit status: 0 every file succeeded, 1 a file failed, "
                       "2 nothing to do, 75 the job is already running."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("job"), QStringLiteral("backup or compact"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait up to <seconds> for a running job to end."),
                                  QStringLiteral("seconds"), QStringLiteral("0"));
    parser.addOption(wait);
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    bool ok = false;
    const int seconds = parser.value(wait).toInt(&ok);
    if (args.size() != 1 || !ok || seconds < 0 || seconds > 86400) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return HeadlessBadUse;
    }
    const SavedSettings settings = readSavedSettings();
    if (args[0] == QLatin1String("backup")) return runBackupHeadless(settings, seconds * 1000);
    if (args[0] == QLatin1String("compact")) return runCompactHeadless(settings, seconds * 1000);
    std::fputs(qPrintable(parser.helpText()), stderr);
    return HeadlessBadUse;
}
