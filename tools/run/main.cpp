// tarnwick-run: runs the backup or the repair-and-compact job with the saved settings and no
// window, for systemd timers and cron. The job's lines go to standard output and the system log.
// Exit status: 0 every file succeeded, 1 some file failed, 2 bad use or nothing to do,
// 75 the job is already running (in the window or another run). It also restores a backup and
// lists the backups of the saved databases.

#include "jobs/catchup.h"
#include "jobs/headless.h"
#include "jobs/report.h"
#include "jobs/restore.h"
#include "jobs/savedsettings.h"
#include "platform/filename.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"
#include "settings/keys.h"
#include "tools/common/cli.h"
#include "tools/common/output.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace tarnwick::jobs;

namespace {

constexpr char kProgram[] = "tarnwick-run";

int badUse(const QString& why) {
    QString text = why;
    if (text.endsWith(u'.')) text.chop(1);
    return tarnwick::cli::badUse(kProgram, text.toStdString());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Names keep their bytes, also those that are not UTF-8.
    QStringList arguments = tarnwick::argumentsFromBytes(argc, argv);
    arguments.prepend(QString::fromLocal8Bit(argv[0]));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs Tarnwick's backup or repair-and-compact job with the saved settings, without a "
        "window.\n"
        "  backup | compact            run the job\n"
        "  restore BACKUP [--to PATH]  put a backup Tarnwick made back in place\n"
        "  backups [DATABASE]          list the backups of the saved databases\n"
        "Exit status: 0 every file succeeded (or restored), 1 a file failed (or the restore "
        "was refused, nothing changed), 2 bad use or nothing to do, 75 the job is already "
        "running."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the program's version."));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait up to <seconds> for a running job to end."),
                                  QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("restore: put the backup at <path> instead of where "
                                               "it came from."),
                                QStringLiteral("path"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("restore: say what would be done, change "
                                                   "nothing."));
    namespace key = tarnwick::settings::key;
    const QCommandLineOption catchUp(
        QStringLiteral("catch-up"),
        QStringLiteral("backup, compact: run only when its switch is on, [%1] or [%2] %3=1 is "
                       "saved, and its alarm time passed since the last run.")
            .arg(QLatin1String(key::BackupCatchUp.section),
                 QLatin1String(key::CompactCatchUp.section),
                 QLatin1String(key::BackupCatchUp.name)));
    parser.addOptions({help, version, wait, to, dryRun, catchUp});
    parser.addPositionalArgument(QStringLiteral("job"),
                                 QStringLiteral("backup, compact, restore or backups"));
    if (!parser.parse(arguments)) return badUse(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return tarnwick::cli::finishOutput(kProgram, 0, HeadlessBadUse);
    }
    if (parser.isSet(version)) {
        tarnwick::cli::printVersion(kProgram);
        return tarnwick::cli::finishOutput(kProgram, 0, HeadlessBadUse);
    }
    const QStringList args = parser.positionalArguments();
    bool ok = false;
    const int seconds = parser.value(wait).toInt(&ok);
    if (!ok || seconds < 0 || seconds > 86400)
        return badUse(QStringLiteral("--wait takes a number of seconds from 0 to 86400"));
    const QString jobName = args.value(0);
    const bool restore = jobName == QLatin1String("restore");
    if (parser.isSet(catchUp) && jobName != QLatin1String("backup") &&
        jobName != QLatin1String("compact"))
        return badUse(QStringLiteral("--catch-up goes with backup or compact"));
    if ((parser.isSet(to) || parser.isSet(dryRun)) && !restore)
        return badUse(QStringLiteral("--to and --dry-run go with restore"));
    if (restore) {
        if (args.size() != 2) return badUse(QStringLiteral("restore takes one backup file"));
        if (parser.isSet(to) && parser.value(to).isEmpty())
            return badUse(QStringLiteral("--to takes a path"));
        return runRestore({args[1], parser.value(to), parser.isSet(dryRun)});
    }
    if (jobName == QLatin1String("backups")) {
        if (args.size() > 2) return badUse(QStringLiteral("backups takes at most one database"));
        return listBackups(readSavedSettings(), args.value(1));
    }
    if (args.size() != 1) return badUse(QStringLiteral("give one job: backup or compact"));
    if (args[0] != QLatin1String("backup") && args[0] != QLatin1String("compact"))
        return badUse(QStringLiteral("unknown job %1: give backup, compact, restore or backups")
                          .arg(args[0]));
    const TimedJob timed =
        args[0] == QLatin1String("backup") ? TimedJob::Backup : TimedJob::Compact;
    if (parser.isSet(catchUp)) {
        const QDateTime now = tarnwick::TimeSource::current().now();
        const CatchUpState state = savedCatchUpState(timed);
        if (const QString why = whyNoCatchUp(timed, state, now); !why.isEmpty()) {
            std::fprintf(stderr, "Nothing to catch up: %s\n", qPrintable(why));
            return HeadlessOk;
        }
        // As the window says it, before the job's own lines.
        const tarnwick::FormatSettings& format = tarnwick::FormatSettings::current();
        const QString line = QStringLiteral("%1 started late: catch-up of the run missed at %2  ")
                                 .arg(timed == TimedJob::Backup ? QStringLiteral("Backup")
                                                                : QStringLiteral("Repair/Compact"),
                                      format.timestamp(lastAlarm(state.alarm, now))) +
                             format.timestamp(now);
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
        logLine(line, false);
    }
    const SavedSettings settings = readSavedSettings();
    const QDateTime started = tarnwick::TimeSource::current().now();
    const int status = timed == TimedJob::Backup ? runBackupHeadless(settings, seconds * 1000)
                                                 : runCompactHeadless(settings, seconds * 1000);
    // A run that did not start (nothing picked, or another run holds the job) is no run.
    if (status == HeadlessOk || status == HeadlessFailed) {
        if (const QString why = saveLastRun(timed, started); !why.isEmpty())
            std::fprintf(stderr, "%s was not saved: %s\n", key::BackupLastRun.name,
                         qPrintable(why));
    }
    return status;
}
