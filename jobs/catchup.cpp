#include "jobs/catchup.h"

#include "settings/keys.h"

#include <QLocale>

namespace tarnwick::jobs {

namespace {

namespace key = settings::key;

constexpr char kFormat[] = "yyyy-MM-ddTHH:mm:ss";

const settings::Key& keyOf(TimedJob job, const settings::Key& backup,
                           const settings::Key& compact) {
    return job == TimedJob::Backup ? backup : compact;
}

QString readValue(const settings::Key& k) {
    IniKeyStore store;
    return settings::read(store, k).trimmed();
}

bool isOn(const settings::Key& k) {
    IniKeyStore store;
    return settings::readOn(store, k);
}

} // namespace

QDateTime lastRun(TimedJob job) {
    QDateTime t =
        QDateTime::fromString(readValue(keyOf(job, key::BackupLastRun, key::CompactLastRun)),
                              QString::fromLatin1(kFormat));
    t.setTimeSpec(Qt::LocalTime);
    return t;
}

QString saveLastRun(TimedJob job, const QDateTime& when) {
    IniKeyStore store;
    if (!settings::write(store, keyOf(job, key::BackupLastRun, key::CompactLastRun),
                         when.toString(QString::fromLatin1(kFormat))) ||
        !store.flush())
        return store.lastError().isEmpty() ? QStringLiteral("the settings cannot be written")
                                           : store.lastError();
    return {};
}

QString whyNoCatchUp(TimedJob job, const QDateTime& now) {
    const settings::Key& catchUp = keyOf(job, key::BackupCatchUp, key::CompactCatchUp);
    if (!isOn(catchUp))
        return QStringLiteral("catching up is not turned on ([%1] %2)")
            .arg(QLatin1String(catchUp.section), QLatin1String(catchUp.name));
    if (!isOn(keyOf(job, key::BackupSwitch, key::CompactSwitch)))
        return QStringLiteral("the job's switch is off");
    bool ok = false;
    // The alarm time is stored as a fraction of a day.
    const double day =
        QLocale::c().toDouble(readValue(keyOf(job, key::BackupTime, key::CompactTime)), &ok);
    if (!ok || day < 0 || day >= 1) return QStringLiteral("no alarm time is saved");
    const QTime at = QTime(0, 0).addMSecs(static_cast<int>(day * 86400000.0 + 0.5));
    // The last moment the alarm would have gone off.
    QDateTime alarm(now.date(), at, Qt::LocalTime);
    if (alarm > now) alarm = alarm.addDays(-1);
    const QDateTime last = lastRun(job);
    if (last.isValid() && last >= alarm)
        return QStringLiteral("it ran at %1, after its alarm time").arg(last.toString(Qt::ISODate));
    return {};
}

} // namespace tarnwick::jobs
