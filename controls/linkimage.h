#pragma once

#include "runtime/component.h"

#include <QString>
#include <QWidget>

// An image control: draws one of the built-in pictures (controls/pictures.h), at its size
// (optionally centred) or stretched over the control.
class TImage : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Picture READ Picture WRITE SetPicture)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Center READ Center WRITE SetCenter)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
public:
    explicit TImage(QWidget* parent = nullptr);

    QString Picture() const { return m_picture; }
    void SetPicture(const QString& name);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool s);
    bool Center() const { return m_center; }
    void SetCenter(bool c);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool a);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_picture;
    bool m_stretch = false, m_center = false, m_autoSize = false;
};

// An image that opens a link (a web page, a mail window, a file, ...) through the desktop's
// URL handler when the left button is pressed on it. The press is not passed on.
class TLinkImage : public TImage {
    Q_OBJECT
    Q_PROPERTY(tLinkType LinkType READ LinkType WRITE SetLinkType)
    Q_PROPERTY(QString HyperLink READ HyperLink WRITE SetHyperLink)
public:
    enum tLinkType { ltfile, ltftp, ltgopher, lthttp, lthttps, ltmailto, ltnews, lttelnet, ltwais };
    Q_ENUM(tLinkType)

    explicit TLinkImage(QWidget* parent = nullptr);

    tLinkType LinkType() const { return m_linkType; }
    void SetLinkType(tLinkType t);
    QString HyperLink() const { return m_hyperLink; }
    // An empty hint becomes the link; a hint present switches hints on.
    void SetHyperLink(const QString& link);

    static QString Prefix(tLinkType t);
    // The prefix of the link type followed by the link, nothing inserted or removed.
    QString Address() const { return Prefix(m_linkType) + m_hyperLink; }
    // Hands the address to the desktop; its outcome is the desktop's business.
    void Open() const;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    tLinkType m_linkType = lthttp;
    QString m_hyperLink;
};
