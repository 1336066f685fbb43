#include "jobs/catchup.h"

#include "platform/inikeystore.h"

#include <QLocale>

namespace tarnwick::jobs {

namespace {

constexpr char kFormat[] = "yyyy-MM-ddTHH:mm:ss";

QString section(TimedJob job) {
    return job == TimedJob::Backup ? QStringLiteral("Backup") : QStringLiteral("Compact");
}

QString readValue(TimedJob job, const QString& key) {
    IniKeyStore reg;
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
    IniKeyStore reg;
    if (!reg.openKey(section(job), true) ||
        !reg.writeString(QStringLiteral("LastRun"), when.toString(QString::fromLatin1(kFormat))) ||
        !reg.flush())
        return reg.lastError().isEmpty() ? QStringLiteral("the settings cannot be written")
                                         : reg.lastError();
    return {};
}

QString whyNoCatchUp(TimedJob job, const QDateTime& now) {
    if (!isOn(readValue(job, QStringLiteral("CatchUp"))))
        return QStringLiteral("catching up is not turned on ([%1] CatchUp)").arg(section(job));
    const QString switchKey =
        job == TimedJob::Backup ? QStringLiteral("State1") : QStringLiteral("State2");
    if (!isOn(readValue(job, switchKey))) return QStringLiteral("the job's switch is off");
    bool ok = false;
    // The alarm time is stored as a fraction of a day.
    const double day = QLocale::c().toDouble(readValue(job, QStringLiteral("Time")), &ok);
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
