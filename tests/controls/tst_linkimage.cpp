#include "controls/linkimage.h"

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestLinkImage : public QObject {
    Q_OBJECT
private slots:
    void addressIsPrefixAndLink_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << int(TLinkImage::ltfile) << "/usr/share/doc/x.md"
                              << "file:///usr/share/doc/x.md";
        QTest::newRow("ftp") << int(TLinkImage::ltftp) << "ftp.example.org"
                             << "ftp://ftp.example.org";
        QTest::newRow("gopher") << int(TLinkImage::ltgopher) << "g.example.org"
                                << "gopher://g.example.org";
        QTest::newRow("http") << int(TLinkImage::lthttp) << "example.org"
                              << "http://example.org";
        QTest::newRow("https") << int(TLinkImage::lthttps) << "example.org/a?b=c"
                               << "https://example.org/a?b=c";
        QTest::newRow("mailto") << int(TLinkImage::ltmailto) << "ops@example.org"
                                << "mailto:ops@example.org";
        QTest::newRow("news") << int(TLinkImage::ltnews) << "comp.databases"
                              << "news:comp.databases";
        QTest::newRow("telnet") << int(TLinkImage::lttelnet) << "host"
                                << "telnet:host";
        QTest::newRow("wais") << int(TLinkImage::ltwais) << "w.example.org"
                              << "wais:w.example.org";
        // Nothing is removed: a link that carries its prefix gets it twice.
        QTest::newRow("prefix twice") << int(TLinkImage::lthttp) << "http://example.org"
                                      << "http://http://example.org";
    }
    void addressIsPrefixAndLink() {
        QFETCH(int, type);
        QFETCH(QString, link);
        QFETCH(QString, address);
        TLinkImage image;
        QCOMPARE(image.LinkType(), TLinkImage::lthttp);
        image.SetLinkType(TLinkImage::tLinkType(type));
        image.SetHyperLink(link);
        QCOMPARE(image.Address(), address);
    }

    void hintFollowsTheLinkOnlyWhenEmpty() {
        TLinkImage bare;
        QVERIFY(bare.toolTip().isEmpty());
        bare.SetHyperLink("example.org");
        QCOMPARE(bare.toolTip(), QStringLiteral("example.org"));
        QVERIFY(bare.property("ShowHint").toBool());
        bare.SetHyperLink("other.example.org");
        QCOMPARE(bare.toolTip(), QStringLiteral("example.org"));

        TLinkImage hinted;
        hinted.setToolTip("Our home page");
        hinted.SetHyperLink("example.org");
        QCOMPARE(hinted.toolTip(), QStringLiteral("Our home page"));
        QVERIFY(hinted.property("ShowHint").toBool());
    }

    void leftPressOpensTheAddress() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("mailto", &catcher, "open");
        TLinkImage image;
        image.resize(40, 20);
        image.SetLinkType(TLinkImage::ltmailto);
        image.SetHyperLink("ops@example.org");
        QTest::mousePress(&image, Qt::RightButton);
        QVERIFY(catcher.opened.isEmpty());
        QTest::mousePress(&image, Qt::LeftButton);
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl("mailto:ops@example.org")});
        QDesktopServices::unsetUrlHandler("mailto");
        QCOMPARE(image.cursor().shape(), Qt::PointingHandCursor);
    }
};

QTEST_MAIN(TestLinkImage)
#include "tst_linkimage.moc"
