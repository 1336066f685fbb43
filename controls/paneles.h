#pragma once

#include "controls/bitmapholder.h"
#include "runtime/component.h"

#include <QFrame>
#include <QPointer>

// A panel whose background is a tiled picture: its own, else the picture of a linked
// TBitmapHolder, else the panel colour.
class TPaneles : public QFrame, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Bitmap READ Bitmap WRITE SetBitmap)
    Q_PROPERTY(TBitmapHolder* BitmapHolder READ BitmapHolder WRITE SetBitmapHolder)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
public:
    enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)

    explicit TPaneles(QWidget* parent = nullptr);
    ~TPaneles() override;

    QString Bitmap() const { return m_bitmap; }
    void SetBitmap(const QString& name);
    TBitmapHolder* BitmapHolder() const { return m_holder; }
    void SetBitmapHolder(TBitmapHolder* holder);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment a);
    TPanelBevel BevelInner() const { return m_inner; }
    void SetBevelInner(TPanelBevel b);
    TPanelBevel BevelOuter() const { return m_outer; }
    void SetBevelOuter(TPanelBevel b);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int w);

    // The picture drawn as background: own, then the holder's; empty for the panel colour.
    QString BackgroundPicture() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_bitmap;
    QPointer<TBitmapHolder> m_holder;
    QString m_caption;
    TAlignment m_alignment = taCenter;
    TPanelBevel m_inner = bvNone, m_outer = bvRaised;
    int m_bevelWidth = 1, m_borderWidth = 0;
};
