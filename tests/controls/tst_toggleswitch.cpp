#include "controls/form.h"
#include "controls/formreader.h"
#include "controls/toggleswitch.h"
#include "controls/valuespinedit.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

namespace {

// Records every event of the switches it handles, with the state the handler saw.
class TLogger : public QObject {
    Q_OBJECT
public:
    QStringList log;
    // When set, the on-handler turns the switch off again.
    bool turnOffInOnHandler = false;

    void Attach(TToggleSwitch* s) {
        s->SetOnOn(TNotifyEvent(this, "SwitchOn"));
        s->SetOnOff(TNotifyEvent(this, "SwitchOff"));
        s->SetOnClick(TNotifyEvent(this, "SwitchClick"));
        s->SetOnEnter(TNotifyEvent(this, "SwitchEnter"));
    }
public slots:
    void SwitchOn(QObject* Sender) {
        auto* s = static_cast<TToggleSwitch*>(Sender);
        log << QStringLiteral("On(%1)").arg(s->StateOn());
        if (turnOffInOnHandler) s->SetStateOn(false);
        log << QStringLiteral("/On");
    }
    void SwitchOff(QObject* Sender) {
        log << QStringLiteral("Off(%1)").arg(static_cast<TToggleSwitch*>(Sender)->StateOn());
    }
    void SwitchClick(QObject*) { log << QStringLiteral("Click"); }
    void SwitchEnter(QObject*) { log << QStringLiteral("Enter"); }
};

class TSwitchForm : public TForm {
    Q_OBJECT
public:
    QStringList log;
public slots:
    void ToggleSwitch1On(QObject*) { log << QStringLiteral("On"); }
    void ToggleSwitch1Off(QObject*) { log << QStringLiteral("Off"); }
};

// The picture as the switch shows it on a background.
QImage composed(const QImage& picture, QColor background) {
    QImage out(picture.size(), QImage::Format_RGB32);
    const QRgb key = picture.pixel(0, picture.height() - 1);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            out.setPixel(x, y, picture.pixel(x, y) == key ? background.rgb() : picture.pixel(x, y));
    return out;
}

} // namespace

class TestToggleSwitch : public QObject {
    Q_OBJECT

    // A shown, active window holding a line edit and the switch, focus on the edit.
    struct Window {
        QWidget w;
        QLineEdit* edit = new QLineEdit;
        TToggleSwitch* sw = new TToggleSwitch;
        Window() {
            auto* layout = new QVBoxLayout(&w);
            layout->addWidget(edit);
            layout->addWidget(sw);
            sw->setFixedSize(50, 60);
        }
    };
    bool showAndFocusEdit(Window& win) {
        win.w.show();
        if (!QTest::qWaitForWindowActive(&win.w)) return false;
        win.edit->setFocus();
        return QTest::qWaitFor([&] { return win.edit->hasFocus(); });
    }

private slots:
    void initTestCase() { RegisterSpinAndSwitchControls(); }

    void eventsOnRealChangesOnly() {
        TToggleSwitch s;
        TLogger l;
        l.Attach(&s);
        s.SetStateOn(true);
        s.SetStateOn(true);
        QCOMPARE(l.log, QStringList({"On(1)", "/On"}));
        s.SetStateOn(false);
        s.SetStateOn(false);
        QCOMPARE(l.log, QStringList({"On(1)", "/On", "Off(0)"}));
        s.Toggle();
        QCOMPARE(l.log.size(), 5);
        QVERIFY(s.StateOn());
    }

    void nestedChangeFromHandler() {
        TToggleSwitch s;
        TLogger l;
        l.Attach(&s);
        l.turnOffInOnHandler = true;
        s.SetStateOn(true);
        // The off event runs inside the on handler and the switch ends off.
        QCOMPARE(l.log, QStringList({"On(1)", "Off(0)", "/On"}));
        QVERIFY(!s.StateOn());
    }

    void pressTogglesReleaseClicks() {
        Window win;
        QVERIFY(showAndFocusEdit(win));
        TLogger l;
        l.Attach(win.sw);
        QTest::mousePress(win.sw, Qt::LeftButton);
        // The focus moves to the switch before it toggles; the click waits for the release.
        QCOMPARE(l.log, QStringList({"Enter", "On(1)", "/On"}));
        QVERIFY(win.sw->hasFocus());
        QTest::mouseRelease(win.sw, Qt::LeftButton);
        QCOMPARE(l.log, QStringList({"Enter", "On(1)", "/On", "Click"}));
        QVERIFY(win.sw->StateOn());

        // Other buttons change nothing.
        l.log.clear();
        QTest::mouseClick(win.sw, Qt::RightButton);
        QTest::mouseClick(win.sw, Qt::MiddleButton);
        QCOMPARE(l.log, QStringList());
        QVERIFY(win.sw->StateOn());
    }

