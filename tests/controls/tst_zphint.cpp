#include "controls/zphint.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTest>

class TestZPHint : public QObject {
    Q_OBJECT
    const QRect screen{0, 0, 1024, 768};

private slots:
    void ellipseAroundTheText() {
        TZPHint hint;
        hint.SetArrowStyle(TZPHint::asNone);
        // 98 × 18 of text, 100 × 20 with the one-pixel margins.
        auto l = TRegionHint::Compute(hint, QSize(98, 18), QPoint(300, 300), screen, 20);
        QCOMPARE(l.window.size(), QSize(112, 48));
        hint.SetArrowStyle(TZPHint::asArrow);
        l = TRegionHint::Compute(hint, QSize(98, 18), QPoint(300, 300), screen, 20);
        QCOMPARE(l.window.size(), QSize(112, 69));
        // Below the pointer, the arrow's tip on it, the text centred in the body.
        QCOMPARE(l.window.topLeft(), QPoint(300, 300));
        QVERIFY(l.arrow.contains(QPoint(0, 0)));
        QCOMPARE(l.text.center().x(), 112 / 2 - 1);
        QVERIFY(l.region.contains(l.text.center()));
    }

    void flipsAtTheScreenEdges_data() {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<int>("used");
        QTest::newRow("right edge, up right")
            << int(TZPHint::hdUpRight) << QPoint(1010, 400) << int(TZPHint::hdUpLeft);
        QTest::newRow("top, up left")
            << int(TZPHint::hdUpLeft) << QPoint(500, 10) << int(TZPHint::hdDownLeft);
        QTest::newRow("bottom, down right")
            << int(TZPHint::hdDownRight) << QPoint(500, 760) << int(TZPHint::hdUpRight);
        QTest::newRow("left edge, down left")
            << int(TZPHint::hdDownLeft) << QPoint(5, 300) << int(TZPHint::hdDownRight);
    }
    void flipsAtTheScreenEdges() {
        QFETCH(int, direction);
        QFETCH(QPoint, cursor);
        QFETCH(int, used);
        TZPHint hint;
        hint.SetHintDirection(TZPHint::THintDirection(direction));
        const auto l = TRegionHint::Compute(hint, QSize(98, 18), cursor, screen, 20);
        QCOMPARE(l.direction, used);
        QVERIFY(screen.contains(l.window));
        // The tip stays on the pointer, the base on the pointer's side.
        const QPoint tip = cursor - l.window.topLeft();
        QVERIFY(l.arrow.contains(tip));
        const bool left = used == TZPHint::hdUpLeft || used == TZPHint::hdDownLeft;
        QCOMPARE(tip.x(), left ? l.window.width() : 0);
        const int base = (l.arrow[0].x() + l.arrow[1].x()) / 2;
        QVERIFY(left ? base > l.window.width() / 2 : base < l.window.width() / 2);
    }

    void autoShiftsLeftAndUp() {
        TZPHint hint;
        const auto l = TRegionHint::Compute(hint, QSize(98, 18), QPoint(1020, 760), screen, 20);
        QCOMPARE(l.window.right(), screen.right());
        QCOMPARE(l.window.bottom() + 1, 760);
        QCOMPARE(l.direction, int(TZPHint::hdAuto));
    }

    void settingsRules() {
        TZPHint hint;
        QCOMPARE(ApplicationHints::Pause(), 500);
        hint.SetHintPause(0);
        QCOMPARE(ApplicationHints::Pause(), 500);
        hint.SetHintShortPause(15);
        QCOMPARE(ApplicationHints::ShortPause(), 15);
        hint.SetUseWallPaper(true);
        QVERIFY(!hint.UseWallPaper());
        hint.SetWallPaper("Dots");
        hint.SetUseWallPaper(true);
        QVERIFY(hint.UseWallPaper());
        hint.SetActive(true);
        hint.SetActive(true);
        hint.SetActive(false);
        // Inactive: tooltips are Qt's own again.
        QWidget w;
        w.setToolTip("plain");
        QHelpEvent e(QEvent::ToolTip, QPoint(1, 1), QPoint(1, 1));
        QApplication::sendEvent(&w, &e);
        QVERIFY(!hint.HintWindow());
    }

    void activeHintShowsTheControlsTextAtThePointer() {
        TZPHint hint;
        hint.SetActive(true);
        QWidget parent;
        parent.setToolTip("line one\nline two");
        auto* child = new QWidget(&parent);
        child->resize(50, 20);
        parent.resize(200, 100);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QHelpEvent e(QEvent::ToolTip, QPoint(5, 5), parent.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(child, &e);
        QVERIFY(hint.HintWindow());
        QCOMPARE(hint.HintWindow()->Text(), QStringLiteral("line one\nline two"));
        QCOMPARE(hint.HintWindow()->geometry().topLeft(), parent.mapToGlobal(QPoint(5, 5)));
        QTest::mousePress(&parent, Qt::LeftButton);
        QVERIFY(!hint.HintWindow());
    }
};

QTEST_MAIN(TestZPHint)
#include "tst_zphint.moc"
