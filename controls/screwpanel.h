#pragma once

#include "runtime/component.h"

#include <QColor>
#include <QFrame>

// A panel with its own light and dark bevel colours (derived from its colour) and four
// screw heads in its corners.
class TScrewPanel : public QFrame, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(int ScrewSize READ ScrewSize WRITE SetScrewSize)
    Q_PROPERTY(bool ShowScrews READ ShowScrews WRITE SetShowScrews)
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
public:
    enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)

    explicit TScrewPanel(QWidget* parent = nullptr);

    QColor Color() const { return m_color; }
    void SetColor(const QColor& c);
    int Margin() const { return m_margin; }
    void SetMargin(int m);
    int ScrewSize() const { return m_screwSize; }
    void SetScrewSize(int s);
    bool ShowScrews() const { return m_showScrews; }
    void SetShowScrews(bool s);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment a);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c);
    TPanelBevel BevelInner() const { return m_inner; }
    void SetBevelInner(TPanelBevel b);
    TPanelBevel BevelOuter() const { return m_outer; }
    void SetBevelOuter(TPanelBevel b);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int w);

    QColor LightColor() const { return m_light; }
    QColor DarkColor() const { return m_dark; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor m_color, m_light, m_dark;
    int m_margin = 2, m_screwSize = 2;
    bool m_showScrews = true;
    TAlignment m_alignment = taCenter;
    QString m_caption;
    TPanelBevel m_inner = bvNone, m_outer = bvRaised;
    int m_bevelWidth = 1, m_borderWidth = 0;
};
