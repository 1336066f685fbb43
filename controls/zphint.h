#pragma once

#include "runtime/component.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QPolygon>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <memory>

class TZPHint;

// procedure(var HintStr: string; var CanShow: Boolean; HintControl)
T_DECLARE_EVENT(TShowHintEvent, QString*, bool*, QObject*)

// The application's tooltip timings (ms), shared by every hint window.
namespace ApplicationHints {
int Pause();
int HidePause();
int ShortPause();
// A value is taken only when it differs and is greater than 0.
void SetPause(int ms);
void SetHidePause(int ms);
void SetShortPause(int ms);
} // namespace ApplicationHints

// A shaped tooltip: rectangle, ellipse, cut-corner or rounded rectangle with an optional arrow
// pointing at the mouse pointer, in its component's colours, font and border.
class TRegionHint : public QWidget {
    Q_OBJECT
public:
    explicit TRegionHint(const TZPHint* settings);

    // Where and how a text shows; computed without a screen, so it can be checked directly.
    struct Layout {
        QRect window;      // global
        QRect body;        // local
        QPolygon arrow;    // local, empty without an arrow
        QRect text;        // local
        int direction = 0; // THintDirection actually used
        QRegion region;    // local: body and arrow
    };
    // textSize: the measured text; cursor: the pointer; cursorHeight: visible height of the
    // pointer image (for tooltips placed below it).
    static Layout Compute(const TZPHint& s, QSize textSize, QPoint cursor, QRect screen,
                          int cursorHeight);
    // Measures the text as it is drawn: word wrap, no prefix processing.
    static QSize MeasureText(const TZPHint& s, const QString& text, int maxWidth);

    void ShowHint(const QString& text, QPoint cursor);
    QString Text() const { return m_text; }
    const Layout& CurrentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage background(QSize size) const;

    const TZPHint* m_settings;
    QString m_text;
    Layout m_layout;
    QImage m_background;
};

// While active, every control's hint text shows in a TRegionHint instead of the plain tooltip.
class TZPHint : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(TDisplayedHint DisplayedHint READ DisplayedHint WRITE SetDisplayedHint)
    Q_PROPERTY(THintDirection HintDirection READ HintDirection WRITE SetHintDirection)
    Q_PROPERTY(THintStyle HintStyle READ HintStyle WRITE SetHintStyle)
    Q_PROPERTY(TArrowStyle ArrowStyle READ ArrowStyle WRITE SetArrowStyle)
    Q_PROPERTY(
        TTransparencyStyle TransparencyStyle READ TransparencyStyle WRITE SetTransparencyStyle)
    Q_PROPERTY(int Transparency READ Transparency WRITE SetTransparency)
    Q_PROPERTY(int EndTransparency READ EndTransparency WRITE SetEndTransparency)
    Q_PROPERTY(QColor HintColor READ HintColor WRITE SetHintColor)
    Q_PROPERTY(QFont HintFont READ HintFont WRITE SetHintFont)
    Q_PROPERTY(QColor HintFontColor READ HintFontColor WRITE SetHintFontColor)
    Q_PROPERTY(QColor BorderColor READ BorderColor WRITE SetBorderColor)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(int BorderHeight READ BorderHeight WRITE SetBorderHeight)
    Q_PROPERTY(TAlignTXT AlignText READ AlignText WRITE SetAlignText)
    Q_PROPERTY(int RadiusWidth READ RadiusWidth WRITE SetRadiusWidth)
    Q_PROPERTY(int RadiusHeight READ RadiusHeight WRITE SetRadiusHeight)
    Q_PROPERTY(int ArrowHeight READ ArrowHeight WRITE SetArrowHeight)
    Q_PROPERTY(int ArrowWidth READ ArrowWidth WRITE SetArrowWidth)
    Q_PROPERTY(int ArrowOffsetHor READ ArrowOffsetHor WRITE SetArrowOffsetHor)
    Q_PROPERTY(QString WallPaper READ WallPaper WRITE SetWallPaper)
    Q_PROPERTY(bool UseWallPaper READ UseWallPaper WRITE SetUseWallPaper)
    Q_PROPERTY(int HintPause READ HintPause WRITE SetHintPause)
    Q_PROPERTY(int HintHidePause READ HintHidePause WRITE SetHintHidePause)
    Q_PROPERTY(int HintShortPause READ HintShortPause WRITE SetHintShortPause)
    Q_PROPERTY(TShowHintEvent OnShowHint READ OnShowHint WRITE SetOnShowHint)
