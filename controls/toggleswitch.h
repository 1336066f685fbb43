#pragma once

// A two-position switch drawn as one of two pictures. A left press or the toggle key flips it;
// every change of its state, by the user or by code, raises OnOn or OnOff once, after the
// state has changed.

#include "runtime/component.h"

#include <QImage>
#include <QWidget>

class TToggleSwitch : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(bool StateOn READ StateOn WRITE SetStateOn)
    Q_PROPERTY(QImage GlyphOff READ GlyphOff WRITE SetGlyphOff)
    Q_PROPERTY(QImage GlyphOn READ GlyphOn WRITE SetGlyphOn)
    Q_PROPERTY(TTextPos TextPosition READ TextPosition WRITE SetTextPosition)
    Q_PROPERTY(int ToggleKey READ ToggleKey WRITE SetToggleKey)
    Q_PROPERTY(bool ShowFocus READ ShowFocus WRITE SetShowFocus)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    // Which pictures are our own rather than the built-in ones (bit 0 off, bit 1 on).
    Q_PROPERTY(int Data READ Data WRITE SetData)
    Q_PROPERTY(TNotifyEvent OnOn READ OnOn WRITE SetOnOn)
    Q_PROPERTY(TNotifyEvent OnOff READ OnOff WRITE SetOnOff)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
    Q_PROPERTY(TNotifyEvent OnDblClick READ OnDblClick WRITE SetOnDblClick)
    Q_PROPERTY(TNotifyEvent OnEnter READ OnEnter WRITE SetOnEnter)
    Q_PROPERTY(TNotifyEvent OnExit READ OnExit WRITE SetOnExit)
public:
    enum TTextPos { tpRight, tpLeft, tpAbove, tpBelow, tpNone };
    Q_ENUM(TTextPos)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)

    // Shortcut bits added to a key code, as in ToggleKey.
    static constexpr int scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;

    explicit TToggleSwitch(QWidget* parent = nullptr);

    bool StateOn() const { return m_stateOn; }
    void SetStateOn(bool on);
    void Toggle() { SetStateOn(!m_stateOn); }

    QImage GlyphOff() const { return m_glyphs[0]; }
    void SetGlyphOff(const QImage& image) { SetGlyph(0, image); }
    QImage GlyphOn() const { return m_glyphs[1]; }
    void SetGlyphOn(const QImage& image) { SetGlyph(1, image); }
    // The built-in pictures (32 x 48, sixteen colours).
    static QImage DefaultGlyph(bool on);
    // The embossed picture shown while disabled; null until a picture was set.
    QImage DisabledGlyph(bool on) const { return m_disabled[on ? 1 : 0]; }

    TTextPos TextPosition() const { return m_textPosition; }
    void SetTextPosition(TTextPos p);
    int ToggleKey() const { return m_toggleKey; }
    void SetToggleKey(int key) { m_toggleKey = key; }
    bool ShowFocus() const { return m_showFocus; }
    void SetShowFocus(bool s);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle b);
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool t) { setFocusPolicy(t ? Qt::TabFocus : Qt::NoFocus); }
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c);

    int Data() const { return m_customFlags; }
    void SetData(int flags) { m_customFlags = quint8(flags & 3); }
    // What a window description of the switch holds: a picture only when it is our own, the
    // "Data" byte only when it differs from the ancestor's (there is none: 0).
    bool IsGlyphOffStored() const { return m_customFlags & 1; }
    bool IsGlyphOnStored() const { return m_customFlags & 2; }
    bool IsDataStored() const { return m_customFlags != 0; }

    TNotifyEvent OnOn() const { return m_onOn; }
    void SetOnOn(const TNotifyEvent& e) { m_onOn = e; }
    TNotifyEvent OnOff() const { return m_onOff; }
    void SetOnOff(const TNotifyEvent& e) { m_onOff = e; }
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }
    TNotifyEvent OnDblClick() const { return m_onDblClick; }
    void SetOnDblClick(const TNotifyEvent& e) { m_onDblClick = e; }
    TNotifyEvent OnEnter() const { return m_onEnter; }
    void SetOnEnter(const TNotifyEvent& e) { m_onEnter = e; }
    TNotifyEvent OnExit() const { return m_onExit; }
    void SetOnExit(const TNotifyEvent& e) { m_onExit = e; }

    // Where the picture is drawn for the current size and caption position.
    QRect PictureRect() const;
    // The combination of a key event's key and modifiers, in ToggleKey's terms.
    static int ShortcutOf(const QKeyEvent* e);

protected:
    virtual void DoOn();
    virtual void DoOff();
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;

private:
    void SetGlyph(int index, const QImage& image);
    void BuildDisabled(int index);
    QRect ClientRect() const;

    bool m_stateOn = false;
    QImage m_glyphs[2];
    QImage m_disabled[2];
    quint8 m_customFlags = 0;
    TTextPos m_textPosition = tpNone;
    int m_toggleKey = 32; // Space
    bool m_showFocus = true;
    TBorderStyle m_borderStyle = bsNone;
    QString m_caption;
    int m_shortcutId = 0;
    bool m_pressed = false;
    TNotifyEvent m_onOn, m_onOff, m_onClick, m_onDblClick, m_onEnter, m_onExit;
};
