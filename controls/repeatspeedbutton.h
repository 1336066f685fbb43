#pragma once

#include <QAbstractButton>
#include <QPixmap>

#include <functional>

// One of the two buttons of a spin button: a speed button that clicks on release and, while
// held, again after 400 ms and then every 100 ms as long as the pointer stays on it. The spin
// button that holds it hears of a left press first and gives the glyph buttons their pictures.
class TRepeatSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    enum TButtonKind { bkLeftArrow, bkRightArrow, bkGlyphUp, bkGlyphDown };

    TRepeatSpeedButton(TButtonKind kind, QWidget* parent);

    // Called on a left press, before the button itself reacts.
    void SetOnLeftPress(std::function<void(TRepeatSpeedButton*)> hook) {
        m_onLeftPress = std::move(hook);
    }
    // The picture of a glyph button, enabled or not.
    void SetGlyphSource(std::function<QPixmap(const TRepeatSpeedButton*, bool)> source) {
        m_glyphSource = std::move(source);
    }

    TButtonKind Kind() const { return m_kind; }
    void SetKind(TButtonKind kind);
    void SetDrawFocusRect(bool draw);
    bool Flat() const { return m_flat; }
    void SetFlat(bool flat);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    TButtonKind m_kind;
    bool m_drawFocus = false;
    bool m_flat = false;
    std::function<void(TRepeatSpeedButton*)> m_onLeftPress;
    std::function<QPixmap(const TRepeatSpeedButton*, bool)> m_glyphSource;
};
