#include "controls/foldpanel.h"

#include <QTest>

// Receives the panel's events and notes what the panel looked like at each.
class Recorder : public QObject {
    Q_OBJECT
public:
    bool veto = false;
    QStringList calls;
    QList<int> heights;
    QList<int> statuses;

public slots:
    void foldClick(QObject* sender, FoldPanelTypes::TFoldStatus status, bool* doFoldAction) {
        calls << QStringLiteral("foldClick");
        statuses << int(status);
        heights << qobject_cast<QWidget*>(sender)->height();
        if (veto) *doFoldAction = false;
    }
    void click(QObject*) { calls << QStringLiteral("click"); }
    void beforeExpand(QObject* s) { note("beforeExpand", s); }
    void afterExpand(QObject* s) { note("afterExpand", s); }
    void beforeCollaps(QObject* s) { note("beforeCollaps", s); }
    void afterCollaps(QObject* s) { note("afterCollaps", s); }

private:
    void note(const char* what, QObject* s) {
        calls << QLatin1String(what);
        heights << qobject_cast<QWidget*>(s)->height();
    }
};

class TestFoldPanel : public QObject {
    Q_OBJECT

    // The window's kind of panel: 170 high, raised outer bevel of width 1.
    static std::unique_ptr<TFoldPanel> panel(QWidget* parent, TFoldPanel::TFoldPosition pos) {
        auto p = std::make_unique<TFoldPanel>(parent);
        p->SetFoldPosition(pos);
        p->SetBevelOuter(TFoldPanel::bvRaised);
        p->SetBevelInner(TFoldPanel::bvNone);
        p->setGeometry(20, 200, 300, 170);
        return p;
    }