    void doubleClickTogglesTwice() {
        TToggleSwitch s;
        TLogger l;
        l.Attach(&s);
        QTest::mousePress(&s, Qt::LeftButton);
        QTest::mouseRelease(&s, Qt::LeftButton);
        QTest::mouseDClick(&s, Qt::LeftButton);
        QTest::mouseRelease(&s, Qt::LeftButton);
        QCOMPARE(l.log.filter(QRegularExpression("^(On|Off)\\(")),
                 QStringList({"On(1)", "Off(0)"}));
        QVERIFY(!s.StateOn());

        // The same through the window system, which makes the double click itself.
        Window win;
        QVERIFY(showAndFocusEdit(win));
        TLogger wl;
        wl.Attach(win.sw);
        const QPoint centre = win.sw->mapTo(&win.w, win.sw->rect().center());
        QTest::mouseDClick(win.w.windowHandle(), Qt::LeftButton, {}, centre);
        QCOMPARE(wl.log.filter(QRegularExpression("^(On|Off)\\(")),
                 QStringList({"On(1)", "Off(0)"}));
    }

    void noFocusWithoutTabStop() {
        Window win;
        win.sw->SetTabStop(false);
        QVERIFY(showAndFocusEdit(win));
        QTest::mouseClick(win.sw, Qt::LeftButton);
        QVERIFY(win.sw->StateOn());
        QVERIFY(win.edit->hasFocus());
    }

    void keyboard_data() {
        QTest::addColumn<int>("toggleKey");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("toggles");

        QTest::newRow("space") << 32 << int(Qt::Key_Space) << 0 << true;
        QTest::newRow("shift+space") << 32 << int(Qt::Key_Space) << int(Qt::ShiftModifier) << false;
        QTest::newRow("other key") << 32 << int(Qt::Key_Return) << 0 << false;
        QTest::newRow("ctrl+T set") << (int('T') | TToggleSwitch::scCtrl) << int(Qt::Key_T)
                                    << int(Qt::ControlModifier) << true;
        QTest::newRow("T without ctrl")
            << (int('T') | TToggleSwitch::scCtrl) << int(Qt::Key_T) << 0 << false;
        QTest::newRow("F2") << 113 << int(Qt::Key_F2) << 0 << true;
    }
    void keyboard() {
        QFETCH(int, toggleKey);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, toggles);
        TToggleSwitch s;
        TLogger l;
        l.Attach(&s);
        s.SetToggleKey(toggleKey);
        QTest::keyClick(&s, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(s.StateOn(), toggles);
        QCOMPARE(l.log.size(), toggles ? 2 : 0);
        // Held down, the key toggles at the repeat rate.
        if (toggles) {
            QKeyEvent repeat(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QString(),
                             true);
            QCoreApplication::sendEvent(&s, &repeat);
            QVERIFY(!s.StateOn());
        }
    }

    void disabledIgnoresInputAndShowsEmbossedPicture() {
        Window win;
        QVERIFY(showAndFocusEdit(win));
        TLogger l;
        l.Attach(win.sw);
        const QColor bg = win.sw->palette().color(win.sw->backgroundRole());
        const QRect pic = win.sw->PictureRect();
        const QImage enabledLook =
            win.sw->grab().toImage().copy(pic).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(enabledLook, composed(TToggleSwitch::DefaultGlyph(false), bg));

        win.sw->setEnabled(false);
        QTest::mouseClick(win.sw, Qt::LeftButton);
        QTest::keyClick(win.sw, Qt::Key_Space);
        QCOMPARE(l.log, QStringList());
        QVERIFY(!win.sw->StateOn());
        QVERIFY(win.edit->hasFocus());

        const QImage disabledLook =
            win.sw->grab().toImage().copy(pic).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(disabledLook, composed(win.sw->DisabledGlyph(false), bg));
        QVERIFY(disabledLook != enabledLook);
        // Two tones on the button face: highlight and shadow where the picture is outlined.
        QSet<QRgb> tones;
        const QImage d = win.sw->DisabledGlyph(false);
        for (int y = 0; y < d.height(); ++y)
            for (int x = 0; x < d.width(); ++x)
                tones.insert(d.pixel(x, y));
        QCOMPARE(tones.size(), 3);

        // Code still switches a disabled switch, with its event.
        win.sw->SetStateOn(true);
        QCOMPARE(l.log, QStringList({"On(1)", "/On"}));
    }