public:
    enum THintStyle { hsRectangle, hsElliptic, hsCutAngleRect, hsRoundRect };
    Q_ENUM(THintStyle)
    enum TArrowStyle { asNone, asArrow };
    Q_ENUM(TArrowStyle)
    enum TDisplayedHint { dhAuto, dhCursorPoint, dhOutCursorPoint };
    Q_ENUM(TDisplayedHint)
    enum THintDirection { hdAuto, hdUpRight, hdUpLeft, hdDownRight, hdDownLeft };
    Q_ENUM(THintDirection)
    enum TTransparencyStyle { tsNone, tsConstant, tsHGradient, tsVGradient };
    Q_ENUM(TTransparencyStyle)
    enum TAlignTXT { atLeft, atCenter, atRight, atJustified };
    Q_ENUM(TAlignTXT)

    explicit TZPHint(QObject* owner = nullptr);
    ~TZPHint() override;

    bool Active() const { return m_active; }
    void SetActive(bool a);
    TDisplayedHint DisplayedHint() const { return m_displayed; }
    void SetDisplayedHint(TDisplayedHint d) { m_displayed = d; }
    THintDirection HintDirection() const { return m_direction; }
    void SetHintDirection(THintDirection d) { m_direction = d; }
    THintStyle HintStyle() const { return m_style; }
    void SetHintStyle(THintStyle s) { m_style = s; }
    TArrowStyle ArrowStyle() const { return m_arrow; }
    void SetArrowStyle(TArrowStyle a) { m_arrow = a; }
    TTransparencyStyle TransparencyStyle() const { return m_transparencyStyle; }
    void SetTransparencyStyle(TTransparencyStyle t) { m_transparencyStyle = t; }
    int Transparency() const { return m_transparency; }
    void SetTransparency(int t) { m_transparency = std::clamp(t, 0, 100); }
    int EndTransparency() const { return m_endTransparency; }
    void SetEndTransparency(int t) { m_endTransparency = std::clamp(t, 0, 100); }
    QColor HintColor() const { return m_color; }
    void SetHintColor(const QColor& c) { m_color = c; }
    QFont HintFont() const { return m_font; }
    void SetHintFont(const QFont& f) { m_font = f; }
    QColor HintFontColor() const { return m_fontColor; }
    void SetHintFontColor(const QColor& c) { m_fontColor = c; }
    QColor BorderColor() const { return m_borderColor; }
    void SetBorderColor(const QColor& c) { m_borderColor = c; }
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int w) { m_borderWidth = std::max(0, w); }
    int BorderHeight() const { return m_borderHeight; }
    void SetBorderHeight(int h) { m_borderHeight = std::max(0, h); }
    TAlignTXT AlignText() const { return m_align; }
    void SetAlignText(TAlignTXT a) { m_align = a; }
    int RadiusWidth() const { return m_radiusWidth; }
    void SetRadiusWidth(int r) { m_radiusWidth = std::max(0, r); }
    int RadiusHeight() const { return m_radiusHeight; }
    void SetRadiusHeight(int r) { m_radiusHeight = std::max(0, r); }
    int ArrowHeight() const { return m_arrowHeight; }
    void SetArrowHeight(int h) { m_arrowHeight = std::max(0, h); }
    int ArrowWidth() const { return m_arrowWidth; }
    void SetArrowWidth(int w) { m_arrowWidth = std::max(0, w); }
    int ArrowOffsetHor() const { return m_arrowOffset; }
    void SetArrowOffsetHor(int o) { m_arrowOffset = std::max(0, o); }
    // A built-in picture (controls/pictures.h) tiled over the body.
    QString WallPaper() const { return m_wallPaper; }
    void SetWallPaper(const QString& name);
    bool UseWallPaper() const { return m_useWallPaper; }
    void SetUseWallPaper(bool u);
    int HintPause() const { return m_pause; }
    void SetHintPause(int ms);
    int HintHidePause() const { return m_hidePause; }
    void SetHintHidePause(int ms);
    int HintShortPause() const { return m_shortPause; }
    void SetHintShortPause(int ms);
    TShowHintEvent OnShowHint() const { return m_onShowHint; }
    void SetOnShowHint(const TShowHintEvent& e) { m_onShowHint = e; }

    // The hint window while one is showing, else nullptr.
    TRegionHint* HintWindow() const;
    // Shows the hint of control (or of its nearest parent that has one) at the pointer.
    void ShowHintFor(QWidget* control, QPoint cursor);
    void HideHint();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool m_active = false;
    TDisplayedHint m_displayed = dhAuto;
    THintDirection m_direction = hdAuto;
    THintStyle m_style = hsElliptic;
    TArrowStyle m_arrow = asArrow;
    TTransparencyStyle m_transparencyStyle = tsConstant;
    int m_transparency = 50, m_endTransparency = 100;
    QColor m_color = Qt::white;
    QFont m_font;
    QColor m_fontColor = Qt::black;
    QColor m_borderColor = Qt::black;
    int m_borderWidth = 1, m_borderHeight = 1;
    TAlignTXT m_align = atCenter;
    int m_radiusWidth = 15, m_radiusHeight = 15;
    int m_arrowHeight = 21, m_arrowWidth = 40, m_arrowOffset = 20;
    QString m_wallPaper;
    bool m_useWallPaper = false;
    int m_pause = 500, m_hidePause = 5000, m_shortPause = 25;
    TShowHintEvent m_onShowHint;

    std::unique_ptr<TRegionHint> m_window;
    QPointer<QWidget> m_hintControl;
    class QTimer* m_hideTimer = nullptr;
};