    static void wire(TFoldPanel* p, Recorder* r) {
        p->SetOnFoldClick(TFoldClickEvent(r, "foldClick"));
        p->SetOnClick(TNotifyEvent(r, "click"));
        p->SetBeforeExpand(TNotifyEvent(r, "beforeExpand"));
        p->SetAfterExpand(TNotifyEvent(r, "afterExpand"));
        p->SetBeforeCollaps(TNotifyEvent(r, "beforeCollaps"));
        p->SetAfterCollaps(TNotifyEvent(r, "afterCollaps"));
    }

private slots:
    void foldsToTheGlyphAndBack_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("bottom");
        QTest::newRow("left top") << int(TFoldPanel::fpLeftTop) << false;
        QTest::newRow("right top") << int(TFoldPanel::fpRightTop) << false;
        QTest::newRow("left bottom") << int(TFoldPanel::fpLeftBottom) << true;
        QTest::newRow("right bottom") << int(TFoldPanel::fpRightBottom) << true;
    }
    void foldsToTheGlyphAndBack() {
        QFETCH(int, position);
        QFETCH(bool, bottom);
        QWidget window;
        window.resize(400, 400);
        auto p = panel(&window, TFoldPanel::TFoldPosition(position));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        p->Collapse();
        QCOMPARE(p->height(), 14); // the 12-pixel glyph and the bevel
        QCOMPARE(p->width(), 300);
        QCOMPARE(p->y(), bottom ? 200 + 170 - 14 : 200);
        QVERIFY(!p->Client()->isVisible());
        const bool left = position == TFoldPanel::fpLeftTop || position == TFoldPanel::fpLeftBottom;
        QCOMPARE(p->GlyphRect(), QRect(left ? 1 : 300 - 41 - 1, 1, 41, 12));

        p->Expand();
        QCOMPARE(p->height(), 170);
        QCOMPARE(p->geometry().bottom(), 200 + 170 - 1);
        QCOMPARE(p->y(), 200);
        QVERIFY(p->Client()->isVisible());
        // The client leaves the glyph column (12 + bevel 1 + separator 2) free.
        QCOMPARE(p->Client()->width(), 300 - 2 - 15);
        QCOMPARE(p->Client()->x(), left ? 1 + 15 : 1);
    }

    void foldedHeightIsLocked() {
        QWidget window;
        window.resize(400, 400);
        auto p = panel(&window, TFoldPanel::fpLeftTop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        p->Collapse();
        p->resize(250, 300);
        QCOMPARE(p->size(), QSize(250, 14));
        // A resize while unfolded is the new unfolded height.
        p->Expand();
        p->resize(250, 120);
        p->Collapse();
        p->Expand();
        QCOMPARE(p->height(), 120);
    }

    void foldingOffKeepsThePanelUnfolded() {
        QWidget window;
        auto p = panel(&window, TFoldPanel::fpLeftTop);
        p->Collapse();
        p->SetFolding(false);
        QCOMPARE(p->FoldStatus(), TFoldPanel::fsExpanded);
        QCOMPARE(p->height(), 170);
        p->Collapse();
        QCOMPARE(p->FoldStatus(), TFoldPanel::fsExpanded);
        QCOMPARE(p->height(), 170);
        // The client ignores the glyph column.
        QCOMPARE(p->Client()->width(), 300 - 2);
    }

    void eventsComeAroundEachChange() {
        QWidget window;
        auto p = panel(&window, TFoldPanel::fpLeftBottom);
        Recorder r;
        wire(p.get(), &r);
        p->Collapse();
        p->Expand();
        QCOMPARE(r.calls,
                 (QStringList{"beforeCollaps", "afterCollaps", "beforeExpand", "afterExpand"}));
        // Before: still the old size; after: the new one.
        QCOMPARE(r.heights, (QList<int>{170, 14, 14, 170}));
        r.calls.clear();
        p->Expand();
        QVERIFY(r.calls.isEmpty());
    }

    void glyphClicks_data() {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("release");
        QTest::addColumn<bool>("veto");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("status");
        const QPoint glyph(20, 6), beside(150, 7), outside(150, 60);
        QTest::newRow("on the glyph")
            << glyph << glyph << false << QStringList{"foldClick", "beforeExpand", "afterExpand"}
            << int(TFoldPanel::fsExpanded);
        QTest::newRow("vetoed") << glyph << glyph << true << QStringList{"foldClick"}
                                << int(TFoldPanel::fsCollapsed);
        QTest::newRow("released beside the glyph")
            << glyph << beside << false << QStringList{"click"} << int(TFoldPanel::fsCollapsed);
        QTest::newRow("released outside the panel")
            << glyph << outside << false << QStringList{} << int(TFoldPanel::fsCollapsed);
        QTest::newRow("pressed beside, released on the glyph")
            << beside << glyph << false << QStringList{"click"} << int(TFoldPanel::fsCollapsed);
    }
    void glyphClicks() {
        QFETCH(QPoint, press);
        QFETCH(QPoint, release);
        QFETCH(bool, veto);
        QFETCH(QStringList, calls);
        QFETCH(int, status);
        QWidget window;
        window.resize(400, 400);
        auto p = panel(&window, TFoldPanel::fpLeftTop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        p->Collapse();
        Recorder r;
        r.veto = veto;
        wire(p.get(), &r);

        QTest::mousePress(p.get(), Qt::LeftButton, {}, press);
        QCOMPARE(p->GlyphRect().contains(press), press == QPoint(20, 6));
        QTest::mouseRelease(p.get(), Qt::LeftButton, {}, release);
        QCOMPARE(r.calls, calls);
        QCOMPARE(int(p->FoldStatus()), status);
        if (calls.value(0) == "foldClick")
            QCOMPARE(r.statuses, QList<int>{TFoldPanel::fsCollapsed});
    }

    void pointerOverTheGlyphHighlightsIt() {
        QWidget window;
        window.resize(400, 400);
        auto p = panel(&window, TFoldPanel::fpLeftTop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        p->Collapse();
        QTest::mouseMove(p.get(), QPoint(20, 6));
        QTRY_VERIFY(p->Highlighted());
        QTest::mouseMove(p.get(), QPoint(150, 6));
        QTRY_VERIFY(!p->Highlighted());
    }

    void childrenLiveInTheClient() {
        QWidget window;
        auto p = panel(&window, TFoldPanel::fpLeftTop);
        // As a window description builds it: children first, then the step after loading.
        p->BeginLoading();
        QList<QWidget*> kids;
        for (int i = 0; i < 3; ++i) {
            kids << new QWidget(p.get());
            kids.last()->move(5, 6 + i);
        }
        kids[1]->hide();
        p->EndLoading();
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(kids[i]->parentWidget(), p->Client());
            QCOMPARE(kids[i]->pos(), QPoint(5, 6 + i));
        }
        QVERIFY(kids[1]->isHidden());
        QVERIFY(!kids[0]->isHidden());
        // Added by code later.
        auto* late = new QWidget(p.get());
        QTRY_COMPARE(late->parentWidget(), p->Client());
    }
};

QTEST_MAIN(TestFoldPanel)
#include "tst_foldpanel.moc"
