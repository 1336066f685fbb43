#include "controls/spinvaluetext.h"

#include "platform/formatsettings.h"
#include "platform/timesource.h"

#include <QStringList>
#include <QTime>

#include <algorithm>
#include <cmath>

using tarnwick::FormatSettings;

namespace spinvaluetext {

QDate dateBase() {
    return QDate(1899, 12, 30);
}

namespace {

// Milliseconds of the time of day of a value; a negative value uses its absolute value.
int timeOfDayMs(double v) {
    if (!std::isfinite(v)) return 0;
    const double ms = std::round(std::fabs(v) * MsPerDay);
    if (ms >= 9.0e15) return 0; // beyond exact integers there is no time of day left
    return static_cast<int>(static_cast<qint64>(ms) % MsPerDay);
}

// Reads a designator at i (the locale's or plain AM/PM, any case): 1 = AM, 2 = PM.
int readDesignator(const QString& t, int& i, const FormatSettings& fs) {
    struct Candidate {
        QString text;
        int kind;
    };
    const Candidate candidates[] = {{fs.amDesignator, 1},
                                    {fs.pmDesignator, 2},
                                    {QStringLiteral("AM"), 1},
                                    {QStringLiteral("PM"), 2}};
    int best = 0, bestLen = 0;
    for (const Candidate& c : candidates) {
        if (c.text.isEmpty() || c.text.size() <= bestLen) continue;
        if (QStringView(t).mid(i).startsWith(c.text, Qt::CaseInsensitive)) {
            best = c.kind;
            bestLen = int(c.text.size());
        }
    }
    i += bestLen;
    return best;
}

void skipBlanks(const QString& t, int& i) {
    while (i < t.size() && t[i] == u' ')
        ++i;
}

bool readNumber(const QString& t, int& i, int& out) {
    const int start = i;
    qint64 v = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9' && i - start < 9)
        v = v * 10 + (t[i++].unicode() - u'0');
    out = int(v);
    return i > start;
}

// Reads a text against a time format as FormatSettings writes it (hour, minute, second and
// designator fields, ':' for the time separator, other characters literal), for long time
// formats with words between the fields ("H時mm分ss秒") that the plain reading cannot take.
std::optional<double> timeByFormat(const QString& t, const QString& f, const FormatSettings& fs) {
    int i = 0, hour = -1, minute = 0, second = 0, ms = 0, designator = 0;
    for (int k = 0; k < f.size();) {
        const QChar c = f[k];
        int n = 1;
        while (k + n < f.size() && f[k + n] == c)
            ++n;
        if (c == u'\'') {
            int j = k + 1;
            QString literal;
            if (j < f.size() && f[j] == u'\'') {
                literal = QStringLiteral("'");
                ++j;
            } else {
                while (j < f.size() && f[j] != u'\'')
                    literal += f[j++];
                ++j;
            }
            if (!QStringView(t).mid(i).startsWith(literal)) return std::nullopt;
            i += int(literal.size());
            k = j;
            continue;
        }
        int value = 0;
        switch (c.unicode()) {
        case 'h':
        case 'H':
            if (!readNumber(t, i, value)) return std::nullopt;
            hour = value;
            break;
        case 'm':
            if (!readNumber(t, i, minute)) return std::nullopt;
            break;
        case 's':
            if (!readNumber(t, i, second)) return std::nullopt;
            break;
        case 'z':
            if (!readNumber(t, i, ms)) return std::nullopt;
            break;
        case 'A':
        case 'a':
            designator = readDesignator(t, i, fs);
            if (!designator) return std::nullopt;
            n = (k + 1 < f.size() && (f[k + 1] == u'P' || f[k + 1] == u'p')) ? 2 : 1;
            break;
        case ':':
            if (!QStringView(t).mid(i).startsWith(fs.timeSeparator)) return std::nullopt;
            i += int(fs.timeSeparator.size());
            break;
        default:
            if (c.isSpace()) {
                skipBlanks(t, i);
            } else {
                for (int r = 0; r < n; ++r, ++i)
                    if (i >= t.size() || t[i] != c) return std::nullopt;
            }
            break;
        }
        k += n;
    }
    skipBlanks(t, i);
    if (i != t.size() || hour < 0) return std::nullopt;
    if (designator) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (designator == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59 || ms > 999) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second + ms / 1000.0) / 86400.0;
}

// The order of day, month and year in the short date format, as letters "dMy".
QString dateFieldOrder(const QString& format) {
    QString order;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (quoted) continue;
        if ((c == u'd' || c == u'M' || c == u'y') && !order.contains(c)) order += c;
    }
    return order.size() == 3 ? order : QStringLiteral("dMy");
}

} // namespace

