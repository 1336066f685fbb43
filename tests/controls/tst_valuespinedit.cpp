#include "controls/form.h"
#include "controls/formreader.h"
#include "controls/valuespinedit.h"
#include "platform/formatsettings.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>

using tarnwick::FormatSettings;

namespace {

// A 12-hour locale with AM/PM and ':' as time separator.
FormatSettings twelveHour() {
    FormatSettings fs;
    fs.timeSeparator = QStringLiteral(":");
    fs.longTimeFormat = QStringLiteral("h:mm:ss AP");
    fs.amDesignator = QStringLiteral("AM");
    fs.pmDesignator = QStringLiteral("PM");
    fs.dateSeparator = QStringLiteral("/");
    fs.shortDateFormat = QStringLiteral("MM/dd/yyyy");
    fs.decimalSeparator = QStringLiteral(".");
    return fs;
}

// A 24-hour locale with '.' between the time fields, ',' as decimal separator and
// day-month-year dates with '-'.
FormatSettings twentyFourHour() {
    FormatSettings fs;
    fs.timeSeparator = QStringLiteral(".");
    fs.longTimeFormat = QStringLiteral("HH:mm:ss");
    fs.amDesignator = QStringLiteral("ap.");
    fs.pmDesignator = QStringLiteral("ip.");
    fs.dateSeparator = QStringLiteral("-");
    fs.shortDateFormat = QStringLiteral("dd/MM/yyyy");
    fs.decimalSeparator = QStringLiteral(",");
    return fs;
}

const FormatSettings settings12 = twelveHour();
const FormatSettings settings24 = twentyFourHour();

const FormatSettings* settingsNamed(const QString& name) {
    return name == QLatin1String("12h") ? &settings12 : &settings24;
}

double hms(int h, int m, int s) {
    return (h * 3600 + m * 60 + s) / 86400.0;
}

double serial(int y, int m, int d) {
    return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d)));
}

// Counts what a user would hear and what the window would be told.
class TProbeSpinEdit : public TValueSpinEdit {
    Q_OBJECT
public:
    explicit TProbeSpinEdit(QWidget* parent = nullptr) : TValueSpinEdit(parent) {
        SetOnChange(TNotifyEvent(this, "Changed"));
    }
    int beeps = 0;
    int changes = 0;
public slots:
    void Changed(QObject*) { ++changes; }

protected:
    void Beep() override { ++beeps; }
};

// A window read from a description, with the handlers the description names.
class TSpinForm : public TForm {
    Q_OBJECT
public:
    QStringList calls;
    QStringList textsSeen;
public slots:
    void ValueSpinEdit1Change(QObject* Sender) {
        calls << Sender->objectName();
        textsSeen << static_cast<QLineEdit*>(Sender)->text();
    }
    void ValueSpinEdit2Change(QObject* Sender) { ValueSpinEdit1Change(Sender); }
};

} // namespace

