#include "jobs/catchup.h"

#include "platform/registry.h"

#include <QLocale>

namespace tarnwick::jobs {

namespace {

constexpr char kFormat[] = "yyyy-MM-ddTHH:mm:ss";

QString section(TimedJob job) {
    return job == TimedJob::Backup ? QStringLiteral("Backup") : QStringLiteral("Compact");
}

QString readValue(TimedJob job, const QString& key) {
    Registry reg;
    if (!reg.openKeyReadOnly(section(job))) return {};
    return reg.readString(key).value_or(QString()).trimmed();
}

bool isOn(const QString& value) {
    return value == QLatin1String("1") ||
           value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           value == QLatin1String("cbChecked");
}

} // namespace

QDateTime lastRun(TimedJob job) {
    QDateTime t = QDateTime::fromString(readValue(job, QStringLiteral("LastRun")),
                                        QString::fromLatin1(kFormat));
    t.setTimeSpec(Qt::LocalTime);
    return t;
}

QString saveLastRun(TimedJob job, const QDateTime& when) {
    Registry reg;
    if (!reg.openKey(section(job), true) ||
        !reg.writeString(QStringLiteral("LastRun"), when.toString(QString::fromLatin1(kFormat))) ||
        !reg.flush())
        return reg.lastError().isEmpty() ? QStringLiteral("the settings cannot be written")
                                         : reg.lastError();
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
    if (!state.catchUp)
        return QStringLiteral("catching up is not turned on ([%1] CatchUp)").arg(section(job));
    if (!state.switchOn) return QStringLiteral("the job's switch is off");
    if (!state.alarm.isValid()) return QStringLiteral("no alarm time is saved");
    if (ranFor(lastAlarm(state.alarm, now), state.lastRun, now))
        return QStringLiteral("it ran at %1, after its alarm time")
            .arg(state.lastRun.toString(Qt::ISODate));
    return {};
}

CatchUpState savedCatchUpState(TimedJob job) {
    CatchUpState state;
    state.catchUp = isOn(readValue(job, QStringLiteral("CatchUp")));
    state.switchOn = isOn(readValue(job, job == TimedJob::Backup ? QStringLiteral("State1")
                                                                 : QStringLiteral("State2")));
    bool ok = false;
    // The alarm time is stored as a fraction of a day.
    const double day = QLocale::c().toDouble(readValue(job, QStringLiteral("Time")), &ok);
    if (ok && day >= 0 && day < 1)
        state.alarm = QTime(0, 0).addMSecs(static_cast<int>(day * 86400000.0 + 0.5));
    state.lastRun = lastRun(job);
    return state;
}

QString whyNoCatchUp(TimedJob job, const QDateTime& now) {
    return whyNoCatchUp(job, savedCatchUpState(job), now);
}

} // namespace tarnwick::jobs
