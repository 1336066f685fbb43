#include "controls/bitmapholder.h"
#include "controls/paneles.h"
#include "controls/screwpanel.h"

#include <QTest>

class TestPanels : public QObject {
    Q_OBJECT
private slots:
    void screwPanelColoursAndLimits() {
        TScrewPanel panel;
        QCOMPARE(panel.size(), QSize(45, 45));
        panel.SetColor(QColor(192, 100, 0));
        // Half of each channel up (capped at 255) and down.
        QCOMPARE(panel.LightColor(), QColor(255, 150, 0));
        QCOMPARE(panel.DarkColor(), QColor(96, 50, 0));
        panel.SetMargin(43); // not less than 45 - ScrewSize
        QCOMPARE(panel.Margin(), 2);
        panel.SetMargin(42);
        QCOMPARE(panel.Margin(), 42);
        panel.SetScrewSize(45);
        QCOMPARE(panel.ScrewSize(), 2);
    }

    void panelsFollowTheirHolderUntilTheyHaveTheirOwnPicture() {
        auto holder = std::make_unique<TBitmapHolder>();
        holder->SetBitmap("Dots");
        TPaneles panel;
        QCOMPARE(panel.BackgroundPicture(), QString());
        panel.SetBitmapHolder(holder.get());
        QVERIFY(holder->IsLinked(&panel));
        QCOMPARE(panel.BackgroundPicture(), QStringLiteral("Dots"));
        panel.SetBitmap("Blueprint");
        QVERIFY(!holder->IsLinked(&panel));
        QCOMPARE(panel.BackgroundPicture(), QStringLiteral("Blueprint"));
        panel.SetBitmap(QString());
        QVERIFY(holder->IsLinked(&panel));
        holder.reset();
        QCOMPARE(panel.BitmapHolder(), nullptr);
        QCOMPARE(panel.BackgroundPicture(), QString());
    }
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
