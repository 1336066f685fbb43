#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace tarnwick {

// The program's own date and time formatting settings: the user's locale formats, with
// separators that the program may replace without touching the process's C locale.
//
// Formats use Qt's letters (d dd ddd dddd M MM MMM MMMM yy yyyy, h hh H HH m mm s ss z zzz,
// AP ap A a, '...' literals), except that '/' stands for `dateSeparator` and ':' for
// `timeSeparator`, so replacing a separator changes every format that uses it.
struct FormatSettings {
    QString timeSeparator = QStringLiteral(":");
    QString dateSeparator = QStringLiteral("/");
    QString shortDateFormat = QStringLiteral("dd/MM/yyyy");
    QString longTimeFormat = QStringLiteral("hh:mm:ss");
    QString amDesignator = QStringLiteral("AM");
    QString pmDesignator = QStringLiteral("PM");
    QString decimalSeparator = QStringLiteral(".");
    // Month and day names come from here.
    QLocale locale = QLocale::c();

    // The settings of a locale, its separators turned into the placeholders above.
    static FormatSettings fromLocale(const QLocale& locale);

    // The process-wide settings: installed ones, else those of QLocale::system() (read once and
    // again after reload()). The reference stays valid until the process ends.
    static const FormatSettings& current();
    // Installs fixed settings (not owned; tests); nullptr goes back to the system's.
    static void install(const FormatSettings* settings);
    // Re-reads the system locale, after the user changed the regional settings.
    static void reload();

    // A copy with other separators, e.g. "-" for both in file names.
    FormatSettings withSeparators(const QString& date, const QString& time) const;

    QString formatDate(QDate date, const QString& format) const;
    QString formatTime(QTime time, const QString& format) const;
    QString formatDateTime(const QDateTime& dt, const QString& format) const;
    QString shortDate(QDate date) const { return formatDate(date, shortDateFormat); }
    QString longTime(QTime time) const { return formatTime(time, longTimeFormat); }
    // Short date, a blank, long time: the standard timestamp text.
    QString timestamp(const QDateTime& dt) const;
};

} // namespace tarnwick
