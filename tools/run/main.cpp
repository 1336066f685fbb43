// tarnwick-run: runs the backup or the repair-and-compact job with the saved settings and no
// window, for systemd timers and cron. The job's lines go to standard output and the system log.
// Exit status: 0 every file succeeded, 1 some file failed, 2 bad use or nothing to do,
// 75 the job is already running (in the window or another run).

#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/defaultengine.h"
#include "jobs/plaintools.h"
#include "jobs/report.h"
#include "jobs/runningjob.h"
#include "jobs/savedsettings.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <sysexits.h>

using namespace tarnwick;
using namespace tarnwick::jobs;

namespace {

void out(const QString& line, bool failure) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    logLine(line, failure);
}

QString stamp() {
    return FormatSettings::current().timestamp(TimeSource::current().now());
}

int backup(const SavedSettings& s, int waitMs) {
    if (s.backup.fileName.isEmpty()) {
        std::fputs("There was no file selected to backup!\n", stderr);
        return 2;
    }
    RunningJob job(QStringLiteral("backup"), QStringLiteral("Backing up databases"), waitMs);
    if (!job.started()) {
        out(QStringLiteral("Backup not started: %1  ").arg(job.error()) + stamp(), true);
        return job.error() == QLatin1String("the job is already running") ? EX_TEMPFAIL : 1;
    }
    PlainBackupTools tools;
    const BackupResult r = runBackup(s.backup, tools);
    const bool failed = r.outcome != BackupResult::Succeeded;
    out(r.line, failed);
    for (const QString& p : r.problems + tools.lastErrors)
        std::fprintf(stderr, "%s\n", qPrintable(p));
    if (failed) reportFailure(QStringLiteral("Tarnwick backup failed"), r.problems);
    return failed ? 1 : 0;
}

int compact(const SavedSettings& s, int waitMs) {
    if (s.compact.files.isEmpty() || s.compact.version.isEmpty()) {
        std::fputs("Either a file or Jet Engine was not selected!\n", stderr);
        return 2;
    }
    RunningJob job(QStringLiteral("compact"), QStringLiteral("Compacting databases"), waitMs);
    if (!job.started()) {
        out(QStringLiteral("Repair/Compact not started: %1  ").arg(job.error()) + stamp() +
                QStringLiteral("\n\r"),
            true);
        return job.error() == QLatin1String("the job is already running") ? EX_TEMPFAIL : 1;
    }
    const auto engine = makeDefaultEngine(s.compact.version);
    CompactCallbacks callbacks;
    callbacks.line = [](const QString& line) {
        out(line.trimmed(), line.contains(QLatin1String("Unsuccessful")) ||
                                line.contains(QLatin1String("not started")));
    };
    const CompactResult r = runCompact(s.compact, *engine, callbacks);
    for (const QString& p : r.problems)
        std::fprintf(stderr, "%s\n", qPrintable(p));
    if (!r.ok()) reportFailure(QStringLiteral("Tarnwick repair and compaction failed"), r.problems);
    return r.ok() ? 0 : 1;
}

} // namespace

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
        return 2;
    }
    const SavedSettings settings = readSavedSettings();
    if (args[0] == QLatin1String("backup")) return backup(settings, seconds * 1000);
    if (args[0] == QLatin1String("compact")) return compact(settings, seconds * 1000);
    std::fputs(qPrintable(parser.helpText()), stderr);
    return 2;
}