class TestValueSpinEdit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RegisterSpinAndSwitchControls(); }
    void cleanup() { FormatSettings::install(nullptr); }

    void stepTime_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("11:59:00 PM, hour up wraps to the morning")
            << "12h"
            << "11:59:00 PM" << 0 << int(Qt::Key_Up) << "12:59:00 AM";
        QTest::newRow("00.00, minutes down shows 00.01.00")
            << "24h"
            << "00.00" << 3 << int(Qt::Key_Down) << "00.01.00";
        QTest::newRow("00.30, hour down shows 00.30 again")
            << "24h"
            << "00.30" << 0 << int(Qt::Key_Down) << "00.30.00";
        QTest::newRow("23.59.59, second up wraps to midnight")
            << "24h"
            << "23.59.59" << 7 << int(Qt::Key_Up) << "00.00.00";
        QTest::newRow("caret before the first separator: hour")
            << "24h"
            << "10.20.30" << 2 << int(Qt::Key_Up) << "11.20.30";
        QTest::newRow("caret right after the first separator: minute")
            << "24h"
            << "10.20.30" << 3 << int(Qt::Key_Up) << "10.21.30";
        QTest::newRow("caret right after the second separator: second")
            << "24h"
            << "10.20.30" << 6 << int(Qt::Key_Up) << "10.20.31";
        QTest::newRow("caret at the end: second")
            << "24h"
            << "10.20.30" << 8 << int(Qt::Key_Down) << "10.20.29";
        QTest::newRow("no second separator: the minutes reach the end")
            << "24h"
            << "14.30" << 5 << int(Qt::Key_Up) << "14.31.00";
        QTest::newRow("bare hour") << "24h"
                                   << "7" << 1 << int(Qt::Key_Up) << "08.00.00";
        QTest::newRow("12 AM hour down shows 1 AM")
            << "12h"
            << "12:00:00 AM" << 1 << int(Qt::Key_Down) << "1:00:00 AM";
        QTest::newRow("noon hour up") << "12h"
                                      << "11:00:00 AM" << 0 << int(Qt::Key_Up) << "12:00:00 PM";
        QTest::newRow("caret in AM/PM steps the second")
            << "12h"
            << "11:59:59 PM" << 10 << int(Qt::Key_Up) << "12:00:00 AM";
        QTest::newRow("empty text: hour from midnight")
            << "12h"
            << "" << 0 << int(Qt::Key_Up) << "1:00:00 AM";
        QTest::newRow("unparsable text starts from midnight")
            << "24h"
            << "99.99" << 0 << int(Qt::Key_Up) << "01.00.00";
    }
    void stepTime() {
        QFETCH(QString, settings);
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(int, key);
        QFETCH(QString, expected);
        FormatSettings::install(settingsNamed(settings));

        TProbeSpinEdit e;
        e.SetSpinType(TValueSpinEdit::sptTime);
        e.setText(text);
        e.setCursorPosition(caret);
        e.changes = 0;
        QTest::keyClick(&e, Qt::Key(key));
        QCOMPARE(e.text(), expected);
        QCOMPARE(e.changes, 1);
        // The caret goes back to its index, nothing selected.
        QCOMPARE(e.cursorPosition(), std::min(caret, int(expected.size())));
        QVERIFY(!e.hasSelectedText());
        QCOMPARE(e.beeps, 0);
    }

    void hourUpReadsBackTheNewTime() {
        FormatSettings::install(&settings12);
        TProbeSpinEdit e;
        e.SetSpinType(TValueSpinEdit::sptTime);
        e.setText(QStringLiteral("11:59:00 PM"));
        e.setCursorPosition(0);
        QTest::keyClick(&e, Qt::Key_Up);
        QCOMPARE(e.text(), QStringLiteral("12:59:00 AM"));
        QVERIFY(std::fabs(e.TimeValue() - hms(0, 59, 0)) < 1e-9);
        QVERIFY(std::fabs(e.TimeValue() - 0.0410) < 1e-4);
    }

    void readOnlyStepOnlyBeeps() {
        FormatSettings::install(&settings24);
        TProbeSpinEdit e;
        e.SetSpinType(TValueSpinEdit::sptTime);
        e.setReadOnly(true);
        e.changes = 0;
        const QString before = e.text();
        QTest::keyClick(&e, Qt::Key_Up);
        QTest::keyClick(&e, Qt::Key_Down);
        QCOMPARE(e.text(), before);
        QCOMPARE(e.beeps, 2);
        QCOMPARE(e.changes, 0);
    }

    void typing_data() {
        QTest::addColumn<int>("spinType");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("key"); // 0: type `chars`
        QTest::addColumn<QString>("chars");
        QTest::addColumn<bool>("editorEnabled");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("beeps");

        const int time = TValueSpinEdit::sptTime, normal = TValueSpinEdit::sptNormal,
                  fl = TValueSpinEdit::sptFloat, date = TValueSpinEdit::sptDate,
                  hex = TValueSpinEdit::sptHex;
        // All rows use the 24-hour settings: time '.', date '-', decimal ','.
        QTest::newRow("time: a 24-hour entry")
            << time << "" << 0 << 0 << "14.30" << true << "14.30" << 0;
        QTest::newRow("time: second separator rejected")
            << time << "" << 0 << 0 << "14.30.15" << true << "14.3015" << 1;
        QTest::newRow("time: letters rejected (no AM/PM)")
            << time << "" << 0 << 0 << "9pm" << true << "9" << 2;
        QTest::newRow("time: blank rejected") << time << "9" << 1 << 0 << " " << true << "9" << 1;
        QTest::newRow("time: '-' is a sign")
            << time << "9" << 1 << 0 << "-" << true << "9-" << 0; // '-' is also a sign
        QTest::newRow("time: other separator rejected")
            << time << "9" << 1 << 0 << ":/" << true << "9" << 2;
        QTest::newRow("time: Enter beeps")
            << time << "9" << 1 << int(Qt::Key_Return) << "" << true << "9" << 1;
        QTest::newRow("time: backspace accepted")
            << time << "14.30" << 5 << int(Qt::Key_Backspace) << "" << true << "14.3" << 0;
        QTest::newRow("normal: time separator rejected")
            << normal << "" << 0 << 0 << "1.5" << true << "15" << 1;
        QTest::newRow("normal: signs and digits")
            << normal << "" << 0 << 0 << "+-09" << true << "+-09" << 0;
        QTest::newRow("date: date separator accepted")
            << date << "" << 0 << 0 << "1-2-2026" << true << "1-2-2026" << 0;
        QTest::newRow("date: time separator rejected")
            << date << "" << 0 << 0 << "1.2" << true << "12" << 1;
        QTest::newRow("float: decimal separator once")
            << fl << "" << 0 << 0 << "1,2,3" << true << "1,23" << 1;
        QTest::newRow("float: digits after the separator limited")
            << fl << "1,25" << 4 << 0 << "7" << true << "1,25" << 1;
        QTest::newRow("float: digits before the separator free")
            << fl << "1,25" << 0 << 0 << "7" << true << "71,25" << 0;
        QTest::newRow("hex: letters after the prefix")
            << hex << "0x1" << 3 << 0 << "aFg" << true << "0x1aF" << 1;
        QTest::newRow("hex: nothing inside the prefix")
            << hex << "0x1" << 1 << 0 << "5" << true << "0x1" << 1;
        QTest::newRow("hex: backspace right after the prefix")
            << hex << "0x1" << 2 << int(Qt::Key_Backspace) << "" << true << "0x1" << 1;
        QTest::newRow("hex: delete inside the prefix swallowed")
            << hex << "0x1" << 1 << int(Qt::Key_Delete) << "" << true << "0x1" << 0;
        QTest::newRow("editor disabled: digits rejected")
            << normal << "5" << 1 << 0 << "7" << false << "5" << 1;
        QTest::newRow("editor disabled: backspace rejected")
            << normal << "5" << 1 << int(Qt::Key_Backspace) << "" << false << "5" << 1;
        QTest::newRow("editor disabled: delete swallowed")
            << normal << "5" << 0 << int(Qt::Key_Delete) << "" << false << "5" << 0;
        QTest::newRow("editor disabled: arrow keys still step")
            << normal << "5" << 1 << int(Qt::Key_Up) << "" << false << "6" << 0;
    }
    void typing() {
        QFETCH(int, spinType);
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(int, key);
        QFETCH(QString, chars);
        QFETCH(bool, editorEnabled);
        QFETCH(QString, expected);
        QFETCH(int, beeps);
        FormatSettings::install(&settings24);

        TProbeSpinEdit e;
        e.SetSpinType(TValueSpinEdit::TValueSpinType(spinType));
        e.SetEditorEnabled(editorEnabled);
        e.SetPrecision(2);
        e.setText(text);
        e.setCursorPosition(caret);
        e.changes = 0;
        if (key)
            QTest::keyClick(&e, Qt::Key(key));
        else
            QTest::keyClicks(&e, chars);
        QCOMPARE(e.text(), expected);
        QCOMPARE(e.beeps, beeps);
        // Each accepted keystroke that changed the text is one change, rejected ones none.
        if (key == 0) QCOMPARE(e.changes, int(chars.size()) - beeps);
    }

    void pasteFollowsEditorEnabled() {
        FormatSettings::install(&settings24);
        TProbeSpinEdit e;
        e.setText(QStringLiteral("42"));
        e.selectAll();
        e.SetEditorEnabled(false);
        QTest::keyClick(&e, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(e.text(), QStringLiteral("42"));
        e.SetEditorEnabled(true);
        e.selectAll();
        QTest::keyClick(&e, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(e.text(), QString());
    }

    void returnActsAsTab() {
        FormatSettings::install(&settings24);
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* first = new TProbeSpinEdit;
        auto* second = new QLineEdit;
        layout->addWidget(first);
        layout->addWidget(second);
        first->SetSpinType(TValueSpinEdit::sptTime);
        first->SetReturnIsTab(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        first->setFocus();
        QTRY_VERIFY(first->hasFocus());
        QTest::keyClick(first, Qt::Key_Return);
        QTRY_VERIFY(second->hasFocus());
        QCOMPARE(first->beeps, 1); // the carriage return itself is rejected
    }

    // Writing a value raises OnChange only when the text changes, window or not.
    void changeOncePerRealChange() {
        FormatSettings::install(&settings24);
        TProbeSpinEdit e;
        QVERIFY(!e.isVisible());
        e.SetSpinType(TValueSpinEdit::sptTime);
        QCOMPARE(e.text(), QStringLiteral("00.00.00"));
        QCOMPARE(e.changes, 1);
        e.SetTimeValue(0.5);
        e.SetTimeValue(0.5);
        QCOMPARE(e.changes, 2);
        e.SetTimeValue(1.5); // same time of day, same text
        QCOMPARE(e.changes, 2);
        e.SetSpinType(TValueSpinEdit::sptTime); // already normal
        QCOMPARE(e.changes, 2);
    }

    // The load step builds the text once the handler is assigned, before the window is shown.
    void loadStepRaisesChange_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("expectedText");
        QTest::addColumn<int>("expectedCalls");

        QTest::newRow("no stored time: midnight, 24-hour") << "24h"
                                                           << ""
                                                           << "00.00.00" << 1;
        QTest::newRow("no stored time: midnight, 12-hour") << "12h"
                                                           << ""
                                                           << "12:00:00 AM" << 1;
        QTest::newRow("stored time") << "24h"
                                     << "TimeValue = 0.75"
                                     << "18.00.00" << 1;
        QTest::newRow("text already midnight: nothing") << "24h"
                                                        << "Text = '00.00.00'"
                                                        << "00.00.00" << 0;
        QTest::newRow("stored value lost date part") << "12h"
                                                     << "TimeValue = 2.25"
                                                     << "6:00:00 AM" << 1;
    }
    void loadStepRaisesChange() {
        QFETCH(QString, settings);
        QFETCH(QString, extra);
        QFETCH(QString, expectedText);
        QFETCH(int, expectedCalls);
        FormatSettings::install(settingsNamed(settings));

        const QString description = QStringLiteral(R"(object Form1: TSpinForm
  object ValueSpinEdit1: TValueSpinEdit
    Left = 8
    Top = 8
    Width = 80
    Height = 21
    %1
    Direction = spVertical
    ReturnIsTab = True
    SpinType = sptTime
    OnChange = ValueSpinEdit1Change
  end
end
)")
                                        .arg(extra);
        TSpinForm form;
        const auto root = FormDescription::Parse(description);
        FormDescription::Apply(*root, &form);
        QVERIFY(!form.isVisible());
        auto* edit = form.Component<TValueSpinEdit>(QStringLiteral("ValueSpinEdit1"));
        QVERIFY(edit);
        QCOMPARE(edit->text(), expectedText);
        QCOMPARE(form.calls.size(), expectedCalls);
        if (expectedCalls) QCOMPARE(form.textsSeen.first(), expectedText);
        // Writing the time the edit shows raises nothing more.
        edit->SetTimeValue(edit->TimeValue());
        QCOMPARE(form.calls.size(), expectedCalls);
        QVERIFY(edit->ReturnIsTab());
    }

    void timeRoundTrip_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("readBack");

        for (const char* s : {"12h", "24h"}) {
            const bool twelve = QByteArray(s) == "12h";
            auto row = [&](const char* name, double v, const char* t12, const char* t24,
                           double back) {
                QTest::addRow("%s %s", s, name)
                    << QString::fromLatin1(s) << v << QString::fromUtf8(twelve ? t12 : t24) << back;
            };
            row("midnight", 0.0, "12:00:00 AM", "00.00.00", 0.0);
            row("one second", hms(0, 0, 1), "12:00:01 AM", "00.00.01", hms(0, 0, 1));
            row("noon", 0.5, "12:00:00 PM", "12.00.00", 0.5);
            row("before noon", hms(11, 59, 59), "11:59:59 AM", "11.59.59", hms(11, 59, 59));
            row("evening", 0.875, "9:00:00 PM", "21.00.00", 0.875);
            row("last second", hms(23, 59, 59), "11:59:59 PM", "23.59.59", hms(23, 59, 59));
            row("date part dropped", 1.75, "6:00:00 PM", "18.00.00", 0.75);
            row("negative uses its size", -0.25, "6:00:00 AM", "06.00.00", 0.25);
            row("rounded to the millisecond", hms(8, 0, 0) - 1e-10, "8:00:00 AM", "08.00.00",
                hms(8, 0, 0));
        }
    }
    void timeRoundTrip() {
        QFETCH(QString, settings);
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(double, readBack);
        FormatSettings::install(settingsNamed(settings));

        TProbeSpinEdit e;
        e.SetSpinType(TValueSpinEdit::sptTime);
        e.SetTimeValue(value);
        QCOMPARE(e.text(), text);
        QVERIFY2(std::fabs(e.TimeValue() - readBack) < 1e-12, qPrintable(e.text()));
        // What reads back writes the same text again.
        e.changes = 0;
        e.SetTimeValue(e.TimeValue());
        QCOMPARE(e.text(), text);
        QCOMPARE(e.changes, 0);
    }

    // Every time of day written under a locale's own settings reads back as written.
    void roundTripUnderLocales_data() {
        QTest::addColumn<QString>("locale");
        for (const char* name : {"C", "en_US", "en_GB", "de_DE", "fi_FI", "it_IT", "ko_KR", "zh_CN",
                                 "ja_JP", "ar_EG", "hi_IN", "el_GR", "pt_BR", "sv_SE"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void roundTripUnderLocales() {
        QFETCH(QString, locale);
        const FormatSettings fs = FormatSettings::fromLocale(QLocale(locale));
        FormatSettings::install(&fs);
        for (int s = 0; s < 86400; s += 599) { // every hour, minute and second value occurs
            const double v = s / 86400.0;
            const QString text = TValueSpinEdit::TimeToText(v);
            const auto back = TValueSpinEdit::TextToTime(text);
            QVERIFY2(back && std::fabs(*back - v) < 1e-12,
                     qPrintable(QStringLiteral("%1 -> '%2'").arg(s).arg(text)));
        }
        // Dates too (two-digit years are read into 1950..2049).
        for (double d = serial(1995, 1, 1); d < serial(2045, 1, 1); d += 97) {
            const QString text = TValueSpinEdit::DateToText(d);
            const auto back = TValueSpinEdit::TextToDate(text);
            QVERIFY2(back && *back == d, qPrintable(text));
        }
    }

    void parseTime_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected"); // -1: not a time

        auto row = [](const char* s, const char* t, double v) {
            QTest::addRow("%s '%s'", s, t) << QString::fromLatin1(s) << QString::fromUtf8(t) << v;
        };
        row("12h", "11:59:00 pm", hms(23, 59, 0));
        row("12h", "PM 11:59", hms(23, 59, 0));
        row("12h", "  7:05  ", hms(7, 5, 0));
        row("12h", "7", hms(7, 0, 0));
        row("12h", "12:30 am", hms(0, 30, 0));
        row("12h", "13:00 PM", -1);
        row("12h", "0:30 AM", -1);
        row("12h", "24:00", -1);
        row("12h", "7:60", -1);
        row("12h", "7:05:60", -1);
        row("12h", "7:05:00x", -1);
        row("12h", "7:", -1);
        row("12h", "", -1);
        row("24h", "7.05", hms(7, 5, 0));
        row("24h", "7:05", -1);
        row("24h", "ip. 1.00", hms(13, 0, 0));
        row("24h", "1.00 PM", hms(13, 0, 0));
    }
    void parseTime() {
        QFETCH(QString, settings);
        QFETCH(QString, text);
        QFETCH(double, expected);
        FormatSettings::install(settingsNamed(settings));
        const auto v = TValueSpinEdit::TextToTime(text);
        if (expected < 0) {
            QVERIFY(!v);
            TProbeSpinEdit e;
            e.setText(text);
            QCOMPARE(e.TimeValue(), 0.0);
        } else {
            QVERIFY(v);
            QVERIFY(std::fabs(*v - expected) < 1e-12);
        }
    }

    void otherKinds() {
        FormatSettings::install(&settings24);
        TProbeSpinEdit e;
        // Integer: clamped writes, failed reads give MinValue.
        e.SetMinValue(1);
        e.SetMaxValue(10);
        e.SetValue(15);
        QCOMPARE(e.text(), QStringLiteral("10"));
        e.setText(QStringLiteral("abc"));
        QCOMPARE(e.Value(), 1);
        e.setText(QStringLiteral("9"));
        e.SetIncrement(3);
        e.StepUp();
        QCOMPARE(e.text(), QStringLiteral("10"));

        // Float: the user's decimal separator, general or fixed format.
        e.SetSpinType(TValueSpinEdit::sptFloat);
        e.SetFloatValue(0.1);
        QCOMPARE(e.text(), QStringLiteral("0,1"));
        e.SetFloatValue(1e20);
        QCOMPARE(e.text(), QStringLiteral("1E20"));
        e.SetPrecision(2);
        e.SetFloatValue(3.14159);
        QCOMPARE(e.text(), QStringLiteral("3,14"));
        e.SetIncrementFloat(0.5);
        e.StepDown();
        QCOMPARE(e.text(), QStringLiteral("2,64"));
        e.setText(QStringLiteral("2.5")); // not this user's separator
        QCOMPARE(e.FloatValue(), 1.0);

        // Hexadecimal: prefix, upper case, no range on steps.
        e.SetSpinType(TValueSpinEdit::sptHex);
        e.SetHexValue(255);
        QCOMPARE(e.text(), QStringLiteral("0xFF"));
        e.SetIncrement(1);
        e.StepUp();
        QCOMPARE(e.text(), QStringLiteral("0x100"));
        e.setText(QStringLiteral("0xabc"));
        QCOMPARE(e.HexValue(), 0xABC);

        // Date: the field under the caret by position, whatever the locale's order.
        FormatSettings::install(&settings12); // MM/dd/yyyy
        e.SetSpinType(TValueSpinEdit::sptDate);
        e.SetDateValue(serial(2026, 1, 31));
        QCOMPARE(e.text(), QStringLiteral("01/31/2026"));
        e.setCursorPosition(0);
        e.StepUp(); // first field: a day
        QCOMPARE(e.text(), QStringLiteral("02/01/2026"));
        e.SetDateValue(serial(2026, 1, 31));
        e.setCursorPosition(4);
        e.StepUp(); // second field: a month, the day limited to its length
        QCOMPARE(e.text(), QStringLiteral("02/28/2026"));
        e.setCursorPosition(8);
        e.StepDown(); // third field: a year
        QCOMPARE(e.text(), QStringLiteral("02/28/2025"));
        QCOMPARE(e.DateValue(), serial(2025, 2, 28));
    }

    void leavingTheControl() {
        FormatSettings::install(&settings24);
        TProbeSpinEdit e;
        e.SetMinValue(1);
        e.SetMaxValue(10);
        e.setText(QStringLiteral("50"));
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(&e, &out);
        QCOMPARE(e.text(), QStringLiteral("10"));

        // Time mode with no date range leaves a typed time as typed.
        e.SetSpinType(TValueSpinEdit::sptTime);
        e.setText(QStringLiteral("14.30"));
        e.changes = 0;
        QCoreApplication::sendEvent(&e, &out);
        QCOMPARE(e.text(), QStringLiteral("14.30"));
        QCOMPARE(e.changes, 0);

        // Outside a date range the time is formatted again, not clamped.
        e.SetMinDateValue(0.1);
        e.SetMaxDateValue(0.2);
        QCoreApplication::sendEvent(&e, &out);
        QCOMPARE(e.text(), QStringLiteral("14.30.00"));
    }

    void spinButtons() {
        FormatSettings::install(&settings24);
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* other = new QLineEdit;
        auto* e = new TProbeSpinEdit;
        layout->addWidget(other);
        layout->addWidget(e);
        e->SetSpinType(TValueSpinEdit::sptTime);
        e->setText(QStringLiteral("10.20.30"));
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());

        // A click enters the edit, which selects all: the hour steps, on release.
        TRepeatSpeedButton* up = e->Button()->UpButton();
        e->changes = 0;
        QTest::mousePress(up, Qt::LeftButton);
        QVERIFY(e->hasFocus());
        QCOMPARE(e->changes, 0);
        QTest::mouseRelease(up, Qt::LeftButton);
        QCOMPARE(e->text(), QStringLiteral("11.20.30"));
        QCOMPARE(e->changes, 1);

        // With the caret in the minutes the buttons step the minutes.
        e->setCursorPosition(4);
        QTest::mouseClick(e->Button()->DownButton(), Qt::LeftButton);
        QCOMPARE(e->text(), QStringLiteral("11.19.30"));
        QCOMPARE(e->cursorPosition(), 4);

        // Held: repeats while pressed, and one more step on release over the button.
        e->changes = 0;
        QTest::mousePress(up, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(e->changes >= 3, 5000);
        const int before = e->changes;
        QTest::mouseRelease(up, Qt::LeftButton);
        QCOMPARE(e->changes, before + 1);
        QTest::qWait(250);
        QCOMPARE(e->changes, before + 1); // the timer stopped
    }

    void layout() {
        TProbeSpinEdit e;
        e.show(); // a hidden widget gets its resize events only when shown
        e.resize(121, 5);
        QCOMPARE(e.height(), e.MinHeight());
        e.resize(121, 30);
        const QRect b = e.Button()->geometry();
        QCOMPARE(b.width(), 15);
        QCOMPARE(b.right(), 121 - 1 - 3); // client edge minus one, inside the frame
        QCOMPARE(b.height(), 30 - 5);
        // The up button takes the top half, the down button overlaps it by one pixel.
        QCOMPARE(e.Button()->UpButton()->height(), b.height() / 2);
        QCOMPARE(e.Button()->DownButton()->y(), b.height() / 2 - 1);
        QCOMPARE(e.textMargins().right(), 15 + 2);

        e.SetDirection(TValueSpinButton::spHorizontal);
        QCOMPARE(e.Button()->width(), 20);
        QCOMPARE(e.Button()->DownButton()->x(), 0);
        QCOMPARE(e.Button()->UpButton()->x(), 10);
    }
};

QTEST_MAIN(TestValueSpinEdit)
#include "tst_valuespinedit.moc"
