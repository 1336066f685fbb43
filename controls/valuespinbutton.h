#pragma once

#include "controls/repeatspeedbutton.h"
#include "runtime/component.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

// The pair of buttons. Its focus control (the edit) gets the focus when a button is pressed.
class TValueSpinButton : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(TSpinDirection Direction READ Direction WRITE SetDirection)
    Q_PROPERTY(QPixmap UpGlyph READ UpGlyph WRITE SetUpGlyph)
    Q_PROPERTY(QPixmap DownGlyph READ DownGlyph WRITE SetDownGlyph)
    Q_PROPERTY(int UpNumGlyphs READ UpNumGlyphs WRITE SetUpNumGlyphs)
    Q_PROPERTY(int DownNumGlyphs READ DownNumGlyphs WRITE SetDownNumGlyphs)
    Q_PROPERTY(QWidget* FocusControl READ FocusControl WRITE SetFocusControl)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(TNotifyEvent OnUpClick READ OnUpClick WRITE SetOnUpClick)
    Q_PROPERTY(TNotifyEvent OnDownClick READ OnDownClick WRITE SetOnDownClick)
public:
    enum TSpinDirection { spVertical, spHorizontal };
    Q_ENUM(TSpinDirection)

    explicit TValueSpinButton(QWidget* parent = nullptr);

    TSpinDirection Direction() const { return m_direction; }
    void SetDirection(TSpinDirection d);
    QPixmap UpGlyph() const { return m_upGlyph; }
    void SetUpGlyph(const QPixmap& p);
    QPixmap DownGlyph() const { return m_downGlyph; }
    void SetDownGlyph(const QPixmap& p);
    int UpNumGlyphs() const { return m_upNumGlyphs; }
    void SetUpNumGlyphs(int n);
    int DownNumGlyphs() const { return m_downNumGlyphs; }
    void SetDownNumGlyphs(int n);
    QWidget* FocusControl() const { return m_focusControl; }
    void SetFocusControl(QWidget* w) { m_focusControl = w; }
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool t) { setFocusPolicy(t ? Qt::StrongFocus : Qt::NoFocus); }
    TNotifyEvent OnUpClick() const { return m_onUpClick; }
    void SetOnUpClick(const TNotifyEvent& e) { m_onUpClick = e; }
    TNotifyEvent OnDownClick() const { return m_onDownClick; }
    void SetOnDownClick(const TNotifyEvent& e) { m_onDownClick = e; }

    TRepeatSpeedButton* UpButton() const { return m_up; }
    TRepeatSpeedButton* DownButton() const { return m_down; }
    void SetFlat(bool flat);
    // The picture a button shows: its glyph, or the built-in arrow.
    QPixmap GlyphFor(const TRepeatSpeedButton* b, bool enabled) const;

    // A left press on one of the buttons (before the button itself reacts).
    void ButtonPressed(TRepeatSpeedButton* b);
    // Asked first on a press: true when the focus control has taken the press itself.
    void SetPressTaker(std::function<bool()> taker) { m_pressTaker = std::move(taker); }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void Relayout();
    void SetFocusedButton(TRepeatSpeedButton* b);
    void Click(TRepeatSpeedButton* b, const TNotifyEvent& event);

    TRepeatSpeedButton* m_up = nullptr;
    TRepeatSpeedButton* m_down = nullptr;
    TRepeatSpeedButton* m_focused = nullptr;
    TSpinDirection m_direction = spVertical;
    QPixmap m_upGlyph, m_downGlyph;
    int m_upNumGlyphs = 1, m_downNumGlyphs = 1;
    QWidget* m_focusControl = nullptr;
    TNotifyEvent m_onUpClick, m_onDownClick;
    std::function<bool()> m_pressTaker;
};
