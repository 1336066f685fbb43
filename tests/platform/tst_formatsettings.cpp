#include "platform/formatsettings.h"

#include <QTest>

using tarnwick::FormatSettings;

class TestFormatSettings : public QObject {
    Q_OBJECT
private slots:
    void fromLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("timeSep");
        QTest::addColumn<QString>("dateSep");
        QTest::addColumn<QString>("decimal");
        QTest::addColumn<QString>("timestamp"); // of 2026-03-05 14:07:09
        QTest::newRow("en_US") << "en_US"
                               << ":"
                               << "/"
                               << "."
                               << "3/5/26 2:07:09 PM";
        QTest::newRow("de_DE") << "de_DE"
                               << ":"
                               << "."
                               << ","
                               << "05.03.26 14:07:09";
        QTest::newRow("fi_FI") << "fi_FI"
                               << "."
                               << "."
                               << ","
                               << "5.3.2026 14.07.09";
        QTest::newRow("ja_JP") << "ja_JP"
                               << ":"
                               << "/"
                               << "."
                               << "2026/03/05 14時07分09秒";
    }
    void fromLocale() {
        QFETCH(QString, locale);
        const FormatSettings fs = FormatSettings::fromLocale(QLocale(locale));
        QTEST(fs.timeSeparator, "timeSep");
        QTEST(fs.dateSeparator, "dateSep");
        QTEST(fs.decimalSeparator, "decimal");
        QTEST(fs.timestamp(QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9))), "timestamp");
    }

    void separatorsCanBeReplaced() {
        const FormatSettings de = FormatSettings::fromLocale(QLocale("de_DE"));
        const FormatSettings files = de.withSeparators("-", "-");
        QCOMPARE(files.timestamp(QDateTime(QDate(2026, 3, 5), QTime(4, 7, 9))),
                 QStringLiteral("05-03-26 04-07-09"));
        // Quoted text and other punctuation stay as they are.
        QCOMPARE(files.formatTime(QTime(4, 7, 9), "h:mm 'Uhr:' AP"),
                 QStringLiteral("4-07 Uhr: AM"));
    }

    void designatorsAndTwelveHourClock_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("midnight") << QTime(0, 5) << "12:05 vorm.";
        QTest::newRow("noon") << QTime(12, 0) << "12:00 nachm.";
        QTest::newRow("afternoon") << QTime(13, 0) << "1:00 nachm.";
    }
    void designatorsAndTwelveHourClock() {
        FormatSettings fs;
        fs.amDesignator = "vorm.";
        fs.pmDesignator = "nachm.";
        QFETCH(QTime, time);
        QTEST(fs.formatTime(time, "h:mm AP"), "text");
    }

    void installedSettingsWin() {
        FormatSettings fs;
        fs.timeSeparator = ".";
        FormatSettings::install(&fs);
        QCOMPARE(FormatSettings::current().timeSeparator, QStringLiteral("."));
        FormatSettings::install(nullptr);
        const FormatSettings& system = FormatSettings::current();
        QCOMPARE(system.amDesignator, QLocale::system().amText());
        FormatSettings::reload();
        QCOMPARE(system.amDesignator, QLocale::system().amText()); // older reference still valid
    }
};

QTEST_GUILESS_MAIN(TestFormatSettings)
#include "tst_formatsettings.moc"
