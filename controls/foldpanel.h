#pragma once

#include "controls/paneles.h"
#include "runtime/component.h"

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QPoint>
#include <QRect>

class TFoldPanel;

namespace FoldPanelTypes {
Q_NAMESPACE
enum TFoldStatus { fsExpanded, fsCollapsed };
Q_ENUM_NS(TFoldStatus)
} // namespace FoldPanelTypes

// procedure(Sender: TObject; Status: TFoldStatus; var DoFoldAction: Boolean)
T_DECLARE_EVENT(TFoldClickEvent, QObject*, FoldPanelTypes::TFoldStatus, bool*)

// The client area of a fold panel: the real parent of the panel's child controls. It fills
// the panel except for the glyph column.
class TFoldPanelClient : public TPaneles {
    Q_OBJECT
public:
    explicit TFoldPanelClient(TFoldPanel* panel);
    bool IgnoreColumn() const { return m_ignoreColumn; }
    void SetIgnoreColumn(bool i) { m_ignoreColumn = i; }

private:
    bool m_ignoreColumn = false;
};

// A panel that folds down to a small tab (its glyph and caption) and unfolds again when the
// glyph is clicked. Its child controls live in a client beside a vertical glyph column.
class TFoldPanel : public QFrame, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(FoldPanelTypes::TFoldStatus FoldStatus READ FoldStatus WRITE SetFoldStatus)
    Q_PROPERTY(bool Folding READ Folding WRITE SetFolding)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QFont CaptionFont READ CaptionFont WRITE SetCaptionFont)
    Q_PROPERTY(QString GlyphExpand READ GlyphExpand WRITE SetGlyphExpand)
    Q_PROPERTY(QString GlyphCollaps READ GlyphCollaps WRITE SetGlyphCollaps)
    Q_PROPERTY(bool Seperated READ Seperated WRITE SetSeperated)
    Q_PROPERTY(TBevelStyle SeperatorLineStyle READ SeperatorLineStyle WRITE SetSeperatorLineStyle)
    Q_PROPERTY(TFoldPosition FoldPosition READ FoldPosition WRITE SetFoldPosition)
    Q_PROPERTY(QColor FoldActiveColor READ FoldActiveColor WRITE SetFoldActiveColor)
    Q_PROPERTY(TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TPanelBevel ClientBevelInner READ ClientBevelInner WRITE SetClientBevelInner)
    Q_PROPERTY(TPanelBevel ClientBevelOuter READ ClientBevelOuter WRITE SetClientBevelOuter)
    Q_PROPERTY(int ClientBevelWidth READ ClientBevelWidth WRITE SetClientBevelWidth)
    Q_PROPERTY(QString Bitmap READ Bitmap WRITE SetBitmap)
    Q_PROPERTY(TBitmapHolder* BitmapHolder READ BitmapHolder WRITE SetBitmapHolder)
    Q_PROPERTY(TFoldClickEvent OnFoldClick READ OnFoldClick WRITE SetOnFoldClick)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
    Q_PROPERTY(TNotifyEvent BeforeExpand READ BeforeExpand WRITE SetBeforeExpand)
    Q_PROPERTY(TNotifyEvent AfterExpand READ AfterExpand WRITE SetAfterExpand)
    Q_PROPERTY(TNotifyEvent BeforeCollaps READ BeforeCollaps WRITE SetBeforeCollaps)
    Q_PROPERTY(TNotifyEvent AfterCollaps READ AfterCollaps WRITE SetAfterCollaps)
