#include "platform/formatsettings.h"

#include <atomic>
#include <list>
#include <mutex>

namespace tarnwick {

namespace {

bool isFieldLetter(QChar c) {
    return c.isLetter();
}

// The separator a format uses after its first field, or an empty string.
QString separatorAfterFirstField(const QString& format) {
    int i = 0;
    while (i < format.size() && !isFieldLetter(format[i]))
        ++i;
    while (i < format.size() && isFieldLetter(format[i]))
        ++i;
    QString sep;
    while (i < format.size() && !isFieldLetter(format[i]) && format[i] != u'\'')
        sep += format[i++];
    return sep.trimmed();
}

// Turns the locale's separator into the placeholder and quotes any other '/' or ':' so it
// stays literal.
QString toPlaceholders(const QString& format, const QString& sep, QChar placeholder) {
    QString out;
    bool quoted = false;
    for (int i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
        } else if (!quoted && !sep.isEmpty() && format.mid(i, sep.size()) == sep) {
            out += placeholder;
            i += sep.size() - 1;
        } else if (!quoted && (c == u'/' || c == u':')) {
            out += u'\'';
            out += c;
            out += u'\'';
        } else {
            out += c;
        }
    }
    return out;
}

// Qt's long time format carries the time zone ("t"), which a time of day does not have.
QString withoutTimeZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        out += c;
    }
    return out.trimmed();
}

int runLength(const QString& f, int i) {
    int n = 1;
    while (i + n < f.size() && f[i + n] == f[i])
        ++n;
    return n;
}

bool hasAmPm(const QString& f) {
    bool quoted = false;
    for (int i = 0; i < f.size(); ++i) {
        if (f[i] == u'\'') quoted = !quoted;
        if (!quoted && (f[i] == u'A' || f[i] == u'a')) return true;
    }
    return false;
}

QString format(const FormatSettings& fs, QDate date, QTime time, const QString& f) {
    const bool twelve = hasAmPm(f);
    QString out;
    for (int i = 0; i < f.size();) {
        const QChar c = f[i];
        if (c == u'\'') {
            int j = i + 1;
            if (j < f.size() && f[j] == u'\'') { // '' is one quote
                out += u'\'';
                i += 2;
                continue;
            }
            while (j < f.size() && f[j] != u'\'')
                out += f[j++];
            i = j + 1;
            continue;
        }
        if (c == u'/') {
            out += fs.dateSeparator;
            ++i;
            continue;
        }
        if (c == u':') {
            out += fs.timeSeparator;
            ++i;
            continue;
        }
        const int n = runLength(f, i);
        auto num = [&](int v, int width) { return QString::number(v).rightJustified(width, u'0'); };
        switch (c.unicode()) {
        case 'd':
            if (n >= 4)
                out += fs.locale.dayName(date.dayOfWeek(), QLocale::LongFormat);
            else if (n == 3)
                out += fs.locale.dayName(date.dayOfWeek(), QLocale::ShortFormat);
            else
                out += num(date.day(), n);
            break;
        case 'M':
            if (n >= 4)
                out += fs.locale.monthName(date.month(), QLocale::LongFormat);
            else if (n == 3)
                out += fs.locale.monthName(date.month(), QLocale::ShortFormat);
            else
                out += num(date.month(), n);
            break;
        case 'y':
            out += n >= 4 ? num(date.year(), 4) : num(date.year() % 100, 2);
            break;
        case 'h':
        case 'H': {
            int h = time.hour();
            if (twelve && c == u'h') h = h % 12 == 0 ? 12 : h % 12;
            out += num(h, n >= 2 ? 2 : 1);
            break;
        }
        case 'm':
            out += num(time.minute(), n >= 2 ? 2 : 1);
            break;
        case 's':
            out += num(time.second(), n >= 2 ? 2 : 1);
            break;
        case 'z':
            out += n >= 3 ? num(time.msec(), 3) : QString::number(time.msec());
            break;
        case 'A':
        case 'a': {
            // "AP"/"ap" or a lone "A"/"a" is the designator.
            const int len = (i + 1 < f.size() && (f[i + 1] == u'P' || f[i + 1] == u'p')) ? 2 : 1;
            out += time.hour() < 12 ? fs.amDesignator : fs.pmDesignator;
            i += len;
            continue;
        }
        default:
            out += QString(n, c);
            break;
        }
        i += n;
    }
    return out;
}

std::atomic<const FormatSettings*> installed{nullptr};
std::mutex systemLock;
// Older system settings stay alive: callers may still hold a reference to them.
std::list<FormatSettings> systemSettings;

const FormatSettings& systemCurrent() {
    std::lock_guard lock(systemLock);
    if (systemSettings.empty())
        systemSettings.push_back(FormatSettings::fromLocale(QLocale::system()));
    return systemSettings.back();
}

} // namespace

FormatSettings FormatSettings::fromLocale(const QLocale& loc) {
    FormatSettings fs;
    fs.locale = loc;
    fs.amDesignator = loc.amText();
    fs.pmDesignator = loc.pmText();
    fs.decimalSeparator = loc.decimalPoint();

    const QString shortTime = loc.timeFormat(QLocale::ShortFormat);
    QString tsep = separatorAfterFirstField(shortTime);
    if (tsep.isEmpty()) tsep = QStringLiteral(":");
    fs.timeSeparator = tsep;
    fs.longTimeFormat =
        toPlaceholders(withoutTimeZone(loc.timeFormat(QLocale::LongFormat)), tsep, u':');

    const QString shortDate = loc.dateFormat(QLocale::ShortFormat);
    QString dsep = separatorAfterFirstField(shortDate);
    if (dsep.isEmpty()) {
        // A date format without separators ("d MMM yyyy"): use a numeric one that has them.
        fs.dateSeparator = QStringLiteral("/");
        fs.shortDateFormat = QStringLiteral("yyyy/MM/dd");
    } else {
        fs.dateSeparator = dsep;
        fs.shortDateFormat = toPlaceholders(shortDate, dsep, u'/');
    }
    return fs;
}

const FormatSettings& FormatSettings::current() {
    if (const FormatSettings* fs = installed.load(std::memory_order_acquire)) return *fs;
    return systemCurrent();
}

void FormatSettings::install(const FormatSettings* settings) {
    installed.store(settings, std::memory_order_release);
}

void FormatSettings::reload() {
    std::lock_guard lock(systemLock);
    systemSettings.push_back(fromLocale(QLocale::system()));
}

FormatSettings FormatSettings::withSeparators(const QString& date, const QString& time) const {
    FormatSettings fs = *this;
    fs.dateSeparator = date;
    fs.timeSeparator = time;
    return fs;
}

QString FormatSettings::formatDate(QDate date, const QString& f) const {
    return format(*this, date, QTime(0, 0), f);
}

QString FormatSettings::formatTime(QTime time, const QString& f) const {
    return format(*this, QDate(1899, 12, 30), time, f);
}

QString FormatSettings::formatDateTime(const QDateTime& dt, const QString& f) const {
    return format(*this, dt.date(), dt.time(), f);
}

QString FormatSettings::timestamp(const QDateTime& dt) const {
    return shortDate(dt.date()) + u' ' + longTime(dt.time());
}

} // namespace tarnwick
