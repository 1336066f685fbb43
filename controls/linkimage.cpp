#include "controls/linkimage.h"

#include "controls/pictures.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QString& name) {
    m_picture = name;
    if (m_autoSize && Pictures::Exists(name)) resize(Pictures::Size(name));
    update();
}

void TImage::SetStretch(bool s) {
    m_stretch = s;
    update();
}

void TImage::SetCenter(bool c) {
    m_center = c;
    update();
}

void TImage::SetAutoSize(bool a) {
    m_autoSize = a;
    if (a && Pictures::Exists(m_picture)) resize(Pictures::Size(m_picture));
}

void TImage::paintEvent(QPaintEvent*) {
    const QSize size = Pictures::Size(m_picture);
    if (size.isEmpty()) return;
    QPainter p(this);
    QRectF target(QPointF(0, 0), QSizeF(size));
    if (m_stretch)
        target = rect();
    else if (m_center)
        target.moveCenter(QRectF(rect()).center());
    // Vector drawing: as sharp as the screen allows at any scale.
    Pictures::Paint(m_picture, p, target);
}

TLinkImage::TLinkImage(QWidget* parent) : TImage(parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QString());
}

QString TLinkImage::Prefix(tLinkType t) {
    switch (t) {
    case ltfile:
        return QStringLiteral("file://");
    case ltftp:
        return QStringLiteral("ftp://");
    case ltgopher:
        return QStringLiteral("gopher://");
    case lthttp:
        return QStringLiteral("http://");
    case lthttps:
        return QStringLiteral("https://");
    case ltmailto:
        return QStringLiteral("mailto:");
    case ltnews:
        return QStringLiteral("news:");
    case lttelnet:
        return QStringLiteral("telnet:");
    case ltwais:
        return QStringLiteral("wais:");
    }
    return {};
}

void TLinkImage::SetLinkType(tLinkType t) {
    if (t != m_linkType) m_linkType = t;
}

void TLinkImage::SetHyperLink(const QString& link) {
    m_hyperLink = link;
    if (toolTip().isEmpty()) setToolTip(link);
    if (!toolTip().isEmpty()) setProperty("ShowHint", true);
}

void TLinkImage::Open() const {
    QDesktopServices::openUrl(QUrl(Address(), QUrl::TolerantMode));
}

void TLinkImage::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        TImage::mousePressEvent(e);
        return;
    }
    e->accept();
    Open();
}

void TLinkImage::mouseReleaseEvent(QMouseEvent* e) {
    // The press opened the link; its release is no click either.
    if (e->button() == Qt::LeftButton)
        e->accept();
    else
        TImage::mouseReleaseEvent(e);
}
