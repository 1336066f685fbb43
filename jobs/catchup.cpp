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

QDateTime lastAlarm(QTime alarm, const QDateTime& now) {
    QDateTime at(now.date(), alarm, Qt::LocalTime);
    return at > now ? at.addDays(-1) : at;
}

bool ranFor(const QDateTime& due, const QDateTime& last, const QDateTime& now) {
    return last.isValid() && last >= due && last <= now.addDays(1);
}

QString whyNoCatchUp(TimedJob job, const CatchUpState& state, const QDateTime& now) {
    if (!state.catchUp) {
        const settings::Key& catchUp = keyOf(job, key::BackupCatchUp, key::CompactCatchUp);
        return QStringLiteral("catching up is not turned on ([%1] %2)")
            .arg(QLatin1String(catchUp.section), QLatin1String(catchUp.name));
    }
    if (!state.switchOn) return QStringLiteral("the job's switch is off");
    if (!state.alarm.isValid()) return QStringLiteral("no alarm time is saved");
    if (ranFor(lastAlarm(state.alarm, now), state.lastRun, now))
        return QStringLiteral("it ran at %1, after its alarm time")
            .arg(state.lastRun.toString(Qt::ISODate));
    return {};
}

CatchUpState savedCatchUpState(TimedJob job) {
    CatchUpState state;
    state.catchUp = isOn(keyOf(job, key::BackupCatchUp, key::CompactCatchUp));
    state.switchOn = isOn(keyOf(job, key::BackupSwitch, key::CompactSwitch));
    bool ok = false;
    // The alarm time is stored as a fraction of a day.
    const double day =
        QLocale::c().toDouble(readValue(keyOf(job, key::BackupTime, key::CompactTime)), &ok);
    if (ok && day >= 0 && day < 1)
        state.alarm = QTime(0, 0).addMSecs(static_cast<int>(day * 86400000.0 + 0.5));
    state.lastRun = lastRun(job);
    return state;
}

QString whyNoCatchUp(TimedJob job, const QDateTime& now) {
    return whyNoCatchUp(job, savedCatchUpState(job), now);
}

} // namespace tarnwick::jobs