QString floatToText(double v, int precision) {
    const FormatSettings& fs = FormatSettings::current();
    QString s;
    if (precision > 0) {
        s = QString::number(v, 'f', precision);
    } else {
        s = QString::number(v, 'g', 15);
        // Exponents as "1E20" and "1E-7".
        const int e = int(s.indexOf(u'e'));
        if (e >= 0) {
            QString exp = s.mid(e + 1);
            const bool negative = exp.startsWith(u'-');
            exp.remove(0, exp.startsWith(u'-') || exp.startsWith(u'+') ? 1 : 0);
            while (exp.size() > 1 && exp.startsWith(u'0'))
                exp.remove(0, 1);
            s = s.left(e) + u'E' + (negative ? QStringLiteral("-") : QString()) + exp;
        }
    }
    return s.replace(u'.', fs.decimalSeparator);
}

std::optional<double> textToFloat(const QString& text) {
    const FormatSettings& fs = FormatSettings::current();
    QString t = text.trimmed();
    if (fs.decimalSeparator != QLatin1String(".")) {
        if (t.contains(u'.')) return std::nullopt;
        t.replace(fs.decimalSeparator, QStringLiteral("."));
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString timeToText(double time) {
    return FormatSettings::current().longTime(QTime::fromMSecsSinceStartOfDay(timeOfDayMs(time)));
}

std::optional<double> textToTime(const QString& t) {
    const FormatSettings& fs = FormatSettings::current();
    int i = 0;
    skipBlanks(t, i);
    int designator = readDesignator(t, i, fs);
    skipBlanks(t, i);
    int hour = 0, minute = 0, second = 0;
    if (!readNumber(t, i, hour)) return timeByFormat(t, fs.longTimeFormat, fs);
    const QString& sep = fs.timeSeparator;
    if (!sep.isEmpty() && QStringView(t).mid(i).startsWith(sep)) {
        i += int(sep.size());
        if (!readNumber(t, i, minute)) return std::nullopt;
        if (QStringView(t).mid(i).startsWith(sep)) {
            i += int(sep.size());
            if (!readNumber(t, i, second)) return std::nullopt;
        }
    }
    skipBlanks(t, i);
    if (designator == 0) {
        designator = readDesignator(t, i, fs);
        skipBlanks(t, i);
    }
    if (i != t.size()) return timeByFormat(t, fs.longTimeFormat, fs);
    if (designator != 0) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (designator == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

QString dateToText(double date) {
    const double days =
        std::isfinite(date) ? std::clamp(std::trunc(date), -693593.0, 2958465.0) : 0;
    return FormatSettings::current().shortDate(dateBase().addDays(qint64(days)));
}

std::optional<double> textToDate(const QString& text) {
    const FormatSettings& fs = FormatSettings::current();
    if (fs.dateSeparator.isEmpty()) return std::nullopt;
    QStringList parts = text.trimmed().split(fs.dateSeparator);
    // Some formats end with the separator ("yy. M. d.").
    if (parts.size() > 1 && parts.last().trimmed().isEmpty()) parts.removeLast();
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    QList<int> numbers;
    QList<int> widths;
    for (const QString& part : parts) {
        const QString p = part.trimmed();
        int i = 0, n = 0;
        if (!readNumber(p, i, n) || i != p.size()) return std::nullopt;
        numbers << n;
        widths << int(p.size());
    }
    QString order = dateFieldOrder(fs.shortDateFormat);
    if (parts.size() == 2) order.remove(u'y');
    int day = 0, month = 0, year = tarnwick::TimeSource::current().now().date().year();
    for (int k = 0; k < order.size(); ++k) {
        if (order[k] == u'd') day = numbers[k];
        if (order[k] == u'M') month = numbers[k];
        if (order[k] == u'y') {
            year = numbers[k];
            if (widths[k] <= 2) year += year < 50 ? 2000 : 1900;
        }
    }
    const QDate d(year, month, day);
    if (!d.isValid()) return std::nullopt;
    return double(dateBase().daysTo(d));
}

} // namespace spinvaluetext