    void defaultPictures() {
        for (bool on : {false, true}) {
            const QImage img = TToggleSwitch::DefaultGlyph(on);
            QCOMPARE(img.size(), QSize(32, 48));
            QSet<QRgb> colours;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    colours.insert(img.pixel(x, y));
            QVERIFY(colours.size() <= 16);
        }
        QVERIFY(TToggleSwitch::DefaultGlyph(false) != TToggleSwitch::DefaultGlyph(true));
        TToggleSwitch s;
        QCOMPARE(s.size(), QSize(50, 60));
    }

    void picturePlacement_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QRect>("expected");
        // A 100 x 80 switch with the 32 x 48 picture.
        QTest::newRow("right") << int(TToggleSwitch::tpRight) << QRect(0, 16, 32, 48);
        QTest::newRow("left") << int(TToggleSwitch::tpLeft) << QRect(68, 16, 32, 48);
        QTest::newRow("above") << int(TToggleSwitch::tpAbove) << QRect(34, 32, 32, 48);
        QTest::newRow("below") << int(TToggleSwitch::tpBelow) << QRect(34, 0, 32, 48);
        QTest::newRow("none") << int(TToggleSwitch::tpNone) << QRect(34, 16, 32, 48);
    }
    void picturePlacement() {
        QFETCH(int, position);
        QFETCH(QRect, expected);
        TToggleSwitch s;
        s.resize(100, 80);
        s.SetTextPosition(TToggleSwitch::TTextPos(position));
        s.SetCaption(QStringLiteral("On"));
        QCOMPARE(s.PictureRect(), expected);
        // The caption is drawn outside the picture, in the font's colour.
        const QImage img = s.grab().toImage();
        const QRgb bg = s.palette().color(s.backgroundRole()).rgb();
        bool captionOutside = false;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (!expected.contains(x, y) && img.pixel(x, y) != bg) captionOutside = true;
        QCOMPARE(captionOutside, position != TToggleSwitch::tpNone);
    }

    void customPictureFlags() {
        TToggleSwitch s;
        QVERIFY(!s.IsDataStored());
        QImage mine(20, 30, QImage::Format_RGB32);
        mine.fill(Qt::red);
        s.SetGlyphOn(mine);
        // The description would hold the on picture only, and "Data" = 2.
        QVERIFY(s.IsGlyphOnStored());
        QVERIFY(!s.IsGlyphOffStored());
        QVERIFY(s.IsDataStored());
        QCOMPARE(s.Data(), 2);
        QCOMPARE(s.GlyphOn().size(), QSize(20, 30));
        QCOMPARE(s.DisabledGlyph(true).size(), QSize(20, 30));
        // No picture goes back to the built-in one.
        s.SetGlyphOn(QImage());
        QCOMPARE(s.Data(), 0);
        QVERIFY(!s.IsDataStored());
        QCOMPARE(s.GlyphOn(), TToggleSwitch::DefaultGlyph(true));
    }

    // Read from a description, a stored StateOn goes through the same event.
    void loadedFromDescription() {
        TSwitchForm form;
        const auto root = FormDescription::Parse(QStringLiteral(R"(object Form1: TSwitchForm
  object ToggleSwitch1: TToggleSwitch
    Left = 10
    Top = 10
    Width = 50
    Height = 60
    Caption = 'Backup'
    TextPosition = tpBelow
    OnOn = ToggleSwitch1On
    OnOff = ToggleSwitch1Off
    StateOn = True
    ToggleKey = 13
    Hint = 'Turn backup off or on.'
  end
end
)"));
        FormDescription::Apply(*root, &form);
        auto* s = form.Component<TToggleSwitch>(QStringLiteral("ToggleSwitch1"));
        QVERIFY(s);
        QCOMPARE(form.log, QStringList({"On"}));
        QCOMPARE(s->TextPosition(), TToggleSwitch::tpBelow);
        QCOMPARE(s->ToggleKey(), 13);
        QCOMPARE(s->Caption(), QStringLiteral("Backup"));
        // Restoring the state it already has raises nothing; the other one does.
        s->setProperty("StateOn", true);
        QCOMPARE(form.log.size(), 1);
        s->setProperty("StateOn", false);
        QCOMPARE(form.log, QStringList({"On", "Off"}));
    }
};

QTEST_MAIN(TestToggleSwitch)
#include "tst_toggleswitch.moc"