public:
    using TFoldStatus = FoldPanelTypes::TFoldStatus;
    static constexpr TFoldStatus fsExpanded = FoldPanelTypes::fsExpanded;
    static constexpr TFoldStatus fsCollapsed = FoldPanelTypes::fsCollapsed;
    enum TFoldPosition { fpLeftTop, fpRightTop, fpLeftBottom, fpRightBottom };
    Q_ENUM(TFoldPosition)
    enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)
    enum TBevelStyle { bsLowered, bsRaised };
    Q_ENUM(TBevelStyle)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)

    explicit TFoldPanel(QWidget* parent = nullptr);
    ~TFoldPanel() override;

    TFoldPanelClient* Client() const { return m_client; }
    // Moves a control into the client, where every child of the panel lives.
    void InsertControl(QWidget* control);

    void Expand() { SetFoldStatus(fsExpanded); }
    void Collapse() { SetFoldStatus(fsCollapsed); }

    TFoldStatus FoldStatus() const { return m_status; }
    void SetFoldStatus(TFoldStatus s);
    bool Folding() const { return m_folding; }
    void SetFolding(bool f);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c);
    QFont CaptionFont() const { return m_captionFont; }
    void SetCaptionFont(const QFont& f);
    QString GlyphExpand() const { return m_glyphExpand; }
    void SetGlyphExpand(const QString& name);
    QString GlyphCollaps() const { return m_glyphCollaps; }
    void SetGlyphCollaps(const QString& name);
    bool Seperated() const { return m_seperated; }
    void SetSeperated(bool s);
    TBevelStyle SeperatorLineStyle() const { return m_seperatorStyle; }
    void SetSeperatorLineStyle(TBevelStyle s);
    TFoldPosition FoldPosition() const { return m_position; }
    void SetFoldPosition(TFoldPosition p);
    QColor FoldActiveColor() const { return m_activeColor; }
    void SetFoldActiveColor(const QColor& c);
    TPanelBevel BevelInner() const { return m_inner; }
    void SetBevelInner(TPanelBevel b);
    TPanelBevel BevelOuter() const { return m_outer; }
    void SetBevelOuter(TPanelBevel b);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int w);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle s);
    TPanelBevel ClientBevelInner() const { return TPanelBevel(m_client->BevelInner()); }
    void SetClientBevelInner(TPanelBevel b) { m_client->SetBevelInner(TPaneles::TPanelBevel(b)); }
    TPanelBevel ClientBevelOuter() const { return TPanelBevel(m_client->BevelOuter()); }
    void SetClientBevelOuter(TPanelBevel b) { m_client->SetBevelOuter(TPaneles::TPanelBevel(b)); }
    int ClientBevelWidth() const { return m_client->BevelWidth(); }
    void SetClientBevelWidth(int w) { m_client->SetBevelWidth(w); }
    QString Bitmap() const { return m_client->Bitmap(); }
    void SetBitmap(const QString& name) { m_client->SetBitmap(name); }
    TBitmapHolder* BitmapHolder() const { return m_client->BitmapHolder(); }
    void SetBitmapHolder(TBitmapHolder* h) { m_client->SetBitmapHolder(h); }

    TFoldClickEvent OnFoldClick() const { return m_onFoldClick; }
    void SetOnFoldClick(const TFoldClickEvent& e) { m_onFoldClick = e; }
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }
    TNotifyEvent BeforeExpand() const { return m_beforeExpand; }
    void SetBeforeExpand(const TNotifyEvent& e) { m_beforeExpand = e; }
    TNotifyEvent AfterExpand() const { return m_afterExpand; }
    void SetAfterExpand(const TNotifyEvent& e) { m_afterExpand = e; }
    TNotifyEvent BeforeCollaps() const { return m_beforeCollaps; }
    void SetBeforeCollaps(const TNotifyEvent& e) { m_beforeCollaps = e; }
    TNotifyEvent AfterCollaps() const { return m_afterCollaps; }
    void SetAfterCollaps(const TNotifyEvent& e) { m_afterCollaps = e; }

    // Where the glyph was last drawn, in panel coordinates (for hit tests).
    QRect GlyphRect() const { return m_glyphRect; }
    // The glyph's place for the current state, size and bevels.
    QRect GlyphDestination() const;
    bool Highlighted() const { return m_highlighted; }
    // The height a folded panel shrinks to.
    int FoldedHeight() const;

protected:
    void Loaded() override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void childEvent(QChildEvent* e) override;

private:
    void unfold();
    void fold();
    void foldClick();
    void layoutClient();
    void makeHighlights();
    int bevelInset() const;
    QString drawnGlyph() const;
    // Sets the geometry keeping the top edge, or the bottom edge for the bottom positions.
    void setHeightKeepingEdge(int h);

    TFoldPanelClient* m_client = nullptr;
    TFoldStatus m_status = fsExpanded;
    bool m_folding = true;
    QString m_caption;
    QFont m_captionFont;
    QString m_glyphExpand = QStringLiteral("EXPAND"), m_glyphCollaps = QStringLiteral("COLLAPS");
    QImage m_expandImage, m_collapsImage, m_expandHighlight, m_collapsHighlight;
    qreal m_imageRatio = 0;
    bool m_seperated = true;
    TBevelStyle m_seperatorStyle = bsLowered;
    TFoldPosition m_position = fpLeftTop;
    QColor m_activeColor = QColor(0, 255, 255);
    TPanelBevel m_inner = bvNone, m_outer = bvRaised;
    int m_bevelWidth = 1, m_borderWidth = 0;
    TBorderStyle m_borderStyle = bsNone;

    QRect m_glyphRect;
    int m_unfoldedHeight = 0;
    bool m_heightLock = false;
    bool m_settingGeometry = false;
    QPoint m_pressPoint;
    bool m_pressed = false, m_pressInside = false, m_clickedOnGlyph = false;
    bool m_highlighted = false;

    TFoldClickEvent m_onFoldClick;
    TNotifyEvent m_onClick, m_beforeExpand, m_afterExpand, m_beforeCollaps, m_afterCollaps;
};
